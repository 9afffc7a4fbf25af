// The .mb BLOB file; see docs/formats/paradox.md.
#include "engine/paradox_blob.h"

#include <algorithm>
#include <cstring>

namespace kelvara::paradox::detail {
namespace {

constexpr std::uint8_t kHeaderBlock = 0;
constexpr std::uint8_t kSingleBlock = 2;
constexpr std::uint8_t kSharedBlock = 3;
constexpr std::uint8_t kFreeBlock = 4;
constexpr std::uint32_t kSingleHeader = 9;
constexpr std::uint32_t kSlotTable = 12;
constexpr std::uint32_t kSlots = 64;
constexpr std::uint32_t kFirstDataChunk = 0x150 / 16; // 21
constexpr std::uint32_t kChunksPerBlock = kMbBlockSize / 16;
constexpr std::uint32_t kSharedChunks = kChunksPerBlock - kFirstDataChunk; // 235
constexpr std::uint32_t kGraphicHeader = 8;
constexpr std::uint32_t kMaxRun = 0xFFFF;

[[noreturn]] void Damaged(const std::string& fileName, const std::string& fault) {
    throw EParadoxError(fileName + ": " + fault);
}

struct Slot {
    std::uint32_t firstChunk; // from the block start
    std::uint32_t chunks;
};

std::vector<Slot> UsedSlots(std::span<const std::uint8_t> block) {
    std::vector<Slot> slots;
    for (std::uint32_t i = 0; i < kSlots; ++i) {
        const std::uint8_t* entry = block.data() + kSlotTable + 5 * i;
        if (entry[0] != 0) {
            slots.push_back(Slot{entry[0], entry[1]});
        }
    }
    return slots;
}

void SetRunHeader(std::span<std::uint8_t> page, std::uint8_t type, std::uint32_t count) {
    page[0] = type;
    PutU16LE(page.data() + 1, static_cast<std::uint16_t>(count));
}

} // namespace

std::span<const std::uint8_t> ReadMbValue(ByteReader mb, const BlobRef& ref, FieldType type,
                                          const std::filesystem::path& file) {
    const auto Damaged = [&file](const std::string& fault) {
        throw EParadoxError(file.string() + ": " + fault);
    };
    const auto where = [&ref] {
        return " (BLOB at " + std::to_string(ref.offset) + "/" + std::to_string(ref.index) + ", " +
               std::to_string(ref.length) + " bytes)";
    };
    if (ref.offset % kMbBlockSize != 0 || ref.offset == 0 ||
        !mb.Has(ref.offset, kMbBlockSize / 2)) {
        Damaged("BLOB pointer out of range" + where());
    }
    const std::uint8_t blockType = mb.U8(ref.offset);
    std::uint64_t start = 0;
    if (ref.index == 0xFF) {
        if (blockType != kSingleBlock) {
            Damaged("BLOB pointer to a block of type " + std::to_string(blockType) + where());
        }
        if (mb.U32LE(ref.offset + 3) != ref.length) {
            Damaged("stored BLOB length " + std::to_string(mb.U32LE(ref.offset + 3)) +
                    " differs from the record" + where());
        }
        const std::uint64_t blocks = mb.U16LE(ref.offset + 1);
        if (kSingleHeader + std::uint64_t{ref.length} > blocks * kMbBlockSize) {
            Damaged("BLOB longer than its blocks" + where());
        }
        start = ref.offset + kSingleHeader;
    } else {
        if (ref.index >= kSlots || blockType != kSharedBlock) {
            Damaged("BLOB pointer to a missing slot" + where());
        }
        const std::uint64_t entry = ref.offset + kSlotTable + 5u * ref.index;
        const std::uint32_t chunk = mb.U8(entry);
        const std::uint32_t chunks = mb.U8(entry + 1);
        const std::uint32_t last = mb.U8(entry + 4);
        if (chunk < kFirstDataChunk || chunks == 0 || last == 0 || last > 16 ||
            chunk + chunks > kChunksPerBlock) {
            Damaged("BLOB slot is empty or damaged" + where());
        }
        if ((chunks - 1) * 16 + last != ref.length) {
            Damaged("BLOB slot length " + std::to_string((chunks - 1) * 16 + last) +
                    " differs from the record" + where());
        }
        start = ref.offset + chunk * 16u;
    }
    if (!mb.Has(start, ref.length)) {
        Damaged("BLOB runs past the end of the file" + where());
    }
    auto bytes = mb.Bytes(start, ref.length);
    if (type == FieldType::Graphic && bytes.size() >= kGraphicHeader) {
        bytes = bytes.subspan(kGraphicHeader);
    }
    return bytes;
}

std::vector<std::uint8_t> NewMbHeaderBlock() {
    static constexpr std::uint8_t kHeader[] = {0x00, 0x01, 0x00, 0x01, 0x00, 0x82, 0x73,
                                               0x02, 0x00, 0x29, 0x00, 0x00, 0x10, 0x00,
                                               0x10, 0x10, 0x40, 0x00, 0x00, 0x08, 0x00};
    std::vector<std::uint8_t> block(kMbBlockSize, 0);
    std::memcpy(block.data(), kHeader, sizeof kHeader);
    return block;
}

std::span<std::uint8_t> PageOverlay::Page(std::uint32_t index) {
    auto found = pages_.find(index);
    if (found == pages_.end()) {
        CopiedPage page;
        page.original = Original(index);
        page.current = page.original;
        found = pages_.emplace(index, std::move(page)).first;
    }
    return found->second.current;
}

std::vector<std::uint8_t> PageOverlay::Current(std::uint32_t index) const {
    if (const auto found = pages_.find(index); found != pages_.end()) {
        return found->second.current;
    }
    return Original(index);
}

std::vector<std::uint8_t> PageOverlay::Original(std::uint32_t index) const {
    if (const auto found = pages_.find(index); found != pages_.end()) {
        return found->second.original;
    }
    std::vector<std::uint8_t> page(pageSize_, 0);
    const std::uint64_t at = PageOffset(index);
    if (at < baseSize_) {
        const std::size_t length =
            static_cast<std::size_t>(std::min<std::uint64_t>(pageSize_, baseSize_ - at));
        read_(at, std::span(page.data(), length));
    }
    return page;
}

MbSpace MbSpace::Empty() {
    return MbSpace{};
}

MbSpace MbSpace::Scan(const PageReader& read, std::uint64_t size, const std::string& fileName) {
    MbSpace space;
    constexpr std::uint32_t kBlockHead = kSlotTable + 5 * kSlots;
    // The file is read in large pieces: a read per block costs far more than its bytes.
    constexpr std::uint64_t kPiece = 256 * kMbBlockSize;
    std::vector<std::uint8_t> piece;
    std::uint64_t pieceStart = 0;
    const auto headOf = [&](std::uint64_t at) {
        const std::uint64_t length = std::min<std::uint64_t>(kBlockHead, size - at);
        if (at < pieceStart || at + length > pieceStart + piece.size()) {
            pieceStart = at;
            piece.resize(static_cast<std::size_t>(std::min<std::uint64_t>(kPiece, size - at)));
            read(at, piece);
        }
        return ByteReader(piece.data() + (at - pieceStart), static_cast<std::size_t>(length));
    };
    if (size < 3 || headOf(0).U8(0) != kHeaderBlock) {
        Damaged(fileName, "not a BLOB file (no header block)");
    }
    const std::uint64_t blocks = (size + kMbBlockSize - 1) / kMbBlockSize;
    if (blocks > 0xFFFFFFu) {
        Damaged(fileName, "the BLOB file is too large");
    }
    std::uint32_t block = 0;
    while (block < blocks) {
        const std::uint64_t at = std::uint64_t{block} * kMbBlockSize;
        const ByteReader mb = headOf(at);
        if (!mb.Has(0, 3)) {
            Damaged(fileName, "block at " + std::to_string(at) + " is cut short");
        }
        const std::uint8_t type = mb.U8(0);
        const std::uint32_t count = mb.U16LE(1);
        if (count == 0 || (type == kSharedBlock && count != 1) ||
            (block == 0) != (type == kHeaderBlock)) {
            Damaged(fileName, "block at " + std::to_string(at) + " has an impossible header");
        }
        switch (type) {
        case kHeaderBlock:
        case kSingleBlock:
            break;
        case kFreeBlock:
            space.freeRuns_[block] = count;
            break;
        case kSharedBlock: {
            if (size - at < kMbBlockSize) {
                Damaged(fileName, "shared block at " + std::to_string(at) + " is cut short");
            }
            Shared shared;
            std::uint32_t used = 0;
            for (std::uint32_t i = 0; i < kSlots; ++i) {
                const std::uint32_t chunk = mb.U8(kSlotTable + 5 * i);
                const std::uint32_t chunks = mb.U8(kSlotTable + 5 * i + 1);
                if (chunk == 0) {
                    continue;
                }
                if (chunk < kFirstDataChunk || chunk + chunks > kChunksPerBlock) {
                    Damaged(fileName, "shared block at " + std::to_string(at) +
                                          " has a damaged slot " + std::to_string(i));
                }
                shared.usedSlots |= std::uint64_t{1} << i;
                used += chunks;
            }
            if (used > kSharedChunks) {
                Damaged(fileName, "shared block at " + std::to_string(at) + " is overfull");
            }
            shared.freeChunks = static_cast<std::uint16_t>(kSharedChunks - used);
            space.SetShared(block, shared);
            break;
        }
        default:
            Damaged(fileName, "block at " + std::to_string(at) + " has the unknown type " +
                                  std::to_string(type));
        }
        block += count;
    }
    space.blockCount_ = block;
    return space;
}

void MbSpace::SetShared(std::uint32_t block, const Shared& shared) {
    if (const auto old = shared_.find(block); old != shared_.end()) {
        roomy_.erase({old->second.freeChunks, block});
    }
    shared_[block] = shared;
    if (shared.usedSlots != ~std::uint64_t{0} && shared.freeChunks > 0) {
        roomy_.insert({shared.freeChunks, block});
    }
}

void MbSpace::DropShared(std::uint32_t block) {
    if (const auto old = shared_.find(block); old != shared_.end()) {
        roomy_.erase({old->second.freeChunks, block});
        shared_.erase(old);
    }
}

std::uint32_t MbSpace::TakeBlocks(std::uint32_t count, PageOverlay& pages) {
    for (auto run = freeRuns_.begin(); run != freeRuns_.end(); ++run) {
        if (run->second < count) {
            continue;
        }
        const std::uint32_t start = run->first;
        const std::uint32_t rest = run->second - count;
        freeRuns_.erase(run);
        if (rest > 0) {
            freeRuns_[start + count] = rest;
            SetRunHeader(pages.Page(start + count), kFreeBlock, rest);
        }
        return start;
    }
    // A free run at the end of the file grows into the new space.
    std::uint32_t start = blockCount_;
    if (!freeRuns_.empty()) {
        const auto last = std::prev(freeRuns_.end());
        if (last->first + last->second == blockCount_) {
            start = last->first;
            freeRuns_.erase(last);
        }
    }
    blockCount_ = start + count;
    return start;
}

void MbSpace::AddFreeRun(std::uint32_t start, std::uint32_t count, PageOverlay& pages) {
    auto next = freeRuns_.lower_bound(start);
    if (next != freeRuns_.end() && start + count == next->first &&
        count + next->second <= kMaxRun) {
        count += next->second;
        next = freeRuns_.erase(next);
    }
    if (next != freeRuns_.begin()) {
        const auto previous = std::prev(next);
        if (previous->first + previous->second == start && previous->second + count <= kMaxRun) {
            start = previous->first;
            count += previous->second;
            freeRuns_.erase(previous);
        }
    }
    freeRuns_[start] = count;
    SetRunHeader(pages.Page(start), kFreeBlock, count);
}

BlobRef MbSpace::Store(std::string_view value, std::uint16_t mod, PageOverlay& pages,
                       std::uint32_t nearBlock) {
    if (value.size() <= kSharedValueLimit) {
        return StoreShared(value, mod, pages, nearBlock);
    }
    const std::uint64_t total = kSingleHeader + std::uint64_t{value.size()};
    const std::uint64_t blocks = (total + kMbBlockSize - 1) / kMbBlockSize;
    if (blocks > kMaxRun) {
        throw EParadoxError("a BLOB value of " + std::to_string(value.size()) +
                            " bytes is larger than a BLOB file can hold");
    }
    const std::uint32_t start = TakeBlocks(static_cast<std::uint32_t>(blocks), pages);
    std::uint64_t written = 0;
    for (std::uint32_t i = 0; i < blocks; ++i) {
        const std::span<std::uint8_t> page = pages.Page(start + i);
        std::uint32_t at = 0;
        if (i == 0) {
            page[0] = kSingleBlock;
            PutU16LE(page.data() + 1, static_cast<std::uint16_t>(blocks));
            PutU32LE(page.data() + 3, static_cast<std::uint32_t>(value.size()));
            PutU16LE(page.data() + 7, mod);
            at = kSingleHeader;
        }
        const std::size_t length = static_cast<std::size_t>(
            std::min<std::uint64_t>(kMbBlockSize - at, value.size() - written));
        std::memcpy(page.data() + at, value.data() + written, length);
        std::memset(page.data() + at + length, 0, kMbBlockSize - at - length);
        written += length;
    }
    BlobRef ref;
    ref.offset = start * kMbBlockSize;
    ref.index = 0xFF;
    ref.length = static_cast<std::uint32_t>(value.size());
    ref.mod = mod;
    return ref;
}

bool MbSpace::HasRoom(std::uint32_t block, std::uint32_t chunks) const {
    const auto found = shared_.find(block);
    return found != shared_.end() && found->second.usedSlots != ~std::uint64_t{0} &&
           found->second.freeChunks >= chunks;
}

BlobRef MbSpace::StoreShared(std::string_view value, std::uint16_t mod, PageOverlay& pages,
                             std::uint32_t nearBlock) {
    const auto chunks = static_cast<std::uint32_t>((value.size() + 15) / 16);
    std::uint32_t block = 0;
    if (nearBlock != 0 && HasRoom(nearBlock, chunks)) {
        block = nearBlock;
    } else if (HasRoom(recent_, chunks)) {
        block = recent_;
    } else if (const auto found = roomy_.lower_bound({static_cast<std::uint16_t>(chunks), 0});
               found != roomy_.end()) {
        block = found->second;
    } else {
        block = TakeBlocks(1, pages);
        const std::span<std::uint8_t> page = pages.Page(block);
        std::fill(page.begin(), page.end(), std::uint8_t{0});
        page[0] = kSharedBlock;
        page[1] = 1;
        SetShared(block, Shared{0, static_cast<std::uint16_t>(kSharedChunks)});
    }
    const std::span<std::uint8_t> page = pages.Page(block);
    Shared shared = shared_.at(block);

    // A gap big enough, after moving the values together when the free chunks are scattered.
    auto findGap = [&]() -> std::uint32_t {
        std::vector<Slot> used = UsedSlots(page);
        std::sort(used.begin(), used.end(),
                  [](const Slot& a, const Slot& b) { return a.firstChunk < b.firstChunk; });
        std::uint32_t next = kFirstDataChunk;
        for (const Slot& slot : used) {
            if (slot.firstChunk >= next + chunks) {
                return next;
            }
            next = std::max(next, slot.firstChunk + slot.chunks);
        }
        return next + chunks <= kChunksPerBlock ? next : 0;
    };
    std::uint32_t gap = findGap();
    if (gap == 0) {
        std::vector<std::uint8_t> original(page.begin(), page.end());
        std::vector<std::uint32_t> order;
        for (std::uint32_t i = 0; i < kSlots; ++i) {
            if (original[kSlotTable + 5 * i] != 0) {
                order.push_back(i);
            }
        }
        std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
            return original[kSlotTable + 5 * a] < original[kSlotTable + 5 * b];
        });
        std::uint32_t next = kFirstDataChunk;
        std::fill(page.begin() + kFirstDataChunk * 16, page.end(), std::uint8_t{0});
        for (const std::uint32_t i : order) {
            const std::uint32_t from = original[kSlotTable + 5 * i];
            const std::uint32_t count = original[kSlotTable + 5 * i + 1];
            std::memcpy(page.data() + next * 16, original.data() + from * 16, count * 16);
            page[kSlotTable + 5 * i] = static_cast<std::uint8_t>(next);
            next += count;
        }
        gap = findGap();
    }
    std::uint32_t slot = kSlots - 1;
    while ((shared.usedSlots >> slot & 1) != 0) {
        --slot;
    }
    std::memset(page.data() + gap * 16, 0, chunks * 16);
    std::memcpy(page.data() + gap * 16, value.data(), value.size());
    std::uint8_t* entry = page.data() + kSlotTable + 5 * slot;
    entry[0] = static_cast<std::uint8_t>(gap);
    entry[1] = static_cast<std::uint8_t>(chunks);
    PutU16LE(entry + 2, mod);
    entry[4] = static_cast<std::uint8_t>(value.size() - (chunks - 1) * 16);
    shared.usedSlots |= std::uint64_t{1} << slot;
    shared.freeChunks = static_cast<std::uint16_t>(shared.freeChunks - chunks);
    SetShared(block, shared);
    if (block != nearBlock) {
        recent_ = block;
    }

    BlobRef ref;
    ref.offset = block * kMbBlockSize;
    ref.index = static_cast<std::uint8_t>(slot);
    ref.length = static_cast<std::uint32_t>(value.size());
    ref.mod = mod;
    return ref;
}

void MbSpace::Free(const BlobRef& ref, PageOverlay& pages, const std::string& fileName) {
    const std::uint32_t block = ref.offset / kMbBlockSize;
    if (ref.offset % kMbBlockSize != 0 || block == 0 || block >= blockCount_) {
        Damaged(fileName,
                "cannot free a BLOB outside the file (offset " + std::to_string(ref.offset) + ")");
    }
    const std::span<std::uint8_t> page = pages.Page(block);
    if (ref.index == 0xFF) {
        if (page[0] != kSingleBlock) {
            Damaged(fileName, "cannot free a BLOB: block at " + std::to_string(ref.offset) +
                                  " is not a BLOB block");
        }
        const std::uint32_t count = GetU16LE(page.data() + 1);
        AddFreeRun(block, count, pages);
        return;
    }
    const auto found = shared_.find(block);
    if (found == shared_.end() || ref.index >= kSlots ||
        (found->second.usedSlots >> ref.index & 1) == 0) {
        Damaged(fileName, "cannot free a BLOB: slot " + std::to_string(ref.index) +
                              " of block at " + std::to_string(ref.offset) + " is not in use");
    }
    Shared shared = found->second;
    // Only the slot is cleared: the chunks are free once no slot covers them.
    std::uint8_t* entry = page.data() + kSlotTable + 5 * ref.index;
    const std::uint32_t chunks = entry[1];
    std::memset(entry, 0, 5);
    shared.usedSlots &= ~(std::uint64_t{1} << ref.index);
    shared.freeChunks = static_cast<std::uint16_t>(shared.freeChunks + chunks);
    if (shared.usedSlots == 0) {
        DropShared(block);
        std::fill(page.begin(), page.end(), std::uint8_t{0});
        AddFreeRun(block, 1, pages);
    } else {
        SetShared(block, shared);
    }
}

void MbSpace::Finish(PageOverlay& pages) {
    while (!freeRuns_.empty()) {
        const auto last = std::prev(freeRuns_.end());
        if (last->first + last->second < blockCount_) {
            break;
        }
        blockCount_ = last->first;
        for (std::uint32_t i = last->first; i < last->first + last->second; ++i) {
            pages.Drop(i);
        }
        freeRuns_.erase(last);
    }
    const std::span<std::uint8_t> header = pages.Page(0);
    PutU16LE(header.data() + 3, static_cast<std::uint16_t>(GetU16LE(header.data() + 3) + 1));
}

} // namespace kelvara::paradox::detail
