// The commit journal; see docs/formats/paradox.md, "Journal".
#include "engine/paradox_journal.h"

#include "engine/paradox_table.h"
#include "text/byte_reader.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <optional>
#include <random>
#include <string>

namespace kelvara::paradox::detail {
namespace {

constexpr char kRedoMagic[8] = {'K', 'V', 'J', 'R', 'N', 'L', '0', '2'};
// Journals of earlier versions held the old bytes, to be put back.
constexpr char kRollbackMagic[8] = {'K', 'V', 'J', 'R', 'N', 'L', '0', '1'};
constexpr std::uint32_t kMaxFiles = 3;

std::span<const std::uint8_t> AsBytes(const char (&text)[8]) {
    return {reinterpret_cast<const std::uint8_t*>(text), sizeof text};
}

std::uint64_t Fnv1a(std::span<const std::uint8_t> bytes) {
    std::uint64_t hash = 0xcbf29ce484222325u;
    for (const std::uint8_t byte : bytes) {
        hash = (hash ^ byte) * 0x100000001b3u;
    }
    return hash;
}

// A hash of a byte stream taken eight bytes at a time: journals can hold the whole table.
class StreamHash {
public:
    void Add(std::span<const std::uint8_t> bytes) {
        std::size_t at = 0;
        while (pendingBytes_ != 0 && at < bytes.size()) {
            AddByte(bytes[at++]);
        }
        for (; bytes.size() - at >= 8; at += 8) {
            std::uint64_t word;
            std::memcpy(&word, bytes.data() + at, 8);
            Mix(word);
        }
        while (at < bytes.size()) {
            AddByte(bytes[at++]);
        }
        length_ += bytes.size();
    }
    std::uint64_t Value() const {
        StreamHash copy = *this;
        copy.Mix(copy.pending_);
        copy.Mix(length_);
        return copy.hash_;
    }

private:
    void AddByte(std::uint8_t byte) {
        pending_ |= std::uint64_t{byte} << (8 * pendingBytes_);
        if (++pendingBytes_ == 8) {
            Mix(pending_);
            pending_ = 0;
            pendingBytes_ = 0;
        }
    }
    void Mix(std::uint64_t word) {
        hash_ = (hash_ ^ word) * 0x9E3779B97F4A7C15u;
        hash_ ^= hash_ >> 29;
    }

    std::uint64_t hash_ = 0x6A09E667F3BCC908u;
    std::uint64_t pending_ = 0;
    unsigned pendingBytes_ = 0;
    std::uint64_t length_ = 0;
};

// Writes the journal front to back through a buffer of modest size, hashing what it writes.
class JournalWriter {
public:
    explicit JournalWriter(platform::File& file) : file_(file) { buffer_.reserve(kBuffer); }

    void U8(std::uint8_t v) { Put({&v, 1}); }
    void U32(std::uint32_t v) {
        std::uint8_t bytes[4];
        for (int i = 0; i < 4; ++i) {
            bytes[i] = static_cast<std::uint8_t>(v >> (8 * i));
        }
        Put(bytes);
    }
    void U64(std::uint64_t v) {
        U32(static_cast<std::uint32_t>(v));
        U32(static_cast<std::uint32_t>(v >> 32));
    }
    void Put(std::span<const std::uint8_t> bytes) {
        hash_.Add(bytes);
        Append(bytes);
    }
    // Ends the journal with the hash of everything before it.
    void Finish() {
        const std::uint64_t hash = hash_.Value();
        std::uint8_t bytes[8];
        for (int i = 0; i < 8; ++i) {
            bytes[i] = static_cast<std::uint8_t>(hash >> (8 * i));
        }
        Append(bytes);
        Flush();
    }

private:
    static constexpr std::size_t kBuffer = 1 << 20;

    void Append(std::span<const std::uint8_t> bytes) {
        if (bytes.size() >= kBuffer / 4) {
            Flush();
            file_.WriteAt(offset_, bytes);
            offset_ += bytes.size();
            return;
        }
        if (buffer_.size() + bytes.size() > kBuffer) {
            Flush();
        }
        buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
    }
    void Flush() {
        if (!buffer_.empty()) {
            file_.WriteAt(offset_, buffer_);
            offset_ += buffer_.size();
            buffer_.clear();
        }
    }

    platform::File& file_;
    std::vector<std::uint8_t> buffer_;
    std::uint64_t offset_ = 0;
    StreamHash hash_;
};

// One file of a journal: the old state (earlier journals) or the new one.
struct FileImage {
    std::filesystem::path path;
    bool existed = false;
    std::uint64_t size = 0;
    std::vector<std::pair<std::uint64_t, std::span<const std::uint8_t>>> ranges;
};

struct Decoded {
    bool redo = false;
    std::uint64_t commitId = 0;
    std::vector<FileImage> files;
};

// Nothing when the journal is incomplete or damaged. The ranges point into bytes.
std::optional<Decoded> Decode(std::span<const std::uint8_t> bytes,
                              const std::filesystem::path& folder) {
    if (bytes.size() < 8 + 12) {
        return std::nullopt;
    }
    Decoded decoded;
    decoded.redo = std::memcmp(bytes.data(), kRedoMagic, 8) == 0;
    if (!decoded.redo && std::memcmp(bytes.data(), kRollbackMagic, 8) != 0) {
        return std::nullopt;
    }
    const ByteReader reader(bytes);
    const std::size_t body = bytes.size() - 8;
    std::uint64_t expected = 0;
    if (decoded.redo) {
        expected = JournalHash(bytes.first(body));
    } else {
        expected = Fnv1a(bytes.first(body));
    }
    if (reader.U64LE(body) != expected) {
        return std::nullopt;
    }
    try {
        ByteCursor cursor(reader.Sub(0, body), 8);
        if (decoded.redo) {
            decoded.commitId = cursor.U64LE();
        }
        const std::uint32_t files = cursor.U32LE();
        if (files > kMaxFiles) {
            return std::nullopt;
        }
        decoded.files.resize(files);
        for (FileImage& file : decoded.files) {
            const std::string_view name = cursor.Chars(cursor.U32LE());
            if (name.empty() || name.find('/') != name.npos || name.find('\\') != name.npos) {
                return std::nullopt;
            }
            file.path = folder / std::filesystem::path(std::string(name));
            file.existed = cursor.U8() != 0;
            file.size = cursor.U64LE();
            const std::uint32_t count = cursor.U32LE();
            for (std::uint32_t i = 0; i < count; ++i) {
                const std::uint64_t offset = cursor.U64LE();
                const auto data = cursor.Bytes(cursor.U32LE());
                if (decoded.redo && (offset > file.size || data.size() > file.size - offset)) {
                    return std::nullopt;
                }
                file.ranges.emplace_back(offset, data);
            }
        }
        return decoded;
    } catch (const EReadOutOfBounds&) {
        return std::nullopt;
    }
}

// Puts the old state back: the commit wrote part of its changes, or none.
void RollBack(const std::vector<FileImage>& files) {
    for (const FileImage& image : files) {
        if (!image.existed) {
            platform::RemoveFile(image.path);
            continue;
        }
        if (!platform::StatusOf(image.path).exists) {
            throw EParadoxError(image.path.string() +
                                ": cannot roll back an unfinished change: the file is missing");
        }
        platform::File file(image.path, platform::File::Mode::ReadWrite);
        for (const auto& [offset, bytes] : image.ranges) {
            file.WriteAt(offset, bytes);
        }
        file.Resize(image.size);
        file.Sync();
    }
}

// Writes the new state again, whatever part of it the files hold, and flushes it.
void Redo(const std::vector<FileImage>& files, const std::filesystem::path& folder) {
    bool created = false;
    for (const FileImage& image : files) {
        const bool exists = platform::StatusOf(image.path).exists;
        created = created || !exists;
        platform::File file(image.path, exists ? platform::File::Mode::ReadWrite
                                               : platform::File::Mode::CreateReadWrite);
        for (const auto& [offset, bytes] : image.ranges) {
            file.WriteAt(offset, bytes);
        }
        if (file.Size() != image.size) {
            file.Resize(image.size);
        }
        file.Sync();
    }
    if (created) {
        platform::SyncDirectory(folder);
    }
}

void WriteJournal(platform::File& journal, const std::vector<FileChange>& changes,
                  std::uint64_t commitId) {
    JournalWriter out(journal);
    out.Put(AsBytes(kRedoMagic));
    out.U64(commitId);
    out.U32(static_cast<std::uint32_t>(changes.size()));
    for (const FileChange& change : changes) {
        const std::string name = change.path.filename().string();
        out.U32(static_cast<std::uint32_t>(name.size()));
        out.Put({reinterpret_cast<const std::uint8_t*>(name.data()), name.size()});
        out.U8(change.file != nullptr ? 1 : 0);
        out.U64(change.newSize);
        out.U32(static_cast<std::uint32_t>(change.writes.size()));
        for (const FileWrite& write : change.writes) {
            out.U64(write.offset);
            out.U32(static_cast<std::uint32_t>(write.bytes.size()));
            out.Put(write.bytes);
        }
    }
    out.Finish();
}

// What the files hold before the commit where it writes, for putting it back when a write fails.
struct Original {
    std::filesystem::path path;
    bool existed = false;
    std::uint64_t size = 0;
    std::vector<FileWrite> ranges;
};

std::vector<Original> Originals(const std::vector<FileChange>& changes) {
    std::vector<Original> originals;
    for (const FileChange& change : changes) {
        Original original;
        original.path = change.path;
        original.existed = change.file != nullptr;
        original.size = change.oldSize;
        for (const FileWrite& write : change.writes) {
            if (write.offset >= change.oldSize) {
                continue;
            }
            FileWrite range;
            range.offset = write.offset;
            range.bytes.resize(static_cast<std::size_t>(
                std::min<std::uint64_t>(write.bytes.size(), change.oldSize - write.offset)));
            change.readOld(write.offset, range.bytes);
            original.ranges.push_back(std::move(range));
        }
        if (change.newSize < change.oldSize) {
            FileWrite tail;
            tail.offset = change.newSize;
            tail.bytes.resize(static_cast<std::size_t>(change.oldSize - change.newSize));
            change.readOld(change.newSize, tail.bytes);
            original.ranges.push_back(std::move(tail));
        }
        originals.push_back(std::move(original));
    }
    return originals;
}

void PutBack(const std::vector<Original>& originals) {
    std::vector<FileImage> images;
    for (const Original& original : originals) {
        FileImage image{original.path, original.existed, original.size, {}};
        for (const FileWrite& range : original.ranges) {
            image.ranges.emplace_back(range.offset, range.bytes);
        }
        images.push_back(std::move(image));
    }
    RollBack(images);
}

} // namespace

std::filesystem::path JournalPathFor(const std::filesystem::path& dbPath) {
    std::filesystem::path journal = dbPath;
    journal += "-journal";
    return journal;
}

std::uint64_t JournalHash(std::span<const std::uint8_t> bytes) {
    StreamHash hash;
    hash.Add(bytes);
    return hash.Value();
}

std::uint64_t NewCommitId() {
    static const std::uint64_t seed = [] {
        std::random_device device;
        return (std::uint64_t{device()} << 32) ^ device() ^
               static_cast<std::uint64_t>(
                   std::chrono::steady_clock::now().time_since_epoch().count());
    }();
    static std::atomic<std::uint64_t> counter{0};
    return seed + 0x9E3779B97F4A7C15u * ++counter;
}

void PendingFlush::Complete() const {
    if (journal_.empty()) {
        return;
    }
    for (const std::filesystem::path& path : files_) {
        platform::File(path, platform::File::Mode::ReadWrite).Sync();
    }
    const std::filesystem::path folder = journal_.parent_path();
    if (created_) {
        platform::SyncDirectory(folder);
    }
    platform::RemoveFile(journal_);
    platform::SyncDirectory(folder);
}

PendingFlush WriteAtomically(const std::filesystem::path& journalPath,
                             std::vector<FileChange>& changes, std::uint64_t commitId) {
    const std::vector<Original> originals = Originals(changes);
    const std::filesystem::path folder = journalPath.parent_path();
    try {
        platform::File journal(journalPath, platform::File::Mode::CreateReadWrite);
        WriteJournal(journal, changes, commitId);
        journal.Sync();
        platform::SyncDirectory(folder);
    } catch (...) {
        try {
            platform::RemoveFile(journalPath);
        } catch (const EParadoxError&) {
            // An incomplete journal is recognised as such and ignored on the next open.
        }
        throw;
    }

    // Committed: from here on an interruption is finished by the next open.
    std::vector<std::filesystem::path> paths;
    bool created = false;
    try {
        std::vector<std::unique_ptr<platform::File>> opened;
        // Space for what grows is set aside first: a full disk then shows here, as an error of
        // this commit, and not when the files are flushed after it has returned.
        std::vector<platform::File*> files;
        for (FileChange& change : changes) {
            platform::File* file = change.file;
            if (file == nullptr) {
                opened.push_back(std::make_unique<platform::File>(
                    change.path, platform::File::Mode::CreateReadWrite));
                file = opened.back().get();
                created = true;
            }
            const std::uint64_t end = change.file != nullptr ? change.oldSize : 0;
            if (change.newSize > end) {
                file->Reserve(end, change.newSize - end);
            }
            files.push_back(file);
        }
        for (std::size_t i = 0; i < changes.size(); ++i) {
            const FileChange& change = changes[i];
            platform::File* file = files[i];
            for (const FileWrite& write : change.writes) {
                file->WriteAt(write.offset, write.bytes);
            }
            if (file->Size() != change.newSize) {
                file->Resize(change.newSize);
            }
            paths.push_back(change.path);
        }
    } catch (...) {
        // The error is reported, so the files must be as they were: put back, then forget the
        // journal. Should that fail too, the journal stays and the next open completes the commit.
        try {
            PutBack(originals);
            platform::RemoveFile(journalPath);
            platform::SyncDirectory(folder);
        } catch (const EParadoxError&) {
        }
        throw;
    }
    return PendingFlush(journalPath, std::move(paths), created);
}

Recovery RecoverJournal(const std::filesystem::path& journalPath) {
    Recovery recovery;
    if (!platform::StatusOf(journalPath).exists) {
        return recovery;
    }
    recovery.found = true;
    const std::filesystem::path folder = journalPath.parent_path();
    platform::ByteBuffer bytes;
    {
        const platform::File journal(journalPath, platform::File::Mode::Read);
        bytes = journal.ReadAll();
    }
    if (const auto decoded = Decode(bytes, folder)) {
        if (decoded->redo) {
            Redo(decoded->files, folder);
            recovery.completed = true;
            recovery.commitId = decoded->commitId;
        } else {
            RollBack(decoded->files);
        }
    }
    platform::RemoveFile(journalPath);
    platform::SyncDirectory(folder);
    return recovery;
}

} // namespace kelvara::paradox::detail
