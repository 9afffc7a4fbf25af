#include "components/status_panels.h"

#include "components/qt_text.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTextOption>
#include <stdexcept>

namespace kelvara {
namespace {

constexpr int kBarHeight = 23;
constexpr int kPanelGap = 2;

} // namespace

TStatusPanels::TStatusPanels(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFixedHeight(kBarHeight);
}

int TStatusPanels::AddPanel(int width, bool bevel) {
    FPanels.push_back(TPanel{width, bevel, {}, nullptr});
    update();
    return PanelCount() - 1;
}

TStatusPanels::TPanel& TStatusPanels::Panel(int index) {
    if (index < 0 || index >= PanelCount()) {
        throw std::out_of_range("status panel index out of range");
    }
    return FPanels[static_cast<std::size_t>(index)];
}

const TStatusPanels::TPanel& TStatusPanels::Panel(int index) const {
    return const_cast<TStatusPanels*>(this)->Panel(index);
}

void TStatusPanels::SetPanelText(int index, const std::string& utf8) {
    Panel(index).Text = ToQString(utf8);
    update(PanelRect(index));
}

QString TStatusPanels::PanelText(int index) const {
    return Panel(index).Text;
}

void TStatusPanels::SetPanelContent(int index, QWidget* content) {
    Panel(index).Content = content;
    if (content != nullptr) {
        content->setParent(this);
        content->show();
    }
    PlaceContents();
}

QRect TStatusPanels::PanelRect(int index) const {
    int left = 0;
    for (int i = 0; i < index; ++i) {
        left += FPanels[static_cast<std::size_t>(i)].Width + kPanelGap;
    }
    const bool last = index == PanelCount() - 1;
    const int width =
        last ? std::max(Panel(index).Width, this->width() - left) : Panel(index).Width;
    return QRect(left, 2, width, height() - 3);
}

QSize TStatusPanels::sizeHint() const {
    int width = 0;
    for (const TPanel& panel : FPanels) {
        width += panel.Width + kPanelGap;
    }
    return QSize(width, kBarHeight);
}

QSize TStatusPanels::minimumSizeHint() const {
    return QSize(0, kBarHeight);
}

void TStatusPanels::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    for (int i = 0; i < PanelCount(); ++i) {
        const TPanel& panel = FPanels[static_cast<std::size_t>(i)];
        const QRect rect = PanelRect(i);
        if (panel.Bevel) {
            QStyleOptionFrame frame;
            frame.initFrom(this);
            frame.rect = rect;
            frame.lineWidth = 1;
            frame.midLineWidth = 0;
            frame.state |= QStyle::State_Sunken;
            frame.frameShape = QFrame::Panel;
            style()->drawPrimitive(QStyle::PE_Frame, &frame, &painter, this);
        }
        if (panel.Content == nullptr && !panel.Text.isEmpty()) {
            QTextOption option(Qt::AlignCenter);
            option.setWrapMode(QTextOption::NoWrap);
            option.setTextDirection(TextLayoutDirection(panel.Text));
            painter.save();
            painter.setClipRect(rect.adjusted(1, 1, -1, -1));
            painter.drawText(QRectF(rect.adjusted(2, 0, -2, 0)), panel.Text, option);
            painter.restore();
        }
    }
}

void TStatusPanels::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    PlaceContents();
}

void TStatusPanels::PlaceContents() {
    for (int i = 0; i < PanelCount(); ++i) {
        if (QWidget* content = FPanels[static_cast<std::size_t>(i)].Content) {
            content->setGeometry(PanelRect(i).adjusted(-1, -1, 1, 1));
        }
    }
}

} // namespace kelvara
