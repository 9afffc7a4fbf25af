#include "scan/memory_stream.h"

#include <algorithm>

namespace kelvara {

void TMemoryStream::Write(std::span<const std::uint8_t> bytes) {
    const std::size_t end = FPosition + bytes.size();
    if (end > FBytes.size()) {
        FBytes.resize(end);
    }
    std::copy(bytes.begin(), bytes.end(), FBytes.begin() + static_cast<std::ptrdiff_t>(FPosition));
    FPosition = end;
}

} // namespace kelvara
