// Writes the Paradox tables of tests/fixtures/store with Debian's pxlib, an implementation
// independent of ours: write_store_fixtures OUTPUT_FOLDER. The tables are committed; run this
// again only to change them (and then update the golden cases that read them).

#include "../pxlib_table_writer.h"

#include <iostream>
#include <string>

using kelvara::testing::CreationLanguagesWithout;
using kelvara::testing::LanguageTableColumns;
using kelvara::testing::PxColumn;
using kelvara::testing::PxRecord;
using kelvara::testing::WritePxlibTable;

namespace {

// A record of a language table: Index_No, key columns, Native, then one value per language
// column, null where not given.
PxRecord LanguageRecord(std::optional<std::string> index, std::string form, std::string component,
                        std::string property, std::optional<std::string> native,
                        std::size_t languageCount,
                        std::vector<std::pair<std::size_t, std::string>> values) {
    PxRecord record{std::move(index), std::move(form), std::move(component), std::move(property),
                    std::move(native)};
    record.resize(5 + languageCount);
    for (auto& [position, value] : values) {
        record[5 + position] = std::move(value);
    }
    return record;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: write_store_fixtures OUTPUT_FOLDER\n";
        return 2;
    }
    const std::string folder = argv[1];
    try {
        // Only "French" instead of the regional French columns, no Chinese, Hindi or Welsh, and
        // "Maori" at the end; line breaks, a TAB, a backslash and a typed code.
        auto languages =
            CreationLanguagesWithout({"French (Belgium)", "French (France)", "French (Switzerland)",
                                      "Chinese", "Hindi", "Welsh"});
        languages.push_back("French");
        languages.push_back("Maori");
        const std::size_t french = languages.size() - 2;
        const std::size_t maori = languages.size() - 1;
        const std::size_t english = 5; // after Arabic, Catalan, ChineseTrad, Danish, Dutch
        WritePxlibTable(
            folder + "/french-maori.db", LanguageTableColumns(languages),
            {LanguageRecord("1", "Version", "", "", "1.0", languages.size(), {}),
             LanguageRecord(
                 "2", "MainForm", "Label1", "Caption", "one\r\ntwo", languages.size(),
                 {{english, "one\r\ntwo"}, {french, "un\r\ndeux"}, {maori, "tahi\nrua"}}),
             LanguageRecord("3", "Main\nForm", "Hint", "Hint", "tab\there back\\slash",
                            languages.size(), {{french, "#10 typed"}})});

        WritePxlibTable(folder + "/no-turkish.db",
                        LanguageTableColumns(CreationLanguagesWithout({"Turkish"})),
                        {LanguageRecord("1", "MainForm", "", "", "Main", 37, {})});

        auto noNative = LanguageTableColumns(CreationLanguagesWithout({}));
        noNative.erase(noNative.begin() + 4);
        WritePxlibTable(folder + "/no-native.db", noNative, {});

        WritePxlibTable(folder + "/plain.db",
                        {{"Name", 'A', 20}, {"Count", 'I'}, {"Notes", 'M', 10}},
                        {{"first", "12", "a\nb"}, {"second", std::nullopt, std::nullopt}}, 0);
    } catch (const std::exception& error) {
        std::cerr << "write_store_fixtures: " << error.what() << '\n';
        return 1;
    }
    return 0;
}
