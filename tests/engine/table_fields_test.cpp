// Fields of a table handle: lookup, reading and writing raw values, the text hooks and the
// access rules, driven as the data module and the editing commands use them.

#include "engine/table.h"
#include "table_test_support.h"

#include <gtest/gtest.h>

namespace kelvara {
namespace {

using testing::TableFolder;

class TableFields : public TableFolder {
protected:
    void SetUp() override {
        TableFolder::SetUp();
        path_ = MakeTable("lang.db", {{"MainForm", "OkButton", "Caption", "OK", "Okay"},
                                      {"MainForm", "Memo", "Lines", "one\r\ntwo", ""}});
        table_.SetTableName(path_);
        table_.SetCachedUpdates(true);
        table_.Open();
    }

    std::string path_;
    TTable table_;
};

TEST_F(TableFields, LookupInTableOrder) {
    EXPECT_EQ(table_.FieldCount(), 7);
    EXPECT_EQ(table_.FieldDefNames(),
              (std::vector<std::string>{"Index_No", "Form_Name", "Component_Name", "Property_Name",
                                        "Native", "English", "German"}));
    EXPECT_EQ(table_.FieldAt(4).FieldName(), "Native");
    EXPECT_EQ(&table_.FieldByName("English"), &table_.FieldAt(5));
    EXPECT_EQ(table_.FindField("Turkish"), nullptr);
    EXPECT_EQ(table_.FindField("english"), nullptr) << "names compare exactly";
    try {
        table_.FieldByName("Turkish");
        FAIL() << "no exception";
    } catch (const EDatabaseError& error) {
        EXPECT_STREQ(error.what(), "Field 'Turkish' not found");
    }
    EXPECT_THROW(table_.FieldAt(7), EDatabaseError);
    EXPECT_THROW(table_.FieldAt(-1), EDatabaseError);
    EXPECT_EQ(table_.FieldByName("Index_No").DataType(), TFieldType::ftAutoInc);
    EXPECT_EQ(table_.FieldByName("Form_Name").Size(), 60);
    EXPECT_EQ(table_.FieldByName("Native").DataType(), TFieldType::ftBlob);
    EXPECT_EQ(table_.IndexDefs().at(0).Fields, "Index_No");
}

TEST_F(TableFields, ReadsStoredValuesUnchanged) {
    EXPECT_EQ(table_.FieldByName("Index_No").AsInteger(), 1);
    EXPECT_EQ(table_.FieldByName("Index_No").AsString(), "1");
    EXPECT_EQ(table_.FieldByName("English").AsString(), "Okay");
    EXPECT_TRUE(table_.FieldByName("German").IsNull());
    EXPECT_EQ(table_.FieldByName("German").AsString(), "");
    table_.Next();
    EXPECT_EQ(table_.FieldByName("Native").AsString(), "one\r\ntwo");
    EXPECT_TRUE(table_.FieldByName("English").IsNull()) << "an empty text is stored as NULL";
    EXPECT_EQ(std::get<std::string>(table_.FieldByName("Native").Value()), "one\r\ntwo");
}

TEST_F(TableFields, WritesAreConvertedToTheColumn) {
    struct Case {
        const char* field;
        std::string written;
        std::string read;
    };
    const std::string sixtyOne(61, 'x');
    const std::string fiftyNine(59, 'a');
    const std::string longBlob(100000, 'b');
    const Case cases[] = {
        {"Form_Name", sixtyOne, std::string(60, 'x')},        // cut to the column's size
        {"Form_Name", fiftyNine + "\xC3\xA9", fiftyNine},     // never half a character
        {"Form_Name", fiftyNine + "e", fiftyNine + "e"},      // exactly the size stays
        {"Native", "a\r\nb\tc\x01\xFF", "a\r\nb\tc\x01\xFF"}, // BLOB bytes unchanged
        {"Native", longBlob, longBlob},                       // no limit on BLOBs
        {"English", "", ""},                                  // empty is NULL
    };
    for (const Case& c : cases) {
        table_.First();
        table_.Edit();
        table_.FieldByName(c.field).SetAsString(c.written);
        table_.Post();
        table_.ApplyUpdates();
        table_.CommitUpdates();
        EXPECT_EQ(ColumnInFile(path_, c.field).at(0), c.read) << c.field << " " << c.written.size();
    }
    EXPECT_EQ(ColumnInFile(path_, "English").at(0), "");
}

TEST_F(TableFields, AccessRules) {
    TField& index = table_.FieldByName("Index_No");
    TField& form = table_.FieldByName("Form_Name");
    EXPECT_FALSE(index.CanModify());
    EXPECT_TRUE(form.CanModify());
    const auto messageOf = [](auto write) {
        try {
            write();
        } catch (const EDatabaseError& error) {
            return std::string(error.what());
        }
        return std::string("no error");
    };
    EXPECT_EQ(messageOf([&] { form.SetAsString("X"); }), "Dataset not in edit or insert mode");
    table_.Edit();
    EXPECT_EQ(messageOf([&] { index.SetAsString("7"); }), "Field 'Index_No' cannot be modified");
    EXPECT_EQ(messageOf([&] { index.SetValue(TFieldValue(std::int64_t{7})); }),
              "Field 'Index_No' cannot be modified");
    form.SetReadOnly(true);
    EXPECT_FALSE(form.CanModify());
    EXPECT_EQ(messageOf([&] { form.SetAsString("X"); }), "Field 'Form_Name' cannot be modified");
    EXPECT_EQ(messageOf([&] { form.SetText("X"); }), "Field 'Form_Name' cannot be modified");
    EXPECT_EQ(table_.State(), TDataSetState::dsEdit) << "a refused write leaves the edit state";
    table_.Cancel();
    EXPECT_FALSE(table_.UpdatesPending());

    TTable readOnly;
    readOnly.SetTableName(path_);
    readOnly.SetReadOnly(true);
    readOnly.Open();
    EXPECT_FALSE(readOnly.FieldByName("English").CanModify());
    EXPECT_EQ(messageOf([&] { readOnly.Edit(); }), "Cannot modify a read-only dataset");
    EXPECT_EQ(messageOf([&] { readOnly.Append(); }), "Cannot modify a read-only dataset");
}

TEST_F(TableFields, FreshFieldsOnEveryOpenButRefreshKeepsThem) {
    table_.FieldByName("Form_Name").SetReadOnly(true);
    table_.FieldByName("Native").OnGetText = [](TField&, std::string& text, bool) { text += "!"; };
    table_.Refresh();
    EXPECT_TRUE(table_.FieldByName("Form_Name").ReadOnly());
    EXPECT_EQ(table_.FieldByName("Native").DisplayText(), "OK!");
    table_.Close();
    table_.Open();
    EXPECT_FALSE(table_.FieldByName("Form_Name").ReadOnly());
    EXPECT_EQ(table_.FieldByName("Native").DisplayText(), "OK");
}

// The data module's hooks: line breaks shown as codes in the grid, typed codes stored as breaks.
TEST_F(TableFields, HooksRunOnlyOnTheDisplayEntryPoints) {
    int gets = 0, sets = 0;
    TField& native = table_.FieldByName("Native");
    native.OnGetText = [&](TField& sender, std::string& text, bool) {
        ++gets;
        EXPECT_EQ(text, sender.AsString()) << "the hook is given the raw text";
        std::string shown;
        for (const char c : text) {
            shown += c == '\r' ? "#13" : c == '\n' ? "#10" : std::string(1, c);
        }
        text = shown;
    };
    native.OnSetText = [&](TField& sender, const std::string& typed) {
        ++sets;
        std::string stored;
        for (std::size_t i = 0; i < typed.size(); ++i) {
            if (typed.compare(i, 3, "#10") == 0) {
                stored += '\n';
                i += 2;
            } else {
                stored += typed[i];
            }
        }
        sender.SetAsString(stored); // stores as the column's text: must not call the hook again
    };
    table_.Next();
    EXPECT_EQ(native.AsString(), "one\r\ntwo");
    EXPECT_EQ(gets, 0);
    EXPECT_EQ(native.DisplayText(), "one#13#10two");
    EXPECT_EQ(native.Text(), "one#13#10two");
    EXPECT_EQ(gets, 2);

    table_.Edit();
    native.SetText("a#10b");
    EXPECT_EQ(sets, 1);
    EXPECT_EQ(native.AsString(), "a\nb");
    native.SetAsString("raw #10 stays");
    EXPECT_EQ(sets, 1);
    EXPECT_EQ(native.AsString(), "raw #10 stays");
    native.SetValue(TFieldValue(std::string("x#10y")));
    EXPECT_EQ(native.AsString(), "x#10y");
    EXPECT_EQ(sets, 1);
    table_.Post();
}

TEST_F(TableFields, PaintingReadsAnyRowWithoutMovingOrTelling) {
    testing::RecordingObserver observer;
    int scrolls = 0;
    table_.AfterScroll = [&](TDataSet&) { ++scrolls; };
    table_.AddObserver(observer);
    // A hook that reads another field sees the row being painted.
    table_.FieldByName("Native").OnGetText = [](TField& sender, std::string& text, bool) {
        text = sender.DataSet().FieldByName("Component_Name").AsString() + ":" + text;
    };
    EXPECT_EQ(table_.DisplayTextAt(1, 4), "Memo:one\r\ntwo");
    EXPECT_EQ(table_.TextAt(1, 4), "one\r\ntwo");
    EXPECT_EQ(table_.TextAt(0, 0), "1");
    EXPECT_EQ(std::get<std::int64_t>(table_.ValueAt(1, 0)), 2);
    EXPECT_EQ(table_.RecNo(), 1);
    EXPECT_EQ(table_.FieldByName("Component_Name").AsString(), "OkButton");
    EXPECT_EQ(scrolls, 0);
    EXPECT_TRUE(observer.events.empty());
    EXPECT_THROW(table_.TextAt(2, 0), EDatabaseError);

    table_.Edit();
    table_.FieldByName("English").SetAsString("typed");
    EXPECT_EQ(table_.TextAt(0, 5), "typed") << "the row being edited paints its typed value";
    table_.Cancel();
    EXPECT_EQ(table_.TextAt(0, 5), "Okay");
    table_.RemoveObserver(observer);
}

TEST(FieldValues, TextConversionsOfOtherColumnTypes) {
    struct Case {
        TFieldType type;
        const char* text;
        const char* shown; // nullptr: the text is refused
    };
    const Case cases[] = {
        {TFieldType::ftSmallint, "-32767", "-32767"},
        {TFieldType::ftSmallint, "40000", nullptr},
        {TFieldType::ftInteger, " 12 ", "12"},
        {TFieldType::ftInteger, "12a", nullptr},
        {TFieldType::ftFloat, "0.1", "0.1"},
        {TFieldType::ftFloat, "abc", nullptr},
        {TFieldType::ftBoolean, "true", "True"},
        {TFieldType::ftBoolean, "maybe", nullptr},
        {TFieldType::ftDate, "2024-02-29", "2024-02-29"},
        {TFieldType::ftDate, "2023-02-29", nullptr},
        {TFieldType::ftDate, "0001-01-01", "0001-01-01"},
        {TFieldType::ftTime, "13:05:09.5", "13:05:09.500"},
        {TFieldType::ftTime, "24:00", nullptr},
        {TFieldType::ftDateTime, "1970-01-01 11:00:00", "1970-01-01 11:00:00"},
        {TFieldType::ftBCD, "-12.50", "-12.50"},
        {TFieldType::ftBCD, "1e5", nullptr},
    };
    for (const Case& c : cases) {
        const TFieldDef def{"F", c.type, 0};
        if (c.shown == nullptr) {
            EXPECT_THROW(FieldValueFromText(c.text, def), EDatabaseError) << c.text;
        } else {
            EXPECT_EQ(FieldValueToText(FieldValueFromText(c.text, def), c.type), c.shown) << c.text;
        }
    }
    EXPECT_EQ(std::get<std::int64_t>(FieldValueFromText("0001-01-01", {"D", TFieldType::ftDate})),
              1);
    EXPECT_EQ(std::get<std::int64_t>(FieldValueFromText("1970-01-01", {"D", TFieldType::ftDate})),
              719163);
    try {
        FieldValueFromText("x", {"Count", TFieldType::ftInteger});
        FAIL();
    } catch (const EDatabaseError& error) {
        EXPECT_STREQ(error.what(), "'x' is not a valid integer value");
    }
    EXPECT_THROW(ConvertFieldValue(TFieldValue(2.5), {"I", TFieldType::ftInteger}), EDatabaseError);
    EXPECT_EQ(std::get<std::string>(ConvertFieldValue(TFieldValue(std::int64_t{42}),
                                                      {"S", TFieldType::ftString, 10})),
              "42");
}

} // namespace
} // namespace kelvara
