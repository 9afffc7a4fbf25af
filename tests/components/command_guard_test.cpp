// Failures of a command end in one error box titled "Kelvara"; the silent abort shows nothing.
#include "components/command_guard.h"
#include "components/qt_test_support.h"
#include "store/user_interaction.h"

#include <QMessageBox>
#include <QTest>
#include <stdexcept>

using namespace kelvara;
using kelvara::test::TModalAnswerer;

class TCommandGuardTest : public QObject {
    Q_OBJECT
private slots:
    void ShowsTheMessageOfAFailure_data() {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("shown");
        QTest::newRow("letter gets a full stop") << QStringLiteral("Field 'Turkish' not found")
                                                 << QStringLiteral("Field 'Turkish' not found.");
        QTest::newRow("full stop stays") << QStringLiteral("Done.") << QStringLiteral("Done.");
        QTest::newRow("exclamation sorts before")
            << QStringLiteral("Stop!") << QStringLiteral("Stop!");
        QTest::newRow("umlaut sorts after")
            << QStringLiteral("Fehler bei Ö") << QStringLiteral("Fehler bei Ö.");
    }
    void ShowsTheMessageOfAFailure() {
        QFETCH(QString, message);
        QFETCH(QString, shown);
        TModalAnswerer answerer;
        answerer.ThenMessageBox(QMessageBox::Ok);
        const bool finished =
            RunCommand(nullptr, [&] { throw std::runtime_error(message.toUtf8().toStdString()); });
        QVERIFY(!finished);
        QCOMPARE(answerer.Handled(), 1);
        QCOMPARE(answerer.Titles().at(0), QStringLiteral("Kelvara"));
        QCOMPARE(answerer.Texts().at(0), shown);
    }

    void SilentAbortAndSuccessShowNothing() {
        TModalAnswerer answerer;
        answerer.ThenMessageBox(QMessageBox::Ok);
        QVERIFY(!RunCommand(nullptr, [] { throw EAbort(); }));
        int runs = 0;
        QVERIFY(RunCommand(nullptr, [&] { ++runs; }));
        QCOMPARE(runs, 1);
        QTest::qWait(30);
        QCOMPARE(answerer.Handled(), 0);
    }

    void ErrorBoxHasErrorIcon() {
        TModalAnswerer answerer;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        answerer.Then([&](QWidget* widget) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            QVERIFY(box != nullptr);
            icon = box->icon();
            box->accept();
        });
        RunCommand(nullptr, [] { throw std::runtime_error("x"); });
        QCOMPARE(icon, QMessageBox::Critical);
    }
};
KELVARA_QT_TEST(TCommandGuardTest);

#include "command_guard_test.moc"
