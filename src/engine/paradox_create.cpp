// Creating a table, replacing one at the path. See docs/formats/paradox.md for what is written.
#include "engine/paradox_index.h"
#include "engine/paradox_journal.h"
#include "engine/paradox_state.h"

#include <algorithm>
#include <cctype>
#include <set>

namespace kelvara::paradox {
namespace {

constexpr std::size_t kMaxNameLength = 25;
constexpr int kMaxLeader = 240;

std::string Lower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

[[noreturn]] void Invalid(const std::filesystem::path& path, const std::string& fault) {
    throw EParadoxError(path.string() + ": cannot create the table: " + fault);
}

std::string Describe(const FieldDef& field) {
    return "field '" + field.name + "' of type " + std::string(FieldTypeName(field.type));
}

// The number of leading key fields, after checking the whole schema.
int CheckSchema(const std::filesystem::path& path, const TableSchema& schema) {
    const auto& fields = schema.fields;
    if (fields.empty() || fields.size() > 255) {
        Invalid(path, "a table has 1 to 255 fields, not " + std::to_string(fields.size()));
    }
    std::set<std::string> names;
    std::size_t recordSize = 0;
    for (const FieldDef& field : fields) {
        if (field.name.empty() || field.name.size() > kMaxNameLength ||
            field.name.find('\0') != std::string::npos) {
            Invalid(path, "the field name '" + field.name + "' is empty, has a NUL or is longer " +
                              "than 25 bytes");
        }
        if (!names.insert(Lower(field.name)).second) {
            Invalid(path, "the field name '" + field.name + "' is used twice");
        }
        bool sizeOk = true;
        switch (field.type) {
        case FieldType::Alpha:
        case FieldType::Bytes:
            sizeOk = field.size >= 1 && field.size <= 255;
            break;
        case FieldType::Memo:
        case FieldType::FormattedMemo:
            sizeOk = field.size >= 1 && field.size <= kMaxLeader;
            break;
        case FieldType::Blob:
        case FieldType::Ole:
        case FieldType::Graphic:
            sizeOk = field.size >= 0 && field.size <= kMaxLeader;
            break;
        case FieldType::Bcd:
            sizeOk = field.size >= 0 && field.size <= 32;
            break;
        default:
            break;
        }
        if (!sizeOk) {
            Invalid(path, Describe(field) + " cannot have the size " + std::to_string(field.size));
        }
        recordSize += StoredFieldSize(field);
    }
    if (recordSize > 0x8000 - detail::kBlockHeaderSize) {
        Invalid(path, "records of " + std::to_string(recordSize) + " bytes are too large");
    }

    int keyCount = 0;
    bool primarySeen = false;
    for (const IndexDef& index : schema.indexes) {
        if (index.fields.empty() || index.fields.size() > 16) {
            Invalid(path, "an index has 1 to 16 fields");
        }
        for (const std::string& name : index.fields) {
            if (std::none_of(fields.begin(), fields.end(),
                             [&](const FieldDef& field) { return field.name == name; })) {
                Invalid(path, "the index field '" + name + "' is not a field of the table");
            }
        }
        if (!index.primary) {
            if (index.name.empty()) {
                Invalid(path, "a secondary index needs a name");
            }
            continue;
        }
        if (primarySeen) {
            Invalid(path, "a table has one primary index");
        }
        primarySeen = true;
        for (std::size_t i = 0; i < index.fields.size(); ++i) {
            if (fields[i].name != index.fields[i]) {
                Invalid(path, "the primary index must be on the leading fields, in order");
            }
            if (IsBlobType(fields[i].type)) {
                Invalid(path, Describe(fields[i]) + " cannot be part of the primary index");
            }
        }
        keyCount = static_cast<int>(index.fields.size());
    }
    if (detail::SortOrderCode(schema.options.sortOrder) < 0) {
        Invalid(path, "unknown sort order '" + schema.options.sortOrder + "'");
    }
    return keyCount;
}

std::filesystem::path Temporary(const std::filesystem::path& path) {
    std::filesystem::path temporary = path;
    temporary += ".new";
    return temporary;
}

void WriteNewFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    platform::File file(path, platform::File::Mode::CreateReadWrite);
    file.WriteAt(0, bytes);
    file.Sync();
}

} // namespace

void ParadoxTable::Create(const std::filesystem::path& dbPath, const TableSchema& schema) {
    const int keyCount = CheckSchema(dbPath, schema);
    const std::string name = dbPath.string();

    // The table being replaced must not be open anywhere; its lock is held until the new files
    // are in place.
    std::unique_ptr<platform::File> old;
    if (platform::StatusOf(dbPath).exists) {
        old = std::make_unique<platform::File>(dbPath, platform::File::Mode::ReadWrite);
        if (detail::OpenRegistration::IsOpen(old->Id())) {
            throw ETableInUse(name + ": the table is in use (open in this program) and cannot be "
                                     "replaced");
        }
        if (!old->TryLockOpen(platform::LockKind::Exclusive) ||
            !old->LockCommit(platform::LockKind::Exclusive, 0)) {
            throw ETableInUse(name + ": the table is in use (open in another program) and cannot "
                                     "be replaced");
        }
        detail::RecoverJournal(detail::JournalPathFor(dbPath));
    }

    const std::size_t recordSize = [&] {
        std::size_t size = 0;
        for (const auto& field : schema.fields) {
            size += StoredFieldSize(field);
        }
        return size;
    }();
    const std::uint8_t blockCode = detail::ChooseMaxTableSize(recordSize);
    const std::vector<std::uint8_t> header =
        detail::BuildDbHeader(schema.fields, keyCount, blockCode, schema.options.codePage,
                              schema.options.sortOrder, dbPath.filename().string());

    // The new .db goes in first: it refers to no BLOB and no index block, so whatever of the old
    // files is still there cannot make it inconsistent.
    const std::filesystem::path temporary = Temporary(dbPath);
    try {
        WriteNewFile(temporary, header);
        platform::MoveFileOver(temporary, dbPath);
    } catch (...) {
        try {
            platform::RemoveFile(temporary);
        } catch (const EParadoxError&) {
        }
        throw;
    }
    const std::filesystem::path mbPath = detail::CompanionPath(dbPath, "mb");
    const std::filesystem::path pxPath = detail::CompanionPath(dbPath, "px");
    platform::RemoveFile(mbPath);
    for (const auto& stale : detail::SecondaryIndexFiles(dbPath)) {
        platform::RemoveFile(stale);
    }
    if (keyCount > 0) {
        const ByteReader reader(header);
        detail::DbHeader parsed = detail::ParseDbHeader(reader, name);
        const std::vector<detail::ChainBlock> chain;
        detail::IndexSource source;
        source.info = &parsed.info;
        source.dbHeader = header;
        source.chain = &chain;
        const std::string pxName = pxPath.filename().string();
        source.indexName = pxName;
        const std::filesystem::path pxTemporary = Temporary(pxPath);
        WriteNewFile(pxTemporary, detail::BuildPrimaryIndex(source));
        platform::MoveFileOver(pxTemporary, pxPath);
    } else {
        platform::RemoveFile(pxPath);
    }
    platform::SyncDirectory(dbPath.has_parent_path() ? dbPath.parent_path()
                                                     : std::filesystem::path("."));
}

} // namespace kelvara::paradox
