// backup TABLE COPY: copies a language table as the Backup command does, without its dialog: a
// fresh language table at COPY (replacing any table there) with the standard columns plus every
// further column of TABLE, and every record in TABLE's order. Refused when COPY is TABLE itself.

#include "cli/command.h"
#include "engine/table.h"
#include "store/data_module.h"
#include "store/unattended_user.h"

#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>

namespace kelvara::cli {
namespace {

void Backup(const std::string& tablePath, const std::string& copyPath) {
    TUnattendedUser user(std::cerr);
    TDMLanguage dataModule(user);
    TTable source;
    if (!dataModule.OpenLanguageTable(&source, tablePath, "")) {
        const auto failure = dataModule.CheckLanguageTable(tablePath, "");
        throw std::runtime_error(tablePath + " does not open as a language table: " +
                                 failure.value_or("it cannot be opened"));
    }
    dataModule.CopyTable(source, copyPath);
}

const CommandRegistration registration("backup", [](CLI::App& app) {
    auto* command = app.add_subcommand(
        "backup", "Copy a language table with every column and record, replacing COPY");
    auto table = std::make_shared<std::string>();
    auto copy = std::make_shared<std::string>();
    command->add_option("TABLE", *table, "The language table to copy (.db)")->required();
    command->add_option("COPY", *copy, "Path of the copy (.db)")->required();
    command->callback([table, copy] { Backup(*table, *copy); });
});

} // namespace
} // namespace kelvara::cli
