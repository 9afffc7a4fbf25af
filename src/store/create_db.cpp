#include "store/create_db.h"

#include "engine/table.h"
#include "store/language_catalogue.h"

namespace kelvara {

std::vector<TFieldDef> LanguageTableFieldDefs() {
    std::vector<TFieldDef> defs{
        {std::string(kIndexNoColumn), TFieldType::ftAutoInc, 0, false},
        {std::string(kFormNameColumn), TFieldType::ftString, kKeyColumnSize, false},
        {std::string(kComponentNameColumn), TFieldType::ftString, kKeyColumnSize, false},
        {std::string(kPropertyNameColumn), TFieldType::ftString, kKeyColumnSize, false},
        {std::string(kNativeColumn), TFieldType::ftBlob, kTextColumnBlobSize, false},
    };
    for (const std::string_view language : kCreationLanguages) {
        defs.push_back({std::string(language), TFieldType::ftBlob, kTextColumnBlobSize, false});
    }
    return defs;
}

std::vector<TIndexDef> LanguageTableIndexDefs() {
    return {
        {"", std::string(kIndexNoColumn), ixPrimary | ixUnique},
        {std::string(kFormIndexName), std::string(kFormIndexFields), ixCaseInsensitive},
    };
}

void CreateLanguageTable(const std::string& databaseName, const std::string& tablePath) {
    CreateLanguageTable(databaseName, tablePath, {});
}

void CreateLanguageTable(const std::string& databaseName, const std::string& tablePath,
                         const std::vector<TFieldDef>& extraColumns) {
    TTable table;
    table.SetDatabaseName(databaseName);
    table.SetTableName(tablePath);
    table.SetTableType(TTableType::ttParadox);
    table.FieldDefs() = LanguageTableFieldDefs();
    table.FieldDefs().insert(table.FieldDefs().end(), extraColumns.begin(), extraColumns.end());
    table.IndexDefs() = LanguageTableIndexDefs();
    table.CreateTable();
}

} // namespace kelvara
