#include "dialogs/language_select_form.h"

#include "components/qt_text.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace kelvara {
namespace {

constexpr int kClientWidth = 338;
constexpr int kClientHeight = 123;

} // namespace

TLanguageSelectForm::TLanguageSelectForm(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("LanguageSelectForm"));
    setWindowTitle(QStringLiteral("Select a Language to edit"));
    setFont(DefaultDisplayFont());
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::MSWindowsFixedSizeDialogHint |
                   Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(kClientWidth, kClientHeight);

    FGroupBox = new QGroupBox(this);
    FGroupBox->setGeometry(8, 4, 322, 73);
    FlblSelect = new QLabel(QStringLiteral("Select a Language:"), FGroupBox);
    FlblSelect->setObjectName(QStringLiteral("lblSelect"));
    FlblSelect->setGeometry(12, 30, 110, 16);
    FLanguageCombo = new QComboBox(FGroupBox);
    FLanguageCombo->setObjectName(QStringLiteral("LanguageCombo"));
    FLanguageCombo->setGeometry(128, 26, 180, 24);
    FLanguageCombo->setEditable(true);
    FLanguageCombo->setInsertPolicy(QComboBox::NoInsert);
    FlblSelect->setBuddy(FLanguageCombo);

    FOkBtn = new QPushButton(QStringLiteral("&OK"), this);
    FOkBtn->setObjectName(QStringLiteral("OkBtn"));
    FOkBtn->setGeometry(168, 88, 77, 27);
    FOkBtn->setDefault(true);
    FCancelBtn = new QPushButton(QStringLiteral("&Cancel"), this);
    FCancelBtn->setObjectName(QStringLiteral("CancelBtn"));
    FCancelBtn->setGeometry(253, 88, 77, 27);

    connect(FOkBtn, &QPushButton::clicked, this, &TLanguageSelectForm::OkBtnClick);
    connect(FCancelBtn, &QPushButton::clicked, this, &QDialog::reject);
    connect(FLanguageCombo, &QComboBox::editTextChanged, this, &TLanguageSelectForm::FormCreate);
    connect(FLanguageCombo, &QComboBox::currentIndexChanged, this,
            &TLanguageSelectForm::FormCreate);
    FormCreate();
}

void TLanguageSelectForm::ClearLanguages() {
    FLanguageCombo->clear();
    FormCreate();
}

void TLanguageSelectForm::AddLanguage(const std::string& name) {
    const QString entry = ToQString(name);
    int position = 0;
    while (position < FLanguageCombo->count()) {
        const QString existing = FLanguageCombo->itemText(position);
        int order = existing.compare(entry, Qt::CaseInsensitive);
        if (order == 0) {
            order = existing.compare(entry, Qt::CaseSensitive);
        }
        if (order > 0) {
            break;
        }
        ++position;
    }
    // Adding to an editable combo box must not put the entry into its text: nothing is
    // preselected.
    const QString text = FLanguageCombo->currentText();
    const bool hadSelection = FLanguageCombo->currentIndex() >= 0;
    FLanguageCombo->insertItem(position, entry);
    if (!hadSelection) {
        FLanguageCombo->setCurrentIndex(-1);
        FLanguageCombo->setEditText(text);
    }
    FormCreate();
}

std::string TLanguageSelectForm::ChosenLanguage() const {
    return ToUtf8(FLanguageCombo->currentText());
}

void TLanguageSelectForm::FormCreate() {
    // An entry counts as selected only while the text names it exactly: a text typed that is no
    // entry selects nothing, whatever entry was picked before.
    FSelectedIndex = FLanguageCombo->findText(FLanguageCombo->currentText(),
                                              Qt::MatchExactly | Qt::MatchCaseSensitive);
    FOkBtn->setEnabled(FSelectedIndex >= 0);
}

void TLanguageSelectForm::OkBtnClick() {
    FormCreate();
    if (FSelectedIndex >= 0) {
        accept();
    }
}

} // namespace kelvara
