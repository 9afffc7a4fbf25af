// dump TABLE [--display]: every record of a Paradox table, one line each, fields in table order
// separated by TAB, under a header line of column names (the dump format of cli/dump_writer.h).
// A value is its stored text: numbers and dates as their text, a null as nothing. With --display
// the text columns of a language table show what the grid shows (line breaks as #13 and #10).

#include "cli/command.h"
#include "cli/dump_writer.h"
#include "engine/table.h"
#include "store/data_module.h"
#include "store/unattended_user.h"

#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace kelvara::cli {
namespace {

void Dump(const std::string& path, bool display, std::ostream& out) {
    TUnattendedUser user(std::cerr);
    TDMLanguage dataModule(user);
    TTable table;
    // Only a table that opens as a language table has the display conversion installed; any
    // other table shows its stored texts either way.
    if (!display || !dataModule.OpenLanguageTable(&table, path, "")) {
        table.SetTableName(path);
        table.SetTableType(TTableType::ttParadox);
        table.SetReadOnly(true);
        table.Open();
    }
    DumpWriter writer(out);
    writer.WriteHeader(table.FieldDefNames());
    std::vector<std::string> values(static_cast<std::size_t>(table.FieldCount()));
    for (int row = 0; row < table.RecordCount(); ++row) {
        for (int field = 0; field < table.FieldCount(); ++field) {
            values[static_cast<std::size_t>(field)] =
                display ? table.DisplayTextAt(row, field) : table.TextAt(row, field);
        }
        writer.WriteRecord(values);
    }
}

const CommandRegistration registration("dump", [](CLI::App& app) {
    auto* command = app.add_subcommand(
        "dump", "Print every record of a Paradox table, one line each, fields separated by TAB");
    auto table = std::make_shared<std::string>();
    auto display = std::make_shared<bool>(false);
    command->add_option("TABLE", *table, "A Paradox table (.db)")->required();
    command->add_flag("--display", *display,
                      "Show the text columns of a language table as the grid shows them");
    command->callback([table, display] { Dump(*table, *display, std::cout); });
});

} // namespace
} // namespace kelvara::cli
