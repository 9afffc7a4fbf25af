#include <array>

#include "text/unicode.h"

namespace kelvara {
namespace {

// Windows-1252 bytes 0x80-0x9F. The five bytes the code page leaves undefined map to the C1
// control of the same number, as the platform's conversion does.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char16_t AnsiToUnit(unsigned char byte) {
    if (byte >= 0x80 && byte <= 0x9F) {
        return kCp1252High[byte - 0x80];
    }
    return byte;
}

char UnitToAnsi(char16_t unit) {
    if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) {
        return static_cast<char>(unit);
    }
    for (std::size_t i = 0; i < kCp1252High.size(); ++i) {
        if (kCp1252High[i] == unit) {
            return static_cast<char>(0x80 + i);
        }
    }
    return '?';
}

} // namespace

std::string Utf8ToAnsi(std::string_view text) {
    const std::u16string wide = Utf8ToWide(text);
    std::string out;
    out.reserve(wide.size());
    for (std::size_t i = 0; i < wide.size(); ++i) {
        const char16_t unit = wide[i];
        // A surrogate pair is one character the code page lacks: one '?'.
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
            wide[i + 1] <= 0xDFFF) {
            ++i;
            out += '?';
            continue;
        }
        out += UnitToAnsi(unit);
    }
    return out;
}

std::string AnsiToUtf8String(std::string_view text) {
    std::u16string wide;
    wide.reserve(text.size());
    for (const char c : text) {
        wide += AnsiToUnit(static_cast<unsigned char>(c));
    }
    return WideToUtf8String(wide);
}

} // namespace kelvara
