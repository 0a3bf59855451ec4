// Framing on the socket: a 4-byte big-endian length, then that many bytes of JSON text.
#ifndef AMXB_FRAME_H
#define AMXB_FRAME_H

#include <cstddef>
#include <string>
#include <string_view>

#include <amxc/amxc_variant.h>

namespace amxb {

// Appends the frame of `message` (its JSON text) to `out`. Fails, with `out` unchanged and
// `error` set, when the message cannot be written as JSON or exceeds AMXB_MAX_FRAME_SIZE.
bool append_frame(std::string& out, const amxc_var_t* message, std::string& error);

// Parses one frame's text into `message`; `error` says why it is not valid JSON.
bool parse_frame(std::string_view text, amxc_var_t* message, std::string& error);

// Collects received bytes and hands out complete frames.
class FrameReader {
public:
    enum class Next { frame, need_more, oversized };

    // Adds received bytes.
    void feed(const char* data, std::size_t length);

    // Takes the next complete frame's text into `text` (a buffer left empty by a large frame is
    // given back). `oversized` when the next frame
    // announces more than AMXB_MAX_FRAME_SIZE bytes: the stream cannot be trusted after that.
    Next next(std::string& text);

    // Bytes that a reader should ask for at most now, so that the buffer never holds more
    // than one maximal frame and its prefix.
    std::size_t room() const;

    // Bytes received that no complete frame has taken yet.
    std::size_t held() const { return buffer_.size() - start_; }

    // Bytes that complete the length prefix, or else the frame it announces: reading no more
    // than this keeps at most one frame in the buffer.
    std::size_t pending() const;

    // The length the current frame announces, 0 while its prefix is incomplete.
    std::size_t announced() const;

    // Makes room for the whole announced frame at once, so that the buffer does not grow past
    // it by doubling.
    void reserve_announced();

    // Memory held by the buffer.
    std::size_t capacity() const { return buffer_.capacity(); }

private:
    std::string buffer_;
    std::size_t start_ = 0;  // bytes of buffer_ already handed out
};

}  // namespace amxb

#endif
