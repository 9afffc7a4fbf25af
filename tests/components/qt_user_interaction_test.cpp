#include "components/qt_test_support.h"
#include "components/qt_user_interaction.h"

#include <QMessageBox>
#include <QTest>

using namespace kelvara;
using kelvara::test::TModalAnswerer;

class TQtUserInteractionTest : public QObject {
    Q_OBJECT
private slots:
    void Filters_data() {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("nameFilters");
        QTest::addColumn<QString>("selected");
        QTest::newRow("one pair") << QStringLiteral("Paradox Tables|*.db") << 1
                                  << QStringLiteral("Paradox Tables (*.db)")
                                  << QStringLiteral("Paradox Tables (*.db)");
        QTest::newRow("two pairs, second selected")
            << QStringLiteral("Text|*.txt;*.csv|All|*.*") << 2
            << QStringLiteral("Text (*.txt *.csv);;All (*.*)") << QStringLiteral("All (*.*)");
        QTest::newRow("index out of range") << QStringLiteral("Paradox Tables|*.db") << 3
                                            << QStringLiteral("Paradox Tables (*.db)") << QString();
    }
    void Filters() {
        QFETCH(QString, filter);
        QFETCH(int, index);
        QFETCH(QString, nameFilters);
        QFETCH(QString, selected);
        const std::string raw = filter.toStdString();
        QCOMPARE(QtNameFilters(raw), nameFilters);
        QCOMPARE(QtSelectedFilter(TFileFilter{raw, index}), selected);
    }

    void CarriageReturnBreaksTheLine() {
        QCOMPARE(MessageBoxText("Reverting table to last saved version will\rlose all"),
                 QStringLiteral("Reverting table to last saved version will\nlose all"));
        QCOMPARE(MessageBoxText("a\r\nb"), QStringLiteral("a\nb"));
    }

    void Answers_data() {
        QTest::addColumn<int>("button");
        QTest::addColumn<int>("answer");
        QTest::newRow("yes") << int(QMessageBox::Yes) << int(TAnswer::Yes);
        QTest::newRow("no") << int(QMessageBox::No) << int(TAnswer::No);
        QTest::newRow("cancel") << int(QMessageBox::Cancel) << int(TAnswer::Cancel);
    }
    void Answers() {
        QFETCH(int, button);
        QFETCH(int, answer);
        TQtUserInteraction user;
        TModalAnswerer answerer;
        answerer.ThenMessageBox(button);
        const TAnswer given =
            user.AskYesNoCancel("Do you want to save changes to current table first?");
        QCOMPARE(int(given), answer);
        QCOMPARE(answerer.Titles().at(0), QStringLiteral("Kelvara"));
        QCOMPARE(answerer.Texts().at(0),
                 QStringLiteral("Do you want to save changes to current table first?"));
    }

    void ClosingTheQuestionIsCancel() {
        TQtUserInteraction user;
        TModalAnswerer answerer;
        answerer.Then([](QWidget* box) { QTest::keyClick(box, Qt::Key_Escape); });
        QCOMPARE(user.AskYesNoCancel("Close?"), TAnswer::Cancel);
    }

    // Errors reported while painting are shown after it, once each, one box at a time.
    void ErrorsDuringPaintAreDeferredAndNotRepeated() {
        TQtUserInteraction user;
        TModalAnswerer answerer;
        answerer.ThenMessageBox(QMessageBox::Ok);
        answerer.ThenMessageBox(QMessageBox::Ok);
        {
            TDeferredErrors painting(&user);
            user.ShowError("EReadError: bad value");
            user.ShowError("EReadError: bad value");
            {
                TDeferredErrors nested(&user);
                user.ShowError("EReadError: other");
            }
            QCOMPARE(answerer.Handled(), 0);
        }
        QCOMPARE(user.PendingPaintErrors(), std::size_t(2));
        QTRY_COMPARE(answerer.Handled(), 2);
        QCOMPARE(answerer.Texts().at(0), QStringLiteral("EReadError: bad value"));
        QCOMPARE(answerer.Texts().at(1), QStringLiteral("EReadError: other"));
        QCOMPARE(user.PendingPaintErrors(), std::size_t(0));

        // The next paint fails the same way: no second box until the grid gets another table.
        {
            TDeferredErrors painting(&user);
            user.ShowError("EReadError: bad value");
        }
        QCOMPARE(user.PendingPaintErrors(), std::size_t(0));
        user.ForgetPaintErrors();
        answerer.ThenMessageBox(QMessageBox::Ok);
        {
            TDeferredErrors painting(&user);
            user.ShowError("EReadError: bad value");
        }
        QTRY_COMPARE(answerer.Handled(), 3);
    }

    // Outside painting an error is shown at once, every time.
    void ErrorsOutsidePaintAreShownAtOnce() {
        TQtUserInteraction user;
        TModalAnswerer answerer;
        answerer.ThenMessageBox(QMessageBox::Ok);
        answerer.ThenMessageBox(QMessageBox::Ok);
        user.ShowError("Cannot overwrite open table!");
        QCOMPARE(answerer.Handled(), 1);
        user.ShowError("Cannot overwrite open table!");
        QCOMPARE(answerer.Handled(), 2);
    }
};
KELVARA_QT_TEST(TQtUserInteractionTest);

#include "qt_user_interaction_test.moc"
