#pragma once
// Creating a language table file.

#include <string>

namespace kelvara {

// Creates an empty language table at tablePath with exactly the standard columns (Index_No
// autoincrement; Form_Name, Component_Name, Property_Name alpha 60; Native and the 38 languages of
// the creation list binary objects of size 10; none required), the primary index on Index_No and
// the case-insensitive secondary index FormIndex. Replaces any table already at the path. Opens
// nothing; engine failures (invalid path, table in use, no permission) pass on unchanged. The
// database name is kept for the engine's sake and is empty in every use.
void CreateLanguageTable(const std::string& databaseName, const std::string& tablePath);

} // namespace kelvara
