#include "engine/sql_like.h"

#include <gtest/gtest.h>
#include <string>

namespace kelvara {
namespace {

struct LikeCase {
    const char* text;
    const char* pattern;
    bool matches;
};

TEST(SqlLike, MatchesPatterns) {
    const LikeCase cases[] = {
        {"MainForm", "MainForm", true},
        {"mainform", "MainForm", true}, // ASCII letters fold
        {"MAINFORM", "mainform", true},
        {"MainForm", "Main", false}, // the whole text must match
        {"Main", "MainForm", false},
        {"MainForm", "Main%", true},
        {"MainForm", "%Form", true},
        {"MainForm", "%ain%", true},
        {"MainForm", "M_inForm", true},
        {"MainForm", "M_nForm", false},
        {"", "", true},
        {"", "%", true},
        {"", "_", false},
        {"a", "", false},
        {"SaveXAs_Dlg", "Save_As_Dlg", true}, // an underscore in a form name is a wildcard
        {"\xC3\xA9", "_", true},              // _ takes one UTF-8 character, not one byte
        {"\xC3\xA9z", "_z", true},
        {"\xE2\x82\xAC", "__", false},
        {"\xC3\x89", "\xC3\xA9", false}, // non-ASCII letters compare exactly
        {"abcabd", "%abd", true},        // the % must give back what it swallowed
        {"aaa", "%a%a%a%", true},
        {"aa", "%a%a%a%", false},
        {"100%", "100%", true},
        {"x", "%%", true},
        {"a\nb", "a_b", true},
        {"Form[1]", "form[1]", true}, // no other pattern characters
    };
    for (const LikeCase& c : cases) {
        EXPECT_EQ(SqlLikeMatches(c.text, c.pattern), c.matches)
            << "'" << c.text << "' like '" << c.pattern << "'";
    }
}

TEST(SqlLike, ManyPercentSignsOverLongTextFinish) {
    const std::string text(20000, 'a');
    std::string pattern;
    for (int i = 0; i < 200; ++i) {
        pattern += "%a";
    }
    EXPECT_FALSE(SqlLikeMatches(text, pattern + "b"));
    EXPECT_TRUE(SqlLikeMatches(text, pattern + "%"));
}

TEST(SqlLike, FixedPrefixStopsAtFirstWildcard) {
    const std::pair<const char*, const char*> cases[] = {
        {"MainForm", "MainForm"}, {"Main%", "Main"}, {"M_in", "M"}, {"%x", ""}, {"", ""}};
    for (const auto& [pattern, prefix] : cases) {
        EXPECT_EQ(SqlLikeFixedPrefix(pattern), prefix) << pattern;
    }
}

TEST(SqlLike, FoldTouchesOnlyAsciiLetters) {
    EXPECT_EQ(AsciiLowerCase("AbZ_[@]\xC3\x89"), "abz_[@]\xC3\x89");
    EXPECT_TRUE(AsciiEqualIgnoringCase("Form_Name", "FORM_NAME"));
    EXPECT_FALSE(AsciiEqualIgnoringCase("Form_Name", "Form_Nam"));
}

} // namespace
} // namespace kelvara
