#pragma once
// Helpers for Qt tests: registering test classes, answering modal boxes and dialogs.

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

class QWidget;
class QMessageBox;

namespace kelvara::test {

using TTestFactory = std::function<std::unique_ptr<QObject>()>;

// Registers a test class under its name; the runner executes the class named by its first
// argument, or all classes without one.
struct TQtTestRegistration {
    TQtTestRegistration(const char* name, TTestFactory factory);
};

#define KELVARA_QT_TEST(Class)                                                                     \
    static const ::kelvara::test::TQtTestRegistration Class##Registration(                         \
        #Class, [] { return std::unique_ptr<QObject>(new Class); })

// Runs `handler` on the next modal widget that opens (checked every few milliseconds, for at
// most a few seconds). Handlers run in order: each waits for a modal widget other than the one
// its predecessor handled. The handler must close the widget.
class TModalAnswerer : public QObject {
    Q_OBJECT
public:
    using THandler = std::function<void(QWidget*)>;
    TModalAnswerer();
    ~TModalAnswerer() override;

    void Then(THandler handler);
    // Convenience: a message box, whose title and text are recorded, answered with `button`
    // (a QMessageBox::StandardButton).
    void ThenMessageBox(int button);

    int Handled() const { return FHandled; }
    int Pending() const { return static_cast<int>(FHandlers.size()); }
    const std::vector<QString>& Titles() const { return FTitles; }
    const std::vector<QString>& Texts() const { return FTexts; }

private:
    void Poll();

    std::vector<THandler> FHandlers;
    QPointer<QWidget> FLastHandled;
    int FHandled = 0;
    std::vector<QString> FTitles;
    std::vector<QString> FTexts;
    int FTimerId = 0;
    void timerEvent(QTimerEvent* event) override;
};

} // namespace kelvara::test
