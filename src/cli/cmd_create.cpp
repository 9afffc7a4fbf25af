// create TABLE: makes an empty language table (the standard columns and indexes), replacing any
// table at that path.

#include "cli/command.h"
#include "store/create_db.h"

#include <memory>
#include <string>

namespace kelvara::cli {
namespace {

const CommandRegistration registration("create", [](CLI::App& app) {
    auto* command = app.add_subcommand(
        "create", "Create an empty language table, replacing any table at that path");
    auto table = std::make_shared<std::string>();
    command->add_option("TABLE", *table, "Path of the new table (.db)")->required();
    command->callback([table] { CreateLanguageTable("", *table); });
});

} // namespace
} // namespace kelvara::cli
