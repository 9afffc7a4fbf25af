// Fuzz target for finishing a journal left beside a table. The first byte chooses: 0 the rest is
// the journal as it is; 1 the rest gets the hash of the current kind of journal appended, 2 that
// of the earlier kind, so that inputs reach past the hash. A small table with BLOBs lies beside
// it; the table is opened (which finishes or drops the journal) and every value read. Anything
// but EParadoxError is a fault.
#include "engine/paradox_journal.h"
#include "engine/paradox_table.h"

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace kelvara::paradox;

std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path) {
    std::vector<std::uint8_t> bytes(std::filesystem::file_size(path));
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file != nullptr) {
        const std::size_t read = std::fread(bytes.data(), 1, bytes.size(), file);
        bytes.resize(read);
        std::fclose(file);
    }
    return bytes;
}

void WriteFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file != nullptr) {
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
    }
}

const std::filesystem::path& Folder() {
    static const std::filesystem::path folder =
        std::filesystem::temp_directory_path() /
        ("kelvara-fuzz-journal-" + std::to_string(::getpid()));
    return folder;
}

// The table's files as they are before every input.
const std::map<std::string, std::vector<std::uint8_t>>& Table() {
    static const auto files = [] {
        std::filesystem::remove_all(Folder());
        std::filesystem::create_directories(Folder());
        TableSchema schema;
        schema.fields = {{"Code", FieldType::Long, 0}, {"Text", FieldType::Memo, 4}};
        IndexDef primary;
        primary.primary = true;
        primary.unique = true;
        primary.fields = {"Code"};
        schema.indexes = {primary};
        ParadoxTable::Create(Folder() / "t.db", schema);
        {
            auto table = ParadoxTable::Open(Folder() / "t.db");
            Transaction batch(*table);
            for (int i = 0; i < 12; ++i) {
                RecordBuffer record = table->NewRecord();
                record.Set(0, FieldValue::FromInteger(i));
                record.Set(1, FieldValue::FromBytes(std::string(i * 300 % 2900, 'a' + i)));
                batch.Append(std::move(record));
            }
            batch.Commit();
        }
        std::map<std::string, std::vector<std::uint8_t>> bytes;
        for (const char* name : {"t.db", "t.mb", "t.px"}) {
            bytes[name] = ReadFile(Folder() / name);
        }
        return bytes;
    }();
    return files;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // A journal may ask for files of any length: keep them small.
    const rlimit limit{64u << 20, 64u << 20};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    Table();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    std::vector<std::uint8_t> journal(data + 1, data + size);
    if (data[0] % 3 == 1) {
        const std::uint64_t hash = detail::JournalHash(journal);
        for (int i = 0; i < 8; ++i) {
            journal.push_back(static_cast<std::uint8_t>(hash >> (8 * i)));
        }
    } else if (data[0] % 3 == 2) {
        std::uint64_t hash = 0xcbf29ce484222325u;
        for (const std::uint8_t byte : journal) {
            hash = (hash ^ byte) * 0x100000001b3u;
        }
        for (int i = 0; i < 8; ++i) {
            journal.push_back(static_cast<std::uint8_t>(hash >> (8 * i)));
        }
    }
    for (const auto& entry : std::filesystem::directory_iterator(Folder())) {
        std::filesystem::remove(entry.path());
    }
    for (const auto& [name, bytes] : Table()) {
        WriteFile(Folder() / name, bytes);
    }
    WriteFile(Folder() / "t.db-journal", journal);
    // A file growing past the limit is a failed write, reported as such (libFuzzer's own handler
    // would end the run).
    std::signal(SIGXFSZ, SIG_IGN);
    try {
        const auto table = ParadoxTable::Open(Folder() / "t.db");
        for (std::uint32_t r = 0; r < table->RecordCount(); ++r) {
            for (std::size_t f = 0; f < table->Info().fields.size(); ++f) {
                try {
                    table->Read(r, static_cast<int>(f)).DisplayText();
                } catch (const EParadoxError&) {
                }
            }
        }
    } catch (const EParadoxError&) {
    }
    return 0;
}
