#include "text/unicode.h"

#include <array>
#include <vector>

namespace kelvara {
namespace {

// The published ConvertUTF tables.
constexpr std::array<std::uint8_t, 256> MakeTrailingBytes() {
    std::array<std::uint8_t, 256> t{};
    for (int b = 0; b < 256; ++b) {
        t[b] = b < 0xC0 ? 0 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : b < 0xF8 ? 3 : b < 0xFC ? 4 : 5;
    }
    return t;
}
constexpr auto kTrailingBytesForUtf8 = MakeTrailingBytes();
constexpr std::array<std::uint32_t, 6> kOffsetsFromUtf8 = {0x00000000UL, 0x00003080UL,
                                                           0x000E2080UL, 0x03C82080UL,
                                                           0xFA082080UL, 0x82082080UL};
constexpr std::array<std::uint8_t, 7> kFirstByteMark = {0x00, 0x00, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};

constexpr char32_t kReplacementCharacter = 0xFFFD;
constexpr char32_t kMaxUtf16 = 0x10FFFF;

int ZeroTerminatedLength(const char* s) {
    int n = 0;
    while (s[n] != 0) {
        ++n;
    }
    return n;
}

int ZeroTerminatedLength(const char16_t* s) {
    int n = 0;
    while (s[n] != 0) {
        ++n;
    }
    return n;
}

} // namespace

int Utf8ToUtf16(const char* src, int srcLength, char16_t* dst, int dstSize) {
    if (src == nullptr) {
        return 0;
    }
    const int length = srcLength < 0 ? ZeroTerminatedLength(src) + 1 : srcLength;
    if (dstSize == 0) {
        return length;
    }
    const auto* in = reinterpret_cast<const unsigned char*>(src);
    int pos = 0;
    int written = 0;
    while (pos < length) {
        const int extra = kTrailingBytesForUtf8[in[pos]];
        if (pos + extra >= length) {
            break;
        }
        std::uint32_t ch = 0;
        for (int i = 0; i <= extra; ++i) {
            ch += in[pos + i];
            if (i < extra) {
                ch <<= 6;
            }
        }
        ch -= kOffsetsFromUtf8[extra];
        const int units = (ch > 0xFFFF && ch <= kMaxUtf16) ? 2 : 1;
        if (written + units + 1 > dstSize) {
            break;
        }
        if (ch <= 0xFFFF) {
            dst[written++] = static_cast<char16_t>(ch);
        } else if (ch <= kMaxUtf16) {
            dst[written++] = static_cast<char16_t>((ch - 0x10000) / 1024 + 0xD800);
            dst[written++] = static_cast<char16_t>((ch - 0x10000) % 1024 + 0xDC00);
        } else {
            dst[written++] = static_cast<char16_t>(kReplacementCharacter);
        }
        pos += extra + 1;
    }
    dst[written] = 0;
    return written;
}

int Utf16ToUtf8(const char16_t* src, int srcLength, char* dst, int dstSize) {
    if (src == nullptr || srcLength == 0) {
        return 0;
    }
    const int length = srcLength < 0 ? ZeroTerminatedLength(src) + 1 : srcLength;
    int written = 0;
    for (int pos = 0; pos < length; ++pos) {
        char32_t ch = src[pos];
        if (ch >= 0xD800 && ch <= 0xDBFF && pos + 1 < length && src[pos + 1] >= 0xDC00 &&
            src[pos + 1] <= 0xDFFF) {
            ch = ((ch - 0xD800) << 10) + (src[pos + 1] - 0xDC00) + 0x10000;
            ++pos;
        }
        const int bytes = ch < 0x80 ? 1 : ch < 0x800 ? 2 : ch < 0x10000 ? 3 : 4;
        if (dstSize != 0) {
            if (written + bytes > dstSize) {
                break;
            }
            char32_t rest = ch;
            for (int i = bytes - 1; i > 0; --i) {
                dst[written + i] = static_cast<char>((rest & 0x3F) | 0x80);
                rest >>= 6;
            }
            dst[written] = static_cast<char>(rest | kFirstByteMark[bytes]);
        }
        written += bytes;
    }
    return written;
}

std::u16string Utf8ToWide(std::string_view text) {
    const int length = static_cast<int>(text.size());
    const int needed = Utf8ToUtf16(text.data(), length, nullptr, 0);
    std::u16string out(static_cast<std::size_t>(needed) + 1, u'\0');
    const int units = Utf8ToUtf16(text.data(), length, out.data(), needed + 1);
    out.resize(static_cast<std::size_t>(units));
    return out;
}

std::string WideToUtf8String(std::u16string_view text) {
    const int length = static_cast<int>(text.size());
    const int needed = Utf16ToUtf8(text.data(), length, nullptr, 0);
    std::string out(static_cast<std::size_t>(needed), '\0');
    const int bytes = Utf16ToUtf8(text.data(), length, out.data(), needed);
    out.resize(static_cast<std::size_t>(bytes));
    return out;
}

std::optional<std::string> WideToUtf8(const char16_t* text) {
    if (text == nullptr) {
        return std::nullopt;
    }
    return WideToUtf8String(std::u16string_view(text, ZeroTerminatedLength(text)));
}

int TextDirection(std::string_view text) {
    struct Range {
        char16_t first;
        char16_t last;
        int direction;
    };
    static constexpr std::array<Range, 15> kRanges = {{
        {0x0041, 0x005A, LeftToRight}, {0x0061, 0x007A, LeftToRight},
        {0x00C0, 0x00D6, LeftToRight}, {0x00D8, 0x00F6, LeftToRight},
        {0x00F8, 0x02AF, LeftToRight}, {0x0370, 0x058F, LeftToRight},
        {0x0900, 0x1FFF, LeftToRight}, {0x2E80, 0x32FF, LeftToRight},
        {0x3400, 0xFA5F, LeftToRight}, {0xFB00, 0xFB17, LeftToRight},
        {0xFF21, 0xFF3A, LeftToRight}, {0xFF41, 0xFF5A, LeftToRight},
        {0xFF66, 0xFFDF, LeftToRight}, {0x0590, 0x07BF, RightToLeft},
        {0xFB1D, 0xFEFE, RightToLeft},
    }};
    for (const char16_t unit : Utf8ToWide(text)) {
        for (const Range& r : kRanges) {
            if (unit >= r.first && unit <= r.last) {
                return r.direction;
            }
        }
    }
    return NoDirection;
}

int Utf8SequenceLength(unsigned char leadByte) {
    if (leadByte >= 0xC0 && leadByte <= 0xDF) {
        return 2;
    }
    if (leadByte >= 0xE0 && leadByte <= 0xEF) {
        return 3;
    }
    if (leadByte >= 0xF0 && leadByte <= 0xF8) {
        return 4;
    }
    return 1;
}

std::size_t Utf8CharacterOffset(std::string_view text, std::size_t characterIndex) {
    std::size_t offset = 0;
    for (std::size_t i = 0; i < characterIndex && offset < text.size(); ++i) {
        offset += static_cast<std::size_t>(
            Utf8SequenceLength(static_cast<unsigned char>(text[offset])));
    }
    return offset < text.size() ? offset : text.size();
}

} // namespace kelvara
