#include "components/qt_test_support.h"
#include "dialogs/language_select_form.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using namespace kelvara;
using kelvara::test::TModalAnswerer;

namespace {

void Fill(TLanguageSelectForm& form) {
    form.ClearLanguages();
    for (const char* name : {"Native", "English", "German", "ChineseTrad", "french"}) {
        form.AddLanguage(name);
    }
}

QStringList Entries(const TLanguageSelectForm& form) {
    QStringList entries;
    for (int i = 0; i < form.LanguageCombo()->count(); ++i) {
        entries << form.LanguageCombo()->itemText(i);
    }
    return entries;
}

} // namespace

class TLanguageSelectFormTest : public QObject {
    Q_OBJECT
private slots:
    void Layout() {
        TLanguageSelectForm form;
        QCOMPARE(form.windowTitle(), QStringLiteral("Select a Language to edit"));
        QCOMPARE(form.size(), QSize(338, 123));
        QCOMPARE(form.OkBtn()->text(), QStringLiteral("&OK"));
        QCOMPARE(form.CancelBtn()->text(), QStringLiteral("&Cancel"));
        QVERIFY(form.OkBtn()->isDefault());
        QVERIFY(form.LanguageCombo()->isEditable());
    }

    void EntriesAreSortedAndNoneIsPreselected() {
        TLanguageSelectForm form;
        Fill(form);
        QCOMPARE(Entries(form), (QStringList{QStringLiteral("ChineseTrad"),
                                             QStringLiteral("English"), QStringLiteral("french"),
                                             QStringLiteral("German"), QStringLiteral("Native")}));
        QCOMPARE(form.LanguageCombo()->currentText(), QString());
        QCOMPARE(form.SelectedIndex(), -1);
        QVERIFY(!form.OkBtn()->isEnabled());
        form.ClearLanguages();
        QCOMPARE(form.LanguageCombo()->count(), 0);
    }

    void OkFollowsTheText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("an entry") << QStringLiteral("German") << true;
        QTest::newRow("Native") << QStringLiteral("Native") << true;
        QTest::newRow("no entry") << QStringLiteral("Klingon") << false;
        QTest::newRow("other case") << QStringLiteral("german") << false;
        QTest::newRow("empty") << QString() << false;
    }
    void OkFollowsTheText() {
        QFETCH(QString, text);
        QFETCH(bool, enabled);
        TLanguageSelectForm form;
        Fill(form);
        form.LanguageCombo()->setCurrentIndex(1);
        QVERIFY(form.OkBtn()->isEnabled());
        form.LanguageCombo()->setEditText(text);
        QCOMPARE(form.OkBtn()->isEnabled(), enabled);
    }

    // Enter presses OK while the text names an entry, and does nothing otherwise.
    void EnterClosesOnlyWithAnEntry() {
        TLanguageSelectForm form;
        Fill(form);
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QLineEdit* edit = form.LanguageCombo()->lineEdit();
        edit->setFocus();
        edit->setText(QStringLiteral("Klingon"));
        QTest::keyClick(edit, Qt::Key_Return);
        QVERIFY(form.isVisible());
        QCOMPARE(form.LanguageCombo()->count(), 5); // nothing was added

        TModalAnswerer answerer;
        answerer.Then([](QWidget* dialog) {
            auto* form = static_cast<TLanguageSelectForm*>(dialog);
            QLineEdit* edit = form->LanguageCombo()->lineEdit();
            edit->setText(QStringLiteral("German"));
            QTest::keyClick(edit, Qt::Key_Return);
        });
        form.hide();
        QCOMPARE(form.exec(), int(QDialog::Accepted));
        QCOMPARE(form.ChosenLanguage(), std::string("German"));
    }

    void CancelChoosesNothing() {
        TLanguageSelectForm form;
        Fill(form);
        TModalAnswerer answerer;
        answerer.Then([](QWidget* dialog) {
            auto* form = static_cast<TLanguageSelectForm*>(dialog);
            form->LanguageCombo()->setCurrentIndex(2);
            form->CancelBtn()->click();
        });
        QCOMPARE(form.exec(), int(QDialog::Rejected));
    }

    void EmptyListNeverEnablesOk() {
        TLanguageSelectForm form;
        form.ClearLanguages();
        form.LanguageCombo()->setEditText(QStringLiteral("Native"));
        QVERIFY(!form.OkBtn()->isEnabled());
    }
};
KELVARA_QT_TEST(TLanguageSelectFormTest);

#include "language_select_form_test.moc"
