#pragma once
// The schema of a language table and the language catalogue: the fixed lists of language names
// that the rest of the system uses. A language's name is at once its column name and its display
// name; names are compared exactly (the spellings "Ukranian" and "ChineseTrad" are part of the
// stored format and must not be corrected).

#include <array>
#include <cstddef>
#include <string_view>

namespace kelvara {

// The first five columns of every language table, in table order. Callers address them by
// position as well as by name.
inline constexpr std::string_view kIndexNoColumn = "Index_No";
inline constexpr std::string_view kFormNameColumn = "Form_Name";
inline constexpr std::string_view kComponentNameColumn = "Component_Name";
inline constexpr std::string_view kPropertyNameColumn = "Property_Name";
inline constexpr std::string_view kNativeColumn = "Native";

// Size of the three key columns (alpha) and the size parameter of every text column (binary
// object: the part of each value kept in the record itself; it does not limit the value).
inline constexpr int kKeyColumnSize = 60;
inline constexpr int kTextColumnBlobSize = 10;

// Name of the secondary index and its fields (case-insensitive, not unique).
inline constexpr std::string_view kFormIndexName = "FormIndex";
inline constexpr std::string_view kFormIndexFields = "Form_Name;Component_Name;Property_Name";

inline constexpr std::size_t kStandardColumnCount = 43;

// The language columns of every new table, in creation order (columns 6 to 43).
inline constexpr std::array<std::string_view, 38> kCreationLanguages = {
    "Arabic",
    "Catalan",
    "Chinese",
    "ChineseTrad",
    "Danish",
    "Dutch",
    "English",
    "Finnish",
    "French (Belgium)",
    "French (France)",
    "French (Switzerland)",
    "German",
    "Greek",
    "Hebrew",
    "Hindi",
    "Italian",
    "Indonesian",
    "Inuktitut",
    "Icelandic",
    "Japanese",
    "Korean",
    "Latvian",
    "Malay",
    "Norwegian",
    "Polish",
    "Portuguese",
    "Punjabi",
    "Romanian",
    "Russian",
    "Slovak",
    "Spanish",
    "Swedish",
    "Thai",
    "Turkish",
    "Ukranian",
    "Urdu",
    "Vietnamese",
    "Welsh",
};

// One entry of the text-column list: a column that gets the line-break display conversion when a
// table is opened. A table without a required column cannot be opened; a missing optional
// column is skipped.
struct TTextColumn {
    std::string_view Name;
    bool Required;
};

// The text-column list (40 names): the creation list plus "French" and "Maori", in catalogue
// order. `Native` is required as well but is not part of this list.
inline constexpr std::array<TTextColumn, 40> kTextColumns = {{
    {"Arabic", true},
    {"Catalan", true},
    {"Chinese", false},
    {"ChineseTrad", false},
    {"Danish", true},
    {"Dutch", true},
    {"English", true},
    {"Finnish", true},
    {"French", false},
    {"French (Belgium)", false},
    {"French (France)", false},
    {"French (Switzerland)", false},
    {"German", true},
    {"Greek", true},
    {"Hebrew", true},
    {"Hindi", false},
    {"Italian", true},
    {"Indonesian", false},
    {"Inuktitut", false},
    {"Icelandic", false},
    {"Japanese", false},
    {"Korean", false},
    {"Latvian", true},
    {"Malay", false},
    {"Maori", false},
    {"Norwegian", true},
    {"Polish", true},
    {"Portuguese", true},
    {"Punjabi", false},
    {"Romanian", true},
    {"Russian", true},
    {"Slovak", true},
    {"Spanish", true},
    {"Swedish", true},
    {"Thai", true},
    {"Turkish", true},
    {"Ukranian", false},
    {"Urdu", false},
    {"Vietnamese", false},
    {"Welsh", false},
}};

// The languages offered for merging: the creation list, sorted by byte value.
extern const std::array<std::string_view, 38> kMergeLanguages;

// The 43 column names of a new table, in table order.
extern const std::array<std::string_view, kStandardColumnCount> kStandardColumns;

// Whether name is one of the first four columns (Index_No and the three key columns), which
// carry no display conversion.
bool IsKeyColumn(std::string_view name);

// Whether name is `Native` or an entry of the text-column list.
bool IsTextColumn(std::string_view name);

} // namespace kelvara
