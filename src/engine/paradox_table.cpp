// Opening, reading and creating Paradox tables. The file layout is described in
// docs/formats/paradox.md; commits are in paradox_commit.cpp.
#include "engine/paradox_table.h"

#include "engine/paradox_index.h"
#include "engine/paradox_journal.h"
#include "engine/paradox_state.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <limits>
#include <map>
#include <mutex>
#include <set>

namespace kelvara::paradox {
namespace detail {
namespace {

constexpr int kLockWaitMs = 10000;

struct Registry {
    std::mutex mutex;
    std::map<platform::FileId, std::pair<int, int>> open; // shared, exclusive
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool IsHex(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

bool IsSecondaryExtension(std::string_view ext) {
    if (ext.size() < 3 || ext.size() > 4 || ext[0] != '.') {
        return false;
    }
    const char kind = static_cast<char>(std::toupper(static_cast<unsigned char>(ext[1])));
    if (kind != 'X' && kind != 'Y') {
        return false;
    }
    if (ext.size() == 4 && std::toupper(static_cast<unsigned char>(ext[2])) == 'G') {
        return IsHex(ext[3]);
    }
    return ext.size() == 4 && IsHex(ext[2]) && IsHex(ext[3]);
}

std::uint64_t HeaderHash(std::span<const std::uint8_t> bytes) {
    std::uint64_t hash = 0xcbf29ce484222325u;
    for (const std::uint8_t byte : bytes) {
        hash = (hash ^ byte) * 0x100000001b3u;
    }
    return hash;
}

} // namespace

OpenRegistration::OpenRegistration(const platform::FileId& id, bool exclusive,
                                   const std::string& path) {
    Registry& registry = TheRegistry();
    const std::lock_guard lock(registry.mutex);
    auto& [shared, exclusives] = registry.open[id];
    if (exclusives > 0 || (exclusive && shared > 0)) {
        throw ETableInUse(
            path + ": the table is in use (" +
            (exclusives > 0 ? std::string("opened exclusively") : std::string("open")) +
            " in this program)");
    }
    (exclusive ? exclusives : shared) += 1;
    id_ = id;
    exclusive_ = exclusive;
}

OpenRegistration::~OpenRegistration() {
    Release();
}

OpenRegistration::OpenRegistration(OpenRegistration&& other) noexcept
    : id_(other.id_), exclusive_(other.exclusive_) {
    other.id_.reset();
}

OpenRegistration& OpenRegistration::operator=(OpenRegistration&& other) noexcept {
    if (this != &other) {
        Release();
        id_ = other.id_;
        exclusive_ = other.exclusive_;
        other.id_.reset();
    }
    return *this;
}

void OpenRegistration::Release() noexcept {
    if (!id_) {
        return;
    }
    Registry& registry = TheRegistry();
    const std::lock_guard lock(registry.mutex);
    const auto found = registry.open.find(*id_);
    if (found != registry.open.end()) {
        (exclusive_ ? found->second.second : found->second.first) -= 1;
        if (found->second.first == 0 && found->second.second == 0) {
            registry.open.erase(found);
        }
    }
    id_.reset();
}

bool OpenRegistration::IsOpen(const platform::FileId& id) {
    Registry& registry = TheRegistry();
    const std::lock_guard lock(registry.mutex);
    return registry.open.count(id) != 0;
}

std::filesystem::path CompanionPath(const std::filesystem::path& dbPath, std::string_view ext) {
    const std::string dbExt = dbPath.extension().string();
    std::string wanted = ".";
    for (std::size_t i = 0; i < ext.size(); ++i) {
        const bool upper =
            i + 1 < dbExt.size() && std::isupper(static_cast<unsigned char>(dbExt[i + 1]));
        wanted += static_cast<char>(upper ? std::toupper(static_cast<unsigned char>(ext[i]))
                                          : std::tolower(static_cast<unsigned char>(ext[i])));
    }
    std::filesystem::path candidate = dbPath;
    candidate.replace_extension(wanted);
    if (platform::StatusOf(candidate).exists) {
        return candidate;
    }
    std::error_code error;
    const std::filesystem::path folder =
        dbPath.has_parent_path() ? dbPath.parent_path() : std::filesystem::path(".");
    const std::string stem = dbPath.stem().string();
    for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        const std::filesystem::path& path = entry->path();
        if (path.stem().string() == stem && EqualsIgnoringCase(path.extension().string(), wanted)) {
            return path;
        }
    }
    return candidate;
}

std::vector<std::filesystem::path> SecondaryIndexFiles(const std::filesystem::path& dbPath) {
    std::vector<std::filesystem::path> files;
    std::error_code error;
    const std::filesystem::path folder =
        dbPath.has_parent_path() ? dbPath.parent_path() : std::filesystem::path(".");
    const std::string stem = dbPath.stem().string();
    for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        const std::filesystem::path& path = entry->path();
        if (path.stem().string() == stem && IsSecondaryExtension(path.extension().string())) {
            files.push_back(path);
        }
    }
    return files;
}

ChangeStamp ReadStamp(const platform::File& db, const std::filesystem::path& mbPath,
                      const std::filesystem::path& pxPath) {
    ChangeStamp stamp;
    const platform::FileStatus dbStatus = db.Status();
    stamp.dbSize = dbStatus.size;
    stamp.dbTime = dbStatus.modified;
    std::vector<std::uint8_t> head(std::min<std::uint64_t>(dbStatus.size, kDataHeaderSize));
    db.ReadAt(0, head);
    stamp.headerHash = HeaderHash(head);
    const platform::FileStatus mbStatus = platform::StatusOf(mbPath);
    stamp.mbSize = mbStatus.exists ? mbStatus.size + 1 : 0;
    stamp.mbTime = mbStatus.modified;
    const platform::FileStatus pxStatus = platform::StatusOf(pxPath);
    stamp.pxSize = pxStatus.exists ? pxStatus.size + 1 : 0;
    return stamp;
}

int CompareKeys(const TableInfo& info, const std::uint8_t* a, const std::uint8_t* b) {
    for (int i = 0; i < info.keyFieldCount; ++i) {
        const FieldInfo& field = info.fields[i];
        const int order = std::memcmp(a + field.offset, b + field.offset, field.storedSize);
        if (order != 0) {
            return order;
        }
    }
    return 0;
}

} // namespace detail

using detail::kDataHeaderSize;

void ParadoxTable::State::Index() {
    header = detail::ParseDbHeader(ByteReader(db), name);
    std::vector<std::string> found;
    bool backLinked = false;
    chain = detail::ReadChain(ByteReader(db), header, name, found, &backLinked);
    const TableInfo& info = header.info;
    std::size_t total = 0;
    bool noneEmpty = true;
    for (const auto& block : chain) {
        total += block.count;
        noneEmpty = noneEmpty && block.count > 0;
    }
    chainTidy = backLinked && noneEmpty && chain.size() == header.fileBlocks &&
                db.size() == info.headerSize + std::uint64_t{header.fileBlocks} * info.blockSize;
    recordOffsets.clear();
    recordOffsets.reserve(total);
    for (const auto& block : chain) {
        const std::uint64_t start = info.headerSize +
                                    (block.block - 1u) * std::uint64_t{info.blockSize} +
                                    detail::kBlockHeaderSize;
        for (std::uint32_t i = 0; i < block.count; ++i) {
            recordOffsets.push_back(static_cast<std::uint32_t>(start + i * info.recordSize));
        }
    }
    warnings = std::move(found);
}

void ParadoxTable::State::ReadDb() {
    // Read in pieces, so that the walk for the BLOB space goes along with the read.
    constexpr std::uint64_t kHeaderPiece = 0x10000; // holds any header
    constexpr std::uint64_t kPiece = std::uint64_t{4} << 20;
    struct StopOnFailure {
        State& state;
        bool done = false;
        ~StopOnFailure() {
            if (!done) {
                state.StopWalk();
            }
        }
    } guard{*this};
    db = platform::ByteBuffer(dbFile->Size());
    std::uint64_t read = std::min<std::uint64_t>(db.size(), kHeaderPiece);
    dbFile->ReadAt(0, std::span(db.data(), read));
    ReadSoFar(read);
    StartWalkAlongsideRead();
    while (read < db.size()) {
        const std::uint64_t length = std::min(kPiece, db.size() - read);
        dbFile->ReadAt(read, std::span(db.data() + read, length));
        read += length;
        ReadSoFar(read);
    }
    guard.done = true;
}

void ParadoxTable::State::Load() {
    AwaitFlush();
    StopWalk();
    const std::filesystem::path journal = detail::JournalPathFor(dbPath);
    if (!dbFile->LockCommit(platform::LockKind::Shared, detail::kLockWaitMs)) {
        throw ETableInUse(name + ": the table is in use (another user is saving changes)");
    }
    struct Unlock {
        platform::File& file;
        ~Unlock() { file.UnlockCommit(); }
    } unlock{*dbFile};

    if (platform::StatusOf(journal).exists) {
        // A commit was interrupted: finish it (or drop it, when it had not begun) before reading
        // anything.
        dbFile->UnlockCommit();
        platform::File writer(dbPath, platform::File::Mode::ReadWrite);
        if (!writer.LockCommit(platform::LockKind::Exclusive, detail::kLockWaitMs)) {
            throw ETableInUse(name + ": the table is in use (another user is saving changes)");
        }
        detail::RecoverJournal(journal);
        writer.UnlockCommit();
        if (!dbFile->LockCommit(platform::LockKind::Shared, detail::kLockWaitMs)) {
            throw ETableInUse(name + ": the table is in use (another user is saving changes)");
        }
    }

    mbPath = detail::CompanionPath(dbPath, "mb");
    pxPath = detail::CompanionPath(dbPath, "px");
    stamp = detail::ReadStamp(*dbFile, mbPath, pxPath);
    mbExists = platform::StatusOf(mbPath).exists;
    ReadDb();
    mb.clear();
    mb.shrink_to_fit();
    mbLoaded = false;
    pxExists = platform::StatusOf(pxPath).exists;
    px.clear();
    if (pxExists) {
        px = platform::File(pxPath, platform::File::Mode::Read).ReadAll();
    }
    mbSpace.reset();
    Index();
    if (walked && !chainTidy) {
        StopWalk(); // blocks outside the chain were walked too: walked again from the records
    }
    if (header.info.keyFieldCount > 0 && !pxExists) {
        warnings.push_back(name + ": the primary index file is missing; the next change writes it");
    } else if (header.info.keyFieldCount > 0) {
        const std::string fault = detail::CheckPrimaryIndex(
            header.info, px, static_cast<std::uint32_t>(recordOffsets.size()));
        if (!fault.empty()) {
            warnings.push_back(pxPath.string() + ": " + fault + "; the next change rewrites it");
        }
    }
    if (!walked) {
        StartWalk();
    }
    ++generation;
}

const platform::ByteBuffer& ParadoxTable::State::LoadMb(bool lockHeld) const {
    AwaitFlush();
    lockHeld = lockHeld || commitLockHeld;
    if (!lockHeld && !dbFile->LockCommit(platform::LockKind::Shared, detail::kLockWaitMs)) {
        throw ETableInUse(name + ": the table is in use (another user is saving changes)");
    }
    struct Unlock {
        platform::File& file;
        bool locked;
        ~Unlock() {
            if (locked) {
                file.UnlockCommit();
            }
        }
    } unlock{*dbFile, !lockHeld};
    const platform::File file(mbPath, platform::File::Mode::Read);
    const platform::FileStatus status = file.Status();
    if (status.size + 1 != stamp.mbSize || status.modified != stamp.mbTime) {
        throw ETableChanged(mbPath.string() +
                            ": the BLOB file was changed by another user after the table was "
                            "read; read the table again");
    }
    mb = file.ReadAll();
    mbLoaded = true;
    return mb;
}

ParadoxTable::ParadoxTable(std::unique_ptr<State> state) : state_(std::move(state)) {}
ParadoxTable::~ParadoxTable() = default;

std::unique_ptr<ParadoxTable> ParadoxTable::Open(const std::filesystem::path& dbPath,
                                                 OpenOptions options) {
    auto state = std::make_unique<State>();
    state->dbPath = dbPath;
    state->name = dbPath.string();
    state->options = options;
    if (!platform::StatusOf(dbPath).exists) {
        throw EParadoxError(state->name + ": the table does not exist");
    }
    if (options.readOnly) {
        state->dbFile = std::make_unique<platform::File>(dbPath, platform::File::Mode::Read);
    } else {
        try {
            state->dbFile =
                std::make_unique<platform::File>(dbPath, platform::File::Mode::ReadWrite);
        } catch (const EParadoxError&) {
            // A file the user may not change still opens, for reading.
            state->dbFile = std::make_unique<platform::File>(dbPath, platform::File::Mode::Read);
        }
    }
    state->registration =
        detail::OpenRegistration(state->dbFile->Id(), options.exclusive, state->name);
    const auto kind =
        options.exclusive ? platform::LockKind::Exclusive : platform::LockKind::Shared;
    if (!state->dbFile->TryLockOpen(kind)) {
        throw ETableInUse(state->name + ": the table is in use (" +
                          (options.exclusive ? "open" : "opened exclusively") +
                          " by another program)");
    }
    state->Load();
    return std::unique_ptr<ParadoxTable>(new ParadoxTable(std::move(state)));
}

const std::filesystem::path& ParadoxTable::Path() const {
    return state_->dbPath;
}
const TableInfo& ParadoxTable::Info() const {
    return state_->header.info;
}
const OpenOptions& ParadoxTable::Options() const {
    return state_->options;
}
std::uint32_t ParadoxTable::RecordCount() const {
    return static_cast<std::uint32_t>(state_->recordOffsets.size());
}
std::int64_t ParadoxTable::AutoIncrement() const {
    return state_->header.autoInc;
}
const std::vector<std::string>& ParadoxTable::Warnings() const {
    return state_->warnings;
}
const ChangeStamp& ParadoxTable::Stamp() const {
    return state_->stamp;
}

bool ParadoxTable::ChangedOnDisk() const {
    state_->AwaitFlush();
    return detail::ReadStamp(*state_->dbFile, state_->mbPath, state_->pxPath) != state_->stamp;
}

void ParadoxTable::Reload() {
    state_->Load();
}

RecordView ParadoxTable::Record(std::uint32_t index) const {
    if (index >= state_->recordOffsets.size()) {
        throw EParadoxError(state_->name + ": record " + std::to_string(index + 1) +
                            " does not exist (the table has " +
                            std::to_string(state_->recordOffsets.size()) + " records)");
    }
    return RecordView(*this, state_->RecordBytes(index));
}

std::string ParadoxTable::ReadBlob(const RecordView& record, int field) const {
    const std::string_view value = BlobView(record, field);
    return std::string(value);
}

std::string_view ParadoxTable::BlobView(const RecordView& record, int field) const {
    const FieldInfo& info = Info().fields.at(static_cast<std::size_t>(field));
    const detail::BlobRef ref = detail::ReadBlobRef(info, record.Bytes());
    if (ref.length == 0) {
        return {};
    }
    const auto leader = record.Bytes().subspan(info.offset, info.storedSize - 10u);
    if (!ref.InMb()) {
        if (ref.length > leader.size()) {
            throw EParadoxError(state_->name + ": field '" + info.def.name + "' holds " +
                                std::to_string(ref.length) +
                                " bytes but its record points to no BLOB");
        }
        return {reinterpret_cast<const char*>(leader.data()), ref.length};
    }
    if (!state_->mbExists) {
        throw EParadoxError(state_->mbPath.string() + ": the BLOB file is missing (field '" +
                            info.def.name + "')");
    }
    const ByteReader mb(state_->Mb());
    try {
        const auto bytes = detail::ReadMbValue(mb, ref, info.def.type, state_->mbPath);
        return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
    } catch (const EParadoxError& error) {
        throw EParadoxError(std::string(error.what()) + ", field '" + info.def.name + "'");
    }
}

std::optional<std::uint32_t> ParadoxTable::FindByKey(const std::vector<FieldValue>& key) const {
    const TableInfo& info = Info();
    if (info.keyFieldCount == 0) {
        throw EParadoxError(state_->name + ": the table has no primary key");
    }
    if (key.size() != static_cast<std::size_t>(info.keyFieldCount)) {
        throw EParadoxError(state_->name + ": the primary key has " +
                            std::to_string(info.keyFieldCount) + " fields, " +
                            std::to_string(key.size()) + " values were given");
    }
    std::vector<std::uint8_t> probe(info.recordSize, 0);
    bool alphaKey = false;
    for (int i = 0; i < info.keyFieldCount; ++i) {
        detail::EncodeField(info.fields[i], key[i], probe);
        alphaKey = alphaKey || info.fields[i].def.type == FieldType::Alpha;
    }
    const bool byteOrdered = info.sortOrder == 0 || !alphaKey;
    const auto& offsets = state_->recordOffsets;
    const std::uint8_t* base = state_->db.data();
    if (!byteOrdered) {
        // Alpha keys under a language sort order are not in byte order: look at every record.
        for (std::uint32_t i = 0; i < offsets.size(); ++i) {
            if (detail::CompareKeys(info, base + offsets[i], probe.data()) == 0) {
                return i;
            }
        }
        return std::nullopt;
    }
    const auto found = std::lower_bound(
        offsets.begin(), offsets.end(), probe, [&](std::uint32_t at, const auto& p) {
            return detail::CompareKeys(info, base + at, p.data()) < 0;
        });
    if (found == offsets.end() || detail::CompareKeys(info, base + *found, probe.data()) != 0) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(found - offsets.begin());
}

RecordBuffer ParadoxTable::NewRecord() const {
    const std::vector<std::uint8_t> empty(Info().recordSize, 0);
    return RecordBuffer(*this, empty, -1);
}

RecordBuffer ParadoxTable::EditRecord(std::uint32_t index) const {
    return RecordBuffer(*this, Record(index).Bytes(), index);
}

RecordView::RecordView(const ParadoxTable& table, std::span<const std::uint8_t> bytes)
    : table_(&table), info_(&table.Info()), bytes_(bytes) {}

void RecordView::NoSuchField(int field) const {
    throw EParadoxError(table_->state_->name + ": there is no field " + std::to_string(field + 1));
}

bool RecordView::IsNullStored(const FieldInfo& info) const {
    return detail::IsNullField(info, bytes_);
}

FieldValue RecordView::Value(int field) const {
    const FieldInfo& info = Field(field);
    if (IsBlobType(info.def.type)) {
        if (detail::ReadBlobRef(info, bytes_).length == 0) {
            return FieldValue();
        }
        return FieldValue::FromBytes(table_->ReadBlob(*this, field));
    }
    return detail::DecodeField(info, bytes_);
}

std::string_view RecordView::Text(int field) const {
    const FieldInfo& info = Field(field);
    const char* start = reinterpret_cast<const char*>(bytes_.data() + info.offset);
    if (info.def.type == FieldType::Bytes) {
        return {start, info.storedSize};
    }
    if (info.def.type != FieldType::Alpha) {
        throw EParadoxError("field '" + info.def.name + "' of type " +
                            std::string(FieldTypeName(info.def.type)) + " is not text");
    }
    const void* end = std::memchr(start, 0, info.storedSize);
    return {start, end != nullptr ? static_cast<std::size_t>(static_cast<const char*>(end) - start)
                                  : info.storedSize};
}

RecordBuffer::RecordBuffer(const ParadoxTable& table, std::span<const std::uint8_t> bytes,
                           std::int64_t origin)
    : table_(&table), origin_(origin), generation_(table.state_->generation),
      bytes_(bytes.begin(), bytes.end()), set_(table.Info().fields.size(), false) {}

const std::string* RecordBuffer::FindBlob(int field) const {
    for (const auto& [f, value] : blobs_) {
        if (f == field) {
            return &value;
        }
    }
    return nullptr;
}

void RecordBuffer::Set(int field, const FieldValue& value) {
    const auto& fields = table_->Info().fields;
    if (field < 0 || static_cast<std::size_t>(field) >= fields.size()) {
        throw EParadoxError(table_->state_->name + ": there is no field " +
                            std::to_string(field + 1));
    }
    const FieldInfo& info = fields[static_cast<std::size_t>(field)];
    const std::string type(FieldTypeName(info.def.type));
    if (info.def.type == FieldType::AutoInc) {
        throw EFieldNotWritable("field '" + info.def.name +
                                "' of type autoincrement is numbered by the table and cannot be "
                                "written");
    }
    if (!IsWritableType(info.def.type)) {
        throw EFieldNotWritable("field '" + info.def.name + "' of type " + type +
                                " cannot be written");
    }
    if (IsBlobType(info.def.type)) {
        if (!value.IsNull() && value.GetKind() != FieldValue::Kind::Bytes) {
            throw EParadoxError("field '" + info.def.name + "' of type " + type +
                                ": needs a text or bytes value");
        }
        const auto set = std::find_if(blobs_.begin(), blobs_.end(),
                                      [field](const auto& blob) { return blob.first == field; });
        if (set != blobs_.end()) {
            set->second = value.Bytes();
        } else {
            blobs_.emplace_back(field, value.Bytes());
        }
    } else {
        // Encoded aside first: a value that does not fit leaves the record as it was.
        std::array<std::uint8_t, 256> encoded{};
        detail::EncodeFieldInto(info, value, encoded.data());
        std::copy_n(encoded.begin(), info.storedSize, bytes_.begin() + info.offset);
    }
    set_[static_cast<std::size_t>(field)] = true;
}

void RecordBuffer::SetAutoIncrement(int field, std::int64_t value) {
    const auto& fields = table_->Info().fields;
    if (field < 0 || static_cast<std::size_t>(field) >= fields.size()) {
        throw EParadoxError(table_->state_->name + ": there is no field " +
                            std::to_string(field + 1));
    }
    const FieldInfo& info = fields[static_cast<std::size_t>(field)];
    if (info.def.type != FieldType::AutoInc) {
        throw EFieldNotWritable("field '" + info.def.name + "' of type " +
                                std::string(FieldTypeName(info.def.type)) +
                                " is not an autoincrement field");
    }
    if (origin_ >= 0) {
        throw EFieldNotWritable("field '" + info.def.name +
                                "' of type autoincrement: only a new record can be given a number");
    }
    if (value < 1 || value > std::numeric_limits<std::int32_t>::max()) {
        throw EParadoxError("field '" + info.def.name + "' of type autoincrement: the number " +
                            std::to_string(value) + " is outside 1 .. 2147483647");
    }
    std::vector<std::uint8_t> encoded(bytes_.size());
    detail::EncodeField(info, FieldValue::FromInteger(value), encoded);
    std::copy_n(encoded.begin() + info.offset, info.storedSize, bytes_.begin() + info.offset);
    set_[static_cast<std::size_t>(field)] = true;
    autoIncrement_ = value;
}

FieldValue RecordBuffer::Get(int field) const {
    if (field < 0 || static_cast<std::size_t>(field) >= set_.size()) {
        throw std::out_of_range("RecordBuffer::Get: no field " + std::to_string(field));
    }
    if (const std::string* blob = FindBlob(field)) {
        return blob->empty() ? FieldValue() : FieldValue::FromBytes(*blob);
    }
    return RecordView(*table_, bytes_).Value(field);
}

bool RecordBuffer::IsSet(int field) const {
    return set_.at(static_cast<std::size_t>(field));
}

Transaction::Transaction(ParadoxTable& table) : table_(&table) {}

void Transaction::Append(RecordBuffer record) {
    if (record.table_ != table_) {
        throw EParadoxError(table_->state_->name + ": the record belongs to another table");
    }
    changes_.push_back(Change{Change::What::Append, 0, std::move(record)});
}

void Transaction::Update(std::uint32_t index, RecordBuffer record) {
    if (record.table_ != table_) {
        throw EParadoxError(table_->state_->name + ": the record belongs to another table");
    }
    if (record.autoIncrement_) {
        throw EFieldNotWritable(table_->state_->name +
                                ": an autoincrement number can only be given to a new record");
    }
    changes_.push_back(Change{Change::What::Update, index, std::move(record)});
}

void Transaction::Delete(std::uint32_t index) {
    changes_.push_back(Change{Change::What::Delete, index, std::nullopt});
}

bool Transaction::Empty() const {
    return changes_.empty();
}

CommitResult Transaction::Commit() {
    CommitResult result = table_->CommitChanges(changes_);
    changes_.clear();
    return result;
}

} // namespace kelvara::paradox
