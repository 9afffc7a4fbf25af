#pragma once
// The one place where Kelvara's UTF-8 text meets Qt's UTF-16 QString.
//
// Every text that goes into a widget or comes out of one passes through ToQString or ToUtf8,
// which use the text layer's own converters, so that the GUI sees exactly what the rest of the
// system stores. Drawing code asks TextLayoutDirection which reading order a text needs.

#include <QFont>
#include <QString>
#include <string>
#include <string_view>

namespace kelvara {

// UTF-8 (any bytes; malformed input decodes leniently) to a QString.
QString ToQString(std::string_view utf8);

// A QString to UTF-8. Lone surrogates are encoded by themselves, as the text layer does.
std::string ToUtf8(const QString& text);

// The reading order a text is drawn in: right-to-left exactly when its first character with a
// strong direction is Hebrew or Arabic; every other text, including one without any strong
// character, reads left-to-right.
Qt::LayoutDirection TextLayoutDirection(std::string_view utf8);
Qt::LayoutDirection TextLayoutDirection(const QString& text);

// The font windows take when they are created while the user has chosen no other: Arial, 8 points.
QFont DefaultDisplayFont();

} // namespace kelvara
