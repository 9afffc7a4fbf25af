// The rules of the language scanner that need no table: which components and properties are
// translatable, the text helpers of its rows and the date of the version stamp.

#include "scan/language_scanner.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>

namespace kelvara {
namespace {

struct Prop {
    std::string name;
    TPropertyValue value;
};

TObjectNode& Fill(TObjectNode& node, std::string className, std::string name,
                  const std::vector<Prop>& properties) {
    node.ClassName = std::move(className);
    node.Name = std::move(name);
    for (const Prop& p : properties) {
        TObjectProperty& property = node.AddProperty();
        property.Name = p.name;
        property.Value = p.value;
    }
    return node;
}

TEST(LanguageScannerRules, IsTranslatableComponent) {
    struct Case {
        const char* what;
        std::string className;
        std::string name;
        std::vector<Prop> properties;
        bool expected;
    };
    const std::vector<Case> cases{
        {"named component", "TLabel", "Label1", {}, true},
        {"no name", "TLabel", "", {{"Caption", std::string("x")}}, false},
        {"menu separator", "TMenuItem", "N1", {{"Caption", std::string("-")}}, false},
        {"menu item", "TMenuItem", "File1", {{"Caption", std::string("&File")}}, true},
        {"menu item without caption", "TMenuItem", "Item1", {}, true},
        {"only the first caption counts",
         "TMenuItem",
         "N2",
         {{"Caption", std::string("x")}, {"Caption", std::string("-")}},
         true},
        {"caption in other case is no caption",
         "TMenuItem",
         "N3",
         {{"caption", std::string("-")}},
         true},
        {"dash with blanks is no separator",
         "TMenuItem",
         "N4",
         {{"Caption", std::string(" - ")}},
         true},
        {"class name compares exactly", "TMenuItemEx", "N5", {{"Caption", std::string("-")}}, true},
    };
    for (const Case& c : cases) {
        TObjectNode node;
        EXPECT_EQ(IsTranslatableComponent(Fill(node, c.className, c.name, c.properties)),
                  c.expected)
            << c.what;
    }
}

TEST(LanguageScannerRules, HasActionLooksAtTheFirstActionProperty) {
    struct Case {
        const char* what;
        std::vector<Prop> properties;
        bool expected;
    };
    const std::vector<Case> cases{
        {"none", {{"Caption", std::string("OK")}}, false},
        {"named action", {{"Action", std::string("FileOpen")}}, true},
        {"empty action", {{"Action", std::string()}}, false},
        {"first one decides", {{"Action", std::string()}, {"Action", std::string("Late")}}, false},
        {"integer value has a text", {{"Action", std::int64_t{0}}}, true},
        {"other letter case is another property", {{"action", std::string("FileOpen")}}, false},
    };
    for (const Case& c : cases) {
        TObjectNode node;
        EXPECT_EQ(HasAction(Fill(node, "TButton", "B", c.properties)), c.expected) << c.what;
    }
}

TEST(LanguageScannerRules, IsTranslatableProperty) {
    struct Case {
        bool linked;
        std::string className;
        std::optional<std::string> property;
        bool expected;
    };
    const std::vector<Case> cases{
        {false, "TLabel", std::nullopt, false},   {false, "TLabel", "Caption", true},
        {true, "TLabel", "Caption", false},       {true, "TButton", "Hint", false},
        {false, "TButton", "Hint", true},         {true, "TEdit", "Text", true},
        {true, "TForm", "Title", true},           {true, "TMemo", "Lines.Strings", true},
        {true, "TTabSet", "Tabs.Strings", true},  {true, "TListBox", "Items.Strings", true},
        {true, "TTntLabel", "WideText", true},    {false, "TPanel", "Caption", false},
        {false, "TPanel", "Hint", true},          {false, "TGroupBox", "Caption", true},
        {false, "TLabel", "caption", false},      {false, "TLabel", "Captions", false},
        {false, "TLabel", "Caption.Text", false}, {false, "TListBox", "Items", false},
        {false, "TLabel", "Name", false},
    };
    for (const Case& c : cases) {
        TObjectProperty property;
        if (c.property) {
            property.Name = *c.property;
            property.Value = std::string("value");
        }
        EXPECT_EQ(IsTranslatableProperty(c.linked, c.className, c.property ? &property : nullptr),
                  c.expected)
            << c.className << "." << c.property.value_or("(none)") << " linked " << c.linked;
    }
}

TEST(LanguageScannerRules, BlankTextIsMadeOfBytesUpToSpace) {
    EXPECT_TRUE(IsBlankText(""));
    EXPECT_TRUE(IsBlankText(std::string(" \t\r\n\x01\x1f ", 7)));
    EXPECT_TRUE(IsBlankText(std::string(1, '\0')));
    EXPECT_FALSE(IsBlankText(" x "));
    EXPECT_FALSE(IsBlankText("\x7f"));
    EXPECT_FALSE(IsBlankText("\xa0")); // a non-breaking space of 8-bit code pages is text
}

TEST(LanguageScannerRules, AsciiUpperCaseTouchesOnlyAToZ) {
    EXPECT_EQ(AsciiUpperCase("About the box 1.0"), "ABOUT THE BOX 1.0");
    EXPECT_EQ(AsciiUpperCase("\xc3\xa9t\xc3\xa9 \xe0\xff"), "\xc3\xa9T\xc3\xa9 \xe0\xff");
    EXPECT_EQ(AsciiUpperCase("[`{@]"), "[`{@]");
}

TEST(LanguageScannerRules, CutKeyText) {
    const std::string a59(59, 'a');
    const std::string a58(58, 'a');
    struct Case {
        const char* what;
        std::string text;
        std::string expected;
    };
    const std::vector<Case> cases{
        {"short", "Label1", "Label1"},
        {"exactly 60", std::string(60, 'x'), std::string(60, 'x')},
        {"61 ASCII", std::string(61, 'x'), std::string(60, 'x')},
        {"two-byte character across the limit", a59 + "\xc3\xa9z", a59},
        {"two-byte character ending at the limit", a58 + "\xc3\xa9z", a58 + "\xc3\xa9"},
        {"three-byte character across the limit", a58 + "\xe2\x82\xacz", a58},
        {"four-byte character across the limit", a58 + "\xf0\x9f\x98\x80", a58},
        // Cyrillic in code page 1251: no UTF-8 sequence, cut at the limit.
        {"8-bit code page", a59 + "\xcf\xf0\xe8", a59 + "\xcf"},
        {"lead byte without its continuation", a59 + "\xc3" + "z", a59 + "\xc3"},
        {"stray continuation bytes", a58 + "\x80\x80\x80\x80", a58 + "\x80\x80"},
        {"incomplete sequence at the end", a59 + "\xe2\x82", a59 + "\xe2"},
        {"complete character before a stray continuation byte", a58 + "\xc3\xa9\x80",
         a58 + "\xc3\xa9"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CutKeyText(c.text), c.expected) << c.what;
    }
}

#ifndef _WIN32
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        setenv(name, value, 1);
    }
    ~ScopedEnvironment() {
        if (old_) {
            setenv(name_, old_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(LanguageScannerRules, ShortDateFollowsTheLocaleFromTheEnvironment) {
    std::tm date{};
    date.tm_year = 2026 - 1900;
    date.tm_mon = 2;
    date.tm_mday = 7;
    for (const char* locale : {"C", "POSIX", "no_SUCH.locale"}) {
        ScopedEnvironment environment("LC_ALL", locale);
        EXPECT_EQ(ShortDateText(date), "03/07/26") << locale;
    }
    ScopedEnvironment environment("LC_ALL", "C");
    EXPECT_EQ(TodayShortDateText().size(), 8u);
}
#endif

} // namespace
} // namespace kelvara
