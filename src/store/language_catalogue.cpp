#include "store/language_catalogue.h"

#include <algorithm>

namespace kelvara {
namespace {

constexpr std::array<std::string_view, 38> SortedCreationLanguages() {
    auto sorted = kCreationLanguages;
    std::sort(sorted.begin(), sorted.end());
    return sorted;
}

constexpr std::array<std::string_view, kStandardColumnCount> StandardColumns() {
    std::array<std::string_view, kStandardColumnCount> columns{
        kIndexNoColumn, kFormNameColumn, kComponentNameColumn, kPropertyNameColumn, kNativeColumn};
    std::copy(kCreationLanguages.begin(), kCreationLanguages.end(), columns.begin() + 5);
    return columns;
}

} // namespace

const std::array<std::string_view, 38> kMergeLanguages = SortedCreationLanguages();
const std::array<std::string_view, kStandardColumnCount> kStandardColumns = StandardColumns();

bool IsKeyColumn(std::string_view name) {
    return name == kIndexNoColumn || name == kFormNameColumn || name == kComponentNameColumn ||
           name == kPropertyNameColumn;
}

bool IsTextColumn(std::string_view name) {
    return name == kNativeColumn ||
           std::any_of(kTextColumns.begin(), kTextColumns.end(),
                       [name](const TTextColumn& column) { return column.Name == name; });
}

} // namespace kelvara
