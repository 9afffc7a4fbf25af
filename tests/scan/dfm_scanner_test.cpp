// The form stream reader: what it makes of each value kind, the object layout rules, and how it
// fails on damaged streams.

#include "scan/dfm_scanner.h"
#include "scan/form_builder.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace kelvara {
namespace {

using namespace test::form;

const std::string kPlaceholder(1, '\0');

struct Parsed {
    TMemoryStream stream;
    TDFMScanner scanner;
};

// Parses the bytes; the scanner keeps the tree.
std::unique_ptr<Parsed> ParseBytes(const std::vector<std::uint8_t>& bytes) {
    auto parsed = std::make_unique<Parsed>();
    parsed->stream = TMemoryStream(bytes);
    parsed->scanner.SetStream(&parsed->stream);
    parsed->scanner.Parse();
    return parsed;
}

std::unique_ptr<Parsed> ParseForm(const Object& form) {
    return ParseBytes(FormStream(form));
}

// The message Parse fails with, or "" when it does not fail.
std::string ParseError(const std::vector<std::uint8_t>& bytes) {
    try {
        ParseBytes(bytes);
    } catch (const EReadError& e) {
        return e.what();
    }
    return "";
}

Object FormWith(std::vector<Property> properties) {
    return Object{"TForm1", "Form1", std::move(properties), {}};
}

// ---- values

struct ValueCase {
    const char* what;
    Value value;
    TPropertyValue expected;
};

void PrintTo(const ValueCase& c, std::ostream* out) { *out << c.what; }

class ValueKinds : public testing::TestWithParam<ValueCase> {};

TEST_P(ValueKinds, DecodeToTheirValueAndTheNextPropertyIsReadInStep) {
    const ValueCase& c = GetParam();
    const auto parsed = ParseForm(FormWith({{"Value", c.value}, {"After", Int(77)}}));
    const TObjectNode& root = parsed->scanner.Root();
    ASSERT_EQ(root.PropertyCount(), 2);
    EXPECT_EQ(root.Property(0)->Name, "Value");
    EXPECT_EQ(root.Property(0)->Value, c.expected) << ValueText(root.Property(0)->Value);
    EXPECT_EQ(root.Property(1)->Name, "After");
    EXPECT_EQ(root.Property(1)->Value, TPropertyValue(std::int64_t{77}));
}

const ValueCase kValueCases[] = {
    {"int8", Int8(-128), std::int64_t{-128}},
    {"int16", Int16(-32768), std::int64_t{-32768}},
    {"int32", Int32(std::numeric_limits<std::int32_t>::min()),
     std::int64_t{std::numeric_limits<std::int32_t>::min()}},
    {"int64", Int64(std::numeric_limits<std::int64_t>::min()),
     std::numeric_limits<std::int64_t>::min()},
    {"extended", Extended(1.5), 1.5},
    {"double", Double(-0.1), -0.1},
    {"short text", Text("Hello"), std::string("Hello")},
    {"empty text", Text(""), std::string()},
    {"long text", LongText(std::string(300, 'x')), std::string(300, 'x')},
    {"8-bit bytes stay as stored", Text("\xC0\xE1\xE2"), std::string("\xC0\xE1\xE2")},
    {"utf-8 text", Utf8Text("\xE4\xB8\xAD"), std::string("\xE4\xB8\xAD")},
    {"wide text", WideText(u"CPU \u652F\u6301"), std::string("CPU \xE6\x94\xAF\xE6\x8C\x81")},
    {"wide text with a surrogate pair", WideText(u"\U0001F600"), std::string("\xF0\x9F\x98\x80")},
    {"identifier", Ident("clBtnFace"), std::string("clBtnFace")},
    {"true", True(), std::string("True")},
    {"false", False(), std::string("False")},
    {"nil", Nil(), std::string("nil")},
    {"set", Set({"fsBold", "fsItalic"}), kPlaceholder},
    {"empty set", Set({}), kPlaceholder},
    {"binary", Binary(std::vector<std::uint8_t>(1000, 0xAB)), kPlaceholder},
    {"single", Single(2.5f), kPlaceholder},
    {"currency", Currency(12345), kPlaceholder},
    {"date", Date(45000.5), kPlaceholder},
    // The kind of a skipped value is its type byte without the top bit.
    {"binary with the top bit set", Raw({0x8A, 2, 0, 0, 0, 0xAA, 0xBB}), kPlaceholder},
    {"set with the top bit set", Raw({0x8B, 1, 'a', 0}), kPlaceholder},
    {"end marker as a value", Raw({0}), kPlaceholder},
    {"collection inside a list", List({Collection({Item{{{"Text", Text("a")}}, 3}})}),
     kPlaceholder},
};

INSTANTIATE_TEST_SUITE_P(Form, ValueKinds, testing::ValuesIn(kValueCases), [](const auto& info) {
    std::string name;
    for (const char c : std::string(info.param.what)) {
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    }
    return name;
});

TEST(FormLists, JoinTheirValueTextsWithCrLf) {
    const auto parsed = ParseForm(FormWith({
        {"Items.Strings", List({Text("one"), Text("two"), Text("three")})},
        {"Numbers", List({Int(1), Int(2)})},
        {"Empty", List({})},
        {"Single", List({Int(5)})},
        {"Mixed", List({Ident("x"), True(), Set({"a"}), Extended(0.5)})},
        {"Nested", List({Text("a"), List({Text("b"), List({})}), Text("c")})},
    }));
    const TObjectNode& root = parsed->scanner.Root();
    ASSERT_EQ(root.PropertyCount(), 6);
    EXPECT_EQ(root.Property(0)->Value, TPropertyValue(std::string("one\r\ntwo\r\nthree")));
    EXPECT_EQ(root.Property(1)->Value, TPropertyValue(std::string("1\r\n2")));
    EXPECT_EQ(root.Property(2)->Value, TPropertyValue());
    // A one-item list is still a joined text, not an integer.
    EXPECT_EQ(root.Property(3)->Value, TPropertyValue(std::string("5")));
    EXPECT_EQ(root.Property(4)->Text(), "x\r\nTrue\r\n" + kPlaceholder + "\r\n0.5");
    EXPECT_EQ(root.Property(5)->Text(), "a\r\n" + kPlaceholder + "\r\nc");
}

TEST(FormFloats, HaveTheShortestTextThatReadsBack) {
    const auto parsed = ParseForm(FormWith({{"A", Extended(0.1)},
                                            {"B", Extended(1.0)},
                                            {"C", Extended(-2.5e-3)},
                                            {"D", Extended(1e20)},
                                            {"E", Double(123456.789)}}));
    const TObjectNode& root = parsed->scanner.Root();
    EXPECT_EQ(root.StrProperty("A"), "0.1");
    EXPECT_EQ(root.StrProperty("B"), "1");
    EXPECT_EQ(root.StrProperty("C"), "-0.0025");
    EXPECT_EQ(root.StrProperty("D"), "1e+20");
    EXPECT_EQ(root.StrProperty("E"), "123456.789");
}

// ---- layout

TEST(FormLayout, StatusBarPanelsBecomeCollectionItemNodes) {
    const Object form{
        "TForm1",
        "Form1",
        {},
        {Object{
            "TStatusBar",
            "StatusBar",
            {{"Left", Int(0)},
             {"Panels", Collection({Item{{{"Text", Text("Ready")}, {"Width", Int(50)}}},
                                    Item{{{"Width", Int(80)}}},
                                    Item{{{"Text", Text("Done")}, {"Bevel", Ident("pbNone")}}}})},
             {"SimplePanel", False()}}}}};
    const auto parsed = ParseForm(form);
    const TObjectNode* bar = parsed->scanner.Root().FirstChild();
    ASSERT_NE(bar, nullptr);
    EXPECT_TRUE(bar->IsCollection);
    EXPECT_FALSE(parsed->scanner.Root().IsCollection);
    ASSERT_EQ(bar->PropertyCount(), 2) << "the collection itself is no property";
    EXPECT_EQ(bar->Property(0)->Name, "Left");
    EXPECT_EQ(bar->Property(1)->Name, "SimplePanel");
    ASSERT_EQ(bar->ChildCount(), 3);
    const std::vector<std::vector<std::string>> expected = {
        {"Text=Ready", "Width=50"}, {"Width=80"}, {"Text=Done", "Bevel=pbNone"}};
    for (int i = 0; i < 3; ++i) {
        const TObjectNode* item = bar->Child(i);
        EXPECT_EQ(item->ClassName, "TCollectionItem");
        EXPECT_EQ(item->Name, "Panels");
        std::vector<std::string> properties;
        for (int p = 0; p < item->PropertyCount(); ++p) {
            properties.push_back(item->Property(p)->Name + "=" + item->Property(p)->Text());
        }
        EXPECT_EQ(properties, expected[static_cast<std::size_t>(i)]) << "item " << i;
    }
}

TEST(FormLayout, CollectionItemsComeBeforeChildComponentsAndIndexesAreSkipped) {
    const Object form{
        "TForm1",
        "Form1",
        {},
        {Object{"THeaderControl",
                "Header",
                {{"Sections",
                  Collection({Item{{{"Text", Text("A")}}, 0}, Item{{{"Text", Text("B")}}, 300},
                              Item{{{"Text", Text("C")}}, 70000}})}},
                {Object{"TButton", "One", {}, {}}, Object{"TButton", "Two", {}, {}}}}}};
    const auto parsed = ParseForm(form);
    const TObjectNode* header = parsed->scanner.Root().FirstChild();
    ASSERT_EQ(header->ChildCount(), 5);
    const char* const texts[] = {"A", "B", "C"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(header->Child(i)->ClassName, "TCollectionItem");
        ASSERT_EQ(header->Child(i)->PropertyCount(), 1) << "the order index is no property";
        EXPECT_EQ(header->Child(i)->StrProperty("Text"), texts[i]);
    }
    EXPECT_EQ(header->Child(3)->Name, "One");
    EXPECT_EQ(header->Child(4)->Name, "Two");
}

TEST(FormLayout, CollectionsNestInsideCollectionItems) {
    const Object form = FormWith(
        {{"Bands", Collection({Item{{{"Columns", Collection({Item{{{"Caption", Text("inner")}}}})},
                                     {"Width", Int(3)}}}})}});
    const auto parsed = ParseForm(form);
    const TObjectNode* band = parsed->scanner.Root().FirstChild();
    ASSERT_NE(band, nullptr);
    EXPECT_TRUE(band->IsCollection);
    EXPECT_EQ(band->StrProperty("Width"), "3");
    ASSERT_EQ(band->ChildCount(), 1);
    EXPECT_EQ(band->Child(0)->Name, "Columns");
    EXPECT_EQ(band->Child(0)->StrProperty("Caption"), "inner");
}

TEST(FormLayout, PlaceholdersDoNotDisturbTheFollowingProperties) {
    const auto parsed = ParseForm(FormWith({{"Font.Style", Set({"fsBold"})},
                                            {"Icon.Data", Binary({0, 1, 2, 3, 0, 0})},
                                            {"Caption", Text("After")}}));
    const TObjectNode& root = parsed->scanner.Root();
    EXPECT_EQ(root.StrProperty("Font.Style"), kPlaceholder);
    EXPECT_EQ(root.StrProperty("Icon.Data"), kPlaceholder);
    EXPECT_EQ(root.StrProperty("Caption"), "After");
}

TEST(FormLayout, PrefixesAreConsumed) {
    for (const std::uint8_t flags : {1, 2, 3, 4, 5, 6, 7}) {
        for (const std::int32_t position : {0, 200, 40000}) {
            Object child{"TButton", "Button1", {{"Caption", Text("Go")}}, {}, flags, position};
            Object form{"TForm2", "Form2", {{"Top", Int(1)}}, {child}, 1, 0};
            const auto parsed = ParseForm(form);
            const TObjectNode& root = parsed->scanner.Root();
            EXPECT_EQ(root.ClassName, "TForm2");
            ASSERT_EQ(root.ChildCount(), 1);
            EXPECT_EQ(root.FirstChild()->ClassName, "TButton") << int{flags} << " " << position;
            EXPECT_EQ(root.FirstChild()->StrProperty("Caption"), "Go");
        }
    }
}

TEST(FormLayout, PropertyNamesKeepTheirCaseAndLookupsIgnoreIt) {
    const auto parsed = ParseForm(
        FormWith({{"caption", Text("lower")}, {"Caption", Text("upper")}, {"Hint", Text("h")}}));
    const TObjectNode& root = parsed->scanner.Root();
    EXPECT_EQ(root.Property(0)->Name, "caption");
    EXPECT_EQ(root.Property(1)->Name, "Caption");
    EXPECT_EQ(root.IndexOfProperty("CAPTION"), 0);
    EXPECT_EQ(root.IndexOfProperty("Caption"), 0);
    EXPECT_EQ(root.StrProperty("Caption"), "lower");
    EXPECT_EQ(root.StrProperty("caption"), "lower");
    EXPECT_EQ(root.IndexOfProperty("Hin"), -1);
    EXPECT_EQ(root.StrProperty("Missing"), "");
}

TEST(FormLayout, NestedObjectsAndEmptyNames) {
    const Object form{
        "TApplication",
        "",
        {},
        {Object{"TPanel", "Panel1", {}, {Object{"TEdit", "Edit1", {{"Text", Text("sample")}}, {}}}},
         Object{"TLabel", "", {}, {}}}};
    const auto parsed = ParseForm(form);
    const TObjectNode& root = parsed->scanner.Root();
    EXPECT_EQ(root.Name, "");
    EXPECT_EQ(root.ClassName, "TApplication");
    const TObjectNode* edit = root.Next()->Next();
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->Name, "Edit1");
    EXPECT_EQ(edit->Parent()->Name, "Panel1");
    EXPECT_EQ(edit->Next()->ClassName, "TLabel");
    EXPECT_EQ(edit->Next()->Next(), nullptr);
}

// ---- the scanner object

TEST(FormScanner, WithoutStreamTheRootIsEmptyAndNullKeepsTheStream) {
    TDFMScanner scanner;
    scanner.Parse();
    EXPECT_EQ(scanner.Root().ClassName, "");
    EXPECT_EQ(scanner.Root().ChildCount(), 0);

    TMemoryStream stream(FormStream(FormWith({{"Caption", Text("x")}})));
    scanner.SetStream(&stream);
    scanner.SetStream(nullptr);
    scanner.Parse();
    EXPECT_EQ(scanner.Root().StrProperty("Caption"), "x");
}

TEST(FormScanner, ReadsFromThePositionAndLeavesItAfterTheForm) {
    std::vector<std::uint8_t> bytes = {'j', 'u', 'n', 'k'};
    const std::vector<std::uint8_t> form = FormStream(FormWith({{"Caption", Text("x")}}));
    bytes.insert(bytes.end(), form.begin(), form.end());
    bytes.push_back(0xEE);
    TMemoryStream stream(bytes);
    stream.SetPosition(4);
    TDFMScanner scanner;
    scanner.SetStream(&stream);
    scanner.Parse();
    EXPECT_EQ(scanner.Root().StrProperty("Caption"), "x");
    EXPECT_EQ(stream.Position(), bytes.size() - 1);
}

TEST(FormScanner, EachParseReplacesTheTree) {
    TMemoryStream first(FormStream(Object{"TA", "A", {}, {Object{"TB", "B", {}, {}}}}));
    TMemoryStream second(FormStream(Object{"TC", "C", {}, {}}));
    TDFMScanner scanner;
    scanner.SetStream(&first);
    scanner.Parse();
    EXPECT_EQ(scanner.Root().ChildCount(), 1);
    scanner.SetStream(&second);
    scanner.Parse();
    EXPECT_EQ(scanner.Root().Name, "C");
    EXPECT_EQ(scanner.Root().ChildCount(), 0);
}

// ---- failures

TEST(FormFailures, EveryTruncationIsAStreamReadError) {
    const std::vector<std::uint8_t> whole =
        FormStream(Object{"TForm1",
                          "Form1",
                          {{"Caption", Text("Hello")},
                           {"Long", LongText("abc")},
                           {"Wide", WideText(u"w")},
                           {"Utf8", Utf8Text("u")},
                           {"Big", Int64(1)},
                           {"D", Double(1)},
                           {"E", Extended(2)},
                           {"S", Set({"a"})},
                           {"B", Binary({1, 2})},
                           {"L", List({Int(1), Text("t")})},
                           {"Cur", Currency(1)},
                           {"Sgl", Single(1)},
                           {"Dt", Date(1)},
                           {"C", Collection({Item{{{"X", Int(1)}}, 2}})}},
                          {Object{"TB", "B", {}, {}, 2, 1}}});
    ASSERT_EQ(ParseError(whole), "");
    for (std::size_t size = 0; size < whole.size(); ++size) {
        const std::vector<std::uint8_t> cut(whole.begin(), whole.begin() + static_cast<long>(size));
        EXPECT_EQ(ParseError(cut), "Stream read error") << "cut at " << size;
    }
}

TEST(FormFailures, DamagedStreamsFailWithTheirMessage) {
    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;
        const char* message;
    };
    auto form = [](std::vector<Property> properties) { return FormStream(FormWith(properties)); };
    const Case cases[] = {
        {"no signature", {'T', 'P', 'F', '1', 0, 0, 0, 0}, "Invalid stream format"},
        {"old resource header", {0xFF, 0x0A, 0x00, 'T', 0, 0, 0, 0}, "Invalid stream format"},
        {"value kind above 21", form({{"X", Raw({22})}}), "Invalid property value"},
        {"value kind 0x96", form({{"X", Raw({0x96})}}), "Invalid property value"},
        {"skipped kind above 21 in a list", form({{"X", List({Raw({23})})}}),
         "Invalid property value"},
        {"top bit on an integer", form({{"X", Raw({0x82, 1})}}), "Invalid property value"},
        {"top bit on a text", form({{"X", Raw({0x86, 1, 'a'})}}), "Invalid property value"},
        {"prefix position not an integer",
         {'T', 'P', 'F', '0', 0xF2, 6, 1, 'a', 0, 0, 0, 0},
         "Invalid property value"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseError(c.bytes), c.message) << c.what;
    }
}

TEST(FormFailures, ObjectEndMarkerMissing) {
    // After the property run the object's children follow; a child run that does not end with 0
    // reads the next bytes as a child object until a read fails.
    std::vector<std::uint8_t> bytes = FormStream(FormWith({{"A", Int(1)}}));
    bytes.back() = 3; // replaces the children's end marker
    EXPECT_EQ(ParseError(bytes), "Stream read error");
}

TEST(FormFailures, DeepNestingIsRefused) {
    auto nestedObjects = [](int depth) {
        Object object{"TPanel", "P", {}, {}};
        for (int i = 1; i < depth; ++i) {
            object = Object{"TPanel", "P", {}, {object}};
        }
        return FormStream(object);
    };
    auto nestedLists = [](int depth) {
        Value value = List({Int(1)});
        for (int i = 1; i < depth; ++i) {
            value = List({value});
        }
        return FormStream(FormWith({{"X", value}}));
    };
    EXPECT_EQ(ParseError(nestedObjects(TDFMScanner::kMaxDepth)), "");
    EXPECT_EQ(ParseError(nestedObjects(TDFMScanner::kMaxDepth + 1)), "Invalid property value");
    // The form object itself is one level.
    EXPECT_EQ(ParseError(nestedLists(TDFMScanner::kMaxDepth - 1)), "");
    EXPECT_EQ(ParseError(nestedLists(TDFMScanner::kMaxDepth)), "Invalid property value");
    // A hostile stream far deeper than the limit fails the same way, without exhausting the stack.
    std::vector<std::uint8_t> deep = {'T', 'P', 'F', '0', 1, 'T', 1, 'F', 1, 'X'};
    deep.insert(deep.end(), 1000000, 1);
    EXPECT_EQ(ParseError(deep), "Invalid property value");
}

TEST(FormFailures, TheTreeReadSoFarStays) {
    std::vector<std::uint8_t> bytes =
        FormStream(Object{"TForm1",
                          "Form1",
                          {{"Caption", Text("c")}},
                          {Object{"TButton", "B1", {{"Caption", Text("ok")}}, {}},
                           Object{"TButton", "B2", {{"Bad", Raw({30})}}, {}}}});
    TMemoryStream stream(bytes);
    TDFMScanner scanner;
    scanner.SetStream(&stream);
    EXPECT_THROW(scanner.Parse(), EReadError);
    const TObjectNode& root = scanner.Root();
    EXPECT_EQ(root.StrProperty("Caption"), "c");
    ASSERT_EQ(root.ChildCount(), 2);
    EXPECT_EQ(root.Child(0)->StrProperty("Caption"), "ok");
    EXPECT_EQ(root.Child(1)->Name, "B2");
}

TEST(FormFailures, HugeCountsFailWithoutAllocating) {
    for (const std::uint8_t type : {10, 12, 18, 20}) {
        const std::vector<std::uint8_t> bytes =
            FormStream(FormWith({{"X", Raw({type, 0xFF, 0xFF, 0xFF, 0xFF, 'a'})}}));
        EXPECT_EQ(ParseError(bytes), "Stream read error") << int{type};
    }
}

} // namespace
} // namespace kelvara
