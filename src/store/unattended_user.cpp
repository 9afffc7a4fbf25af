#include "store/unattended_user.h"

#include <algorithm>

namespace kelvara {

TAnswer TUnattendedUser::AskYesNoCancel(const std::string&) {
    return TAnswer::Cancel;
}

void TUnattendedUser::ShowNotice(const std::string& text) {
    WriteLine(text);
}

void TUnattendedUser::ShowError(const std::string& text) {
    WriteLine(text);
}

std::optional<std::string> TUnattendedUser::ChooseFileToOpen(const TOpenFileRequest&) {
    return std::nullopt;
}

std::optional<std::string> TUnattendedUser::ChooseFileToSave(const TSaveFileRequest&) {
    return std::nullopt;
}

void TUnattendedUser::SetBusyCursor(bool) {}

void TUnattendedUser::WriteLine(const std::string& text) {
    // A CR separates the lines of a message box; on a stream the message stays one line.
    std::string line = text;
    std::replace(line.begin(), line.end(), '\r', ' ');
    std::replace(line.begin(), line.end(), '\n', ' ');
    messages_ << line << '\n';
}

} // namespace kelvara
