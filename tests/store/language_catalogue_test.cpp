#include "store/language_catalogue.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

namespace kelvara {
namespace {

// The catalogue as the format defines it, one row per language, in text-column order:
// name, creation position (0: never created), required, offered for merging.
struct CatalogueRow {
    const char* name;
    int creationPosition;
    bool required;
    bool merged;
};

const std::vector<CatalogueRow> kCatalogue = {
    {"Arabic", 6, true, true},
    {"Catalan", 7, true, true},
    {"Chinese", 8, false, true},
    {"ChineseTrad", 9, false, true},
    {"Danish", 10, true, true},
    {"Dutch", 11, true, true},
    {"English", 12, true, true},
    {"Finnish", 13, true, true},
    {"French", 0, false, false},
    {"French (Belgium)", 14, false, true},
    {"French (France)", 15, false, true},
    {"French (Switzerland)", 16, false, true},
    {"German", 17, true, true},
    {"Greek", 18, true, true},
    {"Hebrew", 19, true, true},
    {"Hindi", 20, false, true},
    {"Italian", 21, true, true},
    {"Indonesian", 22, false, true},
    {"Inuktitut", 23, false, true},
    {"Icelandic", 24, false, true},
    {"Japanese", 25, false, true},
    {"Korean", 26, false, true},
    {"Latvian", 27, true, true},
    {"Malay", 28, false, true},
    {"Maori", 0, false, false},
    {"Norwegian", 29, true, true},
    {"Polish", 30, true, true},
    {"Portuguese", 31, true, true},
    {"Punjabi", 32, false, true},
    {"Romanian", 33, true, true},
    {"Russian", 34, true, true},
    {"Slovak", 35, true, true},
    {"Spanish", 36, true, true},
    {"Swedish", 37, true, true},
    {"Thai", 38, true, true},
    {"Turkish", 39, true, true},
    {"Ukranian", 40, false, true},
    {"Urdu", 41, false, true},
    {"Vietnamese", 42, false, true},
    {"Welsh", 43, false, true},
};

TEST(LanguageCatalogue, StandardColumnsAreKeyColumnsNativeThenCreationList) {
    ASSERT_EQ(kStandardColumns.size(), 43u);
    const std::vector<std::string> first{"Index_No", "Form_Name", "Component_Name", "Property_Name",
                                         "Native"};
    for (std::size_t i = 0; i < first.size(); ++i) {
        EXPECT_EQ(kStandardColumns[i], first[i]) << "position " << i + 1;
    }
    for (const CatalogueRow& row : kCatalogue) {
        if (row.creationPosition == 0) {
            EXPECT_EQ(std::count(kStandardColumns.begin(), kStandardColumns.end(), row.name), 0)
                << row.name << " is never created";
        } else {
            EXPECT_EQ(kStandardColumns[row.creationPosition - 1], row.name);
            EXPECT_EQ(kCreationLanguages[row.creationPosition - 6], row.name);
        }
    }
}

TEST(LanguageCatalogue, TextColumnListHasEveryLanguageWithItsRequiredFlag) {
    ASSERT_EQ(kTextColumns.size(), kCatalogue.size());
    for (std::size_t i = 0; i < kCatalogue.size(); ++i) {
        EXPECT_EQ(kTextColumns[i].Name, kCatalogue[i].name);
        EXPECT_EQ(kTextColumns[i].Required, kCatalogue[i].required) << kCatalogue[i].name;
    }
    const auto required = std::count_if(kTextColumns.begin(), kTextColumns.end(),
                                        [](const TTextColumn& c) { return c.Required; });
    EXPECT_EQ(required, 21);
}

TEST(LanguageCatalogue, MergeListIsTheCreationListSorted) {
    std::vector<std::string> expected;
    for (const CatalogueRow& row : kCatalogue) {
        if (row.merged) {
            expected.emplace_back(row.name);
        }
    }
    std::sort(expected.begin(), expected.end());
    ASSERT_EQ(kMergeLanguages.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(kMergeLanguages[i], expected[i]);
    }
    EXPECT_EQ(kMergeLanguages.front(), "Arabic");
    EXPECT_EQ(kMergeLanguages.back(), "Welsh");
}

TEST(LanguageCatalogue, ClassifiesColumns) {
    struct Case {
        const char* name;
        bool key;
        bool text;
    };
    const Case cases[] = {
        {"Index_No", true, false},      {"Form_Name", true, false}, {"Component_Name", true, false},
        {"Property_Name", true, false}, {"Native", false, true},    {"Maori", false, true},
        {"French", false, true},        {"Turkish", false, true},   {"turkish", false, false},
        {"Klingon", false, false},      {"", false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsKeyColumn(c.name), c.key) << c.name;
        EXPECT_EQ(IsTextColumn(c.name), c.text) << c.name;
    }
}

} // namespace
} // namespace kelvara
