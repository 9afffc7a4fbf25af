#include "store/data_module.h"

#include "engine/batch_move.h"
#include "store/create_db.h"
#include "store/language_catalogue.h"
#include "store/line_break_display.h"
#include "text/utf8_path.h"

#include <algorithm>
#include <filesystem>
#include <typeinfo>

#if __has_include(<cxxabi.h>)
#include <cstdlib>
#include <cxxabi.h>
#define KELVARA_HAVE_CXXABI 1
#endif

namespace kelvara {
namespace {

constexpr const char* kParadoxFilter = "Paradox Tables|*.db";
constexpr const char* kSaveQuestion = "Do you want to save changes to current table first?";
constexpr const char* kNoChanges = "No changes made since last save";
constexpr const char* kRevertQuestion =
    "Reverting table to last saved version will\rlose all current changes. Do you want to revert?";
constexpr const char* kOwnTable = "Cannot overwrite open table!";

// The class name of an exception as a user reads it: "EDatabaseError", without namespaces.
std::string ExceptionClassName(const std::exception& error) {
    std::string name = typeid(error).name();
#ifdef KELVARA_HAVE_CXXABI
    int status = 0;
    char* demangled = abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status);
    if (status == 0 && demangled != nullptr) {
        name = demangled;
    }
    std::free(demangled);
#endif
    const auto scope = name.rfind("::");
    return scope == std::string::npos ? name : name.substr(scope + 2);
}

void Rebind(TTable& table, const std::string& path, const std::string& databaseName) {
    table.SetTableName(path);
    table.SetDatabaseName(databaseName);
    table.SetTableType(TTableType::ttParadox);
}

bool InEditState(const TTable& table) {
    return table.State() == TDataSetState::dsEdit || table.State() == TDataSetState::dsInsert;
}

// The exact comparison of the two paths catches the usual case; the file identity also catches
// another spelling of the same file, which would otherwise replace the table being copied.
bool IsSameTable(const std::string& path, const TTable& table) {
    if (path == table.TableName() || path == table.FilePath()) {
        return true;
    }
    std::error_code error;
    return std::filesystem::equivalent(Utf8ToPath(path), Utf8ToPath(table.FilePath()), error) &&
           !error;
}

} // namespace

TDMLanguage::TDMLanguage(TUserInteraction& user) : user_(user) {
    for (TTable* table : {&masterLang_, &operationsLang_}) {
        table->SetTableType(TTableType::ttParadox);
        table->SetCachedUpdates(true);
        table->AfterScroll = [this](TDataSet& scrolled) { MasterLangAfterScroll(scrolled); };
    }
    masterLang_.SetUpdateMode(TUpdateMode::upWhereChanged);
}

TDMLanguage::~TDMLanguage() {
    operationsLang_.Close();
    masterLang_.Close();
}

void TDMLanguage::SetAfterScrollSubscriber(TAfterScrollSubscriber subscriber) {
    afterScrollSubscriber_ = std::move(subscriber);
}

std::optional<std::string> TDMLanguage::CheckLanguageTable(const std::string& path,
                                                           const std::string& databaseName) {
    try {
        TTable probe;
        Rebind(probe, path, databaseName);
        probe.Open();
        SetupTextColumns(probe);
        return std::nullopt;
    } catch (const std::exception& error) {
        return std::string(error.what());
    }
}

bool TDMLanguage::OpenLanguageTable(TTable* handle, const std::string& path,
                                    const std::string& databaseName) {
    if (handle == nullptr) {
        return false;
    }
    try {
        TTable probe;
        Rebind(probe, path, databaseName);
        probe.Open();
        SetupTextColumns(probe);
        handle->Close();
        probe.Close();
    } catch (const std::exception&) {
        return false;
    }
    try {
        Rebind(*handle, path, databaseName);
        handle->Open();
        SetupTextColumns(*handle);
        return true;
    } catch (const std::exception&) {
        // A handle with only some of its hooks would show raw line breaks: leave it closed.
        handle->Close();
        return false;
    }
}

void TDMLanguage::BrowseAndOpenTable(TTable* handle) {
    if (handle == nullptr) {
        return;
    }
    const TOpenFileRequest request{"Open Pelora Language Table", {kParadoxFilter, 1}, true, true};
    while (const auto path = user_.ChooseFileToOpen(request)) {
        if (OpenLanguageTable(handle, *path, "")) {
            return;
        }
    }
}

void TDMLanguage::SetupTextColumns(TTable& handle) {
    const auto install = [this](TField& column) {
        column.OnGetText = [this](TField& sender, std::string& text, bool displayText) {
            TextColumnGetText(sender, text, displayText);
        };
        column.OnSetText = [this](TField& sender, const std::string& text) {
            TextColumnSetText(sender, text);
        };
    };
    install(handle.FieldByName(kNativeColumn));
    for (const TTextColumn& language : kTextColumns) {
        if (language.Required) {
            install(handle.FieldByName(language.Name));
        } else if (TField* column = handle.FindField(language.Name)) {
            install(*column);
        }
    }
}

void TDMLanguage::TextColumnGetText(TField&, std::string& text, bool) {
    try {
        text = TextToDisplay(text);
    } catch (const std::exception& error) {
        text.clear();
        user_.ShowError(ExceptionClassName(error) + ": " + error.what());
    }
}

void TDMLanguage::TextColumnSetText(TField& sender, const std::string& text) {
    sender.SetAsString(DisplayToText(text));
}

void TDMLanguage::BackupTable(TTable* handle) {
    if (handle == nullptr) {
        return;
    }
    const TSaveFileRequest request{
        "Backup a Pelora Language Table", {kParadoxFilter, 1}, true, true};
    const auto path = user_.ChooseFileToSave(request);
    if (!path) {
        return;
    }
    if (IsSameTable(*path, *handle)) {
        user_.ShowNotice(kOwnTable);
        return;
    }
    CopyTable(*handle, *path);
}

void TDMLanguage::CopyTable(TTable& source, const std::string& destinationPath) {
    if (IsSameTable(destinationPath, source)) {
        throw std::runtime_error(kOwnTable);
    }
    if (!source.Active()) {
        throw EDatabaseError("Cannot perform this operation on a closed dataset");
    }
    // The copy keeps every column of the source: the standard ones first, then any further
    // language (such as "French" or "Maori") with its own type and size.
    std::vector<TFieldDef> extraColumns;
    for (const TFieldDef& def : source.FieldDefList()) {
        if (std::find(kStandardColumns.begin(), kStandardColumns.end(), def.Name) ==
            kStandardColumns.end()) {
            extraColumns.push_back(def);
        }
    }
    kelvara::CreateLanguageTable("", destinationPath, extraColumns);

    TTable destination;
    Rebind(destination, destinationPath, "");
    destination.Open();
    TBusyCursor busy(user_);
    TBatchMove move(&source, &destination);
    move.Execute();
    destination.Close();
}

void TDMLanguage::MasterLangAfterScroll(TDataSet& handle) {
    if (afterScrollSubscriber_) {
        afterScrollSubscriber_(handle);
    }
}

bool TDMLanguage::ConfirmSaveChanges() {
    if (!masterLang_.Active()) {
        return true;
    }
    if (InEditState(masterLang_)) {
        masterLang_.Post();
    }
    if (!masterLang_.UpdatesPending()) {
        return true;
    }
    switch (user_.AskYesNoCancel(kSaveQuestion)) {
    case TAnswer::Yes:
        masterLang_.ApplyUpdates();
        masterLang_.CommitUpdates();
        return true;
    case TAnswer::No:
        masterLang_.CancelUpdates();
        return true;
    case TAnswer::Cancel:
        break;
    }
    return false;
}

void TDMLanguage::SaveTable() {
    if (InEditState(masterLang_)) {
        masterLang_.Post();
    }
    if (masterLang_.UpdatesPending()) {
        masterLang_.ApplyUpdates();
        masterLang_.CommitUpdates();
    }
}

void TDMLanguage::RevertTable() {
    if (!masterLang_.UpdatesPending()) {
        user_.ShowNotice(kNoChanges);
        return;
    }
    if (user_.AskYesNoCancel(kRevertQuestion) == TAnswer::Yes) {
        masterLang_.CancelUpdates();
    }
}

void TDMLanguage::CloseTable() {
    for (TTable* table : {&masterLang_, &operationsLang_}) {
        table->Close();
        table->SetTableName("");
        table->SetDatabaseName("");
    }
}

void TDMLanguage::CreateLanguageTable(const std::string& databaseName, const std::string& path) {
    kelvara::CreateLanguageTable(databaseName, path);
}

} // namespace kelvara
