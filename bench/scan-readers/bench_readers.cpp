// bench_scan_readers [ROUNDS]: decode throughput of TDFMScanner over a large synthetic form stream
// and over every form stream of the corpus, beside Free Pascal's ObjectBinaryToText converting the
// same streams in memory (its own timing, measured inside the Pascal program).

#include "scan/dfm_scanner.h"
#include "scan/extended_float.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

void Short(Bytes& out, const std::string& text) {
    out.push_back(static_cast<std::uint8_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}
void Le(Bytes& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

// A form with many components of the kinds real forms hold: integers, identifiers, texts, sets,
// string lists, a collection, binary data and extended numbers. Only kinds that Free Pascal's
// converter also reads.
Bytes SyntheticForm(int components) {
    Bytes out = {'T', 'P', 'F', '0'};
    Short(out, "TBigForm");
    Short(out, "BigForm");
    Short(out, "Caption");
    out.push_back(6);
    Short(out, "A large synthetic form");
    out.push_back(0);
    for (int i = 0; i < components; ++i) {
        const std::string index = std::to_string(i);
        Short(out, i % 10 == 0 ? "TStatusBar" : "TButton");
        Short(out, "Component" + index);
        for (const char* name : {"Left", "Top", "Width", "Height"}) {
            Short(out, name);
            out.push_back(3);
            Le(out, static_cast<std::uint16_t>(i * 7 % 3000), 2);
        }
        Short(out, "Caption");
        out.push_back(6);
        Short(out, "Caption of component " + index);
        Short(out, "Hint");
        out.push_back(6);
        Short(out, "A hint that says what component " + index + " does");
        Short(out, "Font.Style");
        out.push_back(11);
        Short(out, "fsBold");
        Short(out, "fsItalic");
        out.push_back(0);
        Short(out, "ParentFont");
        out.push_back(8);
        Short(out, "OnClick");
        out.push_back(7);
        Short(out, "Component" + index + "Click");
        Short(out, "Scale");
        out.push_back(5);
        const auto scale = kelvara::DoubleToExtended(1.0 + i / 1000.0);
        out.insert(out.end(), scale.begin(), scale.end());
        if (i % 5 == 0) {
            Short(out, "Items.Strings");
            out.push_back(1);
            for (int line = 0; line < 8; ++line) {
                out.push_back(6);
                Short(out, "Line " + std::to_string(line) + " of the list");
            }
            out.push_back(0);
        }
        if (i % 10 == 0) {
            Short(out, "Panels");
            out.push_back(14);
            for (int item = 0; item < 3; ++item) {
                out.push_back(1);
                Short(out, "Text");
                out.push_back(6);
                Short(out, "Panel " + std::to_string(item));
                Short(out, "Width");
                out.push_back(2);
                out.push_back(50);
                out.push_back(0);
            }
            out.push_back(0);
        }
        if (i % 25 == 0) {
            Short(out, "Glyph.Data");
            out.push_back(10);
            Le(out, 1024, 4);
            out.insert(out.end(), 1024, 0x42);
        }
        out.push_back(0); // end of properties
        out.push_back(0); // no children
    }
    out.push_back(0);
    return out;
}

Bytes ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Seconds for decoding every stream rounds times.
double TimeOurs(const std::vector<Bytes>& streams, int rounds, std::size_t& bytes) {
    kelvara::TDFMScanner scanner;
    bytes = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int round = 0; round < rounds; ++round) {
        for (const Bytes& stream : streams) {
            kelvara::TMemoryStream memory(stream);
            scanner.SetStream(&memory);
            scanner.Parse();
            bytes += stream.size();
        }
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Free Pascal's time for the same streams, or a negative number when it cannot run.
double TimeFreePascal(const std::vector<fs::path>& files, int rounds, std::size_t& bytes) {
    const std::string formconv = KELVARA_FORMCONV;
    if (formconv.empty() || files.empty()) {
        return -1;
    }
    std::string command = "'" + formconv + "' bench " + std::to_string(rounds);
    for (const fs::path& file : files) {
        command += " '" + file.string() + "'";
    }
    const fs::path output = fs::path(KELVARA_BENCH_DIR) / "formconv.out";
    command += " > '" + output.string() + "'";
    if (std::system(command.c_str()) != 0) {
        return -1;
    }
    std::ifstream in(output);
    unsigned long long converted = 0, milliseconds = 0;
    in >> converted >> milliseconds;
    bytes = converted;
    return milliseconds / 1000.0;
}

void Report(const char* what, const std::vector<Bytes>& streams, const std::vector<fs::path>& files,
            int rounds) {
    std::size_t ourBytes = 0, theirBytes = 0;
    const double ours = TimeOurs(streams, rounds, ourBytes);
    const double theirs = TimeFreePascal(files, rounds, theirBytes);
    const double megabytes = ourBytes / 1e6;
    std::printf("%-34s %3zu stream(s) x %4d rounds, %8.2f MB\n", what, streams.size(), rounds,
                megabytes);
    std::printf("  TDFMScanner::Parse            %8.3f s  %8.1f MB/s\n", ours, megabytes / ours);
    if (theirs > 0) {
        std::printf("  Free Pascal ObjectBinaryToText %7.3f s  %8.1f MB/s\n", theirs,
                    theirBytes / 1e6 / theirs);
    } else {
        std::printf("  Free Pascal ObjectBinaryToText: not run (converter missing)\n");
    }
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 20;
    const fs::path folder(KELVARA_BENCH_DIR);
    fs::create_directories(folder);

    const Bytes synthetic = SyntheticForm(20000);
    const fs::path syntheticFile = folder / "synthetic.tpf0";
    std::ofstream(syntheticFile, std::ios::binary)
        .write(reinterpret_cast<const char*>(synthetic.data()),
               static_cast<std::streamsize>(synthetic.size()));
    Report("synthetic form", {synthetic}, {syntheticFile}, rounds);

    std::vector<fs::path> files;
    const fs::path corpus(KELVARA_CORPUS_DIR);
    for (const fs::path& sub : {corpus / "forms", corpus / "exe" / "forms"}) {
        if (!fs::is_directory(sub)) {
            continue;
        }
        for (const auto& entry : fs::recursive_directory_iterator(sub)) {
            if (entry.path().extension() == ".tpf0") {
                files.push_back(entry.path());
            }
        }
    }
    if (files.empty()) {
        std::printf("corpus streams: corpus not found at %s\n", corpus.string().c_str());
        return 0;
    }
    std::sort(files.begin(), files.end());
    std::vector<Bytes> streams;
    for (const fs::path& file : files) {
        streams.push_back(ReadFile(file));
    }
    Report("corpus streams", streams, files, rounds * 10);
    return 0;
}
