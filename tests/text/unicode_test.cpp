#include <gtest/gtest.h>
#include <iconv.h>

#include <random>
#include <stdexcept>

#include "text/unicode.h"

namespace kelvara {
namespace {

std::string Bytes(std::initializer_list<unsigned> bytes) {
    std::string s;
    for (unsigned b : bytes) {
        s += static_cast<char>(b);
    }
    return s;
}

struct DecodeCase {
    const char* name;
    std::string utf8;
    std::u16string utf16;
};

void PrintTo(const DecodeCase& c, std::ostream* os) { *os << c.name; }

class DecodeTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTest, Utf8ToWideGivesExpectedUnits) {
    EXPECT_EQ(Utf8ToWide(GetParam().utf8), GetParam().utf16);
}

INSTANTIATE_TEST_SUITE_P(
    EdgeCases, DecodeTest,
    ::testing::Values(
        DecodeCase{"AboveMaximumBecomesReplacement", Bytes({0xF4, 0x90, 0x80, 0x80}), u"\uFFFD"},
        DecodeCase{"TruncatedSequenceAtEndDecodesToNothing", Bytes({0x41, 0xE2, 0x82}), u"A"},
        DecodeCase{"FourByteCharacterBecomesSurrogatePair", Bytes({0xF0, 0x9F, 0x98, 0x80}),
                   std::u16string{char16_t(0xD83D), char16_t(0xDE00)}},
        DecodeCase{"EncodedSurrogateIsKeptAsUnit", Bytes({0xED, 0xA0, 0x80}),
                   std::u16string{char16_t(0xD800)}},
        DecodeCase{"OverlongFormIsNotRejected", Bytes({0xC0, 0x81}), std::u16string{char16_t(1)}},
        DecodeCase{"TrailingBytesAreNotChecked", Bytes({0xC3, 0x41}),
                   std::u16string{char16_t(0x81)}},
        DecodeCase{"EmbeddedZeroIsDecoded", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
        DecodeCase{"Empty", "", u""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Utf8ToUtf16, SizeQueryReportsInputBytesIncludingTerminator) {
    EXPECT_EQ(Utf8ToUtf16("abc", -1, nullptr, 0), 4);
    EXPECT_EQ(Utf8ToUtf16("abc", 2, nullptr, 0), 2);
    EXPECT_EQ(Utf8ToUtf16(nullptr, -1, nullptr, 0), 0);
}

TEST(Utf8ToUtf16, CountsDecodedZeroByteAndStopsWhenTerminatorNoLongerFits) {
    char16_t out[8];
    // Room for "ab", the decoded zero and a terminator.
    EXPECT_EQ(Utf8ToUtf16("ab", -1, out, 4), 3);
    EXPECT_EQ(out[2], 0);
    EXPECT_EQ(out[3], 0);
    // A pair that would leave no room for the terminator is not written.
    const std::string smile = Bytes({0xF0, 0x9F, 0x98, 0x80});
    EXPECT_EQ(Utf8ToUtf16(smile.data(), 4, out, 2), 0);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(Utf8ToUtf16(smile.data(), 4, out, 3), 2);
}

struct EncodeCase {
    const char* name;
    std::u16string utf16;
    std::string utf8;
};

void PrintTo(const EncodeCase& c, std::ostream* os) { *os << c.name; }

class EncodeTest : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(EncodeTest, WideToUtf8StringGivesExpectedBytes) {
    EXPECT_EQ(WideToUtf8String(GetParam().utf16), GetParam().utf8);
}

INSTANTIATE_TEST_SUITE_P(
    EdgeCases, EncodeTest,
    ::testing::Values(
        EncodeCase{"LoneHighSurrogate", std::u16string{char16_t(0xD800)},
                   Bytes({0xED, 0xA0, 0x80})},
        EncodeCase{"LoneLowSurrogate", std::u16string{char16_t(0xDC00)},
                   Bytes({0xED, 0xB0, 0x80})},
        EncodeCase{"SurrogatePair", std::u16string{char16_t(0xD83D), char16_t(0xDE00)},
                   Bytes({0xF0, 0x9F, 0x98, 0x80})},
        EncodeCase{"HighSurrogateAtEnd", std::u16string{u'a', char16_t(0xD83D)},
                   Bytes({0x61, 0xED, 0xA0, 0xBD})},
        EncodeCase{"TwoAndThreeByteForms", u"\u00E9\u20AC", Bytes({0xC3, 0xA9, 0xE2, 0x82, 0xAC})},
        EncodeCase{"Empty", u"", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Utf16ToUtf8, StopsBeforeValueThatDoesNotFit) {
    char out[4];
    const char16_t text[] = u"a\u20AC";
    EXPECT_EQ(Utf16ToUtf8(text, 2, nullptr, 0), 4);
    EXPECT_EQ(Utf16ToUtf8(text, 2, out, 3), 1);
    EXPECT_EQ(Utf16ToUtf8(text, -1, nullptr, 0), 5);
    EXPECT_EQ(Utf16ToUtf8(text, 0, nullptr, 0), 0);
}

TEST(WideToUtf8, AbsentTextGivesNothing) {
    EXPECT_FALSE(WideToUtf8(nullptr).has_value());
    EXPECT_EQ(WideToUtf8(u""), std::string());
    EXPECT_EQ(WideToUtf8(u"\u05D0"), "\u05D0");
}

struct DirectionCase {
    const char* name;
    std::string text;
    int direction;
};

void PrintTo(const DirectionCase& c, std::ostream* os) { *os << c.name; }

class DirectionTest : public ::testing::TestWithParam<DirectionCase> {};

TEST_P(DirectionTest, FirstStrongCharacterDecides) {
    EXPECT_EQ(TextDirection(GetParam().text), GetParam().direction);
}

INSTANTIATE_TEST_SUITE_P(
    EdgeCases, DirectionTest,
    ::testing::Values(DirectionCase{"DigitsThenHebrew", "12 34 \u05E9\u05DC\u05D5\u05DD", 1},
                      DirectionCase{"DigitsThenLatin", "12 34 Hello", 0},
                      DirectionCase{"DigitsAndPunctuationOnly", "12, 34.-!", 2},
                      DirectionCase{"LatinThenArabic", "File \u0645\u0644\u0641", 0},
                      DirectionCase{"ArabicThenLatin", "\u0645\u0644\u0641 File", 1},
                      DirectionCase{"CharacterAboveBmpCountsLeftToRight", "1 \U0001F600", 0},
                      DirectionCase{"PresentationFormsRightToLeft", "\uFB1D", 1},
                      DirectionCase{"Empty", "", 2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Utf8SequenceLength, LeadBytes) {
    struct {
        unsigned byte;
        int length;
    } const cases[] = {{0x00, 1}, {0x7F, 1}, {0x80, 1}, {0xBF, 1}, {0xC0, 2}, {0xDF, 2},
                       {0xE0, 3}, {0xEF, 3}, {0xF0, 4}, {0xF8, 4}, {0xF9, 1}, {0xFF, 1}};
    for (const auto& c : cases) {
        EXPECT_EQ(Utf8SequenceLength(static_cast<unsigned char>(c.byte)), c.length) << c.byte;
    }
}

TEST(Utf8CharacterOffset, StepsBySequences) {
    const std::string text = "a\u00E9\u20ACb";
    EXPECT_EQ(Utf8CharacterOffset(text, 0), 0u);
    EXPECT_EQ(Utf8CharacterOffset(text, 2), 3u);
    EXPECT_EQ(Utf8CharacterOffset(text, 3), 6u);
    EXPECT_EQ(Utf8CharacterOffset(text, 99), text.size());
}

struct AnsiCase {
    const char* name;
    std::string utf8;
    std::string ansi;
};

void PrintTo(const AnsiCase& c, std::ostream* os) { *os << c.name; }

class AnsiTest : public ::testing::TestWithParam<AnsiCase> {};

TEST_P(AnsiTest, ToAnsi) { EXPECT_EQ(Utf8ToAnsi(GetParam().utf8), GetParam().ansi); }

INSTANTIATE_TEST_SUITE_P(
    Windows1252, AnsiTest,
    ::testing::Values(AnsiCase{"Ascii", "Save", "Save"},
                      AnsiCase{"Latin1", "caf\u00E9", Bytes({'c', 'a', 'f', 0xE9})},
                      AnsiCase{"EuroAndQuotes", "\u20AC\u201C", Bytes({0x80, 0x93})},
                      AnsiCase{"GreekIsMissing", "\u03A9x", "?x"},
                      AnsiCase{"PairIsOneCharacter", "\U0001F600", "?"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AnsiToUtf8String, HighHalfGoesThroughCodePage) {
    EXPECT_EQ(AnsiToUtf8String(Bytes({0x80, 0xE9, 0x81})), "\u20AC\u00E9\u0081");
    for (int b = 1; b < 256; ++b) {
        const std::string one(1, static_cast<char>(b));
        if (b != 0x81 && b != 0x8D && b != 0x8F && b != 0x90 && b != 0x9D) {
            EXPECT_EQ(Utf8ToAnsi(AnsiToUtf8String(one)), one) << b;
        }
    }
}

// An independent codec: glibc's iconv.
std::u16string IconvUtf8ToUtf16(const std::string& utf8) {
    iconv_t cd = iconv_open("UTF-16LE", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        throw std::runtime_error("iconv_open failed");
    }
    std::string in = utf8;
    std::string out(in.size() * 4 + 4, '\0');
    char* inPtr = in.data();
    char* outPtr = out.data();
    size_t inLeft = in.size();
    size_t outLeft = out.size();
    const size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    if (rc == static_cast<size_t>(-1)) {
        throw std::runtime_error("iconv failed");
    }
    const size_t bytes = out.size() - outLeft;
    std::u16string result(bytes / 2, u'\0');
    for (size_t i = 0; i < result.size(); ++i) {
        result[i] = static_cast<char16_t>(static_cast<unsigned char>(out[2 * i]) |
                                          (static_cast<unsigned char>(out[2 * i + 1]) << 8));
    }
    return result;
}

std::string RandomValidUtf8(std::mt19937& rng, int characters) {
    std::uniform_int_distribution<int> plane(0, 3);
    std::string s;
    for (int i = 0; i < characters; ++i) {
        char32_t c = 0;
        switch (plane(rng)) {
        case 0: c = std::uniform_int_distribution<char32_t>(1, 0x7F)(rng); break;
        case 1: c = std::uniform_int_distribution<char32_t>(0x80, 0x7FF)(rng); break;
        case 2:
            do {
                c = std::uniform_int_distribution<char32_t>(0x800, 0xFFFF)(rng);
            } while (c >= 0xD800 && c <= 0xDFFF);
            break;
        default: c = std::uniform_int_distribution<char32_t>(0x10000, 0x10FFFF)(rng);
        }
        const std::u16string one =
            c > 0xFFFF ? std::u16string{char16_t((c - 0x10000) / 1024 + 0xD800),
                                        char16_t((c - 0x10000) % 1024 + 0xDC00)}
                       : std::u16string{char16_t(c)};
        s += WideToUtf8String(one);
    }
    return s;
}

TEST(RoundTrip, RandomValidUtf8AgreesWithIconv) {
    std::mt19937 rng(20261210);
    for (int round = 0; round < 2000; ++round) {
        const std::string utf8 = RandomValidUtf8(rng, round % 40);
        const std::u16string wide = Utf8ToWide(utf8);
        ASSERT_EQ(wide, IconvUtf8ToUtf16(utf8)) << "round " << round;
        ASSERT_EQ(WideToUtf8String(wide), utf8) << "round " << round;
    }
}

} // namespace
} // namespace kelvara
