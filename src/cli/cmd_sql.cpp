// sql STATEMENT... [--database FOLDER]: runs a query statement and prints the result in the dump
// format: a header line of the result's column names, then one line per record with each value's
// stored text. The statement may span lines; several arguments are its lines, in order.

#include "cli/command.h"
#include "cli/dump_writer.h"
#include "engine/query.h"

#include <iostream>
#include <memory>
#include <string>

namespace kelvara::cli {
namespace {

void RunStatement(const std::vector<std::string>& lines, const std::string& database,
                  std::ostream& out) {
    TQuery query;
    query.SetDatabaseName(database);
    query.SetSQL(lines);
    query.Open();
    DumpWriter writer(out);
    writer.WriteHeader(query.FieldDefNames());
    std::vector<std::string> values(static_cast<std::size_t>(query.FieldCount()));
    for (query.First(); !query.Eof(); query.Next()) {
        for (int i = 0; i < query.FieldCount(); ++i) {
            values[static_cast<std::size_t>(i)] = query.FieldAt(i).AsString();
        }
        writer.WriteRecord(values);
    }
}

const CommandRegistration registration("sql", [](CLI::App& app) {
    auto* command = app.add_subcommand("sql", "Run a query statement and print its result");
    auto statement = std::make_shared<std::vector<std::string>>();
    auto database = std::make_shared<std::string>();
    command
        ->add_option("STATEMENT", *statement,
                     "The statement, whole or as its lines, e.g. select * from \"x.db\"")
        ->required();
    command->add_option("--database", *database,
                        "The folder relative table paths are taken in (default: the current one)");
    command->callback([statement, database] {
        RunStatement(*statement, *database, std::cout);
        std::cout.flush();
    });
});

} // namespace
} // namespace kelvara::cli
