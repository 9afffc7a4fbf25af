// form FILE [--resource NAME]: decodes a form stream (a raw "TPF0" file, or RCDATA resources of an
// executable) and prints its object tree: one line per node, indented two spaces per depth,
// "ClassName Name"; under it, one level deeper, one line per property "Name=value text".

#include "cli/command.h"
#include "cli/dump_writer.h"
#include "scan/dfm_scanner.h"
#include "scan/exe_image.h"
#include "text/ascii.h"
#include "text/utf8_path.h"

#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>

namespace kelvara::cli {
namespace {

void PrintTree(const TObjectNode& root, std::ostream& out) {
    for (const TObjectNode* node = &root; node != nullptr; node = node->Next()) {
        int depth = 0;
        for (const TObjectNode* up = node->Parent(); up != nullptr; up = up->Parent()) {
            ++depth;
        }
        const std::string indent(static_cast<std::size_t>(2 * depth), ' ');
        out << indent << EscapeDumpValue(node->ClassName) << ' ' << EscapeDumpValue(node->Name)
            << '\n';
        for (int i = 0; i < node->PropertyCount(); ++i) {
            const TObjectProperty* property = node->Property(i);
            out << indent << "  " << EscapeDumpValue(property->Name) << '='
                << EscapeDumpValue(property->Text()) << '\n';
        }
    }
}

// Prints the tree read so far also when the stream fails (unless nothing was read), then lets the
// failure go on.
void DecodeAndPrint(TMemoryStream& stream, std::ostream& out) {
    TDFMScanner scanner;
    scanner.SetStream(&stream);
    try {
        scanner.Parse();
    } catch (...) {
        const TObjectNode& root = scanner.Root();
        if (!root.ClassName.empty() || !root.Name.empty() || root.PropertyCount() > 0 ||
            root.ChildCount() > 0) {
            PrintTree(root, out);
        }
        out.flush();
        throw;
    }
    PrintTree(scanner.Root(), out);
}

std::optional<std::vector<std::uint8_t>> ReadRawForm(const std::string& fileName) {
    std::ifstream in(Utf8ToPath(fileName), std::ios::binary);
    char signature[4] = {};
    if (!in || !in.read(signature, 4) || std::string_view(signature, 4) != "TPF0") {
        return std::nullopt;
    }
    in.seekg(0);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

bool BeginsWithSignature(std::span<const std::uint8_t> data) {
    return data.size() >= 4 && data[0] == 'T' && data[1] == 'P' && data[2] == 'F' && data[3] == '0';
}

void DecodeExecutable(const std::string& fileName, const std::optional<std::string>& resource,
                      std::ostream& out) {
    TExeImage image(fileName);
    TResourceList& types = image.Resources();
    bool found = false;
    for (int i = 0; i < types.Count(); ++i) {
        TResourceItem& type = types.Items(i);
        if (type.Name().rfind("RCData", 0) != 0 || !type.IsList()) {
            continue;
        }
        TResourceList& list = type.List();
        for (int j = 0; j < list.Count(); ++j) {
            TResourceItem& item = list.Items(j);
            if (resource ? !AsciiEqualIgnoringCase(item.Name(), *resource)
                         : !BeginsWithSignature(item.RawData())) {
                continue;
            }
            found = true;
            TMemoryStream stream;
            item.SaveToStream(stream);
            stream.SetPosition(0);
            DecodeAndPrint(stream, out);
            if (resource) {
                return;
            }
        }
    }
    if (resource && !found) {
        throw std::runtime_error("No RCDATA resource named " + *resource + " in " + fileName);
    }
}

void DecodeForm(const std::string& fileName, const std::optional<std::string>& resource,
                std::ostream& out) {
    if (std::optional<std::vector<std::uint8_t>> raw = ReadRawForm(fileName)) {
        if (resource) {
            throw std::runtime_error("--resource needs an executable; " + fileName +
                                     " is a form stream");
        }
        TMemoryStream stream(std::move(*raw));
        DecodeAndPrint(stream, out);
        return;
    }
    DecodeExecutable(fileName, resource, out);
}

const CommandRegistration registration("form", [](CLI::App& app) {
    auto* command = app.add_subcommand("form", "Print the object tree of a form stream");
    auto fileName = std::make_shared<std::string>();
    auto resource = std::make_shared<std::optional<std::string>>();
    command->add_option("FILE", *fileName, "A form stream or an executable")->required();
    command->add_option_function<std::string>(
        "--resource", [resource](const std::string& name) { *resource = name; },
        "The RCDATA resource to decode (default: every form of the executable)");
    command->callback([fileName, resource] {
        DecodeForm(*fileName, *resource, std::cout);
        std::cout.flush();
    });
});

} // namespace
} // namespace kelvara::cli
