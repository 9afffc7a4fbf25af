#pragma once
// Subcommands of kelvara-cli. Each command's source file registers itself with a static
// CommandRegistration; main builds the application from the registry in name order.
//
// A command reports failure by throwing an exception derived from std::exception; main prints its
// message as one line on standard error and exits with status 1.

#include <CLI/CLI.hpp>
#include <functional>
#include <string>

namespace kelvara::cli {

using CommandSetup = std::function<void(CLI::App& app)>;

struct CommandRegistration {
    CommandRegistration(std::string name, CommandSetup setup);
};

// Adds every registered command to app.
void AddRegisteredCommands(CLI::App& app);

} // namespace kelvara::cli
