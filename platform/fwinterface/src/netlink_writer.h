#ifndef FWINTERFACE_NETLINK_WRITER_H
#define FWINTERFACE_NETLINK_WRITER_H

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace fwinterface {

// Appends netfilter netlink messages and their attributes to one growing buffer, the way
// a batch is sent to the kernel. Open messages and nests are remembered by offset, not by
// pointer, so that the buffer may move while it grows. Numbers are given in host order and
// written in network order, as nf_tables expects them.
class NetlinkWriter {
public:
    // Opens a message: netlink header (NLM_F_REQUEST added to `flags`) and nfgenmsg.
    void begin_message(std::uint16_t type, std::uint16_t flags, std::uint32_t seq, std::uint8_t family,
                       std::uint16_t resource_id = 0);
    void end_message();

    void put(std::uint16_t type, std::span<const std::uint8_t> data);
    void put_u8(std::uint16_t type, std::uint8_t value);
    void put_u32(std::uint16_t type, std::uint32_t value);
    // Writes a u32 attribute's value anew, at the offset its payload took.
    void overwrite_u32(std::size_t at, std::uint32_t value);
    void put_u64(std::uint16_t type, std::uint64_t value);
    void put_string(std::uint16_t type, std::string_view text);  // NUL-terminated

    // A nested attribute around everything put until the matching end_nest().
    void begin_nest(std::uint16_t type);
    void end_nest();

    std::span<const std::byte> bytes() const { return buffer_; }

private:
    std::size_t append(std::size_t size);  // zero-filled, 4-byte aligned; returns the offset

    std::vector<std::byte> buffer_;
    std::size_t message_ = 0;        // offset of the open message
    std::vector<std::size_t> nests_;  // offsets of the open nests
};

}  // namespace fwinterface

#endif  // FWINTERFACE_NETLINK_WRITER_H
