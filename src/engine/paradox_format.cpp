// Header, chain and field encodings of Paradox data files; see docs/formats/paradox.md.
#include "engine/paradox_format.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <ctime>

namespace kelvara::paradox::detail {
namespace {

struct SortOrderName {
    std::string_view id;
    std::uint8_t code;
};
constexpr SortOrderName kSortOrders[] = {
    {"ascii", 0x00},    {"china", 0x03},    {"ANSII850", 0x11},
    {"BLROM800", 0x14}, {"DBWINWE0", 0x40}, {"DBWINUS0", 0x4C},
    {"intl850", 0x54},  {"ANSIINTL", 0x62}, {"cyrr", 0xC0},
};

[[noreturn]] void Damaged(const std::string& fileName, const std::string& fault) {
    throw EParadoxError(fileName + ": " + fault);
}

int FileVersionOf(std::uint8_t id) {
    if (id == 3) {
        return 30;
    }
    if (id == 4) {
        return 35;
    }
    if (id <= 9) {
        return 40;
    }
    if (id <= 11) {
        return 50;
    }
    return 70;
}

bool SizeFitsType(FieldType type, std::uint8_t size) {
    switch (type) {
    case FieldType::Alpha:
    case FieldType::Bytes:
        return size >= 1;
    case FieldType::Bcd:
        return size <= 32;
    case FieldType::Memo:
    case FieldType::Blob:
    case FieldType::FormattedMemo:
    case FieldType::Ole:
    case FieldType::Graphic:
        return size >= 10;
    default:
        return size == StoredFieldSize(FieldDef{"", type, 0});
    }
}

std::uint32_t GetU32BE(const std::uint8_t* p) {
    return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
           (static_cast<std::uint32_t>(p[2]) << 8) | p[3];
}
void PutU32BE(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
    }
}
std::uint64_t GetU64BE(const std::uint8_t* p) {
    return (static_cast<std::uint64_t>(GetU32BE(p)) << 32) | GetU32BE(p + 4);
}
void PutU64BE(std::uint8_t* p, std::uint64_t v) {
    PutU32BE(p, static_cast<std::uint32_t>(v >> 32));
    PutU32BE(p + 4, static_cast<std::uint32_t>(v));
}

bool AllZero(std::span<const std::uint8_t> bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

double DecodeDouble(const std::uint8_t* p) {
    std::uint64_t bits = GetU64BE(p);
    bits = (bits & 0x8000000000000000u) != 0 ? bits & 0x7FFFFFFFFFFFFFFFu : ~bits;
    return std::bit_cast<double>(bits);
}

void EncodeDouble(double value, std::uint8_t* p) {
    std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
    bits = (bits & 0x8000000000000000u) == 0 ? bits | 0x8000000000000000u : ~bits;
    PutU64BE(p, bits);
}

FieldValue DecodeBcd(std::span<const std::uint8_t> bytes) {
    const bool positive = (bytes[0] & 0x80) != 0;
    const int decimals = bytes[0] & 0x3F;
    const std::span<const std::uint8_t> digitBytes = bytes.subspan(1, 16);
    if (!positive && AllZero(digitBytes)) {
        return FieldValue(); // the blank written by other programs
    }
    std::string digits;
    digits.reserve(32);
    for (const std::uint8_t byte : digitBytes) {
        for (const int nibble : {byte >> 4, byte & 0x0F}) {
            const int digit = positive ? nibble : 0x0F - nibble;
            if (digit > 9) {
                return FieldValue::FromInvalid(std::string(bytes.begin(), bytes.end()));
            }
            digits.push_back(static_cast<char>('0' + digit));
        }
    }
    if (decimals > 32) {
        return FieldValue::FromInvalid(std::string(bytes.begin(), bytes.end()));
    }
    std::string whole = digits.substr(0, 32 - decimals);
    whole.erase(0, std::min(whole.find_first_not_of('0'), whole.size()));
    if (whole.empty()) {
        whole = "0";
    }
    std::string text = positive ? whole : "-" + whole;
    if (decimals > 0) {
        text += "." + digits.substr(32 - decimals);
    }
    return FieldValue::FromDecimal(std::move(text));
}

[[noreturn]] void WrongValue(const FieldInfo& field, const std::string& what) {
    throw EParadoxError("field '" + field.def.name + "' of type " +
                        std::string(FieldTypeName(field.def.type)) + ": " + what);
}

std::int64_t IntegerOf(const FieldInfo& field, const FieldValue& value) {
    if (value.GetKind() != FieldValue::Kind::Integer) {
        WrongValue(field, "needs an integer value");
    }
    return value.Integer();
}

std::string Hex(std::uint8_t value) {
    static constexpr char kDigits[] = "0123456789abcdef";
    return {kDigits[value >> 4], kDigits[value & 0x0F]};
}

} // namespace

int SortOrderCode(std::string_view id) {
    for (const auto& order : kSortOrders) {
        if (order.id == id) {
            return order.code;
        }
    }
    return -1;
}

DbHeader ParseDbHeader(ByteReader file, const std::string& fileName) {
    if (file.Size() < kCommonHeaderSize) {
        Damaged(fileName, "the file is too short for a table header (" +
                              std::to_string(file.Size()) + " bytes)");
    }
    DbHeader header;
    TableInfo& info = header.info;
    info.recordSize = file.U16LE(offset::kRecordSize);
    info.headerSize = file.U16LE(offset::kHeaderSize);
    header.fileType = file.U8(offset::kFileType);
    const std::uint8_t maxTableSize = file.U8(offset::kMaxTableSize);
    header.numRecords = file.U32LE(offset::kNumRecords);
    header.fileBlocks = file.U16LE(offset::kFileBlocks);
    header.firstBlock = file.U16LE(offset::kFirstBlock);
    header.lastBlock = file.U16LE(offset::kLastBlock);
    const auto numFields = static_cast<std::int16_t>(file.U16LE(offset::kNumFields));
    const auto keyFields = static_cast<std::int16_t>(file.U16LE(offset::kKeyFields));
    info.fileVersionId = file.U8(offset::kFileVersion);
    header.autoInc = file.U32LE(offset::kAutoInc);

    if (header.fileType != kFileTypeKeyed && header.fileType != kFileTypeUnkeyed) {
        Damaged(fileName, header.fileType <= 8 ? "not a data table but an index file (file type " +
                                                     std::to_string(header.fileType) + ")"
                                               : "not a Paradox table (file type " +
                                                     std::to_string(header.fileType) + ")");
    }
    if (info.fileVersionId < 3 || info.fileVersionId > 12) {
        Damaged(fileName, "unknown file version " + std::to_string(info.fileVersionId));
    }
    if (maxTableSize < 1 || maxTableSize > 32) {
        Damaged(fileName, "impossible block size code " + std::to_string(maxTableSize));
    }
    if (numFields < 1 || numFields > 255) {
        Damaged(fileName, "impossible field count " + std::to_string(numFields));
    }
    if (keyFields < 0 || keyFields > numFields) {
        Damaged(fileName, "impossible key field count " + std::to_string(keyFields));
    }
    if (header.fileType == kFileTypeKeyed && keyFields == 0) {
        Damaged(fileName, "a keyed table without key fields");
    }
    if (info.headerSize < kCommonHeaderSize || info.headerSize > file.Size()) {
        Damaged(fileName, "header size " + std::to_string(info.headerSize) +
                              " outside the file of " + std::to_string(file.Size()) + " bytes");
    }
    info.fileVersion = FileVersionOf(info.fileVersionId);
    info.blockSize = maxTableSize * 0x400u;
    info.keyFieldCount = header.fileType == kFileTypeKeyed ? keyFields : 0;
    info.sortOrder = file.U8(offset::kSortOrder);

    const bool extended = info.fileVersionId >= 5;
    header.hasUpdateTime = extended;
    const ByteReader head = file.Sub(0, info.headerSize);
    const std::uint32_t encryption1 = head.U32LE(offset::kEncryption1);
    bool encrypted = encryption1 != 0;
    if (extended) {
        if (info.headerSize < kDataHeaderSize) {
            Damaged(fileName, "header of " + std::to_string(info.headerSize) +
                                  " bytes is too short for file version " +
                                  std::to_string(info.fileVersion));
        }
        encrypted =
            encryption1 == 0xFF00FF00u ? head.U32LE(offset::kEncryption2) != 0 : encryption1 != 0;
        info.codePage = head.U16LE(offset::kCodePage);
    }
    if (encrypted) {
        Damaged(fileName, "the table is encrypted (password protected); encrypted tables are "
                          "not supported");
    }

    try {
        ByteCursor cursor(head, extended ? kDataHeaderSize : kCommonHeaderSize);
        std::size_t recordSize = 0;
        for (int i = 0; i < numFields; ++i) {
            const std::uint8_t code = cursor.U8();
            const std::uint8_t size = cursor.U8();
            const auto type = FieldTypeFromCode(code);
            if (!type) {
                Damaged(fileName,
                        "field " + std::to_string(i + 1) + " has the unknown type 0x" + Hex(code));
            }
            if (!SizeFitsType(*type, size)) {
                Damaged(fileName, "field " + std::to_string(i + 1) + " of type " +
                                      std::string(FieldTypeName(*type)) +
                                      " has the impossible size " + std::to_string(size));
            }
            FieldInfo field;
            field.def.type = *type;
            field.offset = static_cast<std::uint16_t>(recordSize);
            if (*type == FieldType::Bcd) {
                field.def.size = size;
                field.storedSize = 17;
            } else if (IsBlobType(*type)) {
                field.def.size = size - 10;
                field.storedSize = size;
            } else if (*type == FieldType::Alpha || *type == FieldType::Bytes) {
                field.def.size = size;
                field.storedSize = size;
            } else {
                field.storedSize = size;
            }
            recordSize += field.storedSize;
            info.fields.push_back(std::move(field));
        }
        if (recordSize != info.recordSize) {
            Damaged(fileName, "record size " + std::to_string(info.recordSize) +
                                  " differs from the sum of the field sizes, " +
                                  std::to_string(recordSize));
        }
        cursor.Skip(4 + 4 * static_cast<std::uint64_t>(numFields)); // pointers, meaningless
        cursor.Skip(info.fileVersionId >= 12 ? 261 : 79);           // table name
        for (auto& field : info.fields) {
            const std::size_t start = cursor.Position();
            const auto rest = head.Bytes(start, head.Size() - start);
            const auto end = std::find(rest.begin(), rest.end(), std::uint8_t{0});
            if (end == rest.end()) {
                Damaged(fileName, "the field names run past the header");
            }
            field.def.name.assign(reinterpret_cast<const char*>(rest.data()),
                                  static_cast<std::size_t>(end - rest.begin()));
            cursor.Skip(field.def.name.size() + 1);
        }
        if (extended) {
            cursor.Skip(2 * static_cast<std::uint64_t>(numFields)); // field numbers
            const std::size_t start = cursor.Position();
            const auto rest = head.Bytes(start, head.Size() - start);
            const auto end = std::find(rest.begin(), rest.end(), std::uint8_t{0});
            if (end != rest.end()) {
                info.sortOrderName.assign(reinterpret_cast<const char*>(rest.data()),
                                          static_cast<std::size_t>(end - rest.begin()));
            }
        }
    } catch (const EReadOutOfBounds&) {
        Damaged(fileName, "the field descriptions run past the header of " +
                              std::to_string(info.headerSize) + " bytes");
    }

    if (info.recordSize == 0 || info.recordSize > info.blockSize - kBlockHeaderSize) {
        Damaged(fileName, "records of " + std::to_string(info.recordSize) +
                              " bytes do not fit blocks of " + std::to_string(info.blockSize));
    }
    const std::uint64_t needed =
        info.headerSize + static_cast<std::uint64_t>(header.fileBlocks) * info.blockSize;
    if (file.Size() < needed) {
        Damaged(fileName, "the file is truncated: " + std::to_string(header.fileBlocks) +
                              " blocks need " + std::to_string(needed) + " bytes, it has " +
                              std::to_string(file.Size()));
    }
    return header;
}

std::vector<ChainBlock> ReadChain(ByteReader file, const DbHeader& header,
                                  const std::string& fileName, std::vector<std::string>& warnings,
                                  bool* backLinked) {
    const TableInfo& info = header.info;
    const std::size_t capacity = (info.blockSize - kBlockHeaderSize) / info.recordSize;
    std::vector<ChainBlock> chain;
    std::vector<bool> seen(header.fileBlocks + 1u, false);
    std::uint64_t total = 0;
    std::uint16_t block = header.firstBlock;
    std::uint16_t previous = 0;
    bool linked = true;
    while (block != 0) {
        if (block > header.fileBlocks) {
            Damaged(fileName, "block " + std::to_string(previous) + " links to block " +
                                  std::to_string(block) + " beyond the " +
                                  std::to_string(header.fileBlocks) + " blocks of the file");
        }
        if (seen[block]) {
            Damaged(fileName, "the block chain loops back to block " + std::to_string(block));
        }
        seen[block] = true;
        const std::uint64_t at = info.headerSize + (block - 1u) * std::uint64_t{info.blockSize};
        const std::uint16_t next = file.U16LE(at);
        linked = linked && file.U16LE(at + 2) == previous;
        const auto addDataSize = static_cast<std::int16_t>(file.U16LE(at + 4));
        const std::int64_t used = addDataSize + static_cast<std::int64_t>(info.recordSize);
        if (used < 0 || used % info.recordSize != 0 ||
            static_cast<std::uint64_t>(used / info.recordSize) > capacity) {
            Damaged(fileName, "block " + std::to_string(block) +
                                  " declares an impossible amount of data (" +
                                  std::to_string(addDataSize) + ")");
        }
        const auto count = static_cast<std::uint16_t>(used / info.recordSize);
        chain.push_back(ChainBlock{block, count});
        total += count;
        previous = block;
        block = next;
    }
    if (total != header.numRecords) {
        warnings.push_back(fileName + ": the header counts " + std::to_string(header.numRecords) +
                           " records, the blocks hold " + std::to_string(total));
    }
    if (backLinked != nullptr) {
        *backLinked = linked;
    }
    return chain;
}

std::uint8_t ChooseMaxTableSize(std::size_t recordSize) {
    for (const std::uint8_t size : {2, 4, 8, 16, 32}) {
        if ((size * 0x400u - kBlockHeaderSize) / recordSize >= 16) {
            return size;
        }
    }
    return 32;
}

std::vector<std::uint8_t> BuildDbHeader(const std::vector<FieldDef>& fields, int keyFieldCount,
                                        std::uint8_t maxTableSize, std::uint16_t codePage,
                                        std::string_view sortOrderId, std::string_view tableName) {
    const std::size_t n = fields.size();
    std::size_t namesSize = 0;
    std::size_t recordSize = 0;
    for (const auto& field : fields) {
        namesSize += field.name.size() + 1;
        recordSize += StoredFieldSize(field);
    }
    const std::size_t fieldNumbersAt = kDataHeaderSize + 2 * n + 4 + 4 * n + 261 + namesSize;
    const std::size_t realSize = fieldNumbersAt + 2 * n + sortOrderId.size() + 1;
    const std::size_t headerSize = (realSize + 0x7FF) / 0x800 * 0x800;
    std::vector<std::uint8_t> h(headerSize, 0);
    std::uint8_t* p = h.data();
    PutU16LE(p + offset::kRecordSize, static_cast<std::uint16_t>(recordSize));
    PutU16LE(p + offset::kHeaderSize, static_cast<std::uint16_t>(headerSize));
    p[offset::kFileType] = keyFieldCount > 0 ? kFileTypeKeyed : kFileTypeUnkeyed;
    p[offset::kMaxTableSize] = maxTableSize;
    PutU16LE(p + offset::kChangeCounter, 1);
    PutU16LE(p + offset::kNumFields, static_cast<std::uint16_t>(n));
    PutU16LE(p + offset::kKeyFields, static_cast<std::uint16_t>(keyFieldCount));
    PutU32LE(p + offset::kEncryption1, 0xFF00FF00u);
    p[offset::kSortOrder] = static_cast<std::uint8_t>(SortOrderCode(sortOrderId));
    p[0x2D] = 2; // change counts; a keyed table needs the first at 2 or more
    p[0x2E] = 1;
    p[offset::kFileVersion] = 0x0C;
    p[0x3E] = 0x1F;
    p[0x3F] = 0x0F;
    PutU16LE(p + offset::kRealHeaderSize, static_cast<std::uint16_t>(realSize));
    p[0x56] = 0x20;
    PutU16LE(p + 0x58, 0x010C);
    PutU16LE(p + 0x5A, 0x010C);
    PutU32LE(p + offset::kUpdateTime, static_cast<std::uint32_t>(std::time(nullptr)));
    PutU16LE(p + 0x64, static_cast<std::uint16_t>(n + 1));
    PutU16LE(p + 0x66, static_cast<std::uint16_t>(fieldNumbersAt - 0x58));
    PutU16LE(p + offset::kCodePage, codePage);
    p[0x6C] = 1;
    p[0x6D] = 1;
    PutU16LE(p + 0x6E, static_cast<std::uint16_t>(0x18 + 8 * n + 4 + 261 + namesSize + 8));

    std::size_t at = kDataHeaderSize;
    for (const auto& field : fields) {
        p[at++] = static_cast<std::uint8_t>(field.type);
        p[at++] = static_cast<std::uint8_t>(field.type == FieldType::Bcd ? field.size
                                                                         : StoredFieldSize(field));
    }
    at += 4 + 4 * n;
    std::memcpy(p + at, tableName.data(), std::min<std::size_t>(tableName.size(), 260));
    at += 261;
    for (const auto& field : fields) {
        std::memcpy(p + at, field.name.data(), field.name.size());
        at += field.name.size() + 1;
    }
    for (std::size_t i = 0; i < n; ++i) {
        PutU16LE(p + at, static_cast<std::uint16_t>(i + 1));
        at += 2;
    }
    std::memcpy(p + at, sortOrderId.data(), sortOrderId.size());
    return h;
}

bool IsNullField(const FieldInfo& field, std::span<const std::uint8_t> bytes) {
    const auto stored = bytes.subspan(field.offset, field.storedSize);
    if (IsBlobType(field.def.type)) {
        return ReadBlobRef(field, bytes).length == 0;
    }
    if (field.def.type == FieldType::Bcd) {
        return DecodeBcd(stored).IsNull();
    }
    if (field.def.type == FieldType::Alpha) {
        return stored[0] == 0;
    }
    return AllZero(stored);
}

FieldValue DecodeField(const FieldInfo& field, std::span<const std::uint8_t> bytes) {
    const std::uint8_t* p = bytes.data() + field.offset;
    const std::span<const std::uint8_t> stored(p, field.storedSize);
    switch (field.def.type) {
    case FieldType::Alpha: {
        const auto end = std::find(stored.begin(), stored.end(), std::uint8_t{0});
        if (end == stored.begin()) {
            return FieldValue();
        }
        return FieldValue::FromBytes(std::string(stored.begin(), end));
    }
    case FieldType::Bytes:
        if (AllZero(stored)) {
            return FieldValue();
        }
        return FieldValue::FromBytes(std::string(stored.begin(), stored.end()));
    case FieldType::Short:
        if (p[0] == 0 && p[1] == 0) {
            return FieldValue();
        }
        return FieldValue::FromInteger(
            static_cast<std::int16_t>(static_cast<std::uint16_t>(((p[0] << 8) | p[1]) ^ 0x8000)));
    case FieldType::Long:
    case FieldType::AutoInc:
    case FieldType::Date:
    case FieldType::Time: {
        const std::uint32_t raw = GetU32BE(p);
        if (raw == 0) {
            return FieldValue();
        }
        const auto value = static_cast<std::int32_t>(raw ^ 0x80000000u);
        if (field.def.type == FieldType::Date) {
            return FieldValue::FromDate(value);
        }
        if (field.def.type == FieldType::Time) {
            return FieldValue::FromTime(value);
        }
        return FieldValue::FromInteger(value);
    }
    case FieldType::Number:
    case FieldType::Currency:
    case FieldType::Timestamp: {
        if (AllZero(stored)) {
            return FieldValue();
        }
        const double value = DecodeDouble(p);
        return field.def.type == FieldType::Timestamp ? FieldValue::FromTimestamp(value)
                                                      : FieldValue::FromNumber(value);
    }
    case FieldType::Logical:
        if (p[0] == 0) {
            return FieldValue();
        }
        if (p[0] == 0x80 || p[0] == 0x81) {
            return FieldValue::FromLogical(p[0] == 0x81);
        }
        return FieldValue::FromInvalid(std::string(1, static_cast<char>(p[0])));
    case FieldType::Bcd:
        return DecodeBcd(stored);
    default:
        return FieldValue::FromInvalid(std::string(stored.begin(), stored.end()));
    }
}

void EncodeField(const FieldInfo& field, const FieldValue& value, std::span<std::uint8_t> bytes) {
    EncodeFieldInto(field, value, bytes.data() + field.offset);
}

void EncodeFieldInto(const FieldInfo& field, const FieldValue& value, std::uint8_t* p) {
    std::memset(p, 0, field.storedSize);
    if (value.IsNull()) {
        return;
    }
    using Kind = FieldValue::Kind;
    switch (field.def.type) {
    case FieldType::Alpha:
    case FieldType::Bytes: {
        if (value.GetKind() != Kind::Bytes) {
            WrongValue(field, "needs a text value");
        }
        const std::string& text = value.Bytes();
        std::size_t length = std::min<std::size_t>(text.size(), field.storedSize);
        if (field.def.type == FieldType::Alpha) {
            length = std::min(length, text.find('\0'));
        }
        std::memcpy(p, text.data(), length);
        return;
    }
    case FieldType::Short: {
        const std::int64_t v = IntegerOf(field, value);
        if (v < -32767 || v > 32767) {
            WrongValue(field, "the value " + std::to_string(v) + " is out of range");
        }
        const auto raw = static_cast<std::uint16_t>(static_cast<std::uint16_t>(v) ^ 0x8000);
        p[0] = static_cast<std::uint8_t>(raw >> 8);
        p[1] = static_cast<std::uint8_t>(raw);
        return;
    }
    case FieldType::Long:
    case FieldType::AutoInc:
    case FieldType::Date:
    case FieldType::Time: {
        std::int64_t v = 0;
        const Kind wanted = field.def.type == FieldType::Date   ? Kind::Date
                            : field.def.type == FieldType::Time ? Kind::Time
                                                                : Kind::Integer;
        if (value.GetKind() != wanted) {
            WrongValue(field, "needs a value of its own type");
        }
        v = value.Integer();
        if (v < -2147483647 || v > 2147483647 ||
            (wanted == Kind::Time && (v < 0 || v >= 86400000))) {
            WrongValue(field, "the value " + std::to_string(v) + " is out of range");
        }
        PutU32BE(p, static_cast<std::uint32_t>(static_cast<std::int32_t>(v)) ^ 0x80000000u);
        return;
    }
    case FieldType::Number:
    case FieldType::Currency:
    case FieldType::Timestamp: {
        const bool timestamp = field.def.type == FieldType::Timestamp;
        const Kind kind = value.GetKind();
        if (timestamp ? kind != Kind::Timestamp : kind != Kind::Number && kind != Kind::Integer) {
            WrongValue(field, "needs a value of its own type");
        }
        const double v = value.Number();
        if (!std::isfinite(v)) {
            WrongValue(field, "the value is not a finite number");
        }
        EncodeDouble(v, p);
        return;
    }
    case FieldType::Logical:
        if (value.GetKind() != Kind::Logical) {
            WrongValue(field, "needs a logical value");
        }
        p[0] = value.Logical() ? 0x81 : 0x80;
        return;
    default:
        throw EFieldNotWritable("field '" + field.def.name + "' of type " +
                                std::string(FieldTypeName(field.def.type)) + " cannot be written");
    }
}

void WriteBlobRef(const FieldInfo& field, const BlobRef& ref, std::span<std::uint8_t> bytes) {
    std::uint8_t* p = bytes.data() + field.offset + field.storedSize - 10;
    PutU32LE(p, ref.offset | ref.index);
    PutU32LE(p + 4, ref.length);
    PutU16LE(p + 8, ref.mod);
}

} // namespace kelvara::paradox::detail
