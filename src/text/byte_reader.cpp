#include "text/byte_reader.h"

#include <string>

namespace kelvara {

void ByteReader::Require(std::uint64_t offset, std::uint64_t count) const {
    if (!Has(offset, count)) {
        throw EReadOutOfBounds("read of " + std::to_string(count) + " bytes at offset " +
                               std::to_string(offset) + " beyond the end of " +
                               std::to_string(bytes_.size()) + " bytes");
    }
}

std::span<const std::uint8_t> ByteReader::Bytes(std::uint64_t offset, std::uint64_t count) const {
    Require(offset, count);
    return bytes_.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(count));
}

std::string_view ByteReader::Chars(std::uint64_t offset, std::uint64_t count) const {
    const auto bytes = Bytes(offset, count);
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

std::uint16_t ByteReader::U16LE(std::uint64_t offset) const {
    const auto b = Bytes(offset, 2);
    return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
}

std::uint32_t ByteReader::U32LE(std::uint64_t offset) const {
    const auto b = Bytes(offset, 4);
    return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
           (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}

std::uint64_t ByteReader::U64LE(std::uint64_t offset) const {
    return static_cast<std::uint64_t>(U32LE(offset)) |
           (static_cast<std::uint64_t>(U32LE(offset + 4)) << 32);
}

std::uint16_t ByteReader::U16BE(std::uint64_t offset) const {
    const auto b = Bytes(offset, 2);
    return static_cast<std::uint16_t>((b[0] << 8) | b[1]);
}

std::uint32_t ByteReader::U32BE(std::uint64_t offset) const {
    const auto b = Bytes(offset, 4);
    return (static_cast<std::uint32_t>(b[0]) << 24) | (static_cast<std::uint32_t>(b[1]) << 16) |
           (static_cast<std::uint32_t>(b[2]) << 8) | static_cast<std::uint32_t>(b[3]);
}

} // namespace kelvara
