#pragma once
// The user interaction of a run with nobody to ask, such as the command-line tool: notices and
// errors are written to a stream as one line each, every question answers Cancel (so nothing is
// given up or overwritten), every file dialog is cancelled, the busy cursor is ignored.

#include "store/user_interaction.h"

#include <ostream>

namespace kelvara {

class TUnattendedUser : public TUserInteraction {
public:
    // The stream must outlive this object.
    explicit TUnattendedUser(std::ostream& messages) : messages_(messages) {}

    TAnswer AskYesNoCancel(const std::string& text) override;
    void ShowNotice(const std::string& text) override;
    void ShowError(const std::string& text) override;
    std::optional<std::string> ChooseFileToOpen(const TOpenFileRequest& request) override;
    std::optional<std::string> ChooseFileToSave(const TSaveFileRequest& request) override;
    void SetBusyCursor(bool busy) override;

private:
    void WriteLine(const std::string& text);

    std::ostream& messages_;
};

} // namespace kelvara
