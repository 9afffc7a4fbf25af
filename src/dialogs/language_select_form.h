#pragma once
// The language selection dialog of Select Language: an editable, sorted list of the open table's
// language fields. OK is enabled exactly while the text names one of the entries; Cancel or
// closing the dialog chooses nothing.

#include <QDialog>
#include <string>

class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;

namespace kelvara {

class TLanguageSelectForm : public QDialog {
    Q_OBJECT
public:
    explicit TLanguageSelectForm(QWidget* parent = nullptr);

    void ClearLanguages();
    // Adds one entry; the list keeps its entries sorted alphabetically (ignoring letter case).
    void AddLanguage(const std::string& name);
    // The combo box's text (what the user chose or typed).
    std::string ChosenLanguage() const;

    // The entry the text names exactly, or -1.
    int SelectedIndex() const { return FSelectedIndex; }

    QComboBox* LanguageCombo() const { return FLanguageCombo; }
    QPushButton* OkBtn() const { return FOkBtn; }
    QPushButton* CancelBtn() const { return FCancelBtn; }

private:
    // Runs at creation and on every change of the combo box.
    void FormCreate();
    void OkBtnClick();

    QGroupBox* FGroupBox;
    QLabel* FlblSelect;
    QComboBox* FLanguageCombo;
    QPushButton* FOkBtn;
    QPushButton* FCancelBtn;
    int FSelectedIndex = -1;
};

} // namespace kelvara
