#include "app/app_test_support.h"

#include "engine/table.h"
#include "store/create_db.h"

namespace kelvara::test {

std::string MakeLanguageTable(const QTemporaryDir& folder, const std::string& name,
                              const std::vector<TRow>& rows,
                              const std::vector<std::string>& extraColumns) {
    const std::string path = folder.filePath(QString::fromStdString(name)).toStdString();
    std::vector<TFieldDef> extra;
    for (const std::string& column : extraColumns) {
        extra.push_back(TFieldDef{column, TFieldType::ftMemo, 10, false});
    }
    CreateLanguageTable("", path, extra);
    TTable table;
    table.SetTableName(path);
    table.Open();
    for (const TRow& row : rows) {
        table.Append();
        table.FieldByName("Form_Name").SetAsString(row.Form);
        table.FieldByName("Component_Name").SetAsString(row.Component);
        table.FieldByName("Property_Name").SetAsString(row.Property);
        table.FieldByName("Native").SetAsString(row.Native);
        table.FieldByName("English").SetAsString(row.English);
        table.FieldByName("German").SetAsString(row.German);
        table.Post();
    }
    table.Close();
    return path;
}

std::string MakeLargeLanguageTable(const QTemporaryDir& folder, const std::string& name,
                                   int count) {
    const std::string path = folder.filePath(QString::fromStdString(name)).toStdString();
    CreateLanguageTable("", path);
    TTable table;
    table.SetTableName(path);
    table.SetCachedUpdates(true);
    table.Open();
    TField& form = table.FieldByName("Form_Name");
    TField& component = table.FieldByName("Component_Name");
    TField& property = table.FieldByName("Property_Name");
    TField& native = table.FieldByName("Native");
    for (int i = 0; i < count; ++i) {
        table.Append();
        form.SetAsString("Form" + std::to_string(i / 50));
        component.SetAsString("Component" + std::to_string(i % 50));
        property.SetAsString("Caption");
        native.SetAsString("Native text " + std::to_string(i));
        table.Post();
    }
    table.ApplyUpdates();
    table.CommitUpdates();
    table.Close();
    return path;
}

std::vector<TRow> SampleRows() {
    return {
        {"Pelora Language Table", "Version Stamp", "48.1 - 10.12.2026", "Version Stamp", "", ""},
        {"MainForm", "FormCaption", "Caption", "Hauptfenster", "Main window", "Hauptfenster"},
        {"MainForm", "OpenBtn", "Hint", "Open Table", "", "Tabelle öffnen"},
        {"MainForm", "Label1", "Caption", "Two\r\nlines", "", ""},
        {"MainForm", "Label2", "Caption", "שלום", "", ""},
    };
}

} // namespace kelvara::test
