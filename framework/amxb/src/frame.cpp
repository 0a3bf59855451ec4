#include "frame.h"

#include <cstdint>

#include <amxb/amxb.h>
#include <amxj/amxj.h>

namespace amxb {

namespace {

constexpr std::size_t prefix_size = 4;
constexpr std::size_t shrink_above = 64 * 1024;

}  // namespace

bool append_frame(std::string& out, const amxc_var_t* message, std::string& error) {
    amxc_string_t text;
    amxc_string_init(&text, 0);
    bool ok = amxj_write(message, &text, false) == 0;
    const std::size_t length = amxc_string_text_length(&text);
    if(!ok) {
        error = "the message cannot be written as JSON (invalid UTF-8 or too deep)";
    } else if(length > AMXB_MAX_FRAME_SIZE) {
        error = "the message exceeds the frame limit of " + std::to_string(AMXB_MAX_FRAME_SIZE) + " bytes";
        ok = false;
    } else {
        const auto size = static_cast<std::uint32_t>(length);
        out += static_cast<char>((size >> 24) & 0xFFu);
        out += static_cast<char>((size >> 16) & 0xFFu);
        out += static_cast<char>((size >> 8) & 0xFFu);
        out += static_cast<char>(size & 0xFFu);
        out.append(amxc_string_get(&text, 0), length);
    }
    amxc_string_clean(&text);
    return ok;
}

bool parse_frame(std::string_view text, amxc_var_t* message, std::string& error) {
    char why[128] = "";
    if(amxj_read(message, text.data(), text.size(), why, sizeof(why)) != 0) {
        error = std::string("malformed message: ") + why;
        return false;
    }
    return true;
}

void FrameReader::feed(const char* data, std::size_t length) {
    // Drop what was handed out before growing, so the buffer stays bounded.
    if(start_ > 0) {
        buffer_.erase(0, start_);
        start_ = 0;
    }
    buffer_.append(data, length);
}

std::size_t FrameReader::announced() const {
    if(held() < prefix_size) {
        return 0;
    }
    const auto* prefix = reinterpret_cast<const unsigned char*>(buffer_.data() + start_);
    return (static_cast<std::size_t>(prefix[0]) << 24) | (static_cast<std::size_t>(prefix[1]) << 16) |
           (static_cast<std::size_t>(prefix[2]) << 8) | static_cast<std::size_t>(prefix[3]);
}

std::size_t FrameReader::pending() const {
    if(held() < prefix_size) {
        return prefix_size - held();
    }
    const std::size_t whole = prefix_size + announced();
    return whole > held() ? whole - held() : 0;
}

void FrameReader::reserve_announced() {
    const std::size_t length = announced();
    if(length <= AMXB_MAX_FRAME_SIZE) {
        buffer_.reserve(start_ + prefix_size + length);
    }
}

FrameReader::Next FrameReader::next(std::string& text) {
    const std::size_t available = buffer_.size() - start_;
    if(available < prefix_size) {
        return Next::need_more;
    }
    const std::size_t length = announced();
    if(length > AMXB_MAX_FRAME_SIZE) {
        return Next::oversized;
    }
    if(available - prefix_size < length) {
        return Next::need_more;
    }
    text.assign(buffer_, start_ + prefix_size, length);
    start_ += prefix_size + length;
    if(start_ == buffer_.size()) {
        start_ = 0;
        buffer_.clear();
        if(buffer_.capacity() > shrink_above) {
            std::string().swap(buffer_);
        }
    }
    return Next::frame;
}

std::size_t FrameReader::room() const {
    const std::size_t held = buffer_.size() - start_;
    const std::size_t limit = prefix_size + AMXB_MAX_FRAME_SIZE;
    return held >= limit ? 0 : limit - held;
}

}  // namespace amxb
