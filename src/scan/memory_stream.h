#pragma once
// An in-memory byte stream with a read/write position: what a resource writes itself into and what
// the form stream reader decodes from.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kelvara {

class TMemoryStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::vector<std::uint8_t> bytes) : FBytes(std::move(bytes)) {}

    // Writes the bytes at the position (overwriting, then growing) and advances past them.
    void Write(std::span<const std::uint8_t> bytes);

    std::size_t Position() const { return FPosition; }
    // A position beyond the end is clamped to the end.
    void SetPosition(std::size_t position) {
        FPosition = position < FBytes.size() ? position : FBytes.size();
    }
    std::size_t Size() const { return FBytes.size(); }
    std::span<const std::uint8_t> Data() const { return FBytes; }
    void Clear() {
        FBytes.clear();
        FPosition = 0;
    }

private:
    std::vector<std::uint8_t> FBytes;
    std::size_t FPosition = 0;
};

} // namespace kelvara
