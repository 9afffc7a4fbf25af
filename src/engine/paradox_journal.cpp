// The rollback journal; see docs/formats/paradox.md, "Rollback journal".
#include "engine/paradox_journal.h"

#include "engine/paradox_table.h"
#include "text/byte_reader.h"

#include <cstring>
#include <memory>
#include <optional>
#include <string>

namespace kelvara::paradox::detail {
namespace {

constexpr char kMagic[8] = {'K', 'V', 'J', 'R', 'N', 'L', '0', '1'};

std::uint64_t Checksum(std::span<const std::uint8_t> bytes) {
    std::uint64_t hash = 0xcbf29ce484222325u;
    for (const std::uint8_t byte : bytes) {
        hash = (hash ^ byte) * 0x100000001b3u;
    }
    return hash;
}

class Builder {
public:
    void U8(std::uint8_t v) { bytes.push_back(v); }
    void U32(std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        }
    }
    void U64(std::uint64_t v) {
        U32(static_cast<std::uint32_t>(v));
        U32(static_cast<std::uint32_t>(v >> 32));
    }
    void Bytes(std::span<const std::uint8_t> data) {
        bytes.insert(bytes.end(), data.begin(), data.end());
    }
    std::vector<std::uint8_t> bytes;
};

struct Restore {
    std::filesystem::path path;
    bool existed = false;
    std::uint64_t oldSize = 0;
    std::vector<FileWrite> originals;
};

std::vector<std::uint8_t> Encode(const std::vector<Restore>& restores) {
    Builder out;
    std::size_t size = sizeof kMagic + 12;
    for (const Restore& restore : restores) {
        size += 21 + restore.path.filename().string().size();
        for (const FileWrite& original : restore.originals) {
            size += 12 + original.bytes.size();
        }
    }
    out.bytes.reserve(size);
    out.Bytes({reinterpret_cast<const std::uint8_t*>(kMagic), sizeof kMagic});
    out.U32(static_cast<std::uint32_t>(restores.size()));
    for (const Restore& restore : restores) {
        const std::string name = restore.path.filename().string();
        out.U32(static_cast<std::uint32_t>(name.size()));
        out.Bytes({reinterpret_cast<const std::uint8_t*>(name.data()), name.size()});
        out.U8(restore.existed ? 1 : 0);
        out.U64(restore.oldSize);
        out.U32(static_cast<std::uint32_t>(restore.originals.size()));
        for (const FileWrite& original : restore.originals) {
            out.U64(original.offset);
            out.U32(static_cast<std::uint32_t>(original.bytes.size()));
            out.Bytes(original.bytes);
        }
    }
    out.U64(Checksum(out.bytes));
    return out.bytes;
}

// Nothing when the journal is incomplete or damaged.
std::optional<std::vector<Restore>> Decode(std::span<const std::uint8_t> bytes,
                                           const std::filesystem::path& folder) {
    if (bytes.size() < sizeof kMagic + 12 ||
        std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) {
        return std::nullopt;
    }
    const ByteReader reader(bytes);
    const std::size_t body = bytes.size() - 8;
    if (reader.U64LE(body) != Checksum(bytes.first(body))) {
        return std::nullopt;
    }
    try {
        ByteCursor cursor(reader.Sub(0, body), sizeof kMagic);
        const std::uint32_t files = cursor.U32LE();
        if (files > 3) {
            return std::nullopt;
        }
        std::vector<Restore> restores(files);
        for (Restore& restore : restores) {
            const std::string_view name = cursor.Chars(cursor.U32LE());
            if (name.empty() || name.find('/') != name.npos || name.find('\\') != name.npos) {
                return std::nullopt;
            }
            restore.path = folder / std::filesystem::path(std::string(name));
            restore.existed = cursor.U8() != 0;
            restore.oldSize = cursor.U64LE();
            const std::uint32_t count = cursor.U32LE();
            for (std::uint32_t i = 0; i < count; ++i) {
                FileWrite original;
                original.offset = cursor.U64LE();
                const auto data = cursor.Bytes(cursor.U32LE());
                original.bytes.assign(data.begin(), data.end());
                restore.originals.push_back(std::move(original));
            }
        }
        return restores;
    } catch (const EReadOutOfBounds&) {
        return std::nullopt;
    }
}

void Apply(const std::vector<Restore>& restores) {
    for (const Restore& restore : restores) {
        if (!restore.existed) {
            platform::RemoveFile(restore.path);
            continue;
        }
        if (!platform::StatusOf(restore.path).exists) {
            throw EParadoxError(restore.path.string() +
                                ": cannot roll back an unfinished change: the file is missing");
        }
        platform::File file(restore.path, platform::File::Mode::ReadWrite);
        for (const FileWrite& original : restore.originals) {
            file.WriteAt(original.offset, original.bytes);
        }
        file.Resize(restore.oldSize);
        file.Sync();
    }
}

} // namespace

std::filesystem::path JournalPathFor(const std::filesystem::path& dbPath) {
    std::filesystem::path journal = dbPath;
    journal += "-journal";
    return journal;
}

void WriteAtomically(const std::filesystem::path& journalPath, std::vector<FileChange>& changes) {
    std::vector<Restore> restores;
    for (const FileChange& change : changes) {
        Restore restore;
        restore.path = change.path;
        restore.existed = change.file != nullptr;
        restore.oldSize = change.oldSize;
        for (const FileWrite& write : change.writes) {
            if (write.offset >= change.oldSize) {
                continue;
            }
            const std::size_t length = static_cast<std::size_t>(
                std::min<std::uint64_t>(write.bytes.size(), change.oldSize - write.offset));
            FileWrite original;
            original.offset = write.offset;
            original.bytes.resize(length);
            change.readOld(write.offset, original.bytes);
            restore.originals.push_back(std::move(original));
        }
        if (change.newSize < change.oldSize) {
            // Bytes the commit cuts off: the old state may still use them.
            FileWrite tail;
            tail.offset = change.newSize;
            tail.bytes.resize(static_cast<std::size_t>(change.oldSize - change.newSize));
            change.readOld(change.newSize, tail.bytes);
            restore.originals.push_back(std::move(tail));
        }
        restores.push_back(std::move(restore));
    }

    const std::filesystem::path folder = journalPath.parent_path();
    try {
        platform::File journal(journalPath, platform::File::Mode::CreateReadWrite);
        journal.WriteAt(0, Encode(restores));
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

    try {
        std::vector<std::unique_ptr<platform::File>> created;
        for (FileChange& change : changes) {
            platform::File* file = change.file;
            if (file == nullptr) {
                created.push_back(std::make_unique<platform::File>(
                    change.path, platform::File::Mode::CreateReadWrite));
                file = created.back().get();
            }
            for (const FileWrite& write : change.writes) {
                file->WriteAt(write.offset, write.bytes);
            }
            if (file->Size() != change.newSize) {
                file->Resize(change.newSize);
            }
            file->Sync();
        }
        if (!created.empty()) {
            platform::SyncDirectory(folder);
        }
        platform::RemoveFile(journalPath);
    } catch (...) {
        try {
            Apply(restores);
            platform::RemoveFile(journalPath);
        } catch (const EParadoxError&) {
            // The journal stays; the next open of the table rolls the change back.
        }
        throw;
    }
    platform::SyncDirectory(folder);
}

bool RecoverJournal(const std::filesystem::path& journalPath) {
    if (!platform::StatusOf(journalPath).exists) {
        return false;
    }
    platform::ByteBuffer bytes;
    {
        const platform::File journal(journalPath, platform::File::Mode::Read);
        bytes = journal.ReadAll();
    }
    if (const auto restores = Decode(bytes, journalPath.parent_path())) {
        Apply(*restores);
    }
    platform::RemoveFile(journalPath);
    platform::SyncDirectory(journalPath.parent_path());
    return true;
}

} // namespace kelvara::paradox::detail
