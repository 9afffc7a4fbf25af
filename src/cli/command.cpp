#include "cli/command.h"

#include <map>

namespace kelvara::cli {
namespace {

std::map<std::string, CommandSetup>& Registry() {
    static std::map<std::string, CommandSetup> registry;
    return registry;
}

} // namespace

CommandRegistration::CommandRegistration(std::string name, CommandSetup setup) {
    Registry().emplace(std::move(name), std::move(setup));
}

void AddRegisteredCommands(CLI::App& app) {
    for (const auto& [name, setup] : Registry()) {
        setup(app);
    }
}

} // namespace kelvara::cli
