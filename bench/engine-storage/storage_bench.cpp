// Storage benchmark on a language table of 100,000 records with the full 43-column schema:
// create and append, open and read every field, a 1% update as one commit, against rewriting the
// files; alpha reading against pxlib on the same .db; BLOB reading against reading the .mb's
// bytes; memory of an open table against its files. Figures are printed, nothing is asserted.
//
// Usage: bench_engine_storage [records] [folder]
#include "engine/paradox_table.h"
#include "engine/platform.h"
#include "store/language_catalogue.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#ifdef KELVARA_HAVE_PXLIB
extern "C" {
#include <paradox.h>
}
#endif

namespace {

using namespace kelvara::paradox;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

TableSchema LanguageSchema() {
    TableSchema schema;
    schema.fields = {{"Index_No", FieldType::AutoInc, 0},
                     {"Form_Name", FieldType::Alpha, 60},
                     {"Component_Name", FieldType::Alpha, 60},
                     {"Property_Name", FieldType::Alpha, 60},
                     {"Native", FieldType::Blob, 10}};
    for (const std::string_view language : kelvara::kCreationLanguages) {
        schema.fields.push_back({std::string(language), FieldType::Blob, 10});
    }
    IndexDef primary;
    primary.primary = true;
    primary.unique = true;
    primary.fields = {"Index_No"};
    IndexDef form;
    form.name = "FormIndex";
    form.fields = {"Form_Name", "Component_Name", "Property_Name"};
    form.caseInsensitive = true;
    schema.indexes = {primary, form};
    return schema;
}

// Interface texts of the lengths real ones have: mostly short captions, some hints and messages.
class Texts {
public:
    std::string Next(const char* language) {
        static const char* const kWords[] = {"Open",
                                             "file",
                                             "table",
                                             "Save",
                                             "the",
                                             "changes",
                                             "before",
                                             "closing",
                                             "Cancel",
                                             "Print",
                                             "report",
                                             "\xc3\xa9t\xc3\xa9",
                                             "\xd0\xa4\xd0\xb0\xd0\xb9\xd0\xbb",
                                             "language",
                                             "column",
                                             "&Edit",
                                             "Find...",
                                             "Replace"};
        const std::size_t roll = random_() % 100;
        const std::size_t words = roll < 60   ? 1 + random_() % 3
                                  : roll < 90 ? 4 + random_() % 8
                                              : 15 + random_() % 40;
        std::string text = language[0] == 'N' ? "" : std::string(language, 2) + ":";
        for (std::size_t i = 0; i < words; ++i) {
            text += kWords[random_() % std::size(kWords)];
            text += i + 1 < words ? " " : "";
        }
        if (roll >= 97) {
            text += "\r\nSecond line of a longer message.";
        }
        return text;
    }
    std::minstd_rand& Random() { return random_; }

private:
    std::minstd_rand random_{42};
};

std::uint64_t FolderSize(const std::filesystem::path& db) {
    std::uint64_t total = 0;
    for (const char* ext : {".db", ".mb", ".px"}) {
        std::filesystem::path path = db;
        path.replace_extension(ext);
        if (std::filesystem::exists(path)) {
            total += std::filesystem::file_size(path);
        }
    }
    return total;
}

// Resident bytes of the process: file images live outside the heap, so heap statistics miss
// them.
double ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    double pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * static_cast<double>(::sysconf(_SC_PAGESIZE));
}

std::vector<char> ReadWhole(const std::filesystem::path& path) {
    std::vector<char> bytes(std::filesystem::file_size(path));
    std::ifstream in(path, std::ios::binary);
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

// The bytes of the files written anew and flushed: the cost a commit that rewrote the table
// would have at the least. The bytes are in memory before the clock starts, as a table held in
// memory would be.
double RewriteSeconds(const std::filesystem::path& db, const std::filesystem::path& folder) {
    std::vector<std::pair<std::string, std::vector<char>>> files;
    for (const char* ext : {".db", ".mb", ".px"}) {
        std::filesystem::path path = db;
        path.replace_extension(ext);
        files.emplace_back(ext, ReadWhole(path));
    }
    const auto start = Clock::now();
    for (const auto& [ext, bytes] : files) {
        const auto copy = folder / ("rewrite" + ext);
        std::FILE* out = std::fopen(copy.c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), out);
        std::fflush(out);
        ::fdatasync(fileno(out));
        std::fclose(out);
    }
    return Seconds(start);
}

#ifdef KELVARA_HAVE_PXLIB
void Quiet(pxdoc_t*, int, const char*, void*) {}

// pxlib reading the three alpha fields of every record (the .db only).
double PxlibAlphaSeconds(const std::filesystem::path& db, std::size_t& bytes) {
    PX_boot();
    const auto start = Clock::now();
    pxdoc_t* doc = PX_new3(Quiet, nullptr, nullptr, nullptr, nullptr);
    if (PX_open_file(doc, db.c_str()) != 0) {
        return -1;
    }
    std::vector<char> record(PX_get_recordsize(doc));
    const int count = PX_get_num_records(doc);
    for (int i = 0; i < count; ++i) {
        PX_get_record(doc, i, record.data());
        for (int f = 0; f < 3; ++f) {
            char* value = nullptr;
            if (PX_get_data_alpha(doc, record.data() + 4 + 60 * f, 60, &value) > 0) {
                bytes += std::strlen(value);
                doc->free(doc, value);
            }
        }
    }
    PX_close(doc);
    PX_delete(doc);
    return Seconds(start);
}
#endif

} // namespace

int main(int argc, char** argv) {
    const std::uint32_t records =
        argc > 1 ? static_cast<std::uint32_t>(std::stoul(argv[1])) : 100000;
    const std::filesystem::path folder =
        argc > 2 ? std::filesystem::path(argv[2])
                 : std::filesystem::temp_directory_path() / "kelvara-bench-storage";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    const auto db = folder / "lang.db";
    std::printf("Language table: %u records, 43 columns, Native and three languages filled\n",
                records);

    // Create + append all, one commit.
    Texts texts;
    auto start = Clock::now();
    ParadoxTable::Create(db, LanguageSchema());
    {
        auto table = ParadoxTable::Open(db, {true, false});
        Transaction batch(*table);
        const int english = table->Info().FieldIndex("English");
        const int german = table->Info().FieldIndex("German");
        const int french = table->Info().FieldIndex("French (France)");
        for (std::uint32_t i = 0; i < records; ++i) {
            RecordBuffer record = table->NewRecord();
            record.Set(1, FieldValue::FromBytes("TForm" + std::to_string(i / 150)));
            record.Set(2, FieldValue::FromBytes("Component" + std::to_string(i % 150)));
            record.Set(3, FieldValue::FromBytes(i % 3 == 0   ? "Caption"
                                                : i % 3 == 1 ? "Hint"
                                                             : "Items.Strings"));
            record.Set(4, FieldValue::FromBytes(texts.Next("Native")));
            record.Set(english, FieldValue::FromBytes(texts.Next("English")));
            record.Set(german, FieldValue::FromBytes(texts.Next("German")));
            record.Set(french, FieldValue::FromBytes(texts.Next("French")));
            batch.Append(std::move(record));
        }
        batch.Commit();
    }
    const double createSeconds = Seconds(start);
    const std::uint64_t fileBytes = FolderSize(db);
    std::filesystem::path mbPath = db;
    mbPath.replace_extension(".mb");
    std::printf("create + append all (one commit): %.3f s, %.1f records/ms; files %.1f MB "
                "(.db %.1f MB, .mb %.1f MB)\n",
                createSeconds, records / createSeconds / 1000, fileBytes / 1e6,
                std::filesystem::file_size(db) / 1e6, std::filesystem::file_size(mbPath) / 1e6);

    // Open + read every field of every record.
    const double residentBefore = ResidentBytes();
    start = Clock::now();
    std::size_t valueBytes = 0;
    double readSeconds = 0;
    {
        auto table = ParadoxTable::Open(db, {false, true});
        const std::size_t fields = table->Info().fields.size();
        for (std::uint32_t r = 0; r < table->RecordCount(); ++r) {
            const RecordView record = table->Record(r);
            for (std::size_t f = 0; f < fields; ++f) {
                valueBytes += record.Value(static_cast<int>(f)).Bytes().size();
            }
        }
        readSeconds = Seconds(start);
        const double heap = ResidentBytes() - residentBefore;
        std::printf("open + read every field: %.3f s, %.0f ns per field (%zu fields)\n",
                    readSeconds, readSeconds * 1e9 / (double(records) * fields), fields);
        std::printf("memory of the open table after reading everything: %.1f MB for %.1f MB of "
                    "files (%.2fx)\n",
                    heap / 1e6, fileBytes / 1e6, heap / fileBytes);
    }

    // Alpha fields: ours against pxlib, same .db.
    start = Clock::now();
    std::size_t alphaBytes = 0;
    {
        auto table = ParadoxTable::Open(db, {false, true});
        for (std::uint32_t r = 0; r < table->RecordCount(); ++r) {
            const RecordView record = table->Record(r);
            for (int f = 1; f <= 3; ++f) {
                alphaBytes += record.Value(f).Bytes().size();
            }
        }
    }
    const double oursAlpha = Seconds(start);
#ifdef KELVARA_HAVE_PXLIB
    std::size_t pxBytes = 0;
    const double pxAlpha = PxlibAlphaSeconds(db, pxBytes);
    std::printf("alpha fields of every record: ours %.3f s, pxlib %.3f s (pxlib / ours = %.2f)%s\n",
                oursAlpha, pxAlpha, pxAlpha / oursAlpha,
                pxBytes == alphaBytes ? "" : " VALUES DIFFER");
#else
    std::printf("alpha fields of every record: ours %.3f s (pxlib not available)\n", oursAlpha);
#endif

    // BLOBs: every value of the BLOB columns, against reading the .mb's bytes: into new memory,
    // as a reader does the first time (a vector, and memory of the kind the table reads its files
    // into: huge pages where the system offers them), and again into memory the process already
    // uses.
    double rawSeconds = 0;
    double rawImageSeconds = 0;
    double rawWarmSeconds = 0;
    {
        start = Clock::now();
        {
            const platform::File file(mbPath, platform::File::Mode::Read);
            const platform::ByteBuffer image = file.ReadAll();
            rawImageSeconds = Seconds(start);
        }
        start = Clock::now();
        std::vector<char> bytes = ReadWhole(mbPath);
        rawSeconds = Seconds(start);
        std::ifstream in(mbPath, std::ios::binary);
        start = Clock::now();
        in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        rawWarmSeconds = Seconds(start);
    }
    std::size_t blobBytes = 0;
    double blobSeconds = 0;
    {
        auto table = ParadoxTable::Open(db, {false, true});
        start = Clock::now(); // the .mb is read with the first value
        const int fields = static_cast<int>(table->Info().fields.size());
        for (std::uint32_t r = 0; r < table->RecordCount(); ++r) {
            const RecordView record = table->Record(r);
            for (int f = 4; f < fields; ++f) {
                if (!record.IsNull(f)) {
                    blobBytes += table->BlobView(record, f).size();
                }
            }
        }
        blobSeconds = Seconds(start);
        start = Clock::now();
        std::size_t again = 0;
        for (std::uint32_t r = 0; r < table->RecordCount(); ++r) {
            const RecordView record = table->Record(r);
            for (std::size_t f = 4; f < table->Info().fields.size(); ++f) {
                if (!record.IsNull(static_cast<int>(f))) {
                    again += table->ReadBlob(record, static_cast<int>(f)).size();
                }
            }
        }
        std::printf("BLOB values copied out, .mb already in memory: %.3f s\n", Seconds(start));
    }
    // The columns a language table fills, on a handle of their own: what a grid or an export
    // reads.
    double filledSeconds = 0;
    std::size_t filledBytes = 0;
    {
        auto table = ParadoxTable::Open(db, {false, true});
        std::vector<int> filled;
        for (const char* name : {"Native", "English", "German", "French (France)"}) {
            filled.push_back(table->Info().FieldIndex(name));
        }
        start = Clock::now();
        for (std::uint32_t r = 0; r < table->RecordCount(); ++r) {
            const RecordView record = table->Record(r);
            for (const int f : filled) {
                filledBytes += table->BlobView(record, f).size();
            }
        }
        filledSeconds = Seconds(start);
    }
    const double mbBytes = static_cast<double>(std::filesystem::file_size(mbPath));
    std::printf("raw read of the .mb: into a new vector %.3f s = %.0f MB/s; into new memory as the "
                "table's %.3f s = %.0f MB/s; into memory in use %.3f s = %.0f MB/s\n",
                rawSeconds, mbBytes / 1e6 / rawSeconds, rawImageSeconds,
                mbBytes / 1e6 / rawImageSeconds, rawWarmSeconds, mbBytes / 1e6 / rawWarmSeconds);
    std::printf("BLOB values, every BLOB column (39 per record, .mb read with the first value): "
                "%.1f MB of values from a %.1f MB .mb in %.3f s = %.0f MB/s of the file (%.2fx "
                "the raw read into a new vector, %.2fx into new memory as the table's, %.2fx "
                "into memory in use)\n",
                blobBytes / 1e6, mbBytes / 1e6, blobSeconds, mbBytes / 1e6 / blobSeconds,
                blobSeconds / rawSeconds, blobSeconds / rawImageSeconds,
                blobSeconds / rawWarmSeconds);
    std::printf("BLOB values, the four filled columns: %.1f MB in %.3f s = %.0f MB/s of the file "
                "(%.2fx the raw read into a new vector, %.2fx into new memory as the table's, "
                "%.2fx into memory in use)\n",
                filledBytes / 1e6, filledSeconds, mbBytes / 1e6 / filledSeconds,
                filledSeconds / rawSeconds, filledSeconds / rawImageSeconds,
                filledSeconds / rawWarmSeconds);

    // 1% update as one commit, against rewriting every file; each three times, the median taken.
    // The changed records are composed first (timed apart), as the rewrite has its bytes ready.
    // A commit is durable when it returns (its journal is on disk); the table files are flushed
    // on a thread of the table's own, finished at the latest when the table closes.
    std::vector<double> composed, commits, flushed, rewrites;
    std::size_t updated = 0;
    for (int round = 0; round < 3; ++round) {
        auto table = ParadoxTable::Open(db, {true, false});
        const int german = table->Info().FieldIndex("German");
        std::vector<std::uint32_t> chosen;
        for (std::uint32_t i = 0; i < records / 100; ++i) {
            chosen.push_back(static_cast<std::uint32_t>(texts.Random()() % records));
        }
        std::sort(chosen.begin(), chosen.end());
        chosen.erase(std::unique(chosen.begin(), chosen.end()), chosen.end());
        updated = chosen.size();
        start = Clock::now();
        Transaction batch(*table);
        for (const std::uint32_t i : chosen) {
            RecordBuffer record = table->EditRecord(i);
            record.Set(german, FieldValue::FromBytes(texts.Next("German") + " (revised)"));
            batch.Update(i, std::move(record));
        }
        composed.push_back(Seconds(start));
        start = Clock::now();
        batch.Commit();
        commits.push_back(Seconds(start));
        table.reset();
        flushed.push_back(Seconds(start));
        rewrites.push_back(RewriteSeconds(db, folder));
    }
    const auto median = [](std::vector<double> values) {
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    };
    const double commit = median(commits), flush = median(flushed), rewrite = median(rewrites);
    std::printf("1%% update (%zu records, median of 3): composed in %.3f s; committed in %.3f s, "
                "durable; files flushed after %.3f s; rewriting the files: %.3f s (commit / "
                "rewrite = %.3f; with the flush %.3f; composing and committing %.3f)\n",
                updated, median(composed), commit, flush, rewrite, commit / rewrite,
                flush / rewrite, (median(composed) + commit) / rewrite);
    if (std::getenv("KELVARA_BENCH_KEEP") == nullptr) {
        std::filesystem::remove_all(folder);
    }
    return 0;
}
