#pragma once
// The data module's one way to talk to the user. Everything below the Qt layers that must ask a
// question, show a notice or let the user choose a file goes through TUserInteraction; the
// desktop program implements it with message boxes and file dialogs, tests with a scripted fake,
// the command-line tool with an implementation that never asks.
//
// Texts are UTF-8. A text may hold a CR (byte 13) as a line break between two lines of a message;
// an implementation shows it as a line break. Message boxes carry the application's title
// "Kelvara".

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kelvara {

// The silent abort: ends a command without any message. Whoever catches the exceptions of a
// command shows every other exception and ignores this one.
class EAbort : public std::runtime_error {
public:
    EAbort() : std::runtime_error("Operation aborted") {}
};

// The text of the error message box for a failure message: the message, with a "." appended when
// its last character sorts after ".". An empty message stays empty.
std::string ErrorMessageText(std::string_view message);

enum class TAnswer { Yes, No, Cancel };

// A file filter in the form "Description|pattern[;pattern]|Description|pattern...", for example
// "Paradox Tables|*.db". FilterIndex counts the description/pattern pairs from 1 and names the
// one selected first.
struct TFileFilter {
    std::string Filter;
    int FilterIndex = 1;
};

// A file-open dialog. The read-only check box is never offered.
struct TOpenFileRequest {
    std::string Title;
    TFileFilter Filter;
    bool PathMustExist = true;
    bool FileMustExist = true;
};

// A file-save dialog. The read-only check box is never offered. With ConfirmOverwrite the dialog
// itself asks before an existing file is chosen; the caller then replaces it without asking again.
struct TSaveFileRequest {
    std::string Title;
    TFileFilter Filter;
    bool PathMustExist = true;
    bool ConfirmOverwrite = true;
};

class TUserInteraction {
public:
    virtual ~TUserInteraction() = default;

    // A confirmation with the buttons Yes, No and Cancel. Closing the box without a button
    // answers Cancel.
    virtual TAnswer AskYesNoCancel(const std::string& text) = 0;

    // An information notice with an OK button.
    virtual void ShowNotice(const std::string& text) = 0;

    // An error notice with an OK button. The text is shown as given (no "." is appended here).
    virtual void ShowError(const std::string& text) = 0;

    // The chosen file's full path, or nothing when the user cancels.
    virtual std::optional<std::string> ChooseFileToOpen(const TOpenFileRequest& request) = 0;
    virtual std::optional<std::string> ChooseFileToSave(const TSaveFileRequest& request) = 0;

    // The hourglass mouse cursor on (true) or back to the default (false). Calls do not nest.
    virtual void SetBusyCursor(bool busy) = 0;
};

// Shows the busy cursor for its lifetime; the default cursor returns also when a step fails.
class TBusyCursor {
public:
    explicit TBusyCursor(TUserInteraction& user) : user_(user) { user_.SetBusyCursor(true); }
    ~TBusyCursor() { user_.SetBusyCursor(false); }
    TBusyCursor(const TBusyCursor&) = delete;
    TBusyCursor& operator=(const TBusyCursor&) = delete;

private:
    TUserInteraction& user_;
};

} // namespace kelvara
