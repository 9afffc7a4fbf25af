// resources EXE: the resource tree of an executable as the reader sees it, one line per resource:
// type name, "/", resource name, TAB, size in bytes, in list order.

#include "cli/command.h"
#include "cli/dump_writer.h"
#include "scan/exe_image.h"

#include <iostream>
#include <string>

namespace kelvara::cli {
namespace {

void ListResources(const std::string& fileName, std::ostream& out) {
    TExeImage image(fileName);
    TResourceList& types = image.Resources();
    for (int i = 0; i < types.Count(); ++i) {
        TResourceItem& type = types.Items(i);
        const std::string typeName = EscapeDumpValue(type.Name());
        if (!type.IsList()) {
            out << typeName << '\t' << type.Size() << '\n';
            continue;
        }
        TResourceList& resources = type.List();
        for (int j = 0; j < resources.Count(); ++j) {
            TResourceItem& resource = resources.Items(j);
            out << typeName << '/' << EscapeDumpValue(resource.Name()) << '\t' << resource.Size()
                << '\n';
        }
    }
}

const CommandRegistration registration("resources", [](CLI::App& app) {
    auto* command = app.add_subcommand("resources", "List the resources of an executable");
    auto fileName = std::make_shared<std::string>();
    command->add_option("EXE", *fileName, "The executable")->required();
    command->callback([fileName] {
        ListResources(*fileName, std::cout);
        std::cout.flush();
    });
});

} // namespace
} // namespace kelvara::cli
