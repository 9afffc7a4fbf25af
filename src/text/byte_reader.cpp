#include "text/byte_reader.h"

#include <string>

namespace kelvara {

void ByteReader::OutOfBounds(std::uint64_t offset, std::uint64_t count) const {
    throw EReadOutOfBounds("read of " + std::to_string(count) + " bytes at offset " +
                           std::to_string(offset) + " beyond the end of " +
                           std::to_string(bytes_.size()) + " bytes");
}

} // namespace kelvara
