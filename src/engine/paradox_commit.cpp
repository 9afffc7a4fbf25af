// Committing a batch of record changes: BLOB space, data blocks, the primary index and the
// header are computed in memory, then written as one unit through the journal. See
// docs/formats/paradox.md.
#include "engine/paradox_index.h"
#include "engine/paradox_journal.h"
#include "engine/paradox_state.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <functional>
#include <iterator>
#include <limits>
#include <map>
#include <set>
#include <system_error>
#include <thread>
#include <unordered_map>

namespace kelvara::paradox {
namespace {

using detail::BlobRef;
using detail::ChainBlock;
using detail::FileWrite;
using detail::GetU16LE;
using detail::GetU32LE;
using detail::PutU16LE;
using detail::PutU32LE;

constexpr int kLockWaitMs = 10000;
constexpr std::uint32_t kMaxBlocks = 0xFFFF;

// A block of the chain as the commit reshapes it. Records are copied out of the snapshot only for
// blocks the commit changes.
struct WorkBlock {
    std::uint16_t block = 0;
    std::uint32_t firstIndex = 0; // snapshot index of its first record (original blocks)
    std::uint16_t originalCount = 0;
    bool original = true;
    std::optional<std::vector<std::uint8_t>> records; // count * recordSize bytes once changed
    // Records rewritten in place (position in the block, new bytes) while the block itself is
    // not copied: most commits only edit records, and copying their blocks would cost more than
    // the writes.
    std::vector<std::pair<std::uint32_t, const std::vector<std::uint8_t>*>> inPlace;

    std::uint32_t Count(std::size_t recordSize) const {
        return records ? static_cast<std::uint32_t>(records->size() / recordSize) : originalCount;
    }
};

// How many leading (trailing) bytes of a and b agree, of length. Whole chunks are compared
// with memcmp first: commits compare megabytes of mostly equal blocks.
constexpr std::size_t kCompareChunk = 64;

std::size_t SameFromStart(const std::uint8_t* a, const std::uint8_t* b, std::size_t length) {
    std::size_t same = 0;
    while (length - same >= kCompareChunk && std::memcmp(a + same, b + same, kCompareChunk) == 0) {
        same += kCompareChunk;
    }
    while (same < length && a[same] == b[same]) {
        ++same;
    }
    return same;
}

std::size_t SameFromEnd(const std::uint8_t* a, const std::uint8_t* b, std::size_t length) {
    std::size_t same = 0;
    while (length - same >= kCompareChunk &&
           std::memcmp(a + length - same - kCompareChunk, b + length - same - kCompareChunk,
                       kCompareChunk) == 0) {
        same += kCompareChunk;
    }
    while (same < length && a[length - same - 1] == b[length - same - 1]) {
        ++same;
    }
    return same;
}

// The smallest write that turns old into fresh at offset (fresh may reach past the old end).
void AddDiff(std::vector<FileWrite>& writes, std::uint64_t offset,
             std::span<const std::uint8_t> old, std::span<const std::uint8_t> fresh,
             std::uint64_t oldFileSize) {
    const std::size_t comparable = static_cast<std::size_t>(
        offset >= oldFileSize ? 0 : std::min<std::uint64_t>(oldFileSize - offset, fresh.size()));
    std::size_t first = SameFromStart(old.data(), fresh.data(), comparable);
    if (first == fresh.size()) {
        return;
    }
    std::size_t end = fresh.size();
    if (end <= comparable) {
        end -= SameFromEnd(old.data() + first, fresh.data() + first, end - first);
    }
    FileWrite write;
    write.offset = offset + first;
    write.bytes.assign(fresh.begin() + static_cast<std::ptrdiff_t>(first),
                       fresh.begin() + static_cast<std::ptrdiff_t>(end));
    if (!writes.empty()) {
        FileWrite& last = writes.back();
        if (last.offset + last.bytes.size() == write.offset) {
            last.bytes.insert(last.bytes.end(), write.bytes.begin(), write.bytes.end());
            return;
        }
    }
    writes.push_back(std::move(write));
}

std::span<const std::uint8_t> Slice(std::span<const std::uint8_t> bytes, std::uint64_t offset,
                                    std::size_t length) {
    if (offset >= bytes.size()) {
        return {};
    }
    return {bytes.data() + offset,
            static_cast<std::size_t>(std::min<std::uint64_t>(length, bytes.size() - offset))};
}

std::string KeyText(const TableInfo& info, const std::uint8_t* record) {
    std::string text;
    for (int i = 0; i < info.keyFieldCount; ++i) {
        if (i > 0) {
            text += ", ";
        }
        text +=
            detail::DecodeField(info.fields[i], std::span(record, info.recordSize)).DisplayText();
    }
    return text;
}

// Below this many records the walk is quick enough to do when a commit needs it.
constexpr std::size_t kWalkAheadRecords = 20000;

// Where the BLOB descriptors lie in a record.
std::vector<std::size_t> DescriptorOffsets(const TableInfo& info) {
    std::vector<std::size_t> offsets;
    for (const FieldInfo& field : info.fields) {
        if (IsBlobType(field.def.type)) {
            offsets.push_back(field.offset + field.storedSize - 10u);
        }
    }
    return offsets;
}

// Adds what a record points to in the .mb; false when it points outside the file or where
// another value does.
bool AddReferences(const std::uint8_t* record, const std::vector<std::size_t>& descriptors,
                   detail::MbReferences& inUse) {
    for (const std::size_t at : descriptors) {
        const BlobRef ref = detail::ReadBlobRef(record + at);
        if (ref.length > 0 && ref.InMb() && !inUse.Add(ref)) {
            return false;
        }
    }
    return true;
}

} // namespace

std::uint32_t ParadoxTable::State::Gather(std::uint32_t from, std::uint32_t to,
                                          detail::MbReferences& inUse) const {
    const std::vector<std::size_t> descriptors = DescriptorOffsets(header.info);
    for (std::uint32_t r = from; r < to; ++r) {
        if (!AddReferences(db.data() + recordOffsets[r], descriptors, inUse)) {
            return r;
        }
    }
    return to;
}

void ParadoxTable::State::WalkPieces(detail::MbReferences& into, std::uint32_t& fault) {
    constexpr std::uint32_t kPiece = 4096;
    const auto count = static_cast<std::uint32_t>(recordOffsets.size());
    while (!walkStop) {
        const std::uint32_t from = walkNext.fetch_add(kPiece);
        if (from >= count) {
            return;
        }
        const std::uint32_t to = std::min(count, from + kPiece);
        if (const std::uint32_t found = Gather(from, to, into); found < to) {
            fault = std::min(fault, found);
            return;
        }
    }
}

void ParadoxTable::State::StopWalk() {
    {
        // Under the lock: a walker waiting for more of the file must not miss it.
        const std::lock_guard lock(readMutex);
        walkStop = true;
    }
    readMore.notify_all();
    if (walker.joinable()) {
        walker.join();
    }
    walkStop = false;
    walked.reset();
}

bool ParadoxTable::State::WalkAhead(const TableInfo& info, std::uint64_t records) const {
    const bool hasBlobs = std::any_of(info.fields.begin(), info.fields.end(),
                                      [](const FieldInfo& f) { return IsBlobType(f.def.type); });
    return Writable() && mbExists && hasBlobs && records >= kWalkAheadRecords;
}

bool ParadoxTable::State::LaunchWalk(std::uint32_t next, std::function<void()> walk) {
    walkedMbSize = stamp.mbSize - 1;
    walked.emplace(walkedMbSize);
    walkNext = next;
    walkBroken = false;
    walkFault = std::numeric_limits<std::uint32_t>::max();
    try {
        walker = std::thread([this, walk = std::move(walk)] {
            try {
                walk();
            } catch (...) {
                walkBroken = true; // out of memory: the commit walks alone
            }
        });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void ParadoxTable::State::StartWalk() {
    StopWalk();
    if (WalkAhead(header.info, recordOffsets.size())) {
        // Without a thread of its own the commit takes every piece itself.
        LaunchWalk(0, [this] { WalkPieces(*walked, walkFault); });
    }
}

void ParadoxTable::State::ReadSoFar(std::uint64_t bytes) {
    {
        const std::lock_guard lock(readMutex);
        dbRead = bytes;
    }
    readMore.notify_all();
}

void ParadoxTable::State::WalkBlocks(const detail::DbHeader& early, detail::MbReferences& into,
                                     std::uint32_t& fault) {
    const TableInfo& info = early.info;
    const std::vector<std::size_t> descriptors = DescriptorOffsets(info);
    const std::size_t rs = info.recordSize;
    const std::size_t capacity = (info.blockSize - detail::kBlockHeaderSize) / rs;
    std::uint64_t known = 0; // bytes of db read, as last seen
    for (std::uint32_t b = 1; b <= early.fileBlocks; ++b) {
        const std::uint64_t at = info.headerSize + (b - 1u) * std::uint64_t{info.blockSize};
        const std::uint64_t end = at + info.blockSize;
        if (end > db.size()) {
            return; // cut short: the load refuses the file
        }
        if (known < end) {
            std::unique_lock lock(readMutex);
            readMore.wait(lock, [&] { return walkStop || dbRead >= end; });
            if (walkStop) {
                return;
            }
            known = dbRead;
        }
        const std::uint8_t* block = db.data() + at;
        const std::int64_t used =
            static_cast<std::int16_t>(GetU16LE(block + 4)) + static_cast<std::int64_t>(rs);
        if (used <= 0 || used % static_cast<std::int64_t>(rs) != 0 ||
            static_cast<std::size_t>(used) / rs > capacity) {
            continue; // not in a chain the load accepts
        }
        for (std::size_t r = 0; r < static_cast<std::size_t>(used) / rs; ++r) {
            if (!AddReferences(block + detail::kBlockHeaderSize + r * rs, descriptors, into)) {
                fault = 0; // which record is named when a commit refuses
                return;
            }
        }
    }
}

void ParadoxTable::State::StartWalkAlongsideRead() {
    StopWalk();
    detail::DbHeader early;
    try {
        early = detail::ParseDbHeader(ByteReader(db), name);
    } catch (const EParadoxError&) {
        return; // the load reports it
    }
    if (!WalkAhead(early.info, early.numRecords)) {
        return;
    }
    // No pieces for a commit to take part in; without a thread the walk comes after the load.
    if (!LaunchWalk(std::numeric_limits<std::uint32_t>::max(),
                    [this, early = std::move(early)] { WalkBlocks(early, *walked, walkFault); })) {
        walked.reset();
    }
}

detail::MbReferences ParadoxTable::State::References(std::uint64_t mbSize) {
    const auto count = static_cast<std::uint32_t>(recordOffsets.size());
    // The first record at fault, found by walking in order.
    const auto refuse = [&] {
        detail::MbReferences all(mbSize);
        throw EParadoxError(mbPath.string() + ": record " +
                            std::to_string(Gather(0, count, all) + 1) +
                            " points to a BLOB outside the file or to one that another value "
                            "holds");
    };
    if (walked && walkedMbSize == mbSize) {
        // Taking part only when pieces are left: what the walker found is all there is otherwise.
        std::optional<detail::MbReferences> mine;
        std::uint32_t fault = count;
        if (walkNext < count) {
            mine.emplace(mbSize);
            WalkPieces(*mine, fault);
        }
        if (walker.joinable()) {
            walker.join();
        }
        detail::MbReferences found = std::move(*walked);
        walked.reset();
        if (!walkBroken) {
            if (fault < count || walkFault < count || (mine && !found.Merge(*mine))) {
                refuse();
            }
            return found;
        }
        walkBroken = false;
    }
    StopWalk();
    detail::MbReferences inUse(mbSize);
    if (Gather(0, count, inUse) < count) {
        refuse();
    }
    return inUse;
}

CommitResult ParadoxTable::CommitChanges(const std::vector<Transaction::Change>& changes) {
    State& s = *state_;
    const TableInfo& info = s.header.info;
    const std::size_t rs = info.recordSize;
    const bool keyed = info.keyFieldCount > 0;
    CommitResult result;
    if (changes.empty()) {
        return result;
    }
    if (!s.Writable()) {
        throw EParadoxError(s.name + ": the table is open read-only");
    }

    // Resolve the batch against the snapshot.
    const std::uint32_t count = RecordCount();
    std::map<std::uint32_t, const RecordBuffer*> updates;
    std::set<std::uint32_t> deletes;
    std::vector<const RecordBuffer*> appends;
    std::vector<std::uint32_t> updateOrder;
    for (const auto& change : changes) {
        if (change.record && change.record->generation_ != s.generation) {
            throw EParadoxError(s.name + ": a record was composed before the table was read "
                                         "again; compose it anew");
        }
        if (change.what == Transaction::Change::What::Append) {
            appends.push_back(&*change.record);
            continue;
        }
        if (change.index >= count) {
            throw EParadoxError(s.name + ": record " + std::to_string(change.index + 1) +
                                " does not exist (the table has " + std::to_string(count) +
                                " records)");
        }
        if (deletes.count(change.index) != 0) {
            throw EParadoxError(s.name + ": record " + std::to_string(change.index + 1) +
                                " was already deleted in this batch");
        }
        if (change.what == Transaction::Change::What::Update) {
            updates[change.index] = &*change.record;
            updateOrder.push_back(change.index);
        } else {
            updates.erase(change.index);
            deletes.insert(change.index);
        }
    }

    s.AwaitFlush();
    if (!s.dbFile->LockCommit(platform::LockKind::Exclusive, kLockWaitMs)) {
        throw ETableInUse(s.name + ": the table is in use (another user is saving changes)");
    }
    struct Unlock {
        State& state;
        bool handedOver = false; // to the flush of the commit
        ~Unlock() {
            state.commitLockHeld = false;
            if (!handedOver) {
                state.dbFile->UnlockCommit();
            }
        }
    } unlock{s};
    s.commitLockHeld = true;
    const std::filesystem::path journalPath = detail::JournalPathFor(s.dbPath);
    if (platform::StatusOf(journalPath).exists) {
        const detail::Recovery recovery = detail::RecoverJournal(journalPath);
        if (recovery.completed && s.lastCommitId != 0 && recovery.commitId == s.lastCommitId) {
            // This handle's own last commit, whose flush had failed: nobody has committed since,
            // so the files hold this snapshot, written once more.
            s.stamp = detail::ReadStamp(*s.dbFile, s.mbPath, s.pxPath);
        }
    }
    if (detail::ReadStamp(*s.dbFile, s.mbPath, s.pxPath) != s.stamp) {
        throw ETableChanged(s.name + ": the table was changed by another user after it was read; "
                                     "read it again and repeat the change");
    }

    // BLOBs: free what deleted and replaced values held, store the new values. The .mb is read
    // page by page unless the snapshot holds it already.
    std::unique_ptr<platform::File> mbFile;
    auto openMb = [&]() -> platform::File& {
        if (!mbFile) {
            mbFile = std::make_unique<platform::File>(s.mbPath, platform::File::Mode::ReadWrite);
        }
        return *mbFile;
    };
    const std::uint64_t oldMbSize = s.mbExists ? s.stamp.mbSize - 1 : 0;
    const detail::PageReader readMb = [&](std::uint64_t offset, std::span<std::uint8_t> bytes) {
        if (s.mbLoaded) {
            std::copy_n(s.mb.begin() + static_cast<std::ptrdiff_t>(offset), bytes.size(),
                        bytes.begin());
        } else {
            openMb().ReadAt(offset, bytes);
        }
    };
    detail::PageOverlay mbPages(readMb, oldMbSize, 0, detail::kMbBlockSize);
    std::optional<detail::MbSpace> space;
    bool mbTouched = false;
    std::uint16_t mod = 1;
    auto mbSpace = [&]() -> detail::MbSpace& {
        if (!space) {
            // The commit works on a copy; the snapshot takes it when the commit lands.
            if (s.mbSpace) {
                space = *s.mbSpace;
            } else {
                // What the records point to: the rest of the .mb is free, whatever its block
                // headers say.
                space = s.mbExists ? detail::MbSpace::Build(s.References(oldMbSize), readMb,
                                                            oldMbSize, s.mbPath.string())
                                   : detail::MbSpace::Empty();
            }
            if (!s.mbExists) {
                const auto header = detail::NewMbHeaderBlock();
                std::copy(header.begin(), header.end(), mbPages.Page(0).begin());
            }
            mod = static_cast<std::uint16_t>(GetU16LE(mbPages.Current(0).data() + 3) + 1);
            mbTouched = true;
        }
        return *space;
    };
    auto freeBlobs = [&](std::span<const std::uint8_t> record, const std::vector<bool>* only) {
        for (std::size_t f = 0; f < info.fields.size(); ++f) {
            if (!IsBlobType(info.fields[f].def.type) || (only != nullptr && !(*only)[f])) {
                continue;
            }
            const BlobRef ref = detail::ReadBlobRef(info.fields[f], record);
            if (ref.length > 0 && ref.InMb()) {
                mbSpace().Free(ref);
            }
        }
    };
    // The record bytes to store: set BLOB values placed, values borrowed from another record
    // copied so that no two records share a BLOB.
    auto compose = [&](const RecordBuffer& buffer, std::int64_t target,
                       std::vector<std::uint8_t>& bytes) {
        bytes.assign(buffer.bytes_.begin(), buffer.bytes_.end());
        for (std::size_t f = 0; f < info.fields.size(); ++f) {
            const FieldInfo& field = info.fields[f];
            if (!IsBlobType(field.def.type)) {
                continue;
            }
            const std::string* value = buffer.FindBlob(static_cast<int>(f));
            const BlobRef old = detail::ReadBlobRef(field, bytes);
            std::string borrowed;
            if (value == nullptr) {
                if (old.length == 0 || !old.InMb() || buffer.origin_ == target) {
                    continue;
                }
                borrowed = ReadBlob(RecordView(*this, bytes), static_cast<int>(f));
                value = &borrowed;
            }
            const std::size_t leader = field.storedSize - 10u;
            std::uint8_t* at = bytes.data() + field.offset;
            std::memset(at, 0, field.storedSize);
            std::memcpy(at, value->data(), std::min(leader, value->size()));
            BlobRef ref;
            if (value->size() > leader) {
                ref = mbSpace().Store(*value, mod, mbPages);
            } else {
                ref.length = static_cast<std::uint32_t>(value->size());
            }
            detail::WriteBlobRef(field, ref, bytes);
        }
    };

    for (const std::uint32_t index : deletes) {
        freeBlobs(s.RecordBytes(index), nullptr);
    }
    // Most commits only edit records and keep their keys: then, in a file whose chain is as a
    // commit leaves it, every record is written where it is and the chain stays.
    const bool keysKept =
        !keyed || std::all_of(updates.begin(), updates.end(), [&](const auto& update) {
            return detail::CompareKeys(info, update.second->bytes_.data(),
                                       s.RecordBytes(update.first).data()) == 0;
        });
    const bool inPlaceOnly = deletes.empty() && appends.empty() && keysKept && s.chainTidy;
    std::map<std::uint32_t, std::vector<std::uint8_t>> updated; // unless inPlaceOnly
    std::vector<FileWrite> recordWrites;                        // if inPlaceOnly
    std::vector<std::uint8_t> composed;
    if (inPlaceOnly) {
        recordWrites.reserve(updates.size());
    }
    for (const auto& [index, buffer] : updates) {
        std::vector<bool> replaced(info.fields.size(), false);
        for (std::size_t f = 0; f < info.fields.size(); ++f) {
            replaced[f] =
                buffer->FindBlob(static_cast<int>(f)) != nullptr || buffer->origin_ != index;
        }
        freeBlobs(s.RecordBytes(index), &replaced);
        if (inPlaceOnly) {
            compose(*buffer, index, composed);
            AddDiff(recordWrites, s.recordOffsets[index], s.RecordBytes(index), composed,
                    s.db.size());
        } else {
            compose(*buffer, index, updated[index]);
        }
    }
    std::uint32_t autoInc = s.header.autoInc;
    int autoField = -1;
    for (std::size_t f = 0; f < info.fields.size(); ++f) {
        if (info.fields[f].def.type == FieldType::AutoInc) {
            autoField = static_cast<int>(f);
            break;
        }
    }
    // Given numbers are stored as they are; the table's own numbers continue past all of them so
    // that no record of this batch gets a number another one was given.
    for (const RecordBuffer* buffer : appends) {
        if (buffer->autoIncrement_) {
            autoInc = std::max(autoInc, static_cast<std::uint32_t>(*buffer->autoIncrement_));
        }
    }
    std::vector<std::vector<std::uint8_t>> inserted;
    for (const RecordBuffer* buffer : appends) {
        std::vector<std::uint8_t> bytes;
        compose(*buffer, -1, bytes);
        if (autoField >= 0 && buffer->autoIncrement_) {
            result.appendedAutoInc.push_back(*buffer->autoIncrement_);
        } else if (autoField >= 0) {
            ++autoInc;
            detail::EncodeField(info.fields[autoField],
                                FieldValue::FromInteger(static_cast<std::int64_t>(autoInc)), bytes);
            result.appendedAutoInc.push_back(autoInc);
        } else {
            result.appendedAutoInc.push_back(0);
        }
        inserted.push_back(std::move(bytes));
    }
    if (mbTouched) {
        space->Finish(mbPages);
    }

    // Data blocks.
    const std::uint64_t oldDbSize = s.db.size();
    std::uint64_t newDbSize = oldDbSize;
    std::vector<FileWrite> dbWrites;
    std::vector<std::uint8_t> header(s.db.begin(), s.db.begin() + info.headerSize);
    std::uint32_t total = count;
    std::vector<ChainBlock> chain;
    std::set<std::uint32_t> removals = deletes;
    std::vector<WorkBlock> work;
    std::vector<std::uint32_t> firstIndexes; // of each chain block, when the chain stays
    std::function<const std::uint8_t*(std::size_t position)> firstRecordOf;
    auto writeHeader = [&](std::uint16_t blocks, std::uint16_t fileBlocks, std::uint16_t first,
                           std::uint16_t last, std::uint16_t firstFree) {
        std::uint8_t* p = header.data();
        namespace o = detail::offset;
        PutU32LE(p + o::kNumRecords, total);
        PutU16LE(p + o::kNextBlock, blocks);
        PutU16LE(p + o::kFileBlocks, fileBlocks);
        PutU16LE(p + o::kFirstBlock, first);
        PutU16LE(p + o::kLastBlock, last);
        PutU16LE(p + o::kMaxBlocks, fileBlocks);
        PutU32LE(p + o::kAutoInc, autoInc);
        PutU16LE(p + o::kFirstFreeBlock, firstFree);
        if (s.header.hasUpdateTime) {
            const std::uint32_t old = GetU32LE(p + o::kUpdateTime);
            const auto now = static_cast<std::uint32_t>(std::time(nullptr));
            PutU32LE(p + o::kUpdateTime, now > old ? now : old + 1);
        }
        AddDiff(dbWrites, 0, Slice(s.db, 0, header.size()), header, oldDbSize);
    };
    if (inPlaceOnly) {
        chain = s.chain;
        dbWrites.reserve(recordWrites.size() + 1);
        writeHeader(static_cast<std::uint16_t>(chain.size()), s.header.fileBlocks,
                    chain.front().block, chain.back().block, 0);
        std::move(recordWrites.begin(), recordWrites.end(), std::back_inserter(dbWrites));
        firstIndexes.reserve(chain.size());
        std::uint32_t first = 0;
        for (const ChainBlock& block : chain) {
            firstIndexes.push_back(first);
            first += block.count;
        }
        firstRecordOf = [&](std::size_t position) {
            return s.RecordBytes(firstIndexes[position]).data();
        };
    } else {
        work.reserve(s.chain.size() + inserted.size() + 1);
        {
            std::uint32_t first = 0;
            for (const ChainBlock& block : s.chain) {
                work.push_back(WorkBlock{block.block, first, block.count, true, std::nullopt, {}});
                first += block.count;
            }
        }
        auto materialize = [&](WorkBlock& block) -> std::vector<std::uint8_t>& {
            if (!block.records) {
                block.records.emplace();
                if (block.originalCount > 0) {
                    const std::uint8_t* start = s.db.data() + s.recordOffsets[block.firstIndex];
                    block.records->assign(start, start + block.originalCount * rs);
                }
                for (const auto& [position, bytes] : block.inPlace) {
                    std::copy(bytes->begin(), bytes->end(),
                              block.records->begin() + static_cast<std::ptrdiff_t>(position * rs));
                }
                block.inPlace.clear();
            }
            return *block.records;
        };
        auto blockOf = [&](std::uint32_t index) -> std::size_t {
            const auto found = std::upper_bound(
                work.begin(), work.end(), index,
                [](std::uint32_t i, const WorkBlock& block) { return i < block.firstIndex; });
            return static_cast<std::size_t>(found - work.begin()) - 1;
        };
        // Updates in place (or, when a key changes, a delete and an insert), then deletions from
        // the back of each block so that positions stay valid.
        for (auto& [index, bytes] : updated) {
            if (keyed &&
                detail::CompareKeys(info, bytes.data(), s.RecordBytes(index).data()) != 0) {
                removals.insert(index);
                inserted.push_back(bytes);
                continue;
            }
            WorkBlock& block = work[blockOf(index)];
            block.inPlace.emplace_back(index - block.firstIndex, &bytes);
        }
        for (auto index = removals.rbegin(); index != removals.rend(); ++index) {
            WorkBlock& block = work[blockOf(*index)];
            auto& records = materialize(block);
            const auto at =
                records.begin() + static_cast<std::ptrdiff_t>((*index - block.firstIndex) * rs);
            records.erase(at, at + static_cast<std::ptrdiff_t>(rs));
        }
        std::vector<std::uint16_t> freed;
        std::erase_if(work, [&](const WorkBlock& block) {
            if (block.Count(rs) == 0) {
                freed.push_back(block.block);
                return true;
            }
            return false;
        });

        // Free blocks: those outside the old chain, those just emptied; new blocks take the lowest.
        std::set<std::uint16_t> freeBlocks(freed.begin(), freed.end());
        {
            std::vector<bool> inChain(s.header.fileBlocks + 1u, false);
            for (const ChainBlock& block : s.chain) {
                inChain[block.block] = true;
            }
            for (std::uint32_t b = 1; b <= s.header.fileBlocks; ++b) {
                if (!inChain[b]) {
                    freeBlocks.insert(static_cast<std::uint16_t>(b));
                }
            }
        }
        std::uint32_t fileBlocks = s.header.fileBlocks;
        auto newBlock = [&]() -> std::uint16_t {
            if (!freeBlocks.empty()) {
                const std::uint16_t block = *freeBlocks.begin();
                freeBlocks.erase(freeBlocks.begin());
                return block;
            }
            if (fileBlocks >= kMaxBlocks) {
                throw EParadoxError(s.name + ": the table is full (65535 blocks of " +
                                    std::to_string(info.blockSize) + " bytes)");
            }
            return static_cast<std::uint16_t>(++fileBlocks);
        };
        const std::size_t capacity = (info.blockSize - detail::kBlockHeaderSize) / rs;
        auto recordAt = [&](const WorkBlock& block, std::size_t position) -> const std::uint8_t* {
            if (block.records) {
                return block.records->data() + position * rs;
            }
            return s.db.data() + s.recordOffsets[block.firstIndex] + position * rs;
        };
        auto appendToEnd = [&](const std::vector<std::uint8_t>& bytes) {
            if (work.empty() || work.back().Count(rs) >= capacity) {
                WorkBlock block;
                block.block = newBlock();
                block.original = false;
                block.records.emplace();
                work.push_back(std::move(block));
            }
            auto& records = materialize(work.back());
            records.insert(records.end(), bytes.begin(), bytes.end());
        };
        for (const auto& bytes : inserted) {
            if (!keyed) {
                appendToEnd(bytes);
                continue;
            }
            // The last block whose first key is not above the new key, then the place inside it.
            std::size_t k = 0;
            {
                std::size_t low = 0, high = work.size();
                while (low < high) {
                    const std::size_t mid = (low + high) / 2;
                    if (detail::CompareKeys(info, recordAt(work[mid], 0), bytes.data()) <= 0) {
                        low = mid + 1;
                    } else {
                        high = mid;
                    }
                }
                k = low == 0 ? 0 : low - 1;
            }
            if (work.empty()) {
                appendToEnd(bytes);
                continue;
            }
            const std::uint32_t blockCount = work[k].Count(rs);
            std::size_t position = 0;
            {
                std::size_t low = 0, high = blockCount;
                while (low < high) {
                    const std::size_t mid = (low + high) / 2;
                    if (detail::CompareKeys(info, recordAt(work[k], mid), bytes.data()) < 0) {
                        low = mid + 1;
                    } else {
                        high = mid;
                    }
                }
                position = low;
            }
            if (position < blockCount &&
                detail::CompareKeys(info, recordAt(work[k], position), bytes.data()) == 0) {
                throw EParadoxError(s.name + ": a record with the key " +
                                    KeyText(info, bytes.data()) + " exists already");
            }
            if (k + 1 == work.size() && position == blockCount) {
                appendToEnd(bytes);
                continue;
            }
            auto& records = materialize(work[k]);
            records.insert(records.begin() + static_cast<std::ptrdiff_t>(position * rs),
                           bytes.begin(), bytes.end());
            if (records.size() / rs > capacity) {
                WorkBlock upper;
                upper.block = newBlock();
                upper.original = false;
                const std::size_t keep = (records.size() / rs + 1) / 2;
                upper.records.emplace(records.begin() + static_cast<std::ptrdiff_t>(keep * rs),
                                      records.end());
                records.resize(keep * rs);
                work.insert(work.begin() + static_cast<std::ptrdiff_t>(k + 1), std::move(upper));
            }
        }

        // Blocks at the end of the file that nothing uses are cut off.
        while (fileBlocks > 0 && freeBlocks.count(static_cast<std::uint16_t>(fileBlocks)) != 0) {
            freeBlocks.erase(static_cast<std::uint16_t>(fileBlocks));
            --fileBlocks;
        }

        // The new .db bytes, as writes against the snapshot.
        newDbSize = info.headerSize + std::uint64_t{fileBlocks} * info.blockSize;
        total = 0;
        for (const WorkBlock& block : work) {
            total += block.Count(rs);
        }
        writeHeader(static_cast<std::uint16_t>(work.size()), static_cast<std::uint16_t>(fileBlocks),
                    work.empty() ? 0 : work.front().block, work.empty() ? 0 : work.back().block,
                    freeBlocks.empty() ? 0 : *freeBlocks.begin());
        std::vector<std::uint8_t> blockBytes(info.blockSize);
        auto blockOffset = [&](std::uint16_t block) {
            return info.headerSize + (block - 1u) * std::uint64_t{info.blockSize};
        };
        std::vector<std::pair<std::uint16_t, std::vector<FileWrite>>> blockWrites;
        auto writeBlock = [&](std::uint16_t block, std::uint16_t next, std::uint16_t previous,
                              const WorkBlock* content) {
            const std::uint64_t at = blockOffset(block);
            const auto old = Slice(s.db, at, info.blockSize);
            std::fill(blockBytes.begin(), blockBytes.end(), std::uint8_t{0});
            if (content == nullptr) {
                // A free block keeps its old bytes; only its header changes.
                std::copy(old.begin(), old.end(), blockBytes.begin());
            } else if (content->records) {
                std::copy(content->records->begin(), content->records->end(),
                          blockBytes.begin() + detail::kBlockHeaderSize);
            } else {
                std::copy(old.begin(), old.end(), blockBytes.begin());
            }
            const int records = content == nullptr ? 0 : static_cast<int>(content->Count(rs));
            PutU16LE(blockBytes.data(), next);
            PutU16LE(blockBytes.data() + 2, previous);
            PutU16LE(blockBytes.data() + 4,
                     static_cast<std::uint16_t>((records - 1) * static_cast<int>(rs)));
            AddDiff(dbWrites, at, old, blockBytes, oldDbSize);
        };
        for (std::size_t i = 0; i < work.size(); ++i) {
            const std::uint16_t next = i + 1 < work.size() ? work[i + 1].block : 0;
            const std::uint16_t previous = i > 0 ? work[i - 1].block : 0;
            const WorkBlock& block = work[i];
            const std::uint64_t at = blockOffset(block.block);
            const bool linksSame = block.original && !block.records && at + 4 <= oldDbSize &&
                                   GetU16LE(s.db.data() + at) == next &&
                                   GetU16LE(s.db.data() + at + 2) == previous;
            if (!linksSame) {
                if (!block.inPlace.empty()) {
                    materialize(work[i]);
                }
                writeBlock(block.block, next, previous, &block);
                continue;
            }
            for (const auto& [position, bytes] : block.inPlace) {
                const std::uint64_t record =
                    at + detail::kBlockHeaderSize + position * std::uint64_t{rs};
                AddDiff(dbWrites, record, Slice(s.db, record, rs), *bytes, oldDbSize);
            }
        }
        for (auto it = freeBlocks.begin(); it != freeBlocks.end(); ++it) {
            const auto next = std::next(it);
            writeBlock(*it, next == freeBlocks.end() ? 0 : *next, 0, nullptr);
        }
        // The new chain, for the primary index and the snapshot afterwards.
        for (const WorkBlock& block : work) {
            chain.push_back(ChainBlock{block.block, static_cast<std::uint16_t>(block.Count(rs))});
        }
        firstRecordOf = [&work, recordAt](std::size_t position) {
            return recordAt(work[position], 0);
        };
    }
    std::sort(dbWrites.begin(), dbWrites.end(),
              [](const FileWrite& a, const FileWrite& b) { return a.offset < b.offset; });

    std::vector<detail::FileChange> fileChanges;
    detail::FileChange dbChange;
    dbChange.path = s.dbPath;
    dbChange.file = s.dbFile.get();
    dbChange.oldSize = s.db.size();
    dbChange.readOld = [&](std::uint64_t offset, std::span<std::uint8_t> bytes) {
        std::copy_n(s.db.begin() + static_cast<std::ptrdiff_t>(offset), bytes.size(),
                    bytes.begin());
    };
    dbChange.newSize = newDbSize;
    dbChange.writes = std::move(dbWrites);
    fileChanges.push_back(std::move(dbChange));

    std::uint64_t newMbSize = oldMbSize;
    if (mbTouched) {
        newMbSize = std::uint64_t{space->BlockCount()} * detail::kMbBlockSize;
        detail::FileChange mbChange;
        mbChange.path = s.mbPath;
        if (s.mbExists) {
            mbChange.file = &openMb();
            mbChange.oldSize = oldMbSize;
            mbChange.readOld = readMb;
        }
        mbChange.newSize = newMbSize;
        for (const auto& [index, page] : mbPages.Changed()) {
            if (index < space->BlockCount()) {
                AddDiff(mbChange.writes, mbPages.PageOffset(index), page.original, page.current,
                        oldMbSize);
            }
        }
        fileChanges.push_back(std::move(mbChange));
    }

    std::vector<std::uint8_t> newPx;
    std::unique_ptr<platform::File> pxFile;
    if (keyed) {
        detail::IndexSource source;
        source.info = &info;
        source.dbHeader = header;
        source.chain = &chain;
        source.firstRecord = firstRecordOf;
        source.oldIndex = s.px;
        const std::string pxName = s.pxPath.filename().string();
        source.indexName = pxName;
        newPx = detail::BuildPrimaryIndex(source);
        detail::FileChange pxChange;
        pxChange.path = s.pxPath;
        if (s.pxExists) {
            pxFile = std::make_unique<platform::File>(s.pxPath, platform::File::Mode::ReadWrite);
            pxChange.file = pxFile.get();
            pxChange.oldSize = s.px.size();
            pxChange.readOld = [&](std::uint64_t offset, std::span<std::uint8_t> bytes) {
                std::copy_n(s.px.begin() + static_cast<std::ptrdiff_t>(offset), bytes.size(),
                            bytes.begin());
            };
        }
        pxChange.newSize = newPx.size();
        const std::size_t step = 0x800;
        for (std::size_t at = 0; at < newPx.size(); at += step) {
            const std::size_t length = std::min(step, newPx.size() - at);
            AddDiff(pxChange.writes, at, Slice(s.px, at, length),
                    std::span(newPx.data() + at, length), s.px.size());
        }
        if (!pxChange.writes.empty() || pxChange.newSize != s.px.size() || !s.pxExists) {
            fileChanges.push_back(std::move(pxChange));
        }
    }

    // Secondary indexes are not maintained; a stale one must not stay beside the changed table.
    std::vector<std::string> notes;
    for (const auto& stale : detail::SecondaryIndexFiles(s.dbPath)) {
        platform::RemoveFile(stale);
        notes.push_back(stale.string() + ": secondary index removed; it would be out of date");
    }

    const std::uint64_t commitId = detail::NewCommitId();
    detail::PendingFlush flush;
    try {
        flush = detail::WriteAtomically(journalPath, fileChanges, commitId);
    } catch (...) {
        // Rolled back: the files hold the snapshot's bytes again, only their times moved.
        if (!platform::StatusOf(journalPath).exists) {
            s.stamp = detail::ReadStamp(*s.dbFile, s.mbPath, s.pxPath);
        }
        throw;
    }

    // Committed. The files go to disk on a thread of their own, which keeps the commit lock until
    // the journal is gone: the caller goes on meanwhile.
    s.lastCommitId = commitId;
    unlock.handedOver = true;
    const auto finish = [flush, file = s.dbFile.get()] {
        try {
            flush.Complete();
        } catch (...) {
            // The journal stays; the next open or commit finishes the change.
        }
        file->UnlockCommit();
    };
    try {
        s.flusher = std::thread(finish);
    } catch (const std::system_error&) {
        finish(); // no thread to be had: flushed before the commit returns
    }

    // The snapshot takes the new state (once nothing reads it any more: a walk this commit did
    // not need is given up).
    s.StopWalk();
    for (const auto& change : fileChanges) {
        if (change.path == s.mbPath && !s.mbLoaded) {
            continue; // read again from the file when a value needs it
        }
        platform::ByteBuffer& image = change.path == s.dbPath   ? s.db
                                      : change.path == s.mbPath ? s.mb
                                                                : s.px;
        image.resize(change.newSize, 0);
        for (const FileWrite& write : change.writes) {
            if (write.offset < image.size()) {
                std::copy_n(
                    write.bytes.begin(),
                    std::min<std::uint64_t>(write.bytes.size(), image.size() - write.offset),
                    image.begin() + static_cast<std::ptrdiff_t>(write.offset));
            }
        }
    }
    if (mbTouched) {
        s.mbExists = true;
        s.mbSpace = std::move(*space);
    }
    if (keyed) {
        s.pxExists = true;
    }
    s.Index();
    s.warnings.insert(s.warnings.end(), notes.begin(), notes.end());
    s.stamp = detail::ReadStamp(*s.dbFile, s.mbPath, s.pxPath);
    ++s.generation;

    // Where the changed records are now.
    auto positionOf = [&](const std::vector<std::uint8_t>& bytes) -> std::uint32_t {
        std::vector<FieldValue> key;
        for (int i = 0; i < info.keyFieldCount; ++i) {
            key.push_back(detail::DecodeField(s.header.info.fields[i], bytes));
        }
        return FindByKey(key).value_or(0);
    };
    for (std::size_t i = 0; i < appends.size(); ++i) {
        result.appendedIndexes.push_back(
            keyed ? positionOf(inserted[i])
                  : static_cast<std::uint32_t>(total - appends.size() + i));
    }
    // Without deletions and insertions every record stays where it was.
    const bool nothingMoved = removals.empty() && inserted.empty();
    for (const std::uint32_t index : updateOrder) {
        if (deletes.count(index) != 0) {
            continue;
        }
        if (keyed && nothingMoved) {
            result.updatedIndexes.push_back(index);
        } else if (keyed) {
            result.updatedIndexes.push_back(positionOf(updated[index]));
        } else {
            const auto before = static_cast<std::uint32_t>(
                std::distance(deletes.begin(), deletes.lower_bound(index)));
            result.updatedIndexes.push_back(index - before);
        }
    }
    return result;
}

} // namespace kelvara::paradox
