#include <exception>
#include <iostream>
#include <string>

#include "cli/command.h"
#include "kelvara/version.h"

namespace {

// A failure is reported as exactly one line, whatever the message holds.
void ReportFailure(const std::string& message) {
    std::string line = message;
    for (char& c : line) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    std::cerr << "kelvara-cli: " << line << '\n';
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"Kelvara: the language table tool from the command line", "kelvara-cli"};
    app.set_version_flag("--version", std::string(kelvara::kProductVersion));
    app.require_subcommand(0, 1);
    kelvara::cli::AddRegisteredCommands(app);
    try {
        app.parse(argc, argv);
        if (argc <= 1) {
            std::cout << app.help();
        }
        return 0;
    } catch (const CLI::Success& e) {
        return app.exit(e);
    } catch (const CLI::Error& e) {
        ReportFailure(e.what());
        return e.get_exit_code() != 0 ? e.get_exit_code() : 1;
    } catch (const std::exception& e) {
        ReportFailure(e.what());
        return 1;
    }
}
