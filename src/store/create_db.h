#pragma once
// Creating a language table file.

#include "engine/field.h"

#include <string>
#include <vector>

namespace kelvara {

// The standard columns of a language table in table order: Index_No (autoincrement);
// Form_Name, Component_Name, Property_Name (alpha 60); Native and the 38 languages of the creation
// list (binary objects of size 10). None is required.
std::vector<TFieldDef> LanguageTableFieldDefs();

// The primary index on Index_No (primary, unique) and FormIndex on the three key columns
// (case-insensitive, not unique).
std::vector<TIndexDef> LanguageTableIndexDefs();

// Creates an empty language table at tablePath with exactly the standard columns and indexes,
// replacing any table already at the path. Opens nothing; engine failures (invalid path, table in
// use, no permission) pass on unchanged. The database name is empty in every use: the table path
// is then a full file path.
void CreateLanguageTable(const std::string& databaseName, const std::string& tablePath);

// As CreateLanguageTable, with further columns after the standard ones, in the order given. An
// extra column named like a standard one fails in the engine like any unusable definition.
void CreateLanguageTable(const std::string& databaseName, const std::string& tablePath,
                         const std::vector<TFieldDef>& extraColumns);

} // namespace kelvara
