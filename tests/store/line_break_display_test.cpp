#include "store/line_break_display.h"

#include <gtest/gtest.h>
#include <string>

namespace kelvara {
namespace {

using namespace std::string_literals;

TEST(LineBreakDisplay, TextToDisplayShowsLineBreaksAsCodes) {
    struct Case {
        std::string stored;
        std::string shown;
    };
    const Case cases[] = {
        {"", ""},
        {"Open file", "Open file"},
        {"one\r\ntwo", "one#13#10two"},
        {"\n", "#10"},
        {"\r", "#13"},
        {"\n\r", "#10#13"},
        {"a\n\nb", "a#10#10b"},
        {"#10 stays", "#10 stays"},
        {"nul\0byte"s, "nul\0byte"s},
        {"\xD0\x9F\xD1\x80\n\xD0\xB8", "\xD0\x9F\xD1\x80#10\xD0\xB8"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TextToDisplay(c.stored), c.shown) << c.stored;
    }
}

TEST(LineBreakDisplay, DisplayToTextTurnsExactCodesIntoLineBreaks) {
    struct Case {
        std::string typed;
        std::string stored;
    };
    const Case cases[] = {
        {"", ""},
        {"no hash at all", "no hash at all"},
        {"one#10two", "one\ntwo"},
        {"one#13#10two", "one\r\ntwo"},
        {"#10", "\n"},
        {"#13", "\r"},
        {"##10", "#\n"},
        {"#100", "\n0"},
        {"#1", "#1"},
        {"#", "#"},
        {"ends in #1", "ends in #1"},
        {"#11 #12 #14", "#11 #12 #14"},
        {"#1#10", "#1\n"},
        {"# 10", "# 10"},
        {"nul\0#10"s, "nul\0\n"s},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DisplayToText(c.typed), c.stored) << c.typed;
    }
}

TEST(LineBreakDisplay, StoredTextWithoutCodesSurvivesTheRoundTrip) {
    const std::string stored = "first line\r\nsecond\nthird\r#hash 100% \t end";
    EXPECT_EQ(DisplayToText(TextToDisplay(stored)), stored);
}

TEST(LineBreakDisplay, ConvertsValuesOfAnyLength) {
    // Far beyond any fixed buffer: 200,000 line breaks between words.
    std::string stored;
    std::string shown;
    for (int i = 0; i < 100000; ++i) {
        stored += "w\r\n";
        shown += "w#13#10";
    }
    EXPECT_EQ(TextToDisplay(stored), shown);
    EXPECT_EQ(DisplayToText(shown), stored);
    // A code split at the very end of a long value is not a code.
    EXPECT_EQ(DisplayToText(std::string(5000, 'x') + "#1"), std::string(5000, 'x') + "#1");
}

} // namespace
} // namespace kelvara
