// Table handle figures on a 100,000-record language table (43 columns, text in Native and three
// languages): walking every record reading two text fields, caching 10,000 edits and applying
// them (bytes written against the size of the blocks that changed, time against a full
// rewrite), and cancelling 10,000 cached edits. Prints; asserts nothing.
//
// Usage: bench_table_handle [folder] [records] [keep]  (keep: leave the table in the folder)

#include "engine/batch_move.h"
#include "engine/paradox_table.h"
#include "engine/table.h"
#include "store/create_db.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using namespace kelvara;
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void DefineLanguageTable(TTable& table) {
    table.FieldDefs() = LanguageTableFieldDefs();
    table.IndexDefs() = LanguageTableIndexDefs();
}

std::string Sentence(int i, const char* flavour) {
    return std::string(flavour) + " text of component " + std::to_string(i) +
           (i % 7 == 0 ? "\r\nsecond line of the message" : "") +
           (i % 3 == 0 ? ": a longer caption that does not fit the record" : "");
}

// Every file of the table (.db, .mb, .px) as bytes.
std::vector<std::string> FilesOf(const std::string& dbPath) {
    std::vector<std::string> files;
    for (const char* extension : {".db", ".mb", ".px"}) {
        std::filesystem::path path(dbPath);
        path.replace_extension(extension);
        std::ifstream in(path, std::ios::binary);
        files.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return files;
}

// Bytes in blocks of `block` bytes that differ between two versions of a file (a block that is
// new or gone counts whole).
std::uint64_t ChangedBlockBytes(const std::string& before, const std::string& after,
                                std::size_t block) {
    std::uint64_t changed = 0;
    const std::size_t size = std::max(before.size(), after.size());
    for (std::size_t offset = 0; offset < size; offset += block) {
        const std::string a = offset < before.size() ? before.substr(offset, block) : "";
        const std::string b = offset < after.size() ? after.substr(offset, block) : "";
        if (a != b) {
            changed += std::max(a.size(), b.size());
        }
    }
    return changed;
}

// Bytes this process has passed to write calls so far (Linux); 0 where unknown.
std::uint64_t BytesWrittenSoFar() {
    std::ifstream io("/proc/self/io");
    std::string key;
    std::uint64_t value = 0;
    while (io >> key >> value) {
        if (key == "wchar:") {
            return value;
        }
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::filesystem::path folder =
        argc > 1 ? std::filesystem::path(argv[1])
                 : std::filesystem::temp_directory_path() / "kelvara-bench-table";
    const int records = argc > 2 ? std::stoi(argv[2]) : 100000;
    std::filesystem::create_directories(folder);
    const std::string path = (folder / "lang.db").string();
    const std::string copyPath = (folder / "rewrite.db").string();

    // --- The table, written as one unit.
    auto start = Clock::now();
    {
        TTable table;
        table.SetTableName(path);
        DefineLanguageTable(table);
        table.CreateTable();
        table.Open();
        const int english = table.FieldByName("English").Index();
        const int german = table.FieldByName("German").Index();
        const int french = table.FieldByName("French (France)").Index();
        table.AppendToFile(static_cast<std::size_t>(records),
                           [&](std::size_t n, std::vector<TFieldValue>& values) {
                               const int i = static_cast<int>(n);
                               values[1] = "Form" + std::to_string(i / 50);
                               values[2] = "Component" + std::to_string(i);
                               values[3] = std::string(i % 2 ? "Caption" : "Hint");
                               values[4] = Sentence(i, "Native");
                               values[static_cast<std::size_t>(english)] = Sentence(i, "English");
                               values[static_cast<std::size_t>(german)] = Sentence(i, "Deutsch");
                               values[static_cast<std::size_t>(french)] = Sentence(i, "Francais");
                           });
    }
    std::printf("create + append %d records as one unit: %.2f s\n", records, SecondsSince(start));

    TTable table;
    table.SetTableName(path);
    table.SetCachedUpdates(true);
    table.SetUpdateMode(TUpdateMode::upWhereChanged);
    start = Clock::now();
    table.Open();
    std::printf("open: %.3f s\n", SecondsSince(start));

    // --- Walk, reading two text fields (an alpha and a BLOB), through the handle and directly.
    {
        TField& form = table.FieldByName("Form_Name");
        TField& native = table.FieldByName("Native");
        std::size_t bytes = 0;
        int walked = 0;
        int scrolls = 0;
        table.AfterScroll = [&](TDataSet&) { ++scrolls; };
        start = Clock::now();
        for (table.First(); !table.Eof(); table.Next()) {
            bytes += form.AsString().size() + native.AsString().size();
            ++walked;
        }
        const double handle = SecondsSince(start);
        table.AfterScroll = nullptr;

        auto store = paradox::ParadoxTable::Open(path);
        const int formIndex = store->Info().FieldIndex("Form_Name");
        const int nativeIndex = store->Info().FieldIndex("Native");
        std::size_t peerBytes = 0;
        start = Clock::now();
        for (std::uint32_t i = 0; i < store->RecordCount(); ++i) {
            const paradox::RecordView record = store->Record(i);
            peerBytes += std::string(record.Text(formIndex)).size() +
                         store->ReadBlob(record, nativeIndex).size();
        }
        const double direct = SecondsSince(start);
        std::printf(
            "walk %d records reading Form_Name and Native (%zu bytes, %d after-scrolls): "
            "%.3f s = %.0f ns per record and field; storage read directly: %.3f s = %.0f ns "
            "(handle / storage %.2f; %s)\n",
            walked, bytes, scrolls, handle, handle * 1e9 / walked / 2, direct,
            direct * 1e9 / walked / 2, handle / direct,
            bytes == peerBytes ? "same bytes" : "BYTES DIFFER");
    }

    // --- Cache 10,000 edits, then apply: once spread over the whole table (every block changes),
    // once on 10,000 neighbouring records.
    const int edits = std::min(10000, records);
    for (const int step : {records / edits, 1}) {
        std::printf("-- %d edits %s\n", edits,
                    step == 1 ? "of neighbouring records" : "spread over the table");
        TField& english = table.FieldByName("English");
        start = Clock::now();
        for (int k = 0; k < edits; ++k) {
            table.SetRecNo(k * step + 1);
            table.Edit();
            english.SetAsString("Edited English " + std::to_string(step) + " " + std::to_string(k));
            table.Post();
        }
        std::printf("cache %d edits: %.3f s\n", edits, SecondsSince(start));

        const std::vector<std::string> before = FilesOf(path);
        const std::uint64_t writtenBefore = BytesWrittenSoFar();
        start = Clock::now();
        table.ApplyUpdates();
        table.CommitUpdates();
        const double apply = SecondsSince(start);
        const std::uint64_t written = BytesWrittenSoFar() - writtenBefore;
        const std::vector<std::string> after = FilesOf(path);
        auto store = paradox::ParadoxTable::Open(path);
        const std::size_t dbBlock = store->Info().blockSize;
        store.reset();
        const std::uint64_t changed = ChangedBlockBytes(before[0], after[0], dbBlock) +
                                      ChangedBlockBytes(before[1], after[1], 4096) +
                                      ChangedBlockBytes(before[2], after[2], 4096);
        std::printf("apply %d edits: %.3f s; bytes written %llu against %llu bytes of changed "
                    "blocks (%.2fx; files %llu bytes)\n",
                    edits, apply, static_cast<unsigned long long>(written),
                    static_cast<unsigned long long>(changed),
                    changed ? static_cast<double>(written) / static_cast<double>(changed) : 0.0,
                    static_cast<unsigned long long>(before[0].size() + before[1].size() +
                                                    before[2].size()));

        // A full rewrite for comparison: every record copied into a fresh table as one unit.
        TTable copy;
        copy.SetTableName(copyPath);
        DefineLanguageTable(copy);
        copy.CreateTable();
        copy.Open();
        start = Clock::now();
        TBatchMove(&table, &copy).Execute();
        const double rewrite = SecondsSince(start);
        std::printf("full rewrite of the table (batch append into a new table): %.3f s "
                    "(apply / rewrite %.3f)\n",
                    rewrite, apply / rewrite);
        copy.Close();
        std::filesystem::remove(copyPath);
    }

    // --- Cache 10,000 edits, then cancel them.
    {
        const int step = records / edits;
        TField& german = table.FieldByName("German");
        for (int k = 0; k < edits; ++k) {
            table.SetRecNo(k * step + 1);
            table.Edit();
            german.SetAsString("Verworfen " + std::to_string(k));
            table.Post();
        }
        start = Clock::now();
        table.CancelUpdates();
        std::printf("cancel %d cached edits: %.4f s (%s)\n", edits, SecondsSince(start),
                    table.UpdatesPending() ? "STILL PENDING" : "nothing pending");
    }
    table.Close();

    // --- Posting straight to the file, record by record (a scan, appending messages, merge).
    {
        TTable direct;
        direct.SetTableName(path);
        direct.Open();
        const int posts = 1000;
        start = Clock::now();
        for (int k = 0; k < posts; ++k) {
            direct.Append();
            direct.FieldByName("Form_Name").SetAsString("Appended");
            direct.FieldByName("Native").SetAsString("appended record " + std::to_string(k));
            direct.Post();
        }
        const double appends = SecondsSince(start);
        start = Clock::now();
        for (int k = 0; k < posts; ++k) {
            direct.SetRecNo(k * (records / posts) + 1);
            direct.Edit();
            direct.FieldByName("German").SetAsString("direkt " + std::to_string(k));
            direct.Post();
        }
        std::printf(
            "cache off, %d appends one post each: %.3f s (%.2f ms a post); %d edits: %.3f s "
            "(%.2f ms a post)\n",
            posts, appends, appends * 1e3 / posts, posts, SecondsSince(start),
            SecondsSince(start) * 1e3 / posts);
    }
    if (argc <= 3) {
        std::filesystem::remove_all(folder);
    }
    return 0;
}
