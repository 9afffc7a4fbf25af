#include "components/qt_test_support.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimerEvent>
#include <map>
#include <string>

namespace kelvara::test {

std::map<std::string, TTestFactory>& Registry();

TQtTestRegistration::TQtTestRegistration(const char* name, TTestFactory factory) {
    Registry()[name] = std::move(factory);
}

TModalAnswerer::TModalAnswerer() {
    FTimerId = startTimer(5);
}

TModalAnswerer::~TModalAnswerer() {
    killTimer(FTimerId);
}

void TModalAnswerer::Then(THandler handler) {
    FHandlers.push_back(std::move(handler));
}

void TModalAnswerer::ThenMessageBox(int button) {
    Then([this, button](QWidget* widget) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        if (box == nullptr) {
            FTitles.push_back(QStringLiteral("<not a message box: %1>")
                                  .arg(QString::fromLatin1(widget->metaObject()->className())));
            FTexts.push_back({});
            widget->close();
            return;
        }
        FTitles.push_back(box->windowTitle());
        FTexts.push_back(box->text());
        QAbstractButton* answer = box->button(static_cast<QMessageBox::StandardButton>(button));
        if (answer != nullptr) {
            answer->click();
        } else {
            box->reject();
        }
    });
}

void TModalAnswerer::timerEvent(QTimerEvent* event) {
    if (event->timerId() == FTimerId) {
        Poll();
    }
}

void TModalAnswerer::Poll() {
    if (FHandlers.empty()) {
        return;
    }
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || !modal->isVisible()) {
        return;
    }
    if (!FLastHandled.isNull() && FLastHandled.data() == modal) {
        return;
    }
    FLastHandled = modal;
    THandler handler = std::move(FHandlers.front());
    FHandlers.erase(FHandlers.begin());
    ++FHandled;
    // Run outside this timer's event: a handler may open a further modal loop, and Qt does not
    // deliver a timer's event again while it is still being handled.
    QPointer<QWidget> target(modal);
    QMetaObject::invokeMethod(
        this,
        [handler = std::move(handler), target] {
            if (!target.isNull()) {
                handler(target.data());
            }
        },
        Qt::QueuedConnection);
}

} // namespace kelvara::test
