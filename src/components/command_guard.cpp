#include "components/command_guard.h"

#include "components/qt_text.h"
#include "store/user_interaction.h"

#include <QMessageBox>
#include <exception>

namespace kelvara {

void ShowCommandError(QWidget* parent, const std::string& message) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Kelvara"),
                    ToQString(ErrorMessageText(message)), QMessageBox::Ok, parent);
    box.exec();
}

bool RunCommand(QWidget* parent, const std::function<void()>& command) noexcept {
    try {
        command();
        return true;
    } catch (const EAbort&) {
        return false;
    } catch (const std::exception& failure) {
        try {
            ShowCommandError(parent, failure.what());
        } catch (...) {
            // Nothing is left to report to when the box itself cannot be shown.
        }
        return false;
    } catch (...) {
        try {
            ShowCommandError(parent, "Unknown error");
        } catch (...) {
        }
        return false;
    }
}

} // namespace kelvara
