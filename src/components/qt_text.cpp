#include "components/qt_text.h"

#include "text/unicode.h"

namespace kelvara {

QString ToQString(std::string_view utf8) {
    const std::u16string wide = Utf8ToWide(utf8);
    return QString(reinterpret_cast<const QChar*>(wide.data()),
                   static_cast<qsizetype>(wide.size()));
}

std::string ToUtf8(const QString& text) {
    return WideToUtf8String(std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()),
                                                static_cast<std::size_t>(text.size())));
}

Qt::LayoutDirection TextLayoutDirection(std::string_view utf8) {
    return TextDirection(utf8) == RightToLeft ? Qt::RightToLeft : Qt::LeftToRight;
}

Qt::LayoutDirection TextLayoutDirection(const QString& text) {
    return TextLayoutDirection(ToUtf8(text));
}

QFont DefaultDisplayFont() {
    QFont font(QStringLiteral("Arial"));
    font.setPointSize(8);
    return font;
}

} // namespace kelvara
