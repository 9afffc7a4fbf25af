#pragma once
// The one place where the exceptions of a command end.
//
// Qt does not let an exception unwind through its event loop, so every command slot, dialog
// handler and event handler that can fail runs its work through RunCommand. What escapes the work
// is shown in an error box titled "Kelvara" with the failure's message (a "." appended when its
// last character sorts after "."); the silent abort EAbort ends the command without a message.
// The window stays as the command left it.

#include <QString>
#include <functional>
#include <string>

class QWidget;

namespace kelvara {

// Shows the error box for a failure message (the "." rule is applied here).
void ShowCommandError(QWidget* parent, const std::string& message);

// Runs `command`; returns true when it finished without an exception. Never throws.
bool RunCommand(QWidget* parent, const std::function<void()>& command) noexcept;

} // namespace kelvara
