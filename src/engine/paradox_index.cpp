// The .px primary index; see docs/formats/paradox.md, "Primary index".
#include "engine/paradox_index.h"

#include "text/byte_reader.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace kelvara::paradox::detail {
namespace {

constexpr std::size_t kIndexHeaderSize = 0x800;

std::size_t KeySize(const TableInfo& info) {
    std::size_t size = 0;
    for (int i = 0; i < info.keyFieldCount; ++i) {
        size += info.fields[i].storedSize;
    }
    return size;
}

void PutShort(std::uint8_t* p, std::uint32_t value) {
    const auto raw = static_cast<std::uint16_t>(static_cast<std::uint16_t>(value) ^ 0x8000);
    p[0] = static_cast<std::uint8_t>(raw >> 8);
    p[1] = static_cast<std::uint8_t>(raw);
}

struct Entry {
    std::size_t keyAt = 0;   // in the keys of the leaves; an entry above has its first child's
    std::uint32_t child = 0; // data block (leaves) or index block of the level below
    std::uint32_t count = 0;
};

// A sound header of an existing index for this table, or false.
bool UsableHeader(const TableInfo& info, std::span<const std::uint8_t> index) {
    if (index.size() < kCommonHeaderSize) {
        return false;
    }
    const ByteReader reader(index);
    const std::uint16_t headerSize = reader.U16LE(offset::kHeaderSize);
    const std::uint8_t blockCode = reader.U8(offset::kMaxTableSize);
    return reader.U8(offset::kFileType) == kFileTypeIndex &&
           reader.U16LE(offset::kRecordSize) == KeySize(info) + 6 &&
           reader.U16LE(offset::kNumFields) == info.keyFieldCount &&
           headerSize >= kCommonHeaderSize && headerSize <= index.size() && blockCode >= 1 &&
           blockCode <= 32 && (blockCode * 0x400u - kBlockHeaderSize) / (KeySize(info) + 6) >= 2;
}

std::vector<std::uint8_t> NewHeader(const IndexSource& source, std::uint8_t blockCode) {
    const TableInfo& info = *source.info;
    std::vector<std::uint8_t> h(kIndexHeaderSize, 0);
    std::uint8_t* p = h.data();
    const std::size_t nameSize = info.fileVersionId >= 12 ? 261 : 79;
    PutU16LE(p + offset::kRecordSize, static_cast<std::uint16_t>(KeySize(info) + 6));
    PutU16LE(p + offset::kHeaderSize, kIndexHeaderSize);
    p[offset::kFileType] = kFileTypeIndex;
    p[offset::kMaxTableSize] = blockCode;
    PutU16LE(
        p + offset::kChangeCounter,
        static_cast<std::uint16_t>(GetU16LE(source.dbHeader.data() + offset::kChangeCounter) + 1));
    PutU16LE(p + offset::kNumFields, static_cast<std::uint16_t>(info.keyFieldCount));
    p[offset::kSortOrder] = info.sortOrder;
    p[0x2C] = 102; // change count an index must carry; the value other writers use
    p[offset::kFileVersion] = info.fileVersionId;
    PutU32LE(p + offset::kAutoInc, 1);
    const std::size_t fieldsAt = kCommonHeaderSize;
    PutU16LE(p + offset::kRealHeaderSize,
             static_cast<std::uint16_t>(fieldsAt + 2 * info.keyFieldCount + 4 + nameSize));
    // The key fields are described as in the .db.
    const std::size_t dbFieldsAt = info.fileVersionId >= 5 ? kDataHeaderSize : kCommonHeaderSize;
    std::memcpy(p + fieldsAt, source.dbHeader.data() + dbFieldsAt, 2 * info.keyFieldCount);
    const std::size_t nameAt = fieldsAt + 2 * info.keyFieldCount + 4;
    std::memcpy(p + nameAt, source.indexName.data(),
                std::min(source.indexName.size(), nameSize - 1));
    return h;
}

} // namespace

std::vector<std::uint8_t> BuildPrimaryIndex(const IndexSource& source) {
    const TableInfo& info = *source.info;
    const std::size_t keySize = KeySize(info);
    const std::size_t entrySize = keySize + 6;

    std::vector<std::uint8_t> header;
    if (UsableHeader(info, source.oldIndex)) {
        const std::uint16_t headerSize = GetU16LE(source.oldIndex.data() + offset::kHeaderSize);
        header.assign(source.oldIndex.begin(), source.oldIndex.begin() + headerSize);
    } else {
        header = NewHeader(source, static_cast<std::uint8_t>(info.blockSize / 0x400));
    }
    const std::uint32_t blockSize = header[offset::kMaxTableSize] * 0x400u;
    const std::size_t capacity = (blockSize - kBlockHeaderSize) / entrySize;

    // Level 1: one entry per data block; each level above: one per block of the level below.
    std::vector<std::vector<std::vector<Entry>>> levels; // level -> blocks -> entries
    std::vector<Entry> entries;
    entries.reserve(source.chain->size());
    std::vector<std::uint8_t> keys;
    keys.reserve(source.chain->size() * keySize);
    for (std::size_t i = 0; i < source.chain->size(); ++i) {
        const std::uint8_t* record = source.firstRecord(i);
        Entry entry;
        entry.keyAt = keys.size();
        for (int f = 0; f < info.keyFieldCount; ++f) {
            const FieldInfo& field = info.fields[f];
            keys.insert(keys.end(), record + field.offset,
                        record + field.offset + field.storedSize);
        }
        entry.child = (*source.chain)[i].block;
        entry.count = (*source.chain)[i].count;
        entries.push_back(std::move(entry));
    }
    while (true) {
        std::vector<std::vector<Entry>> blocks;
        for (std::size_t i = 0; i < entries.size(); i += capacity) {
            blocks.emplace_back(
                std::make_move_iterator(entries.begin() + static_cast<std::ptrdiff_t>(i)),
                std::make_move_iterator(entries.begin() + static_cast<std::ptrdiff_t>(std::min(
                                                              entries.size(), i + capacity))));
        }
        if (blocks.empty()) {
            blocks.emplace_back();
        }
        levels.push_back(std::move(blocks));
        if (levels.back().size() == 1) {
            break;
        }
        std::vector<Entry> parents;
        for (std::size_t b = 0; b < levels.back().size(); ++b) {
            const auto& block = levels.back()[b];
            Entry parent;
            parent.keyAt = block.front().keyAt;
            parent.child = static_cast<std::uint32_t>(b); // replaced by its block number below
            for (const Entry& entry : block) {
                parent.count += entry.count;
            }
            parents.push_back(std::move(parent));
        }
        entries = std::move(parents);
    }

    // Block numbers: the root is block 1, then each level below in turn.
    std::vector<std::uint32_t> firstNumber(levels.size());
    std::uint32_t next = 1;
    for (std::size_t level = levels.size(); level-- > 0;) {
        firstNumber[level] = next;
        next += static_cast<std::uint32_t>(levels[level].size());
    }
    const std::uint32_t blockCount = next - 1;
    if (blockCount > 0xFFFF) {
        throw EParadoxError("the primary index would need more than 65535 blocks");
    }

    std::vector<std::uint8_t> file(header.size() + std::size_t{blockCount} * blockSize, 0);
    std::copy(header.begin(), header.end(), file.begin());
    std::uint32_t totalEntries = 0;
    for (std::size_t level = levels.size(); level-- > 0;) {
        for (std::size_t b = 0; b < levels[level].size(); ++b) {
            const std::uint32_t number = firstNumber[level] + static_cast<std::uint32_t>(b);
            std::uint8_t* block =
                file.data() + header.size() + (number - 1u) * std::size_t{blockSize};
            const auto& blockEntries = levels[level][b];
            PutU16LE(block, number < blockCount ? static_cast<std::uint16_t>(number + 1) : 0);
            PutU16LE(block + 2, static_cast<std::uint16_t>(number - 1));
            PutU16LE(block + 4,
                     static_cast<std::uint16_t>((static_cast<int>(blockEntries.size()) - 1) *
                                                static_cast<int>(entrySize)));
            std::uint8_t* at = block + kBlockHeaderSize;
            for (const Entry& entry : blockEntries) {
                std::memcpy(at, keys.data() + entry.keyAt, keySize);
                const std::uint32_t child =
                    level == 0 ? entry.child : firstNumber[level - 1] + entry.child;
                PutShort(at + keySize, child);
                PutShort(at + keySize + 2, entry.count);
                PutShort(at + keySize + 4, 0);
                at += entrySize;
            }
            totalEntries += static_cast<std::uint32_t>(blockEntries.size());
        }
    }
    std::uint8_t* p = file.data();
    PutU32LE(p + offset::kNumRecords, totalEntries);
    PutU16LE(p + offset::kNextBlock, static_cast<std::uint16_t>(blockCount));
    PutU16LE(p + offset::kFileBlocks, static_cast<std::uint16_t>(blockCount));
    PutU16LE(p + offset::kFirstBlock, 1);
    PutU16LE(p + offset::kLastBlock, static_cast<std::uint16_t>(blockCount));
    PutU16LE(p + offset::kIndexRoot, 1);
    p[offset::kIndexLevels] = static_cast<std::uint8_t>(levels.size());
    PutU16LE(p + offset::kMaxBlocks, static_cast<std::uint16_t>(blockCount));
    return file;
}

std::string CheckPrimaryIndex(const TableInfo& info, std::span<const std::uint8_t> index,
                              std::uint32_t recordCount) {
    if (!UsableHeader(info, index)) {
        return "the primary index does not fit the table";
    }
    const ByteReader reader(index);
    const std::uint16_t headerSize = reader.U16LE(offset::kHeaderSize);
    const std::uint32_t blockSize = reader.U8(offset::kMaxTableSize) * 0x400u;
    const std::uint16_t root = reader.U16LE(offset::kIndexRoot);
    const std::size_t entrySize = KeySize(info) + 6;
    const std::uint64_t at = headerSize + (root - 1u) * std::uint64_t{blockSize};
    if (root == 0 || !reader.Has(at, blockSize)) {
        return "the primary index has no root block";
    }
    const auto addDataSize = static_cast<std::int16_t>(reader.U16LE(at + 4));
    const std::int64_t entries =
        (addDataSize + static_cast<std::int64_t>(entrySize)) / static_cast<std::int64_t>(entrySize);
    if (entries < 0 || static_cast<std::uint64_t>(entries) * entrySize + 6 > blockSize) {
        return "the primary index root is damaged";
    }
    std::uint64_t total = 0;
    for (std::int64_t i = 0; i < entries; ++i) {
        const std::uint64_t count = at + 6 + i * entrySize + KeySize(info) + 2;
        total += static_cast<std::uint16_t>(reader.U16BE(count) ^ 0x8000);
    }
    if (total != recordCount) {
        return "the primary index counts " + std::to_string(total) + " records, the table has " +
               std::to_string(recordCount);
    }
    return {};
}

} // namespace kelvara::paradox::detail
