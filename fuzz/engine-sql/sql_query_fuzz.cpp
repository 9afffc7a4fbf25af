#include "engine/paradox_table.h"
#include "engine/sql_evaluator.h"
#include "engine/sql_parser.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <unistd.h>

// Any statement that parses runs over a small language table (its own table path replaced by the
// table's) without fault: it gives records of the table in its column range, or fails with
// ESqlError for an unknown column.
namespace {

namespace px = kelvara::paradox;

std::filesystem::path g_folder;
std::filesystem::path g_table;

void RemoveFolder() {
    std::filesystem::remove_all(g_folder);
}

void MakeTable() {
    g_folder =
        std::filesystem::temp_directory_path() / ("kelvara-fuzz-sql-" + std::to_string(::getpid()));
    std::filesystem::create_directories(g_folder);
    std::atexit(RemoveFolder);
    g_table = g_folder / "lang.db";
    px::TableSchema schema;
    schema.fields = {
        {"Index_No", px::FieldType::AutoInc, 0},      {"Form_Name", px::FieldType::Alpha, 60},
        {"Component_Name", px::FieldType::Alpha, 60}, {"Property_Name", px::FieldType::Alpha, 60},
        {"Native", px::FieldType::Blob, 10},          {"English", px::FieldType::Blob, 10}};
    px::IndexDef primary;
    primary.fields = {"Index_No"};
    primary.primary = primary.unique = true;
    schema.indexes.push_back(primary);
    px::ParadoxTable::Create(g_table, schema);
    const auto table = px::ParadoxTable::Open(g_table);
    px::Transaction transaction(*table);
    const char* forms[] = {"MainForm", "mainform", "Save_Dlg", "MessageString", "", "a%b"};
    for (int i = 0; i < 60; ++i) {
        px::RecordBuffer record = table->NewRecord();
        record.Set(1, px::FieldValue::FromBytes(forms[i % 6]));
        record.Set(2, px::FieldValue::FromBytes(i % 5 ? "Button" + std::to_string(i % 7) : ""));
        record.Set(3, px::FieldValue::FromBytes(i % 2 ? "Caption" : "Hint"));
        record.Set(4, px::FieldValue::FromBytes(i % 3 ? "Text \xC3\xA9" : ""));
        record.Set(5, px::FieldValue::FromBytes(std::to_string(i)));
        transaction.Append(std::move(record));
    }
    transaction.Commit();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    MakeTable();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    kelvara::SqlStatement statement;
    try {
        statement = kelvara::ParseSqlStatement(input);
    } catch (const kelvara::ESqlError&) {
        return 0;
    }
    statement.tablePath = g_table.string();
    try {
        const kelvara::SqlResult result = kelvara::RunSqlStatement(statement, "");
        for (const std::uint32_t row : result.rows) {
            if (row >= result.source->RecordCount()) {
                std::abort();
            }
            for (const int field : result.fields) {
                (void)result.source->Text(field, row);
            }
        }
    } catch (const kelvara::ESqlError&) {
    }
    return 0;
}
