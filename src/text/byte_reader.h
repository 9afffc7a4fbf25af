#pragma once
// The one bounds-checked reader of binary input. Every offset, size and count read from a file goes
// through it before it is followed: a read outside the bytes throws EReadOutOfBounds instead of
// touching memory it does not own. Readers of a format catch it and report the fault in their own
// words.

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kelvara {

class EReadOutOfBounds : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A view of bytes; it does not own them, and they must outlive it.
class ByteReader {
public:
    ByteReader() = default;
    explicit ByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    ByteReader(const void* data, std::size_t size)
        : bytes_(static_cast<const std::uint8_t*>(data), size) {}

    std::size_t Size() const { return bytes_.size(); }
    std::span<const std::uint8_t> Data() const { return bytes_; }

    // True when [offset, offset + count) lies inside the bytes; never overflows.
    bool Has(std::uint64_t offset, std::uint64_t count) const {
        return offset <= bytes_.size() && count <= bytes_.size() - offset;
    }
    // Throws EReadOutOfBounds unless Has(offset, count).
    void Require(std::uint64_t offset, std::uint64_t count) const {
        if (!Has(offset, count)) [[unlikely]] {
            OutOfBounds(offset, count);
        }
    }

    std::uint8_t U8(std::uint64_t offset) const { return Bytes(offset, 1)[0]; }
    std::uint16_t U16LE(std::uint64_t offset) const {
        const std::uint8_t* b = Bytes(offset, 2).data();
        return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
    }
    std::uint32_t U32LE(std::uint64_t offset) const {
        const std::uint8_t* b = Bytes(offset, 4).data();
        return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
               (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
    }
    std::uint64_t U64LE(std::uint64_t offset) const {
        Require(offset, 8);
        return static_cast<std::uint64_t>(U32LE(offset)) |
               (static_cast<std::uint64_t>(U32LE(offset + 4)) << 32);
    }
    std::uint16_t U16BE(std::uint64_t offset) const {
        const std::uint8_t* b = Bytes(offset, 2).data();
        return static_cast<std::uint16_t>((b[0] << 8) | b[1]);
    }
    std::uint32_t U32BE(std::uint64_t offset) const {
        const std::uint8_t* b = Bytes(offset, 4).data();
        return (static_cast<std::uint32_t>(b[0]) << 24) | (static_cast<std::uint32_t>(b[1]) << 16) |
               (static_cast<std::uint32_t>(b[2]) << 8) | static_cast<std::uint32_t>(b[3]);
    }

    std::span<const std::uint8_t> Bytes(std::uint64_t offset, std::uint64_t count) const {
        Require(offset, count);
        return bytes_.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(count));
    }
    std::string_view Chars(std::uint64_t offset, std::uint64_t count) const {
        const auto bytes = Bytes(offset, count);
        return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
    }
    // A reader over [offset, offset + count).
    ByteReader Sub(std::uint64_t offset, std::uint64_t count) const {
        return ByteReader(Bytes(offset, count));
    }

private:
    [[noreturn]] void OutOfBounds(std::uint64_t offset, std::uint64_t count) const;

    std::span<const std::uint8_t> bytes_;
};

// A ByteReader with a read position, for sequential formats.
class ByteCursor {
public:
    explicit ByteCursor(ByteReader reader, std::size_t position = 0)
        : reader_(reader), position_(position) {}

    std::size_t Position() const { return position_; }
    std::size_t Remaining() const {
        return position_ < reader_.Size() ? reader_.Size() - position_ : 0;
    }
    bool AtEnd() const { return Remaining() == 0; }
    void Seek(std::size_t position) {
        reader_.Require(position, 0);
        position_ = position;
    }
    void Skip(std::uint64_t count) {
        reader_.Require(position_, count);
        position_ += static_cast<std::size_t>(count);
    }

    std::uint8_t U8() { return Take(1, &ByteReader::U8); }
    std::uint16_t U16LE() { return Take(2, &ByteReader::U16LE); }
    std::uint32_t U32LE() { return Take(4, &ByteReader::U32LE); }
    std::uint64_t U64LE() { return Take(8, &ByteReader::U64LE); }
    std::span<const std::uint8_t> Bytes(std::uint64_t count) {
        const auto bytes = reader_.Bytes(position_, count);
        position_ += static_cast<std::size_t>(count);
        return bytes;
    }
    std::string_view Chars(std::uint64_t count) {
        const auto chars = reader_.Chars(position_, count);
        position_ += static_cast<std::size_t>(count);
        return chars;
    }

private:
    template <typename T> T Take(std::size_t size, T (ByteReader::*read)(std::uint64_t) const) {
        const T value = (reader_.*read)(position_);
        position_ += size;
        return value;
    }

    ByteReader reader_;
    std::size_t position_;
};

} // namespace kelvara
