#pragma once
// Language tables for the window tests, made with the program's own table creation.

#include <QString>
#include <QTemporaryDir>
#include <string>
#include <vector>

namespace kelvara::test {

struct TRow {
    std::string Form;
    std::string Component;
    std::string Property;
    std::string Native;
    std::string English;
    std::string German;
};

// A standard language table (plus `extraColumns`, binary text columns after the standard ones)
// holding `rows`, at folder/name. Returns the full path.
std::string MakeLanguageTable(const QTemporaryDir& folder, const std::string& name,
                              const std::vector<TRow>& rows,
                              const std::vector<std::string>& extraColumns = {});

// A table of `count` generated rows, written in one batch.
std::string MakeLargeLanguageTable(const QTemporaryDir& folder, const std::string& name, int count);

// A few rows of a scanned form.
std::vector<TRow> SampleRows();

} // namespace kelvara::test
