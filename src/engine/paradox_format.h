#pragma once
// Inside the table storage: the header of a .db file, the chain of data blocks and the encoding of
// field values in a record. docs/formats/paradox.md describes the layouts.

#include "engine/paradox_table.h"
#include "text/byte_reader.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kelvara::paradox::detail {

// Fixed offsets of the common header part (.db and .px).
namespace offset {
constexpr std::size_t kRecordSize = 0x00;
constexpr std::size_t kHeaderSize = 0x02;
constexpr std::size_t kFileType = 0x04;
constexpr std::size_t kMaxTableSize = 0x05;
constexpr std::size_t kNumRecords = 0x06;
constexpr std::size_t kNextBlock = 0x0A;
constexpr std::size_t kFileBlocks = 0x0C;
constexpr std::size_t kFirstBlock = 0x0E;
constexpr std::size_t kLastBlock = 0x10;
constexpr std::size_t kChangeCounter = 0x12;
constexpr std::size_t kIndexRoot = 0x1E;
constexpr std::size_t kIndexLevels = 0x20;
constexpr std::size_t kNumFields = 0x21;
constexpr std::size_t kKeyFields = 0x23;
constexpr std::size_t kEncryption1 = 0x25;
constexpr std::size_t kSortOrder = 0x29;
constexpr std::size_t kFileVersion = 0x39;
constexpr std::size_t kMaxBlocks = 0x3A;
constexpr std::size_t kAutoInc = 0x49;
constexpr std::size_t kFirstFreeBlock = 0x4D;
constexpr std::size_t kRealHeaderSize = 0x51;
constexpr std::size_t kEncryption2 = 0x5C;
constexpr std::size_t kUpdateTime = 0x60;
constexpr std::size_t kCodePage = 0x6A;
} // namespace offset

constexpr std::size_t kCommonHeaderSize = 0x58;
constexpr std::size_t kDataHeaderSize = 0x78; // 4.x and later .db files
constexpr std::size_t kBlockHeaderSize = 6;
constexpr std::uint8_t kFileTypeKeyed = 0;
constexpr std::uint8_t kFileTypeIndex = 1;
constexpr std::uint8_t kFileTypeUnkeyed = 2;

struct ChainBlock {
    std::uint16_t block = 0; // 1-based block number
    std::uint16_t count = 0; // records in the block
};

struct DbHeader {
    TableInfo info;
    std::uint8_t fileType = kFileTypeUnkeyed;
    std::uint32_t numRecords = 0;
    std::uint16_t fileBlocks = 0;
    std::uint16_t firstBlock = 0;
    std::uint16_t lastBlock = 0;
    std::uint32_t autoInc = 0;
    bool hasUpdateTime = false; // the 4.x and later part of the header is there
};

// Parses and checks the header of a .db file (all of its bytes). Throws EParadoxError naming
// fileName and the fault.
DbHeader ParseDbHeader(ByteReader file, const std::string& fileName);

// Walks the block chain from the first block; throws on a link out of range, a loop or a block
// whose record count is impossible. Warnings (a count that differs from the header) are added.
// backLinked, when given, tells whether each block links back to the one before it.
std::vector<ChainBlock> ReadChain(ByteReader file, const DbHeader& header,
                                  const std::string& fileName, std::vector<std::string>& warnings,
                                  bool* backLinked = nullptr);

// The sort order byte for a sort order id, or -1 for an id this writer does not know.
int SortOrderCode(std::string_view id);

// A complete header for a new, empty 7.x table.
std::vector<std::uint8_t> BuildDbHeader(const std::vector<FieldDef>& fields, int keyFieldCount,
                                        std::uint8_t maxTableSize, std::uint16_t codePage,
                                        std::string_view sortOrderId, std::string_view tableName);

// Block size code (KiB) for a new table with records of this size.
std::uint8_t ChooseMaxTableSize(std::size_t recordSize);

// Field codec. Decode handles every non-BLOB type; Encode every writable non-BLOB type and
// autoincrement (the table numbers records with it; keys are looked up with it) and throws
// EParadoxError for a value that does not fit (names the field).
FieldValue DecodeField(const FieldInfo& field, std::span<const std::uint8_t> bytes);
void EncodeField(const FieldInfo& field, const FieldValue& value, std::span<std::uint8_t> bytes);
// The same into the field's storedSize bytes at p.
void EncodeFieldInto(const FieldInfo& field, const FieldValue& value, std::uint8_t* p);
bool IsNullField(const FieldInfo& field, std::span<const std::uint8_t> bytes);

// The 10-byte descriptor that ends a BLOB field.
struct BlobRef {
    std::uint32_t offset = 0; // of the .mb block, the low byte masked off
    std::uint8_t index = 0;   // 0xFF: a block of its own; 0..63: a slot of a shared block
    std::uint32_t length = 0;
    std::uint16_t mod = 0;
    bool InMb() const { return offset != 0 || index != 0; }
};
void WriteBlobRef(const FieldInfo& field, const BlobRef& ref, std::span<std::uint8_t> bytes);

// Little and big endian helpers for building bytes.
inline void PutU16LE(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void PutU32LE(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}
inline std::uint16_t GetU16LE(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t GetU32LE(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// The descriptor at p.
inline BlobRef ReadBlobRef(const std::uint8_t* p) {
    BlobRef ref;
    const std::uint32_t location = GetU32LE(p);
    ref.offset = location & 0xFFFFFF00u;
    ref.index = static_cast<std::uint8_t>(location & 0xFF);
    ref.length = GetU32LE(p + 4);
    ref.mod = GetU16LE(p + 8);
    return ref;
}

// The descriptor at the end of a BLOB field of a record.
inline BlobRef ReadBlobRef(const FieldInfo& field, std::span<const std::uint8_t> bytes) {
    return ReadBlobRef(bytes.data() + field.offset + field.storedSize - 10);
}

} // namespace kelvara::paradox::detail
