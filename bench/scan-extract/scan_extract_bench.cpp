// Scan figures on a generated executable of 1,000 forms with 50 components each: the whole scan
// into a new language table (time, rows/s), and how that time divides between decoding the form
// streams and writing the rows; beside it, in the same run, the same streams converted by Free
// Pascal's Classes unit and the same rows written into a table by pxlib, where those are
// available, and a sample of rows written one by one to the file. Prints; asserts nothing.
//
// Usage: bench_scan_extract [folder] [forms] [components per form]

#include "engine/table.h"
#include "scan/dfm_scanner.h"
#include "scan/exe_image.h"
#include "scan/form_builder.h"
#include "scan/language_scanner.h"
#include "scan/pe_builder.h"
#include "store/create_db.h"
#include "store/language_catalogue.h"

#ifdef KELVARA_BENCH_PXLIB
#include "store/pxlib_table_writer.h"
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace kelvara;
namespace form = test::form;
namespace pe = test::pe;
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A component of one of the kinds forms usually hold, with the layout properties that give no
// rows around its texts.
form::Object Component(int form, int index) {
    const std::string n = std::to_string(index);
    std::vector<form::Property> layout{{"Left", form::Int(8 * index)},
                                       {"Top", form::Int(300 + index)},
                                       {"Width", form::Int(75)},
                                       {"Height", form::Int(25)},
                                       {"Font.Name", form::Text("MS Sans Serif")},
                                       {"Font.Style", form::Set({"fsBold"})},
                                       {"TabOrder", form::Int(index)}};
    const auto with = [&](std::vector<form::Property> texts) {
        texts.insert(texts.begin(), layout.begin(), layout.end());
        return texts;
    };
    const std::string text = "Text " + std::to_string(form) + "." + n;
    switch (index % 6) {
    case 0:
        return {"TLabel", "Label" + n, with({{"Caption", form::Text(text)}})};
    case 1:
        return {"TButton", "Button" + n,
                with({{"Caption", form::Text("&" + text)}, {"Hint", form::Text("Hint " + n)}})};
    case 2:
        return {"TEdit", "Edit" + n, with({{"Text", form::Text(text)}})};
    case 3:
        return {"TListBox", "List" + n,
                with({{"Items.Strings",
                       form::List({form::Text("One"), form::Text("Two"), form::Text(text)})}})};
    case 4:
        return {"TPanel", "Panel" + n,
                with({{"Caption", form::Text(text)}, {"Hint", form::Text("Panel hint")}})};
    default:
        return {"TStatusBar", "Status" + n,
                with({{"Panels", form::Collection({form::Item{{{"Text", form::Text(text)},
                                                               {"Width", form::Int(100)}}},
                                                   form::Item{{{"Width", form::Int(50)}}}})}})};
    }
}

std::vector<std::vector<std::uint8_t>> FormStreams(int forms, int components) {
    std::vector<std::vector<std::uint8_t>> streams;
    for (int f = 0; f < forms; ++f) {
        form::Object root{"TForm" + std::to_string(f),
                          "Form" + std::to_string(f),
                          {{"Caption", form::Text("Window " + std::to_string(f))},
                           {"ClientWidth", form::Int(640)},
                           {"ClientHeight", form::Int(480)}},
                          {}};
        for (int c = 0; c < components; ++c) {
            root.children.push_back(Component(f, c));
        }
        streams.push_back(form::FormStream(root));
    }
    return streams;
}

struct Row {
    std::string form, component, property, native;
};

std::vector<Row> ReadRows(const std::string& path) {
    TTable table;
    table.SetTableName(path);
    table.Open();
    std::vector<Row> rows;
    for (table.First(); !table.Eof(); table.Next()) {
        rows.push_back({table.FieldByName("Form_Name").AsString(),
                        table.FieldByName("Component_Name").AsString(),
                        table.FieldByName("Property_Name").AsString(),
                        table.FieldByName("Native").AsString()});
    }
    return rows;
}

// Decoding alone, as the scan does it: every form resource into a stream and through the reader.
double DecodeSeconds(const std::string& exe, std::size_t& bytes) {
    const auto start = Clock::now();
    TExeImage image(exe);
    TDFMScanner reader;
    TResourceList& types = image.Resources();
    for (int i = 0; i < types.Count(); ++i) {
        if (!types.Items(i).Name().starts_with("RCData")) {
            continue;
        }
        TResourceList& list = types.Items(i).List();
        for (int j = 0; j < list.Count(); ++j) {
            TMemoryStream stream;
            list.Items(j).SaveToStream(stream);
            bytes += stream.Size();
            reader.SetStream(&stream);
            stream.SetPosition(0);
            reader.Parse();
        }
    }
    return SecondsSince(start);
}

// Writing alone: the same rows through the scanner's row writer, collected in the change cache
// and applied at the end as Scan does; or, with perRow, each posted to the file by itself.
double WriteSeconds(const std::string& path, const std::vector<Row>& rows, std::size_t count,
                    bool perRow) {
    CreateLanguageTable("", path);
    TTable table;
    table.SetTableName(path);
    table.SetExclusive(true);
    TLanguageScanner scanner;
    scanner.SetTable(&table);
    const auto start = Clock::now();
    table.SetCachedUpdates(!perRow);
    for (std::size_t i = 0; i < count && i < rows.size(); ++i) {
        scanner.AddRow(rows[i].form, rows[i].component, rows[i].property, rows[i].native);
    }
    if (!perRow) {
        table.ApplyUpdates();
    }
    return SecondsSince(start);
}

#ifdef KELVARA_BENCH_PXLIB
double PxlibWriteSeconds(const std::string& path, const std::vector<Row>& rows, std::size_t count) {
    std::vector<std::string> languages(kCreationLanguages.begin(), kCreationLanguages.end());
    const auto columns = kelvara::testing::LanguageTableColumns(languages);
    std::vector<kelvara::testing::PxRecord> records;
    records.reserve(count);
    for (std::size_t i = 0; i < count && i < rows.size(); ++i) {
        kelvara::testing::PxRecord record(columns.size());
        record[0] = std::to_string(i + 1);
        record[1] = rows[i].form;
        record[2] = rows[i].component;
        record[3] = rows[i].property;
        record[4] = rows[i].native;
        records.push_back(std::move(record));
    }
    const auto start = Clock::now();
    kelvara::testing::WritePxlibTable(path, columns, records);
    return SecondsSince(start);
}
#endif

// Free Pascal's converter over the same streams (binary to text, in memory): "BYTES MS", or
// nothing when it is not available.
std::string FormconvFigures(const std::filesystem::path& folder,
                            const std::vector<std::vector<std::uint8_t>>& streams) {
    const std::string formconv = KELVARA_BENCH_FORMCONV;
    if (formconv.empty() || !std::filesystem::exists(formconv)) {
        return {};
    }
    const auto streamFolder = folder / "streams";
    std::filesystem::create_directories(streamFolder);
    std::string command = "'" + formconv + "' bench 1";
    for (std::size_t i = 0; i < streams.size(); ++i) {
        const auto path = streamFolder / ("form" + std::to_string(i) + ".tpf0");
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(streams[i].data()),
                   static_cast<std::streamsize>(streams[i].size()));
        command += " '" + path.string() + "'";
    }
    const auto output = folder / "formconv.txt";
    if (std::system((command + " >'" + output.string() + "'").c_str()) != 0) {
        return {};
    }
    std::string line;
    std::getline(std::ifstream(output) >> std::ws, line);
    return line;
}

} // namespace

int main(int argc, char** argv) {
    const std::filesystem::path folder =
        argc > 1 ? std::filesystem::path(argv[1])
                 : std::filesystem::temp_directory_path() / "kelvara-bench-scan";
    const int forms = argc > 2 ? std::atoi(argv[2]) : 1000;
    const int components = argc > 3 ? std::atoi(argv[3]) : 50;
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);

    auto start = Clock::now();
    const auto streams = FormStreams(forms, components);
    pe::Image image;
    for (std::size_t i = 0; i < streams.size(); ++i) {
        std::u16string name = u"TFORM";
        for (const char c : std::to_string(i)) {
            name += static_cast<char16_t>(c);
        }
        image.resources.push_back({pe::Id(10), pe::Named(name), {{0x409, streams[i]}}});
    }
    const std::string exe = (folder / "generated.exe").string();
    {
        const auto bytes = pe::Build(image).bytes;
        std::ofstream(exe, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }
    std::printf("generated executable: %d forms of %d components, %.1f MB, built in %.2f s\n",
                forms, components, static_cast<double>(std::filesystem::file_size(exe)) / 1e6,
                SecondsSince(start));

    // The first scan of a process also pays for memory and file pages it touches the first
    // time; the shares are taken from the best of the later runs (the machine is shared, so
    // single runs vary).
    const std::string tablePath = (folder / "scanned.db").string();
    double scanSeconds = 1e9;
    int rowCount = 0;
    for (int run = 0; run < 3; ++run) {
        start = Clock::now();
        CreateLanguageTable("", tablePath);
        const double createSeconds = SecondsSince(start);
        TTable table;
        table.SetTableName(tablePath);
        table.SetExclusive(true);
        TLanguageScanner scanner;
        scanner.SetTable(&table);
        scanner.SetExeName(exe);
        scanner.SetVersionLabel("bench");
        start = Clock::now();
        scanner.Scan();
        const double seconds = SecondsSince(start);
        rowCount = scanner.RowCount();
        std::printf("%s: %d rows in %.3f s, %.0f rows/s (creating the table before: %.3f s)\n",
                    run == 0 ? "first scan in the process" : "scan again", rowCount, seconds,
                    rowCount / seconds, createSeconds);
        if (run > 0) {
            scanSeconds = std::min(scanSeconds, seconds);
        }
    }

    std::size_t streamBytes = 0;
    double decodeSeconds = 1e9;
    double writeSeconds = 1e9;
    const std::vector<Row> rows = ReadRows(tablePath);
    for (int run = 0; run < 3; ++run) {
        streamBytes = 0;
        decodeSeconds = std::min(decodeSeconds, DecodeSeconds(exe, streamBytes));
        writeSeconds = std::min(
            writeSeconds, WriteSeconds((folder / "written.db").string(), rows, rows.size(), false));
    }
    std::printf("best of the later scans: %.3f s, %.0f rows/s; of that, best of 3 each:\n",
                scanSeconds, rowCount / scanSeconds);
    std::printf("  decoding the forms: %.3f s (%.0f%% of the scan), %.1f MB/s\n", decodeSeconds,
                100 * decodeSeconds / scanSeconds,
                static_cast<double>(streamBytes) / 1e6 / decodeSeconds);
    std::printf("  writing the rows:   %.3f s (%.0f%% of the scan), %.0f rows/s\n", writeSeconds,
                100 * writeSeconds / scanSeconds, static_cast<double>(rows.size()) / writeSeconds);
    std::printf("  the rest:           %.3f s (walk, rules, resource lists; near 0 means the "
                "scan costs no more than its two parts)\n",
                scanSeconds - decodeSeconds - writeSeconds);

    const std::size_t sample = 200;
    const double perRowSeconds = WriteSeconds((folder / "per-row.db").string(), rows, sample, true);
    std::printf("rows posted one by one to the file (no cache), %zu-row sample: %.0f rows/s\n",
                sample, static_cast<double>(sample) / perRowSeconds);

    const std::string formconv = FormconvFigures(folder, streams);
    if (formconv.empty()) {
        std::printf("peer, Free Pascal ObjectBinaryToText: not available\n");
    } else {
        double bytes = 0, milliseconds = 0;
        std::sscanf(formconv.c_str(), "%lf %lf", &bytes, &milliseconds);
        std::printf("peer, Free Pascal ObjectBinaryToText of the same streams: %.3f s, %.1f MB/s\n",
                    milliseconds / 1000, milliseconds > 0 ? bytes / 1e3 / milliseconds : 0.0);
    }
#ifdef KELVARA_BENCH_PXLIB
    // pxlib writes about 400 rows/s whatever the table's size; a sample keeps the run short.
    const std::size_t pxlibSample = std::min<std::size_t>(rows.size(), 5000);
    const double pxlibSeconds =
        PxlibWriteSeconds((folder / "pxlib.db").string(), rows, pxlibSample);
    std::printf("peer, pxlib writing the same rows, %zu-row sample: %.3f s, %.0f rows/s\n",
                pxlibSample, pxlibSeconds, static_cast<double>(pxlibSample) / pxlibSeconds);
#else
    std::printf("peer, pxlib: not available\n");
#endif
    std::filesystem::remove_all(folder);
    return 0;
}
