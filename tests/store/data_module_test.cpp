#include "pxlib_table_writer.h"
#include "scripted_user.h"
#include "store/create_db.h"
#include "store/data_module.h"
#include "store/language_catalogue.h"
#include "store_test_support.h"

#include <fstream>
#include <gtest/gtest.h>
#include <map>

namespace kelvara {
namespace {

using testing::CreationLanguagesWithout;
using testing::FreshTestFolder;
using testing::LanguageTableColumns;
using testing::PxRecord;
using testing::ReadAllRecords;
using testing::ReadColumnNames;
using testing::TScriptedUser;
using testing::WritePxlibTable;

// Column positions in a table with every creation language.
constexpr std::size_t kEnglish = 11;
constexpr std::size_t kNative = 4;

const char* const kSaveQuestion = "ask: Do you want to save changes to current table first?";

// A row of a pxlib-written language table: Index_No, the key columns, Native, then the values
// of the named languages (others null).
struct Row {
    std::optional<std::string> index;
    std::string form, component, property, native;
    std::map<std::string, std::string> languages;
};

void WriteTable(const std::string& path, const std::vector<std::string>& languages,
                const std::vector<Row>& rows) {
    std::vector<PxRecord> records;
    for (const Row& row : rows) {
        PxRecord record{row.index, row.form, row.component, row.property, row.native};
        for (const std::string& language : languages) {
            const auto value = row.languages.find(language);
            record.push_back(value == row.languages.end() ? std::nullopt
                                                          : std::optional(value->second));
        }
        records.push_back(std::move(record));
    }
    WritePxlibTable(path, LanguageTableColumns(languages), records);
}

std::vector<std::string> AllCreationLanguages() {
    return CreationLanguagesWithout({});
}

class DataModuleTest : public ::testing::Test {
protected:
    void SetUp() override { folder = FreshTestFolder(); }

    std::string PathOf(const std::string& name) const { return (folder / name).string(); }

    // A standard table with three rows; the second has line breaks in Native and English.
    std::string StandardTable(const std::string& name = "lang.db") {
        const std::string path = PathOf(name);
        WriteTable(path, AllCreationLanguages(),
                   {{"1", "MainForm", "", "", "Main", {{"German", "Haupt"}}},
                    {"2", "MainForm", "Label1", "Caption", "one\r\ntwo", {{"English", "a\nb"}}},
                    {"3", "MainForm", "OkButton", "Caption", "OK", {}}});
        return path;
    }

    TField& Field(const char* name) { return dm.MasterLang().FieldByName(name); }

    // Edits English of the current record through the field's typed-text entry point.
    void TypeEnglish(const std::string& text) {
        dm.MasterLang().Edit();
        Field("English").SetText(text);
    }

    std::filesystem::path folder;
    TScriptedUser user;
    TDMLanguage dm{user};
};

// --- Opening and the column check -----------------------------------------------------------

TEST_F(DataModuleTest, OpensWhenNativeAndEveryRequiredColumnIsThere) {
    struct Case {
        const char* name;
        std::vector<std::string> languages;
        std::optional<std::string> failure; // nothing: opens
    };
    auto frenchOnly =
        CreationLanguagesWithout({"French (Belgium)", "French (France)", "French (Switzerland)",
                                  "Chinese", "Hindi", "Welsh"});
    frenchOnly.push_back("French");
    auto withMaori = AllCreationLanguages();
    withMaori.push_back("Maori");
    const Case cases[] = {
        {"standard", AllCreationLanguages(), std::nullopt},
        {"only French, no Chinese, Hindi or Welsh", frenchOnly, std::nullopt},
        {"every optional language missing",
         CreationLanguagesWithout({"Chinese", "ChineseTrad", "French (Belgium)", "French (France)",
                                   "French (Switzerland)", "Hindi", "Indonesian", "Inuktitut",
                                   "Icelandic", "Japanese", "Korean", "Malay", "Punjabi",
                                   "Ukranian", "Urdu", "Vietnamese", "Welsh"}),
         std::nullopt},
        {"with Maori", withMaori, std::nullopt},
        {"no Turkish", CreationLanguagesWithout({"Turkish"}), "Field 'Turkish' not found"},
        {"no Arabic", CreationLanguagesWithout({"Arabic"}), "Field 'Arabic' not found"},
        {"turkish in lower case",
         [] {
             auto l = CreationLanguagesWithout({"Turkish"});
             l.push_back("turkish");
             return l;
         }(),
         "Field 'Turkish' not found"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = PathOf("case.db");
        WriteTable(path, c.languages, {{"1", "F", "C", "P", "text", {}}});
        EXPECT_EQ(dm.CheckLanguageTable(path, ""), c.failure);
        EXPECT_EQ(dm.OpenLanguageTable(&dm.MasterLang(), path, ""), !c.failure.has_value());
        EXPECT_EQ(dm.MasterLang().Active(), !c.failure.has_value());
        dm.CloseTable();
    }
    EXPECT_TRUE(user.Log.empty()) << "opening never shows a message";
}

TEST_F(DataModuleTest, RefusesTablesWithoutNative) {
    const std::string path = PathOf("nonative.db");
    std::vector<testing::PxColumn> columns = LanguageTableColumns(AllCreationLanguages());
    columns.erase(columns.begin() + 4); // Native
    WritePxlibTable(path, columns, {});
    EXPECT_EQ(dm.CheckLanguageTable(path, ""), "Field 'Native' not found");
    EXPECT_FALSE(dm.OpenLanguageTable(&dm.MasterLang(), path, ""));
}

TEST_F(DataModuleTest, ARefusedFileLeavesThePreviousTableOpenWithItsChanges) {
    const std::string good = StandardTable();
    ASSERT_TRUE(dm.OpenLanguageTable(&dm.MasterLang(), good, ""));
    dm.MasterLang().SetRecNo(3);
    TypeEnglish("changed");
    dm.MasterLang().Post();

    const std::string noTurkish = PathOf("noturkish.db");
    WriteTable(noTurkish, CreationLanguagesWithout({"Turkish"}), {});
    const std::string textFile = PathOf("notes.db");
    std::ofstream(textFile) << "This is not a table\n";

    for (const std::string& bad : {noTurkish, textFile, PathOf("missing.db")}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(dm.OpenLanguageTable(&dm.MasterLang(), bad, ""));
        ASSERT_TRUE(dm.MasterLang().Active());
        EXPECT_EQ(dm.MasterLang().TableName(), good);
        EXPECT_TRUE(dm.MasterLang().UpdatesPending());
        EXPECT_EQ(dm.MasterLang().RecNo(), 3);
        EXPECT_EQ(Field("English").AsString(), "changed");
    }
    EXPECT_FALSE(dm.OpenLanguageTable(nullptr, good, ""));
    EXPECT_TRUE(user.Log.empty());
}

TEST_F(DataModuleTest, OpeningAnotherTableDropsTheHandlesOldTable) {
    const std::string first = StandardTable("first.db");
    const std::string second = StandardTable("second.db");
    ASSERT_TRUE(dm.OpenLanguageTable(&dm.MasterLang(), first, ""));
    TypeEnglish("dropped");
    ASSERT_TRUE(dm.OpenLanguageTable(&dm.MasterLang(), second, ""));
    EXPECT_EQ(dm.MasterLang().TableName(), second);
    EXPECT_FALSE(dm.MasterLang().UpdatesPending());
    EXPECT_EQ(ReadAllRecords(first)[0][kEnglish], "");
}

// --- The line-break display of the text columns ------------------------------------------------

TEST_F(DataModuleTest, TextColumnsShowLineBreaksAsCodes) {
    ASSERT_TRUE(dm.OpenLanguageTable(&dm.MasterLang(), StandardTable(), ""));
    dm.MasterLang().SetRecNo(2);
    EXPECT_EQ(Field("Native").DisplayText(), "one#13#10two");
    EXPECT_EQ(Field("Native").Text(), "one#13#10two");
    EXPECT_EQ(Field("English").DisplayText(), "a#10b");
    EXPECT_EQ(Field("Native").AsString(), "one\r\ntwo") << "raw reads are not converted";

    const int nativeIndex = Field("Native").Index();
    EXPECT_EQ(dm.MasterLang().DisplayTextAt(1, nativeIndex), "one#13#10two");
}

TEST_F(DataModuleTest, TypedCodesAreStoredAsLineBreaks) {
    ASSERT_TRUE(dm.OpenLanguageTable(&dm.MasterLang(), StandardTable(), ""));
    struct Case {
        const char* typed;
        const char* stored;
    };
    const Case cases[] = {
        {"two#10words", "two\nwords"},
        {"dos#13#10palabras", "dos\r\npalabras"},
        {"no codes here", "no codes here"},
        {"100 # 10", "100 # 10"},
    };
    for (const Case& c : cases) {
        TypeEnglish(c.typed);
        EXPECT_EQ(Field("English").AsString(), c.stored) << c.typed;
        dm.MasterLang().Post();
    }
}

TEST_F(DataModuleTest, FrenchAndMaoriGetTheConversionKeyColumnsDoNot) {
    auto languages =
        CreationLanguagesWithout({"French (Belgium)", "French (France)", "French (Switzerland)",
                                  "Chinese", "Hindi", "Welsh"});
    languages.push_back("French");
    languages.push_back("Maori");
    const std::string path = PathOf("french.db");
    WriteTable(path, languages,
               {{"1",
                 "Form\nName",
                 "Comp",
                 "Prop",
                 "x",
                 {{"French", "un\r\ndeux"}, {"Maori", "tahi\nrua"}}}});
    ASSERT_TRUE(dm.OpenLanguageTable(&dm.MasterLang(), path, ""));
    EXPECT_EQ(Field("French").DisplayText(), "un#13#10deux");
    EXPECT_EQ(Field("Maori").DisplayText(), "tahi#10rua");
    EXPECT_EQ(Field("Form_Name").DisplayText(), "Form\nName");

    dm.MasterLang().Edit();
    Field("Maori").SetText("toru#10wha");
    EXPECT_EQ(Field("Maori").AsString(), "toru\nwha");
    Field("Form_Name").SetText("a#10b");
    EXPECT_EQ(Field("Form_Name").AsString(), "a#10b");
}

TEST_F(DataModuleTest, ConvertsLongValuesWhole) {
    std::string stored;
    std::string shown;
    for (int i = 0; i < 3000; ++i) {
        stored += "line\r\n";
        shown += "line#13#10";
    }
    const std::string path = PathOf("long.db");
    WriteTable(path, AllCreationLanguages(), {{"1", "F", "C", "P", stored, {}}});
    ASSERT_TRUE(dm.OpenLanguageTable(&dm.MasterLang(), path, ""));
    EXPECT_EQ(Field("Native").DisplayText(), shown);
    TypeEnglish(shown + "end");
    EXPECT_EQ(Field("English").AsString(), stored + "end");
}

// --- Browse and open ---------------------------------------------------------------------

TEST_F(DataModuleTest, BrowseComesBackUntilAFileOpens) {
    const std::string noTurkish = PathOf("noturkish.db");
    WriteTable(noTurkish, CreationLanguagesWithout({"Turkish"}), {});
    const std::string textFile = PathOf("text.db");
    std::ofstream(textFile) << "plain text";
    const std::string good = StandardTable();
    user.Choose(textFile).Choose(noTurkish).Choose(good);

    dm.BrowseAndOpenTable(&dm.MasterLang());

    EXPECT_TRUE(dm.MasterLang().Active());
    EXPECT_EQ(dm.MasterLang().TableName(), good);
    EXPECT_EQ(user.Log, std::vector<std::string>(3, "open: Open Pelora Language Table"));
    const TOpenFileRequest& request = user.OpenRequests.at(0);
    EXPECT_EQ(request.Filter.Filter, "Paradox Tables|*.db");
    EXPECT_EQ(request.Filter.FilterIndex, 1);
    EXPECT_TRUE(request.PathMustExist);
    EXPECT_TRUE(request.FileMustExist);
}

TEST_F(DataModuleTest, BrowseCancelledKeepsTheHandleAsItWas) {
    const std::string good = StandardTable();
    ASSERT_TRUE(dm.OpenLanguageTable(&dm.MasterLang(), good, ""));
    user.Choose(std::nullopt);
    dm.BrowseAndOpenTable(&dm.MasterLang());
    EXPECT_EQ(dm.MasterLang().TableName(), good);
    EXPECT_TRUE(dm.MasterLang().Active());

    dm.BrowseAndOpenTable(nullptr);
    EXPECT_EQ(user.Log.size(), 1u) << "no dialog without a handle";
}

// --- Save question, save, revert, close --------------------------------------------------------

TEST_F(DataModuleTest, ConfirmSaveChangesAnswers) {
    struct Case {
        TAnswer answer;
        bool goOn;
        const char* onDisk;
        const char* shown;
        bool pending;
    };
    const Case cases[] = {
        {TAnswer::Yes, true, "typed", "typed", false},
        {TAnswer::No, true, "", "", false},
        {TAnswer::Cancel, false, "", "typed", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.answer));
        const std::string path = StandardTable();
        ASSERT_TRUE(dm.OpenLanguageTable(&dm.MasterLang(), path, ""));
        dm.MasterLang().SetRecNo(3);
        TypeEnglish("typed"); // not posted: the question posts it first
        user.Log.clear();
        user.Answer(c.answer);

        EXPECT_EQ(dm.ConfirmSaveChanges(), c.goOn);

        EXPECT_EQ(user.Log, std::vector<std::string>{kSaveQuestion});
        EXPECT_EQ(dm.MasterLang().State(), TDataSetState::dsBrowse);
        EXPECT_EQ(dm.MasterLang().UpdatesPending(), c.pending);
        dm.MasterLang().SetRecNo(3);
        EXPECT_EQ(Field("English").AsString(), c.shown);
        const int english = Field("English").Index();
        EXPECT_EQ(ReadAllRecords(path).at(2).at(static_cast<std::size_t>(english)), c.onDisk);
        dm.CloseTable();
    }
}

TEST_F(DataModuleTest, ConfirmSaveChangesAsksNothingWithoutChanges) {
    EXPECT_TRUE(dm.ConfirmSaveChanges()) << "no table open";
    ASSERT_TRUE(dm.OpenLanguageTable(&dm.MasterLang(), StandardTable(), ""));
    EXPECT_TRUE(dm.ConfirmSaveChanges());
    dm.MasterLang().Edit(); // an edit that changed nothing leaves nothing to save
    EXPECT_TRUE(dm.ConfirmSaveChanges());
    EXPECT_TRUE(user.Log.empty());
}

TEST_F(DataModuleTest, CloseAfterCancelKeepsTheTableAndAfterNoDropsTheChanges) {
    const std::string path = StandardTable();
    ASSERT_TRUE(dm.OpenLanguageTable(&dm.MasterLang(), path, ""));
    TypeEnglish("kept");
    dm.MasterLang().Post();

    user.Answer(TAnswer::Cancel);
    if (dm.ConfirmSaveChanges()) {
        dm.CloseTable();
    }
    ASSERT_TRUE(dm.MasterLang().Active());
    EXPECT_EQ(Field("English").AsString(), "kept");
    EXPECT_TRUE(dm.MasterLang().UpdatesPending());

    user.Answer(TAnswer::No);
    if (dm.ConfirmSaveChanges()) {
        dm.CloseTable();
    }
    EXPECT_FALSE(dm.MasterLang().Active());
    EXPECT_EQ(ReadAllRecords(path).at(0).at(kEnglish), "");
    EXPECT_TRUE(user.ScriptUsedUp());
}

TEST_F(DataModuleTest, SavePostsAnUnpostedEditAndWritesIt) {
    const std::string path = StandardTable();
    ASSERT_TRUE(dm.OpenLanguageTable(&dm.MasterLang(), path, ""));
    dm.MasterLang().SetRecNo(2);
    TypeEnglish("saved#10text");

    dm.SaveTable();

    EXPECT_EQ(dm.MasterLang().State(), TDataSetState::dsBrowse);
    EXPECT_FALSE(dm.MasterLang().UpdatesPending());
    const int english = Field("English").Index();
    EXPECT_EQ(ReadAllRecords(path).at(1).at(static_cast<std::size_t>(english)), "saved\ntext");
    EXPECT_TRUE(user.Log.empty()) << "nothing is shown on success";
    EXPECT_TRUE(dm.ConfirmSaveChanges()) << "nothing left to ask about";
    EXPECT_TRUE(user.Log.empty());
}

TEST_F(DataModuleTest, AFailingSaveKeepsTheChangesForAnotherTry) {
    const std::string path = StandardTable();
    ASSERT_TRUE(dm.OpenLanguageTable(&dm.MasterLang(), path, ""));
    dm.MasterLang().SetRecNo(2);
    TypeEnglish("mine");
    dm.MasterLang().Post();
    {
        // Someone else changes the same value in the file meanwhile.
        TTable other;
        other.SetTableName(path);
        other.Open();
        other.SetRecNo(2);
        other.Edit();
        other.FieldByName("English").SetAsString("theirs");
        other.Post();
    }

    EXPECT_THROW(dm.SaveTable(), EDatabaseError);
    EXPECT_TRUE(dm.MasterLang().UpdatesPending());
    EXPECT_EQ(ReadAllRecords(path).at(1).at(kEnglish), "theirs");

    user.Answer(TAnswer::Yes);
    EXPECT_THROW(dm.ConfirmSaveChanges(), EDatabaseError);
    EXPECT_TRUE(dm.MasterLang().UpdatesPending());
    EXPECT_EQ(Field("English").AsString(), "mine");
}

TEST_F(DataModuleTest, SaveWithoutChangesOrTableDoesNothing) {
    dm.SaveTable();
    const std::string path = StandardTable();
    ASSERT_TRUE(dm.OpenLanguageTable(&dm.MasterLang(), path, ""));
    const auto before = ReadAllRecords(path);
    dm.SaveTable();
    EXPECT_EQ(ReadAllRecords(path), before);
    EXPECT_TRUE(user.Log.empty());
}

TEST_F(DataModuleTest, RevertWithOnlyAnUnpostedEditSaysSoAndKeepsIt) {
    ASSERT_TRUE(dm.OpenLanguageTable(&dm.MasterLang(), StandardTable(), ""));
    TypeEnglish("unposted");

    dm.RevertTable();

    EXPECT_EQ(user.Log, std::vector<std::string>{"notice: No changes made since last save"});
    EXPECT_EQ(dm.MasterLang().State(), TDataSetState::dsEdit);
    EXPECT_EQ(Field("English").AsString(), "unposted");
}

TEST_F(DataModuleTest, RevertAsksAndDropsTheChangesOnlyOnYes) {
    const std::string question = "ask: Reverting table to last saved version will\rlose all "
                                 "current changes. Do you want to revert?";
    ASSERT_TRUE(dm.OpenLanguageTable(&dm.MasterLang(), StandardTable(), ""));
    TypeEnglish("posted");
    dm.MasterLang().Post();
    dm.MasterLang().SetRecNo(3);
    TypeEnglish("unposted");

    for (const TAnswer answer : {TAnswer::No, TAnswer::Cancel}) {
        user.Answer(answer);
        dm.RevertTable();
        EXPECT_TRUE(dm.MasterLang().UpdatesPending());
        EXPECT_EQ(Field("English").AsString(), "unposted");
    }
    user.Answer(TAnswer::Yes);
    dm.RevertTable();
    EXPECT_EQ(user.Log, std::vector<std::string>(3, question));
    EXPECT_FALSE(dm.MasterLang().UpdatesPending());
    EXPECT_EQ(dm.MasterLang().State(), TDataSetState::dsBrowse);
    for (int recNo : {1, 3}) {
        dm.MasterLang().SetRecNo(recNo);
        EXPECT_EQ(Field("English").AsString(), "") << "record " << recNo;
    }
}

TEST_F(DataModuleTest, CloseEmptiesBothHandles) {
    const std::string path = StandardTable();
    ASSERT_TRUE(dm.OpenLanguageTable(&dm.MasterLang(), path, ""));
    ASSERT_TRUE(dm.OpenLanguageTable(&dm.OperationsLang(), path, ""));
    dm.CloseTable();
    for (TTable* table : {&dm.MasterLang(), &dm.OperationsLang()}) {
        EXPECT_FALSE(table->Active());
        EXPECT_EQ(table->TableName(), "");
        EXPECT_EQ(table->DatabaseName(), "");
    }
    EXPECT_EQ(dm.dsMasterLang().DataSet(), &dm.MasterLang());
}

TEST_F(DataModuleTest, HandlesKeepTheirSettingsAcrossOpenAndClose) {
    const std::string path = StandardTable();
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(dm.OpenLanguageTable(&dm.MasterLang(), path, ""));
        EXPECT_TRUE(dm.MasterLang().CachedUpdates());
        EXPECT_EQ(dm.MasterLang().UpdateMode(), TUpdateMode::upWhereChanged);
        EXPECT_TRUE(dm.OperationsLang().CachedUpdates());
        TypeEnglish("cached");
        dm.MasterLang().Post();
        EXPECT_EQ(ReadAllRecords(path).at(0).at(kEnglish), "") << "edits stay in the cache";
        dm.CloseTable();
    }
}

// --- After-scroll ------------------------------------------------------------------------

TEST_F(DataModuleTest, AfterScrollReachesTheOneSubscriberFromBothHandles) {
    const std::string path = StandardTable();
    ASSERT_TRUE(dm.OpenLanguageTable(&dm.MasterLang(), path, ""));
    ASSERT_TRUE(dm.OpenLanguageTable(&dm.OperationsLang(), path, ""));
    dm.MasterLang().Next(); // nobody subscribed yet: nothing happens

    std::vector<std::string> first, second;
    const auto name = [this](TDataSet& set) {
        return &set == &dm.MasterLang()       ? std::string("master")
               : &set == &dm.OperationsLang() ? std::string("operations")
                                              : std::string("other");
    };
    dm.SetAfterScrollSubscriber([&](TDataSet& set) { first.push_back(name(set)); });
    dm.MasterLang().Next();
    dm.OperationsLang().Next();
    dm.SetAfterScrollSubscriber([&](TDataSet& set) { second.push_back(name(set)); });
    dm.MasterLang().First();

    EXPECT_EQ(first, (std::vector<std::string>{"master", "operations"}));
    EXPECT_EQ(second, (std::vector<std::string>{"master"}));

    dm.SetAfterScrollSubscriber({});
    dm.MasterLang().Next();
    EXPECT_EQ(second.size(), 1u);
}

// --- Backup ------------------------------------------------------------------------------

class BackupTest : public DataModuleTest {
protected:
    // A table with gaps in Index_No, "French" and "Maori" beside the standard languages, and
    // unsaved changes: an edit of record 2 (posted) and of record 3 (unposted).
    void SetUp() override {
        DataModuleTest::SetUp();
        auto languages = AllCreationLanguages();
        languages.push_back("French");
        languages.push_back("Maori");
        source = PathOf("source.db");
        WriteTable(source, languages,
                   {{"3", "MainForm", "", "", "Main", {{"French", "Principal"}}},
                    {"7", "MainForm", "Label1", "Caption", "one\r\ntwo", {{"Maori", "tahi"}}},
                    {"20", "MainForm", "OkButton", "Caption", "OK", {{"English", "OK"}}}});
        ASSERT_TRUE(dm.OpenLanguageTable(&dm.MasterLang(), source, ""));
        dm.MasterLang().SetRecNo(2);
        TypeEnglish("posted");
        dm.MasterLang().Post();
        dm.MasterLang().SetRecNo(3);
        TypeEnglish("unposted");
        user.Log.clear();
    }

    std::string source;
};

TEST_F(BackupTest, CopiesEveryColumn) {
    const std::string copy = PathOf("copy.db");
    user.Choose(copy);

    dm.BackupTable(&dm.MasterLang());

    EXPECT_EQ(user.Log, (std::vector<std::string>{"save: Backup a Pelora Language Table", "busy on",
                                                  "busy off"}));
    const TSaveFileRequest& request = user.SaveRequests.at(0);
    EXPECT_EQ(request.Filter.Filter, "Paradox Tables|*.db");
    EXPECT_EQ(request.Filter.FilterIndex, 1);
    EXPECT_TRUE(request.ConfirmOverwrite);
    EXPECT_TRUE(request.PathMustExist);

    auto expectedNames = std::vector<std::string>(kStandardColumns.begin(), kStandardColumns.end());
    expectedNames.push_back("French");
    expectedNames.push_back("Maori");
    EXPECT_EQ(ReadColumnNames(copy), expectedNames);

    const auto records = ReadAllRecords(copy);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0][1], "MainForm");
    EXPECT_EQ(records[1][2], "Label1");
    EXPECT_EQ(records[1][kNative], "one\r\ntwo");
    EXPECT_EQ(records[0][43], "Principal");
    EXPECT_EQ(records[1][44], "tahi");
    EXPECT_EQ(records[2][kEnglish], "OK") << "the unposted edit is not part of the copy";
}

TEST_F(BackupTest, LeavesTheUnsavedChangesInPlace) {
    user.Choose(PathOf("copy.db"));
    dm.BackupTable(&dm.MasterLang());

    EXPECT_EQ(dm.MasterLang().RecNo(), 3) << "the current record stays";
    EXPECT_EQ(Field("English").AsString(), "unposted");
    EXPECT_TRUE(dm.MasterLang().UpdatesPending());
    EXPECT_EQ(ReadAllRecords(source).at(1).at(kEnglish), "") << "nothing was saved";

    user.Log.clear();
    user.Answer(TAnswer::Cancel);
    EXPECT_FALSE(dm.ConfirmSaveChanges());
    EXPECT_EQ(user.Log, std::vector<std::string>{kSaveQuestion});
}

TEST_F(BackupTest, RefusesTheOpenTablesOwnPath) {
    const auto before = ReadAllRecords(source);
    const std::string otherSpelling = (folder / "." / "source.db").string();
    for (const std::string& path : {source, otherSpelling}) {
        SCOPED_TRACE(path);
        user.Log.clear();
        user.Choose(path);
        dm.BackupTable(&dm.MasterLang());
        EXPECT_EQ(user.Log, (std::vector<std::string>{"save: Backup a Pelora Language Table",
                                                      "notice: Cannot overwrite open table!"}));
        EXPECT_THROW(dm.CopyTable(dm.MasterLang(), path), std::runtime_error);
    }
    EXPECT_EQ(ReadAllRecords(source), before);
    EXPECT_TRUE(dm.MasterLang().UpdatesPending());
}

TEST_F(BackupTest, ReplacesAnEarlierCopy) {
    const std::string copy = PathOf("copy.db");
    WriteTable(copy, {"Klingon"}, {{"1", "Old", "", "", "old", {}}});
    user.Choose(copy);
    dm.BackupTable(&dm.MasterLang());
    const auto names = ReadColumnNames(copy);
    EXPECT_EQ(std::count(names.begin(), names.end(), "Klingon"), 0);
    EXPECT_EQ(ReadAllRecords(copy).size(), 3u);
}

TEST_F(BackupTest, CancelAndMissingHandleDoNothing) {
    user.Choose(std::nullopt);
    dm.BackupTable(&dm.MasterLang());
    dm.BackupTable(nullptr);
    EXPECT_EQ(user.Log, std::vector<std::string>{"save: Backup a Pelora Language Table"});
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        EXPECT_NE(entry.path().stem(), "copy") << "no table was made";
        if (entry.path().extension() == ".db") {
            EXPECT_EQ(entry.path().filename(), "source.db");
        }
    }
}

TEST_F(BackupTest, EngineFailuresReachTheCallerAndResetTheCursor) {
    user.Choose(PathOf("no/such/folder/copy.db"));
    EXPECT_THROW(dm.BackupTable(&dm.MasterLang()), std::exception);
    EXPECT_EQ(std::count(user.Log.begin(), user.Log.end(), "busy on"),
              std::count(user.Log.begin(), user.Log.end(), "busy off"))
        << "the cursor is not left busy";
    EXPECT_TRUE(dm.MasterLang().UpdatesPending());
}

TEST_F(BackupTest, ACopyOpensAsALanguageTable) {
    const std::string copy = PathOf("copy.db");
    dm.CopyTable(dm.MasterLang(), copy);
    TTable reopened;
    ASSERT_TRUE(dm.OpenLanguageTable(&reopened, copy, ""));
    reopened.SetRecNo(2);
    EXPECT_EQ(reopened.FieldByName("Native").DisplayText(), "one#13#10two");
    EXPECT_EQ(reopened.FieldByName("Maori").DisplayText(), "tahi");
}

} // namespace
} // namespace kelvara
