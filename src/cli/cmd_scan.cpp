// scan EXECUTABLE TABLE [--label TEXT] [--force]: creates a new language table, scans every form
// resource of the executable into it and reports the forms and rows found. An existing file at
// TABLE is replaced only with --force. On a terminal a progress bar runs on standard error; in a
// pipe nothing is printed before the summary. When the scan fails, the table keeps the rows
// written before the failure, the summary says how far it got, and the command fails with the
// reader's message.

#include "cli/command.h"
#include "engine/table.h"
#include "scan/language_scanner.h"
#include "store/create_db.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace kelvara::cli {
namespace {

bool IsTerminal(std::FILE* stream) {
#ifdef _WIN32
    return _isatty(_fileno(stream)) != 0;
#else
    return isatty(fileno(stream)) != 0;
#endif
}

// A one-line progress bar fed by the scanner's callbacks: a run starts with a maximum and a
// caption, advances one step at a time, and ends with a maximum of 0.
class TerminalProgress {
public:
    explicit TerminalProgress(std::ostream& out) : out_(out) {}
    TerminalProgress(const TerminalProgress&) = delete;
    TerminalProgress& operator=(const TerminalProgress&) = delete;
    ~TerminalProgress() { Clear(); }

    void Start(int maximum, const std::string& caption) {
        maximum_ = std::max(maximum, 0);
        caption_ = caption;
        position_ = 0;
        if (maximum_ == 0 && caption_.empty()) {
            Clear();
        } else {
            Draw();
        }
    }

    void Step() {
        ++position_;
        if (position_ > maximum_) {
            position_ = 0;
        }
        Draw();
    }

private:
    static constexpr int kWidth = 30;

    void Draw() {
        const int filled = maximum_ > 0 ? position_ * kWidth / maximum_ : 0;
        std::string line = "\r" + caption_ + " [" + std::string(filled, '#') +
                           std::string(kWidth - filled, '.') + "] " + std::to_string(position_) +
                           "/" + std::to_string(maximum_);
        const std::size_t shown = line.size() - 1;
        if (shown < drawnWidth_) {
            line += std::string(drawnWidth_ - shown, ' ');
        }
        drawnWidth_ = std::max(drawnWidth_, shown);
        out_ << line << std::flush;
    }

    void Clear() {
        if (drawnWidth_ > 0) {
            out_ << '\r' << std::string(drawnWidth_, ' ') << '\r' << std::flush;
            drawnWidth_ = 0;
        }
    }

    std::ostream& out_;
    int maximum_ = 0;
    int position_ = 0;
    std::string caption_;
    std::size_t drawnWidth_ = 0;
};

struct ScanOptions {
    std::string executable;
    std::string table;
    std::string label;
    bool force = false;
};

void PrintSummary(const TLanguageScanner& scanner, std::ostream& out) {
    out << "Forms found: " << scanner.FormCount() << '\n'
        << "Rows written: " << scanner.RowCount() << '\n';
}

void Scan(const ScanOptions& options, std::ostream& out) {
    std::error_code error;
    if (!options.force && std::filesystem::exists(options.table, error)) {
        throw std::runtime_error(options.table + " already exists; use --force to replace it");
    }
    CreateLanguageTable("", options.table);
    TTable table;
    table.SetTableName(options.table);
    table.SetTableType(TTableType::ttParadox);
    table.SetExclusive(true);
    table.Open();

    TLanguageScanner scanner;
    scanner.SetTable(&table);
    scanner.SetExeName(options.executable);
    scanner.SetVersionLabel(options.label);
    std::unique_ptr<TerminalProgress> progress;
    if (IsTerminal(stderr)) {
        progress = std::make_unique<TerminalProgress>(std::cerr);
        scanner.SetOnProgressStart([bar = progress.get()](int maximum, const std::string& caption) {
            bar->Start(maximum, caption);
        });
        scanner.SetOnProgressStep([bar = progress.get()] { bar->Step(); });
    }
    try {
        scanner.Scan();
    } catch (...) {
        progress.reset();
        PrintSummary(scanner, out);
        throw;
    }
    progress.reset();
    PrintSummary(scanner, out);
}

const CommandRegistration registration("scan", [](CLI::App& app) {
    auto* command =
        app.add_subcommand("scan", "Scan the forms of an executable into a new language table");
    auto options = std::make_shared<ScanOptions>();
    command->add_option("EXECUTABLE", options->executable, "The executable to scan")->required();
    command->add_option("TABLE", options->table, "Path of the new language table (.db)")
        ->required();
    command->add_option("--label", options->label,
                        "Version label written into the version stamp record");
    command->add_flag("--force", options->force, "Replace an existing file at TABLE");
    command->callback([options] { Scan(*options, std::cout); });
});

} // namespace
} // namespace kelvara::cli
