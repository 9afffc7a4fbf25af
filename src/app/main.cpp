// The Kelvara desktop program.
#include "app/main_form.h"
#include "components/qt_text.h"
#include "components/qt_user_interaction.h"
#include "kelvara/version.h"
#include "store/data_module.h"

#include <QApplication>
#include <QStringList>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kelvara"));
    QApplication::setApplicationVersion(kelvara::ToQString(kelvara::kProductVersion));

    // The data module comes before the main window and goes after it; it drops unsaved changes
    // when it goes.
    kelvara::TQtUserInteraction user;
    kelvara::TDMLanguage data(user);
    QStringList parameters = QApplication::arguments();
    if (!parameters.isEmpty()) {
        parameters.removeFirst();
    }
    kelvara::TMainForm mainForm(data, user, parameters);
    mainForm.show();
    return QApplication::exec();
}
