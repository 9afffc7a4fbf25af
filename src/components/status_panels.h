#pragma once
// A status bar of fixed-width panels with centred texts. The last panel reaches to the right
// edge. A panel can hold a widget (the progress bar) laid over its rectangle enlarged by one
// pixel on every side, kept there whenever the bar is laid out again.

#include <QWidget>
#include <string>
#include <vector>

namespace kelvara {

class TStatusPanels : public QWidget {
    Q_OBJECT
public:
    struct TPanel {
        int Width = 0;
        bool Bevel = true;
        QString Text;
        QWidget* Content = nullptr; // not owned by the panel; a child of the bar
    };

    explicit TStatusPanels(QWidget* parent = nullptr);

    // Appends a panel; returns its index.
    int AddPanel(int width, bool bevel = true);
    int PanelCount() const { return static_cast<int>(FPanels.size()); }

    void SetPanelText(int index, const std::string& utf8);
    QString PanelText(int index) const;
    // Lays `content` over the panel (the bar becomes its parent).
    void SetPanelContent(int index, QWidget* content);
    QRect PanelRect(int index) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void PlaceContents();
    TPanel& Panel(int index);
    const TPanel& Panel(int index) const;

    std::vector<TPanel> FPanels;
};

} // namespace kelvara
