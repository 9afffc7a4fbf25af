// The rows a scan writes into a real language table: executables made by the test-side PE
// builder from form streams made by the form builder, scanned into a table created with the
// standard schema, then read back through a handle of their own.

#include "engine/table.h"
#include "scan/form_builder.h"
#include "scan/language_scanner.h"
#include "scan/pe_builder.h"
#include "store/create_db.h"

#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <optional>
#include <ostream>

namespace kelvara {
namespace {

namespace form = test::form;
namespace pe = test::pe;
using form::Collection;
using form::Ident;
using form::Int;
using form::Item;
using form::List;
using form::Object;
using form::Text;

const std::string kStars(20, '*');
const std::string kHeaderSuffix = " WINDOW ELEMENTS (NON-TRANSLATABLE LABEL)";

struct Row {
    std::string form;
    std::string component;
    std::string property;
    std::string native;
    bool operator==(const Row&) const = default;
};

void PrintTo(const Row& row, std::ostream* out) {
    *out << "{" << row.form << " | " << row.component << " | " << row.property << " | "
         << ::testing::PrintToString(row.native) << "}";
}

Row Header(const std::string& form, const std::string& upperCaption) {
    return {form, kStars, kStars, upperCaption + kHeaderSuffix};
}

std::filesystem::path FreshFolder() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    for (char& c : name) {
        if (c == '/') {
            c = '_';
        }
    }
    auto folder = std::filesystem::path(KELVARA_TEST_BINARY_DIR) / "scan" / "work" / name;
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

void WriteFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// An RCDATA resource named as given.
pe::Resource RcData(const std::u16string& name, std::vector<std::uint8_t> data) {
    return pe::Resource{pe::Id(10), pe::Named(name), {{0x409, std::move(data)}}};
}

pe::Resource FormResource(const Object& root) {
    std::u16string name;
    for (const char c : root.className) {
        name += static_cast<char16_t>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    }
    return RcData(name, form::FormStream(root));
}

struct ProgressCall {
    int maximum; // -1 for a step
    std::string caption;
    bool operator==(const ProgressCall&) const = default;
};

void PrintTo(const ProgressCall& call, std::ostream* out) {
    if (call.maximum < 0) {
        *out << "step";
    } else {
        *out << "start(" << call.maximum << ", \"" << call.caption << "\")";
    }
}

struct ScanResult {
    std::vector<Row> stamp; // the first row
    std::vector<Row> rows;  // the rows after it
    std::vector<ProgressCall> progress;
    std::optional<std::string> error;
    int forms = 0;
    int rowsCounted = 0;
};

class LanguageScannerRows : public ::testing::Test {
protected:
    void SetUp() override { folder_ = FreshFolder(); }

    std::string WriteExe(const std::vector<pe::Resource>& resources) {
        pe::Image image;
        image.resources = resources;
        const std::string path = (folder_ / "app.exe").string();
        WriteFile(path, pe::Build(image).bytes);
        return path;
    }

    std::string WriteExe(const std::vector<Object>& forms) {
        std::vector<pe::Resource> resources;
        for (const Object& root : forms) {
            resources.push_back(FormResource(root));
        }
        return WriteExe(resources);
    }

    // Creates a new language table, scans exeName into it the way the scan dialog does, and
    // reads the table back through a fresh handle.
    ScanResult Scan(const std::string& exeName, const std::string& label = "Build 7") {
        const std::string tablePath = (folder_ / "lang.db").string();
        CreateLanguageTable("", tablePath);
        ScanResult result;
        {
            TTable table;
            table.SetTableName(tablePath);
            table.SetExclusive(true);
            TLanguageScanner scanner;
            scanner.SetTable(&table);
            scanner.SetExeName(exeName);
            scanner.SetVersionLabel(label);
            scanner.SetOnProgressStart([&](int maximum, const std::string& caption) {
                result.progress.push_back({maximum, caption});
            });
            scanner.SetOnProgressStep([&] { result.progress.push_back({-1, ""}); });
            try {
                scanner.Scan();
            } catch (const std::exception& e) {
                result.error = e.what();
            }
            result.forms = scanner.FormCount();
            result.rowsCounted = scanner.RowCount();
        }
        TTable table;
        table.SetTableName(tablePath);
        table.Open();
        indexNumbers_.clear();
        for (table.First(); !table.Eof(); table.Next()) {
            Row row{table.FieldByName("Form_Name").AsString(),
                    table.FieldByName("Component_Name").AsString(),
                    table.FieldByName("Property_Name").AsString(),
                    table.FieldByName("Native").AsString()};
            indexNumbers_.push_back(table.FieldByName("Index_No").AsInteger());
            if (result.stamp.empty()) {
                result.stamp.push_back(row);
            } else {
                result.rows.push_back(row);
            }
            for (int field = 5; field < table.FieldCount(); ++field) {
                EXPECT_TRUE(table.FieldAt(field).IsNull())
                    << table.FieldAt(field).FieldName() << " of " << row.component;
            }
        }
        return result;
    }

    // The rows (after the stamp) of an executable holding the given forms; the scan must succeed.
    std::vector<Row> RowsOf(const std::vector<Object>& forms) {
        const ScanResult result = Scan(WriteExe(forms));
        EXPECT_FALSE(result.error) << *result.error;
        return result.rows;
    }

    std::filesystem::path folder_;
    std::vector<std::int64_t> indexNumbers_;
};

// A form named Form1 with the caption "Main" holding the given components.
Object FormOf(std::vector<Object> components) {
    return Object{"TForm1", "Form1", {{"Caption", Text("Main")}}, std::move(components)};
}

std::vector<Row> FormRows(std::vector<Row> componentRows) {
    std::vector<Row> rows{Header("Form1", "MAIN"), {"Form1", "FormCaption", "Caption", "Main"}};
    rows.insert(rows.end(), componentRows.begin(), componentRows.end());
    return rows;
}

TEST_F(LanguageScannerRows, WorkedExampleGivesItsRowsInOrder) {
    const Object aboutBox{
        "TAboutBox",
        "AboutBox",
        {{"Left", Int(200)}, {"Caption", Text("About")}, {"ClientHeight", Int(218)}},
        {
            Object{"TLabel", "Label1", {{"Left", Int(8)}, {"Caption", Text("Version 1")}}},
            Object{
                "TButton", "OkButton", {{"Caption", Text("OK")}, {"Hint", Text("Close the box")}}},
            Object{"TPanel",
                   "Panel1",
                   {{"Caption", Text("Panel1")}, {"Hint", Text("Info")}},
                   {Object{"TEdit", "Edit1", {{"Text", Text("sample")}}}}},
            Object{"TStatusBar",
                   "Bar",
                   {{"Panels", Collection({Item{{{"Text", Text("Ready")}, {"Width", Int(50)}}},
                                           Item{{{"Width", Int(80)}}}})}}},
        }};
    const ScanResult result = Scan(WriteExe(std::vector<Object>{aboutBox}));
    ASSERT_FALSE(result.error) << *result.error;
    EXPECT_THAT(result.rows,
                ::testing::ElementsAre(Header("AboutBox", "ABOUT"),
                                       Row{"AboutBox", "FormCaption", "Caption", "About"},
                                       Row{"AboutBox", "Label1", "Caption", "Version 1"},
                                       Row{"AboutBox", "OkButton", "Caption", "OK"},
                                       Row{"AboutBox", "OkButton", "Hint", "Close the box"},
                                       Row{"AboutBox", "Panel1", "Hint", "Info"},
                                       Row{"AboutBox", "Edit1", "Text", "sample"},
                                       Row{"AboutBox", "Bar.Panels", "0", "Ready"}));
    // The table numbers the records itself, in the order they were appended.
    EXPECT_THAT(indexNumbers_, ::testing::ElementsAre(1, 2, 3, 4, 5, 6, 7, 8, 9));
    EXPECT_EQ(result.forms, 1);
    EXPECT_EQ(result.rowsCounted, 9);
    EXPECT_THAT(result.progress, ::testing::ElementsAre(ProgressCall{1, "Scanning"},
                                                        ProgressCall{-1, ""}, ProgressCall{0, ""}));
}

TEST_F(LanguageScannerRows, VersionStampComesFirstWithLabelAndToday) {
    struct Case {
        std::string label;
        std::string property;
    };
    for (const Case& c : {Case{"Build 7", "Build 7 - "}, Case{"", " - "}}) {
        const std::string today = TodayShortDateText();
        const ScanResult result = Scan(WriteExe(std::vector<Object>{FormOf({})}), c.label);
        ASSERT_FALSE(result.error) << *result.error;
        ASSERT_EQ(result.stamp.size(), 1u);
        EXPECT_EQ(result.stamp[0], (Row{"Pelora Language Table", "Version Stamp",
                                        c.property + today, "Version Stamp"}));
        EXPECT_FALSE(today.empty());
    }
}

TEST_F(LanguageScannerRows, FileThatCannotBeScannedLeavesOnlyTheVersionStamp) {
    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes; // empty: no file at all
        std::string message;
    };
    pe::Image noResources;
    noResources.withResourceSection = false;
    const std::vector<Case> cases{
        {"text file", pe::Bytes("This is not an executable."), "unrecognized file format"},
        {"MZ without PE headers", pe::Bytes("MZ and then nothing much"),
         "Not a PE (WIN32 Executable) file"},
        {"no resource section", pe::Build(noResources).bytes, "No resources in this file."},
        {"missing file", {}, "Couldn't open: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto path = folder_ / "input.exe";
        std::filesystem::remove(path);
        if (!c.bytes.empty()) {
            WriteFile(path, c.bytes);
        }
        const ScanResult result = Scan(path.string());
        ASSERT_TRUE(result.error);
        const std::string expected = c.bytes.empty() ? c.message + path.string() : c.message;
        EXPECT_EQ(*result.error, expected);
        EXPECT_EQ(result.stamp.size(), 1u);
        EXPECT_TRUE(result.rows.empty());
        // The progress display is reset even though no run was started.
        EXPECT_THAT(result.progress, ::testing::ElementsAre(ProgressCall{0, ""}));
    }
}

TEST_F(LanguageScannerRows, FormCaptionRows) {
    struct Case {
        const char* what;
        std::vector<form::Property> properties;
        std::vector<Row> rows;
    };
    const std::vector<Case> cases{
        {"caption naming the product",
         {{"Caption", Text("About Pelora Kelvara")}},
         {Header("Form1", "ABOUT PELORA KELVARA")}},
        {"product word in other capitals",
         {{"Caption", Text("PELORA setup")}},
         {Header("Form1", "PELORA SETUP"), {"Form1", "FormCaption", "Caption", "PELORA setup"}}},
        {"no caption", {{"Left", Int(3)}}, {{"Form1", kStars, kStars, kHeaderSuffix}}},
        {"caption stored in other letter case",
         {{"caption", Text("Setup")}},
         {Header("Form1", "SETUP"), {"Form1", "FormCaption", "Caption", "Setup"}}},
        // Only a to z become capitals; other bytes (UTF-8 here) stay as they are.
        {"non-ASCII caption",
         {{"Caption", Text("\xc3\xa9t\xc3\xa9 z")}},
         {Header("Form1", "\xc3\xa9T\xc3\xa9 Z"),
          {"Form1", "FormCaption", "Caption", "\xc3\xa9t\xc3\xa9 z"}}},
        {"blank caption", {{"Caption", Text("   ")}}, {Header("Form1", "   ")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_THAT(RowsOf({Object{"TForm1", "Form1", c.properties, {}}}),
                    ::testing::ElementsAreArray(c.rows));
    }
}

TEST_F(LanguageScannerRows, ComponentRules) {
    struct Case {
        const char* what;
        Object component;
        std::vector<Row> rows;
    };
    const std::vector<Case> cases{
        {"menu separator gives nothing, not even its hint",
         Object{"TMenuItem", "N1", {{"Caption", Text("-")}, {"Hint", Text("line")}}},
         {}},
        {"menu item with an accelerator",
         Object{"TMenuItem", "File1", {{"Caption", Text("&File")}}},
         {{"Form1", "File1", "Caption", "&File"}}},
        {"menu item without caption",
         Object{"TMenuItem", "Item1", {{"Hint", Text("tip")}}},
         {{"Form1", "Item1", "Hint", "tip"}}},
        {"a dash caption separates only menus",
         Object{"TLabel", "Dash", {{"Caption", Text("-")}}},
         {{"Form1", "Dash", "Caption", "-"}}},
        {"button linked to an action keeps only what the action does not give",
         Object{"TButton",
                "Open",
                {{"Action", Ident("FileOpenAction")},
                 {"Caption", Text("&Open")},
                 {"Hint", Text("Open a file")},
                 {"Text", Text("still mine")}}},
         {{"Form1", "Open", "Text", "still mine"}}},
        {"button with an empty action",
         Object{"TButton",
                "Open",
                {{"Action", Text("")}, {"Caption", Text("&Open")}, {"Hint", Text("Open it")}}},
         {{"Form1", "Open", "Caption", "&Open"}, {"Form1", "Open", "Hint", "Open it"}}},
        {"panel caption is not translated, its hint is",
         Object{"TPanel", "Panel1", {{"Caption", Text("Panel1")}, {"Hint", Text("Info")}}},
         {{"Form1", "Panel1", "Hint", "Info"}}},
        {"group box caption is translated",
         Object{"TGroupBox", "Options", {{"Caption", Text("Options")}}},
         {{"Form1", "Options", "Caption", "Options"}}},
        {"a class derived from a panel keeps its caption",
         Object{"TMyPanel", "Fancy", {{"Caption", Text("Fancy")}}},
         {{"Form1", "Fancy", "Caption", "Fancy"}}},
        {"property names compare with their letter case",
         Object{"TLabel", "Label1", {{"caption", Text("lower")}, {"HINT", Text("upper")}}},
         {}},
        {"every listed property in stored order, others passed over",
         Object{"TChart",
                "Chart1",
                {{"WideText", Text("w")},
                 {"Title", Text("t")},
                 {"Font.Name", Text("Arial")},
                 {"Tabs.Strings", List({Text("a"), Text("b")})},
                 {"Lines.Strings", List({Text("l")})},
                 {"Title.Caption", Text("not listed")}}},
         {{"Form1", "Chart1", "WideText", "w"},
          {"Form1", "Chart1", "Title", "t"},
          {"Form1", "Chart1", "Tabs.Strings", "a\r\nb"},
          {"Form1", "Chart1", "Lines.Strings", "l"}}},
        {"string list of three lines is one row",
         Object{"TListBox",
                "Choices",
                {{"Items.Strings", List({Text("One"), Text("Two"), Text("Three")})}}},
         {{"Form1", "Choices", "Items.Strings", "One\r\nTwo\r\nThree"}}},
        {"blank values give no row, leading blanks are kept",
         Object{"TEdit", "Edit1", {{"Text", Text(" \t\r\n ")}, {"Hint", Text("  indented  ")}}},
         {{"Form1", "Edit1", "Hint", "  indented  "}}},
        {"values that are not texts are written as their text",
         Object{"TEdit", "Edit1", {{"Text", Int(-42)}, {"Hint", Ident("True")}}},
         {{"Form1", "Edit1", "Text", "-42"}, {"Form1", "Edit1", "Hint", "True"}}},
        {"several translatable properties of one name each give a row",
         Object{"TLabel", "Twice", {{"Caption", Text("a")}, {"Caption", Text("b")}}},
         {{"Form1", "Twice", "Caption", "a"}, {"Form1", "Twice", "Caption", "b"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_THAT(RowsOf({FormOf({c.component})}), ::testing::ElementsAreArray(FormRows(c.rows)));
    }
}

TEST_F(LanguageScannerRows, NestedComponentsAreNamedByTheirOwnName) {
    const Object form = FormOf({
        Object{"TPanel",
               "",
               {{"Hint", Text("unnamed panel")}},
               {Object{"TGroupBox",
                       "Box",
                       {{"Caption", Text("Box")}},
                       {Object{"TLabel", "Deep", {{"Caption", Text("deep")}}}}}}},
        Object{"TMainMenu",
               "Menu",
               {},
               {Object{"TMenuItem",
                       "File1",
                       {{"Caption", Text("&File")}},
                       {Object{"TMenuItem", "N1", {{"Caption", Text("-")}}},
                        Object{"TMenuItem", "Exit1", {{"Caption", Text("E&xit")}}}}}}},
    });
    EXPECT_THAT(RowsOf({form}), ::testing::ElementsAreArray(FormRows({
                                    {"Form1", "Box", "Caption", "Box"},
                                    {"Form1", "Deep", "Caption", "deep"},
                                    {"Form1", "File1", "Caption", "&File"},
                                    {"Form1", "Exit1", "Caption", "E&xit"},
                                })));
}

TEST_F(LanguageScannerRows, StatusBarPanelsAreNumberedByPosition) {
    const Object form = FormOf({Object{
        "TStatusBar",
        "StatusBar",
        {{"Hint", Text("status")},
         {"Panels", Collection({Item{{{"Text", Text("Ready")}, {"Width", Int(50)}}},
                                Item{{{"Width", Int(80)}}}, Item{{{"Text", Text("NUM")}}, 2}})}}}});
    EXPECT_THAT(RowsOf({form}), ::testing::ElementsAreArray(FormRows({
                                    {"Form1", "StatusBar", "Hint", "status"},
                                    {"Form1", "StatusBar.Panels", "0", "Ready"},
                                    {"Form1", "StatusBar.Panels", "2", "NUM"},
                                })));
}

TEST_F(LanguageScannerRows, CollectionOwnerWalksOnlyItsLastChildsDescendants) {
    const Object owner{
        "TListView",
        "Owner",
        {{"Hint", Text("owner hint")},
         {"Columns",
          Collection({Item{{{"Caption", Text("Name")}}}, Item{{{"Caption", Text("Size")}}}})}},
        {Object{"TButton",
                "First",
                {{"Caption", Text("One")}},
                {Object{"TLabel", "Grand1", {{"Caption", Text("g1")}}}}},
         // A child of a collection owner is not checked as a component: even a separator counts.
         Object{"TMenuItem", "Sep", {{"Caption", Text("-")}}},
         Object{"TButton",
                "Second",
                {{"Action", Ident("Act")}, {"Caption", Text("Two")}, {"Text", Text("two")}},
                {Object{"TLabel", "Grand2", {{"Caption", Text("g2")}}}}}}};
    const Object form = FormOf({owner, Object{"TLabel", "After", {{"Caption", Text("after")}}}});
    EXPECT_THAT(RowsOf({form}), ::testing::ElementsAreArray(FormRows({
                                    {"Form1", "Owner", "Hint", "owner hint"},
                                    {"Form1", "Owner.Columns", "0", "Name"},
                                    {"Form1", "Owner.Columns", "1", "Size"},
                                    {"Form1", "Owner.First", "2", "One"},
                                    {"Form1", "Owner.Sep", "3", "-"},
                                    {"Form1", "Owner.Second", "4", "two"},
                                    {"Form1", "Grand2", "Caption", "g2"},
                                    {"Form1", "After", "Caption", "after"},
                                })));
}

TEST_F(LanguageScannerRows, KeyTextsAreCutToSixtyBytes) {
    const std::string longName(70, 'N');
    const std::string longForm = "F" + std::string(64, 'f');
    // A UTF-8 character that would straddle the limit is left out whole.
    const std::string utf8Name = std::string(59, 'u') + "\xc3\xa9" + "tail";
    const Object form{"TForm1",
                      longForm,
                      {},
                      {Object{"TLabel", longName, {{"Caption", Text("long")}}},
                       Object{"TLabel", utf8Name, {{"Caption", Text("utf8")}}}}};
    const std::string cutForm = longForm.substr(0, 60);
    EXPECT_THAT(RowsOf({form}),
                ::testing::ElementsAre(Row{cutForm, kStars, kStars, kHeaderSuffix},
                                       Row{cutForm, longName.substr(0, 60), "Caption", "long"},
                                       Row{cutForm, std::string(59, 'u'), "Caption", "utf8"}));

    const std::string longLabel(80, 'L');
    const ScanResult result = Scan(WriteExe(std::vector<Object>{FormOf({})}), longLabel);
    ASSERT_EQ(result.stamp.size(), 1u);
    EXPECT_EQ(result.stamp[0].property, longLabel.substr(0, 60));
}

TEST_F(LanguageScannerRows, FormsAreToldApartOnlyByTheirNameAndDuplicatesStay) {
    const Object first{
        "TForm1", "Form1", {}, {Object{"TLabel", "Label1", {{"Caption", Text("a")}}}}};
    const Object second{
        "TForm2", "Form2", {}, {Object{"TLabel", "Label1", {{"Caption", Text("a")}}}}};
    const Object again{
        "TForm1X", "Form1", {}, {Object{"TLabel", "Label1", {{"Caption", Text("a")}}}}};
    EXPECT_THAT(
        RowsOf({first, second, again}),
        ::testing::ElementsAre(
            Row{"Form1", kStars, kStars, kHeaderSuffix}, Row{"Form1", "Label1", "Caption", "a"},
            Row{"Form2", kStars, kStars, kHeaderSuffix}, Row{"Form2", "Label1", "Caption", "a"},
            Row{"Form1", kStars, kStars, kHeaderSuffix}, Row{"Form1", "Label1", "Caption", "a"}));
}

TEST_F(LanguageScannerRows, OnlyFormResourcesOfTheRCDataTypeAreScanned) {
    const Object formA{"TFormA", "FormA", {{"Caption", Text("A")}}, {}};
    const Object formB{"TFormB", "FormB", {{"Caption", Text("B")}}, {}};
    const Object formC{"TFormC", "FormC", {{"Caption", Text("C")}}, {}};
    const Object formD{"TFormD", "FormD", {{"Caption", Text("D")}}, {}};
    const std::vector<pe::Resource> resources{
        FormResource(formA),
        RcData(u"PACKAGEINFO", {0x00, 0x01, 'T', 'P', 'F', '0'}),
        RcData(u"DVCLAL", pe::Bytes("TPF")),
        FormResource(formB),
        // A form stream under another type is not looked at.
        pe::Resource{pe::Id(2), pe::Named(u"BITMAP1"), {{0x409, form::FormStream(formC)}}},
        // String-named types: one that begins with "RCData" is scanned, letter case counts.
        pe::Resource{pe::Named(u"RCDATA"), pe::Named(u"TFORMC"), {{0, form::FormStream(formC)}}},
        pe::Resource{
            pe::Named(u"RCDataExtra"), pe::Named(u"TFORMD"), {{0, form::FormStream(formD)}}},
    };
    const ScanResult result = Scan(WriteExe(resources));
    ASSERT_FALSE(result.error) << *result.error;
    EXPECT_THAT(
        result.rows,
        ::testing::ElementsAre(Header("FormD", "D"), Row{"FormD", "FormCaption", "Caption", "D"},
                               Header("FormA", "A"), Row{"FormA", "FormCaption", "Caption", "A"},
                               Header("FormB", "B"), Row{"FormB", "FormCaption", "Caption", "B"}));
    EXPECT_EQ(result.forms, 3);
    // Every resource of an RCDATA type counts in the maximum; only forms step.
    EXPECT_THAT(result.progress,
                ::testing::ElementsAre(ProgressCall{1, "Scanning"}, ProgressCall{-1, ""},
                                       ProgressCall{4, "Scanning"}, ProgressCall{-1, ""},
                                       ProgressCall{-1, ""}, ProgressCall{0, ""}));
}

TEST_F(LanguageScannerRows, UnreadableFormEndsTheScanAndKeepsEarlierRows) {
    const Object formA{"TFormA", "FormA", {{"Caption", Text("A")}}, {}};
    const Object formC{"TFormC", "FormC", {{"Caption", Text("C")}}, {}};
    std::vector<std::uint8_t> broken =
        form::FormStream(Object{"TFormB", "FormB", {{"Caption", Text("B")}}, {}});
    broken.resize(broken.size() - 3);
    const ScanResult result = Scan(WriteExe(std::vector<pe::Resource>{
        FormResource(formA), RcData(u"TFORMB", broken), FormResource(formC)}));
    ASSERT_TRUE(result.error);
    EXPECT_EQ(*result.error, "Stream read error");
    EXPECT_THAT(result.rows, ::testing::ElementsAre(Header("FormA", "A"),
                                                    Row{"FormA", "FormCaption", "Caption", "A"}));
    EXPECT_EQ(result.stamp.size(), 1u);
    EXPECT_THAT(result.progress,
                ::testing::ElementsAre(ProgressCall{3, "Scanning"}, ProgressCall{-1, ""},
                                       ProgressCall{-1, ""}, ProgressCall{0, ""}));
}

TEST_F(LanguageScannerRows, RCDataTypeThatIsNotAListIsAFatalError) {
    pe::Image image;
    image.resources = {FormResource(Object{"TFormA", "FormA", {{"Caption", Text("A")}}, {}})};
    pe::Built built = pe::Build(image);
    // The type's first entry points at a data entry instead of a further directory.
    const std::uint32_t nameEntry = built.layout.nameEntries[0][0];
    built.PutResource32(nameEntry + 4, built.layout.dataEntries[0][0][0]);
    const auto path = folder_ / "app.exe";
    WriteFile(path, built.bytes);
    const ScanResult result = Scan(path.string());
    ASSERT_TRUE(result.error);
    EXPECT_EQ(*result.error, "Fatal Error Encountered!");
    EXPECT_EQ(result.stamp.size(), 1u);
    EXPECT_TRUE(result.rows.empty());
    EXPECT_THAT(result.progress, ::testing::ElementsAre(ProgressCall{0, ""}));
}

TEST_F(LanguageScannerRows, ScanWithoutProgressCallbacksAndReusedForSecondTable) {
    const std::string exe = WriteExe(std::vector<Object>{FormOf({})});
    TLanguageScanner scanner;
    scanner.SetExeName(exe);
    for (const char* name : {"one.db", "two.db"}) {
        const std::string path = (folder_ / name).string();
        CreateLanguageTable("", path);
        TTable table;
        table.SetTableName(path);
        scanner.SetTable(&table);
        EXPECT_TRUE(table.Active());
        scanner.Scan();
        EXPECT_EQ(scanner.RowCount(), 3);
        EXPECT_EQ(table.RecordCount(), 3);
        EXPECT_FALSE(table.CachedUpdates());
        EXPECT_FALSE(table.UpdatesPending());
        scanner.SetTable(nullptr);
    }
}

TEST_F(LanguageScannerRows, TableWithCachedUpdatesGetsTheRowsInItsCache) {
    const std::string exe = WriteExe(std::vector<Object>{FormOf({})});
    const std::string path = (folder_ / "cached.db").string();
    CreateLanguageTable("", path);
    const auto rowsInFile = [&] {
        TTable reader;
        reader.SetTableName(path);
        reader.Open();
        return reader.RecordCount();
    };
    TTable table;
    table.SetTableName(path);
    table.Open();
    table.SetCachedUpdates(true);
    TLanguageScanner scanner;
    scanner.SetTable(&table);
    scanner.SetExeName(exe);
    scanner.Scan();
    EXPECT_TRUE(table.CachedUpdates());
    EXPECT_TRUE(table.UpdatesPending());
    EXPECT_EQ(rowsInFile(), 0);
    table.ApplyUpdates();
    EXPECT_EQ(rowsInFile(), 3);
}

TEST_F(LanguageScannerRows, RowsThatCannotBeWrittenAreReportedAndNotCounted) {
    const std::string exe = WriteExe(std::vector<Object>{FormOf({})});
    const std::string path = (folder_ / "blocked.db").string();
    CreateLanguageTable("", path);
    TTable table;
    table.SetTableName(path);
    table.Open();
    // A folder where the table's journal goes makes the write of the rows fail.
    const auto blocker = std::filesystem::path(path + "-journal");
    std::filesystem::create_directories(blocker / "occupied");
    TLanguageScanner scanner;
    scanner.SetTable(&table);
    scanner.SetExeName(exe);
    EXPECT_THROW(scanner.Scan(), std::exception);
    EXPECT_EQ(scanner.RowCount(), 0);
    EXPECT_FALSE(table.CachedUpdates());
    EXPECT_FALSE(table.UpdatesPending());
    EXPECT_EQ(table.RecordCount(), 0);
    table.Close();
    std::filesystem::remove_all(blocker);
    TTable reader;
    reader.SetTableName(path);
    reader.Open();
    EXPECT_EQ(reader.RecordCount(), 0);
}

} // namespace
} // namespace kelvara
