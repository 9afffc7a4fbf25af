#pragma once
// The data module: the one owner of the open language table and of everything that happens to it
// as a whole. It opens tables with a check of their columns, installs the line-break display
// conversion on the text columns, creates and backs up tables, saves, reverts and closes, asks
// whether to save before a table is given up, and forwards every change of the current record to
// one subscriber (the main window).
//
// All edits of the open table stay in the change cache of MasterLang until SaveTable (or the Yes
// answer of ConfirmSaveChanges) writes them. Every table is named by its full file path with an
// empty database name.
//
// One instance lives from before the main window is created until after it is destroyed; it runs
// on the user-interface thread only. Unapplied changes are dropped when it is destroyed.

#include "engine/dataset.h"
#include "engine/table.h"
#include "store/user_interaction.h"

#include <functional>
#include <optional>
#include <string>

namespace kelvara {

// The one after-scroll subscriber: called with the handle whose current record just changed.
using TAfterScrollSubscriber = std::function<void(TDataSet& table)>;

class TDMLanguage {
public:
    // The user interaction must outlive the data module. No table is open at start.
    explicit TDMLanguage(TUserInteraction& user);
    ~TDMLanguage();
    TDMLanguage(const TDMLanguage&) = delete;
    TDMLanguage& operator=(const TDMLanguage&) = delete;

    // The data source of MasterLang, for the main grid. It always names MasterLang.
    TDataSource& dsMasterLang() { return dsMasterLang_; }

    // The open language table. Cached updates on, update mode where-changed, after-scroll bound
    // to MasterLangAfterScroll. Closed while no table is open.
    TTable& MasterLang() { return masterLang_; }

    // A second handle for reading the open table's file again (export, printing), opened for one
    // command and closed again. Cached updates on, after-scroll bound to MasterLangAfterScroll.
    TTable& OperationsLang() { return operationsLang_; }

    // Registers the one subscriber of MasterLangAfterScroll, replacing any earlier one. An empty
    // function removes it.
    void SetAfterScrollSubscriber(TAfterScrollSubscriber subscriber);

    // Opens handle on the table at path after checking on a probe handle that the file opens and
    // holds `Native` and every required language column. On success the handle is open with the
    // display conversion installed on its text columns, and any earlier table of the handle was
    // closed first (its unapplied cached changes dropped: callers that hold the user's edits run
    // ConfirmSaveChanges before). Returns false, without any message, when handle is null, when
    // the check fails (the handle then stays as it was, still open on its previous table if it
    // had one), or when reopening the handle fails (the handle is then closed).
    bool OpenLanguageTable(TTable* handle, const std::string& path,
                           const std::string& databaseName);

    // The check of OpenLanguageTable on its own: opens a probe handle on the table and sets up
    // its text columns. Nothing when the table would open, otherwise the failure's message
    // (e.g. "Field 'Turkish' not found"). Nothing else is touched.
    std::optional<std::string> CheckLanguageTable(const std::string& path,
                                                  const std::string& databaseName);

    // Lets the user choose a table ("Open Pelora Language Table", "Paradox Tables|*.db") and opens
    // it on handle with OpenLanguageTable. A file that does not open brings the dialog back
    // without a message, until a file opens or the user cancels. Does nothing for a null handle.
    void BrowseAndOpenTable(TTable* handle);

    // Installs TextColumnGetText and TextColumnSetText as the get-text and set-text hooks of
    // `Native` and of every column of the text-column list the table holds. Throws the engine's
    // "Field '%s' not found" when `Native` or a required column is missing; the hooks of the
    // columns before it stay installed. The key columns and Index_No get no hooks.
    void SetupTextColumns(TTable& handle);

    // The get-text hook (signature of TField::TGetTextEvent): replaces the column's stored text,
    // given in text, by TextToDisplay of it, for display and in-place editing alike. When that
    // fails, shows the error "<exception class>: <message>" and leaves an empty text.
    void TextColumnGetText(TField& sender, std::string& text, bool displayText);

    // The set-text hook (signature of TField::TSetTextEvent): stores DisplayToText(text) as the
    // column's text. Errors pass on.
    void TextColumnSetText(TField& sender, const std::string& text);

    // Lets the user choose a file ("Backup a Pelora Language Table", "Paradox Tables|*.db", the
    // dialog confirms an overwrite) and copies handle's table there with CopyTable. Choosing the
    // handle's own table (the same path, or another spelling of the same file) shows the notice
    // "Cannot overwrite open table!" and copies nothing. The busy cursor is shown while copying
    // and reset also when copying fails. Engine failures pass on. Neither saves nor drops
    // handle's cached changes, and its current record stays. Does nothing for a null handle or
    // when the user cancels.
    void BackupTable(TTable* handle);

    // The copy of BackupTable without its dialog: a fresh language table at destinationPath
    // (replacing any table there) with the standard columns plus, at the end, every further
    // column of the source with its type and size; then every record of the source as it shows
    // (posted cached changes included, an unposted edit not), in the source's order. Records keep
    // their Index_No (gaps included) and the copy numbers further records after the highest one;
    // a cached insert not yet saved is numbered after them (see engine/batch_move.h).
    // Throws std::runtime_error "Cannot overwrite open table!" when destinationPath names the
    // source's own file, and EDatabaseError when the source is closed; both before anything is
    // written.
    void CopyTable(TTable& source, const std::string& destinationPath);

    // The engine's after-scroll notification of both handles: calls the subscriber, if any, with
    // the handle that scrolled.
    void MasterLangAfterScroll(TDataSet& handle);

    // Asks "Do you want to save changes to current table first?" when MasterLang holds changes
    // (an unposted edit is posted first). Yes saves, No drops the changes, Cancel keeps them.
    // True when the caller may go on: no table, no changes, Yes or No. A failing save throws; the
    // changes then stay in the cache.
    bool ConfirmSaveChanges();

    // Posts an unposted edit of MasterLang and writes every cached change to the file. Shows
    // nothing on success; a failing apply throws and keeps the cache for a later try.
    void SaveTable();

    // Drops the cached changes after the user confirms. With no posted changes says "No changes
    // made since last save" and leaves an unposted edit in place.
    void RevertTable();

    // Closes MasterLang and OperationsLang and empties their paths and database names. Unapplied
    // changes are dropped: callers run ConfirmSaveChanges first.
    void CloseTable();

    // Creates an empty language table at path, replacing any table there (forwarded for backup
    // and message extraction).
    void CreateLanguageTable(const std::string& databaseName, const std::string& path);

private:
    TUserInteraction& user_;
    TTable masterLang_;
    TTable operationsLang_;
    TDataSource dsMasterLang_{&masterLang_};
    TAfterScrollSubscriber afterScrollSubscriber_;
};

} // namespace kelvara
