// The .mb BLOB file; see docs/formats/paradox.md.
#include "engine/paradox_blob.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace kelvara::paradox::detail {
namespace {

constexpr std::uint8_t kHeaderBlock = 0;
constexpr std::uint8_t kSingleBlock = 2;
constexpr std::uint8_t kSharedBlock = 3;
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

MbReferences::MbReferences(std::uint64_t mbSize)
    : shared_(static_cast<std::size_t>(
          std::min<std::uint64_t>((mbSize + kMbBlockSize - 1) / kMbBlockSize, 0x1000000))),
      startsOwn_(shared_.size(), 0) {}

bool MbReferences::Add(const BlobRef& ref) {
    const std::uint32_t block = ref.offset / kMbBlockSize;
    if (ref.offset % kMbBlockSize != 0 || block == 0 || block >= shared_.size()) {
        return false;
    }
    SharedUse& use = shared_[block];
    if (ref.index == 0xFF) {
        if (startsOwn_[block] != 0 || use.slots != 0) {
            return false;
        }
        startsOwn_[block] = 1;
        own_.emplace_back(block, ref.length);
        return true;
    }
    const std::uint64_t bit = std::uint64_t{1} << (ref.index % kSlots);
    if (ref.index >= kSlots || startsOwn_[block] != 0 || (use.slots & bit) != 0) {
        return false;
    }
    use.slots |= bit;
    use.chunks += (ref.length + 15) / 16;
    return true;
}

bool MbReferences::Merge(const MbReferences& other) {
    if (other.shared_.size() != shared_.size()) {
        return false;
    }
    for (std::size_t block = 0; block < shared_.size(); ++block) {
        const SharedUse& theirs = other.shared_[block];
        SharedUse& ours = shared_[block];
        if ((ours.slots & theirs.slots) != 0 ||
            (other.startsOwn_[block] != 0 && (startsOwn_[block] != 0 || ours.slots != 0)) ||
            (startsOwn_[block] != 0 && theirs.slots != 0)) {
            return false;
        }
        ours.slots |= theirs.slots;
        ours.chunks += theirs.chunks;
        startsOwn_[block] |= other.startsOwn_[block];
    }
    own_.insert(own_.end(), other.own_.begin(), other.own_.end());
    return true;
}

MbSpace MbSpace::Empty() {
    static_assert(kChunks == kSharedChunks);
    return MbSpace{};
}

MbSpace MbSpace::Build(const MbReferences& inUse, const PageReader& read, std::uint64_t size,
                       const std::string& fileName) {
    const std::uint64_t blocks = (size + kMbBlockSize - 1) / kMbBlockSize;
    if (blocks > 0xFFFFFFu) {
        Damaged(fileName, "the BLOB file is too large");
    }
    std::uint8_t head[kSingleHeader] = {};
    const auto readHead = [&](std::uint32_t block) {
        const std::uint64_t at = std::uint64_t{block} * kMbBlockSize;
        if (size - at < kSingleHeader) {
            Damaged(fileName, "block at " + std::to_string(at) + " is cut short");
        }
        read(at, head);
    };
    if (size < kSingleHeader || inUse.BlockCount() != blocks) {
        Damaged(fileName, "not a BLOB file (no header block)");
    }
    readHead(0);
    if (head[0] != kHeaderBlock) {
        Damaged(fileName, "not a BLOB file (no header block)");
    }

    MbSpace space;
    space.fileName_ = fileName;
    // Room to grow: the commits that follow add blocks, and moving the map costs page faults.
    space.blocks_.reserve(static_cast<std::size_t>(blocks + blocks / 8 + 64));
    space.SetBlockCount(static_cast<std::uint32_t>(blocks));
    std::vector<std::uint8_t> taken(static_cast<std::size_t>(blocks), 0);
    taken[0] = 1;
    const auto& shared = inUse.Shared();
    for (const auto& [block, length] : inUse.Own()) {
        readHead(block);
        const std::uint32_t count = GetU16LE(head + 1);
        const std::string at = std::to_string(std::uint64_t{block} * kMbBlockSize);
        if (head[0] != kSingleBlock) {
            Damaged(fileName,
                    "a record points to the block at " + at + ", which holds no BLOB of its own");
        }
        if (count == 0 || block + std::uint64_t{count} > blocks ||
            kSingleHeader + std::uint64_t{length} > std::uint64_t{count} * kMbBlockSize) {
            Damaged(fileName, "block at " + at + " has an impossible header");
        }
        for (std::uint32_t b = block; b < block + count; ++b) {
            if (taken[b] != 0 || shared[b].slots != 0) {
                Damaged(fileName, "the BLOB at " + at + " overlaps another one");
            }
            taken[b] = 1;
        }
        space.blocks_[block].ownBlocks = count;
    }
    std::uint32_t runStart = 0, runLength = 0;
    for (std::uint32_t block = 1; block < blocks; ++block) {
        if (shared[block].slots != 0) {
            if (shared[block].chunks > kSharedChunks) {
                Damaged(fileName, "shared block at " +
                                      std::to_string(std::uint64_t{block} * kMbBlockSize) +
                                      " is overfull");
            }
            space.SetShared(
                block, Shared{shared[block].slots,
                              static_cast<std::uint16_t>(kSharedChunks - shared[block].chunks)});
        }
        const bool free = taken[block] == 0 && shared[block].slots == 0;
        if (free && runLength > 0 && runStart + runLength == block && runLength < kMaxRun) {
            ++runLength;
            continue;
        }
        if (runLength > 0) {
            space.freeRuns_[runStart] = runLength;
            runLength = 0;
        }
        if (free) {
            runStart = block;
            runLength = 1;
        }
    }
    if (runLength > 0) {
        space.freeRuns_[runStart] = runLength;
    }
    return space;
}

void MbSpace::SetBlockCount(std::uint32_t count) {
    blockCount_ = count;
    if (blocks_.size() < count) {
        blocks_.resize(count);
    }
}

void MbSpace::Unlist(std::uint32_t block) {
    Block& entry = blocks_[block];
    if (!entry.roomy) {
        return;
    }
    if (entry.roomyPrev != 0) {
        blocks_[entry.roomyPrev].roomyNext = entry.roomyNext;
    } else {
        roomy_[entry.freeChunks] = entry.roomyNext;
    }
    if (entry.roomyNext != 0) {
        blocks_[entry.roomyNext].roomyPrev = entry.roomyPrev;
    }
    entry.roomy = false;
    entry.roomyPrev = entry.roomyNext = 0;
}

void MbSpace::SetShared(std::uint32_t block, const Shared& shared) {
    Unlist(block);
    Block& entry = blocks_[block];
    entry.shared = true;
    entry.usedSlots = shared.usedSlots;
    entry.freeChunks = std::min<std::uint16_t>(shared.freeChunks, kChunks);
    if (entry.usedSlots != ~std::uint64_t{0} && entry.freeChunks > 0) {
        entry.roomy = true;
        entry.roomyNext = roomy_[entry.freeChunks];
        if (entry.roomyNext != 0) {
            blocks_[entry.roomyNext].roomyPrev = block;
        }
        roomy_[entry.freeChunks] = block;
    }
}

void MbSpace::DropShared(std::uint32_t block) {
    Unlist(block);
    Block& entry = blocks_[block];
    entry.shared = false;
    entry.usedSlots = 0;
    entry.freeChunks = 0;
}

std::uint32_t MbSpace::TakeBlocks(std::uint32_t count) {
    for (auto run = freeRuns_.begin(); run != freeRuns_.end(); ++run) {
        if (run->second < count) {
            continue;
        }
        const std::uint32_t start = run->first;
        const std::uint32_t rest = run->second - count;
        freeRuns_.erase(run);
        if (rest > 0) {
            freeRuns_[start + count] = rest;
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
    SetBlockCount(start + count);
    return start;
}

void MbSpace::AddFreeRun(std::uint32_t start, std::uint32_t count) {
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
}

BlobRef MbSpace::Store(std::string_view value, std::uint16_t mod, PageOverlay& pages) {
    if (value.size() <= kSharedValueLimit) {
        return StoreShared(value, mod, pages);
    }
    const std::uint64_t total = kSingleHeader + std::uint64_t{value.size()};
    const std::uint64_t blocks = (total + kMbBlockSize - 1) / kMbBlockSize;
    if (blocks > kMaxRun) {
        throw EParadoxError("a BLOB value of " + std::to_string(value.size()) +
                            " bytes is larger than a BLOB file can hold");
    }
    const std::uint32_t start = TakeBlocks(static_cast<std::uint32_t>(blocks));
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
    blocks_[start].ownBlocks = static_cast<std::uint32_t>(blocks);
    BlobRef ref;
    ref.offset = start * kMbBlockSize;
    ref.index = 0xFF;
    ref.length = static_cast<std::uint32_t>(value.size());
    ref.mod = mod;
    return ref;
}

bool MbSpace::HasRoom(std::uint32_t block, std::uint32_t chunks) const {
    if (block == 0 || block >= blocks_.size()) {
        return false;
    }
    const Block& entry = blocks_[block];
    return entry.shared && entry.usedSlots != ~std::uint64_t{0} && entry.freeChunks >= chunks;
}

std::uint32_t MbSpace::SharedBlockFor(std::uint32_t chunks, PageOverlay& pages) {
    for (const std::uint32_t block : recent_) {
        if (HasRoom(block, chunks)) {
            return block;
        }
    }
    // Only a block at least half free takes new values: many values then share its one page,
    // where a block with a small hole would take one value per page written.
    for (std::uint32_t free = kSharedChunks; free >= std::max(chunks, kSharedChunks / 2); --free) {
        if (roomy_[free] != 0) {
            return roomy_[free];
        }
    }
    const std::uint32_t block = TakeBlocks(1);
    const std::span<std::uint8_t> page = pages.Page(block);
    std::fill(page.begin(), page.end(), std::uint8_t{0});
    page[0] = kSharedBlock;
    page[1] = 1;
    SetShared(block, Shared{0, static_cast<std::uint16_t>(kSharedChunks)});
    return block;
}

BlobRef MbSpace::StoreShared(std::string_view value, std::uint16_t mod, PageOverlay& pages) {
    const auto chunks = static_cast<std::uint32_t>((value.size() + 15) / 16);
    std::uint32_t block = 0;
    std::span<std::uint8_t> page;
    Shared shared;
    for (;;) {
        block = SharedBlockFor(chunks, pages);
        page = pages.Page(block);
        shared = Shared{blocks_[block].usedSlots, blocks_[block].freeChunks};
        if (page[0] != kSharedBlock) {
            Damaged(fileName_, "a record points to a slot of the block at " +
                                   std::to_string(std::uint64_t{block} * kMbBlockSize) +
                                   ", which is not a shared block");
        }
        // Slots freed earlier are still in the page; now that it is written anyway they go.
        std::uint32_t used = 0;
        for (std::uint32_t i = 0; i < kSlots; ++i) {
            std::uint8_t* entry = page.data() + kSlotTable + 5 * i;
            if ((shared.usedSlots >> i & 1) == 0) {
                std::memset(entry, 0, 5);
            } else if (entry[0] < kFirstDataChunk || entry[1] == 0 ||
                       entry[0] + entry[1] > kChunksPerBlock) {
                Damaged(fileName_, "shared block at " +
                                       std::to_string(std::uint64_t{block} * kMbBlockSize) +
                                       " has a damaged slot " + std::to_string(i));
            } else {
                used += entry[1];
            }
        }
        shared.freeChunks =
            static_cast<std::uint16_t>(used < kSharedChunks ? kSharedChunks - used : 0);
        if (shared.freeChunks >= chunks) {
            break;
        }
        // The block's values take more room than their lengths told: count it as it is.
        SetShared(block, shared);
    }

    // A gap big enough, after moving the values together when the free chunks are scattered.
    // Mostly the space after the last value is enough.
    auto findGap = [&]() -> std::uint32_t {
        std::uint32_t end = kFirstDataChunk;
        for (std::uint32_t i = 0; i < kSlots; ++i) {
            const std::uint8_t* entry = page.data() + kSlotTable + 5 * i;
            if (entry[0] != 0) {
                end = std::max<std::uint32_t>(end, entry[0] + entry[1]);
            }
        }
        if (end + chunks <= kChunksPerBlock) {
            return end;
        }
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
    if (recent_[0] != block) {
        std::copy_backward(recent_.begin(), recent_.end() - 1, recent_.end());
        recent_[0] = block;
    }

    BlobRef ref;
    ref.offset = block * kMbBlockSize;
    ref.index = static_cast<std::uint8_t>(slot);
    ref.length = static_cast<std::uint32_t>(value.size());
    ref.mod = mod;
    return ref;
}

void MbSpace::Free(const BlobRef& ref) {
    const std::string& fileName = fileName_;
    const std::uint32_t block = ref.offset / kMbBlockSize;
    if (ref.offset % kMbBlockSize != 0 || block == 0 || block >= blockCount_) {
        Damaged(fileName,
                "cannot free a BLOB outside the file (offset " + std::to_string(ref.offset) + ")");
    }
    Block& entry = blocks_[block];
    if (ref.index == 0xFF) {
        if (entry.ownBlocks == 0) {
            Damaged(fileName, "cannot free a BLOB: block at " + std::to_string(ref.offset) +
                                  " is not a BLOB block");
        }
        AddFreeRun(block, entry.ownBlocks);
        entry.ownBlocks = 0;
        return;
    }
    if (!entry.shared || ref.index >= kSlots || (entry.usedSlots >> ref.index & 1) == 0) {
        Damaged(fileName, "cannot free a BLOB: slot " + std::to_string(ref.index) +
                              " of block at " + std::to_string(ref.offset) + " is not in use");
    }
    Shared shared{entry.usedSlots, entry.freeChunks};
    shared.usedSlots &= ~(std::uint64_t{1} << ref.index);
    shared.freeChunks = static_cast<std::uint16_t>(
        std::min<std::uint32_t>(shared.freeChunks + (ref.length + 15) / 16, kSharedChunks));
    if (shared.usedSlots == 0) {
        DropShared(block);
        AddFreeRun(block, 1);
        std::replace(recent_.begin(), recent_.end(), block, std::uint32_t{0});
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
        SetBlockCount(last->first);
        for (std::uint32_t i = last->first; i < last->first + last->second; ++i) {
            pages.Drop(i);
        }
        freeRuns_.erase(last);
    }
    const std::span<std::uint8_t> header = pages.Page(0);
    PutU16LE(header.data() + 3, static_cast<std::uint16_t>(GetU16LE(header.data() + 3) + 1));
}

} // namespace kelvara::paradox::detail
