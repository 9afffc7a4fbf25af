// info TABLE: what a Paradox table holds. File version, code page, sort order, record count and
// the columns in order with type and size; for a language table also the catalogue columns it
// lacks (required ones keep it from opening, optional ones do not) and, last, whether the data
// module opens it: "opens: yes" or "opens: no (<reason>)".

#include "cli/command.h"
#include "cli/dump_writer.h"
#include "engine/paradox_table.h"
#include "store/data_module.h"
#include "store/language_catalogue.h"
#include "store/unattended_user.h"

#include <algorithm>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace kelvara::cli {
namespace {

std::string FileVersionText(int version) {
    return std::to_string(version / 10) + "." + std::to_string(version % 10);
}

bool HasColumn(const paradox::TableInfo& info, std::string_view name) {
    return info.FieldIndex(name) >= 0;
}

// A table that holds any of the columns only language tables have.
bool LooksLikeLanguageTable(const paradox::TableInfo& info) {
    for (const std::string_view name :
         {kFormNameColumn, kComponentNameColumn, kPropertyNameColumn, kNativeColumn}) {
        if (HasColumn(info, name)) {
            return true;
        }
    }
    return std::any_of(kTextColumns.begin(), kTextColumns.end(),
                       [&](const TTextColumn& column) { return HasColumn(info, column.Name); });
}

std::string JoinOrNone(const std::vector<std::string>& names) {
    if (names.empty()) {
        return "none";
    }
    std::string joined;
    for (const std::string& name : names) {
        joined += (joined.empty() ? "" : ", ") + EscapeDumpValue(name);
    }
    return joined;
}

void PrintColumns(const paradox::TableInfo& info, std::ostream& out) {
    out << "columns: " << info.fields.size() << '\n';
    for (std::size_t i = 0; i < info.fields.size(); ++i) {
        const paradox::FieldDef& def = info.fields[i].def;
        out << "column " << i + 1 << ": " << EscapeDumpValue(def.name) << ", "
            << paradox::FieldTypeName(def.type);
        const bool sized = def.type == paradox::FieldType::Alpha ||
                           def.type == paradox::FieldType::Bytes ||
                           def.type == paradox::FieldType::Bcd || paradox::IsBlobType(def.type);
        if (sized) {
            out << ' ' << def.size;
        }
        out << '\n';
    }
}

void PrintLanguageTableCheck(const std::string& path, const paradox::TableInfo& info,
                             std::ostream& out) {
    std::vector<std::string> lacksRequired;
    std::vector<std::string> lacksOptional;
    if (!HasColumn(info, kNativeColumn)) {
        lacksRequired.emplace_back(kNativeColumn);
    }
    for (const TTextColumn& column : kTextColumns) {
        if (!HasColumn(info, column.Name)) {
            (column.Required ? lacksRequired : lacksOptional).emplace_back(column.Name);
        }
    }
    out << "lacks required: " << JoinOrNone(lacksRequired) << '\n';
    out << "lacks optional: " << JoinOrNone(lacksOptional) << '\n';

    TUnattendedUser user(std::cerr);
    TDMLanguage dataModule(user);
    const auto failure = dataModule.CheckLanguageTable(path, "");
    if (failure) {
        out << "opens: no (" << EscapeDumpValue(*failure) << ")\n";
    } else {
        out << "opens: yes\n";
    }
}

void PrintInfo(const std::string& path, std::ostream& out) {
    paradox::TableInfo info;
    std::uint32_t records = 0;
    {
        const auto table =
            paradox::ParadoxTable::Open(path, {.exclusive = false, .readOnly = true});
        info = table->Info();
        records = table->RecordCount();
    }
    out << "file version: " << FileVersionText(info.fileVersion) << '\n';
    out << "code page: "
        << (info.codePage == 0 ? std::string("none") : std::to_string(info.codePage)) << '\n';
    out << "sort order: "
        << (info.sortOrderName.empty() ? "none" : EscapeDumpValue(info.sortOrderName)) << '\n';
    out << "records: " << records << '\n';
    PrintColumns(info, out);
    if (LooksLikeLanguageTable(info)) {
        PrintLanguageTableCheck(path, info, out);
    }
}

const CommandRegistration registration("info", [](CLI::App& app) {
    auto* command = app.add_subcommand(
        "info", "Print the file version, code page, record count and columns of a Paradox "
                "table; for a language table also the columns it lacks and whether it opens");
    auto table = std::make_shared<std::string>();
    command->add_option("TABLE", *table, "A Paradox table (.db)")->required();
    command->callback([table] { PrintInfo(*table, std::cout); });
});

} // namespace
} // namespace kelvara::cli
