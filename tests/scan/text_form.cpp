#include "scan/text_form.h"

#include "text/unicode.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <stdexcept>

namespace kelvara::test {
namespace {

class TTextFormParser {
public:
    explicit TTextFormParser(const std::string& text) : FText(text) {}

    TextObject ParseObject() {
        const std::string keyword = Word();
        if (keyword != "object" && keyword != "inherited" && keyword != "inline") {
            Fail("object expected, got '" + keyword + "'");
        }
        TextObject object;
        const std::string first = Word();
        SkipBlanks();
        if (Peek() == ':') {
            ++FPos;
            object.name = first;
            object.className = Word();
        } else {
            object.className = first;
        }
        SkipBlanks();
        if (Peek() == '[') { // child position
            while (Peek() != ']') {
                ++FPos;
            }
            ++FPos;
        }
        while (true) {
            const std::size_t save = FPos;
            const std::string word = Word();
            if (word == "end") {
                return object;
            }
            if (word == "object" || word == "inherited" || word == "inline") {
                FPos = save;
                object.children.push_back(ParseObject());
                continue;
            }
            Expect('=');
            object.properties.push_back(TextProperty{word, ParseValue()});
        }
    }

private:
    TextValue ParseValue() {
        SkipBlanks();
        TextValue value;
        const char c = Peek();
        if (c == '\'' || c == '#') {
            value.kind = TextValue::String;
            value.codes = ParseString();
        } else if (c == '[') {
            value.kind = TextValue::Set;
            SkipPast(']');
        } else if (c == '{') {
            value.kind = TextValue::Binary;
            SkipPast('}');
        } else if (c == '(') {
            value.kind = TextValue::List;
            ++FPos;
            while (SkipBlanks(), Peek() != ')') {
                value.items.push_back(ParseValue());
            }
            ++FPos;
        } else if (c == '<') {
            value.kind = TextValue::Collection;
            ++FPos;
            while (SkipBlanks(), Peek() != '>') {
                if (Word() != "item") {
                    Fail("item expected");
                }
                SkipBlanks();
                if (Peek() == '[') {
                    SkipPast(']');
                }
                auto& item = value.collection.emplace_back();
                while (true) {
                    const std::string word = Word();
                    if (word == "end") {
                        break;
                    }
                    Expect('=');
                    item.push_back(TextProperty{word, ParseValue()});
                }
            }
            ++FPos;
        } else if (c == '-' || c == '+' || std::isdigit(static_cast<unsigned char>(c))) {
            const std::string number = Word();
            value.kind = number.find_first_of(".Ee") != std::string::npos ? TextValue::Float
                                                                          : TextValue::Integer;
            value.text = number;
        } else if (c == '\n' || c == '\r') {
            value.kind = TextValue::Missing;
        } else {
            value.kind = TextValue::Ident;
            value.text = Word();
        }
        return value;
    }

    std::vector<unsigned> ParseString() {
        std::vector<unsigned> codes;
        while (true) {
            const char c = Peek();
            if (c == '\'') {
                ++FPos;
                while (true) {
                    if (FPos >= FText.size()) {
                        Fail("unterminated string");
                    }
                    if (FText[FPos] == '\'') {
                        if (FPos + 1 < FText.size() && FText[FPos + 1] == '\'') {
                            codes.push_back('\'');
                            FPos += 2;
                            continue;
                        }
                        ++FPos;
                        break;
                    }
                    codes.push_back(static_cast<unsigned char>(FText[FPos++]));
                }
            } else if (c == '#') {
                ++FPos;
                std::size_t end = FPos;
                while (end < FText.size() && std::isdigit(static_cast<unsigned char>(FText[end]))) {
                    ++end;
                }
                codes.push_back(static_cast<unsigned>(std::stoul(FText.substr(FPos, end - FPos))));
                FPos = end;
            } else {
                // A string continued on the next line with "+".
                const std::size_t save = FPos;
                SkipBlanks();
                if (Peek() == '+') {
                    ++FPos;
                    SkipBlanks();
                    continue;
                }
                FPos = save;
                return codes;
            }
        }
    }

    char Peek() const { return FPos < FText.size() ? FText[FPos] : '\0'; }
    void SkipBlanks() {
        while (FPos < FText.size() && std::isspace(static_cast<unsigned char>(FText[FPos]))) {
            ++FPos;
        }
    }
    void SkipPast(char close) {
        const std::size_t end = FText.find(close, FPos);
        if (end == std::string::npos) {
            Fail(std::string("missing ") + close);
        }
        FPos = end + 1;
    }
    std::string Word() {
        SkipBlanks();
        const std::size_t start = FPos;
        while (FPos < FText.size()) {
            const char c = FText[FPos];
            if (std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '.' || c == '-' ||
                c == '+') {
                ++FPos;
            } else {
                break;
            }
        }
        if (start == FPos) {
            Fail("word expected");
        }
        return FText.substr(start, FPos - start);
    }
    void Expect(char c) {
        SkipBlanks();
        if (Peek() != c) {
            Fail(std::string("'") + c + "' expected");
        }
        ++FPos;
    }
    [[noreturn]] void Fail(const std::string& what) const {
        throw std::runtime_error("text form, offset " + std::to_string(FPos) + ": " + what);
    }

    const std::string& FText;
    std::size_t FPos = 0;
};

// The two readings of a text form's string: its codes as the stream's bytes, or as UTF-16 units
// (Free Pascal writes wide and UTF-8 strings as UTF-16 units).
std::string CodesAsBytes(const std::vector<unsigned>& codes, bool& fits) {
    std::string bytes;
    fits = true;
    for (const unsigned code : codes) {
        fits = fits && code < 256;
        bytes += static_cast<char>(code & 0xFF);
    }
    return bytes;
}

std::string CodesAsUtf16(const std::vector<unsigned>& codes) {
    std::u16string units;
    for (const unsigned code : codes) {
        units += static_cast<char16_t>(code);
    }
    return WideToUtf8String(units);
}

bool SameFloat(double actual, const std::string& text) {
    const double expected = std::strtod(text.c_str(), nullptr);
    return actual == expected || std::nextafter(expected, actual) == actual;
}

// The value text the reader should give, under one reading of strings.
std::string ExpectedText(const TextValue& value, bool utf16) {
    switch (value.kind) {
    case TextValue::Integer:
    case TextValue::Ident:
        return value.text;
    case TextValue::Float:
        return FloatText(std::strtod(value.text.c_str(), nullptr));
    case TextValue::String: {
        bool fits = false;
        return utf16 ? CodesAsUtf16(value.codes) : CodesAsBytes(value.codes, fits);
    }
    case TextValue::List: {
        std::string joined;
        for (std::size_t i = 0; i < value.items.size(); ++i) {
            joined += (i > 0 ? "\r\n" : "") + ExpectedText(value.items[i], utf16);
        }
        return joined;
    }
    default:
        return std::string(1, '\0');
    }
}

std::string Describe(const std::string& text) {
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 32 || byte > 126) {
            static const char* const kHex = "0123456789ABCDEF";
            out += "\\x";
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        } else {
            out += c;
        }
    }
    return out;
}

std::string CompareValue(const TPropertyValue& actual, const TextValue& expected) {
    const std::string actualText = ValueText(actual);
    switch (expected.kind) {
    case TextValue::Integer:
        if (!std::holds_alternative<std::int64_t>(actual) || actualText != expected.text) {
            return "integer " + expected.text + " expected, got '" + Describe(actualText) + "'";
        }
        return {};
    case TextValue::Float:
        if (!std::holds_alternative<double>(actual) ||
            !SameFloat(std::get<double>(actual), expected.text)) {
            return "number " + expected.text + " expected, got '" + Describe(actualText) + "'";
        }
        return {};
    case TextValue::Missing:
        return {}; // a value the text writer could not show
    case TextValue::List:
        if (expected.items.empty()) {
            return std::holds_alternative<std::monostate>(actual) ? "" : "empty list expected";
        }
        [[fallthrough]];
    default: {
        const std::string bytes = ExpectedText(expected, false);
        const std::string utf8 = ExpectedText(expected, true);
        if (!std::holds_alternative<std::string>(actual) ||
            (actualText != bytes && actualText != utf8)) {
            return "text '" + Describe(bytes) + "' expected, got '" + Describe(actualText) + "'";
        }
        return {};
    }
    }
}

std::string CompareProperties(const TObjectNode& node, const std::vector<TextProperty>& expected,
                              std::vector<const std::vector<TextProperty>*>& items) {
    int index = 0;
    for (const auto& [name, value] : expected) {
        if (value.kind == TextValue::Collection) {
            for (const auto& item : value.collection) {
                items.push_back(&item);
            }
            continue;
        }
        const TObjectProperty* property = node.Property(index++);
        if (property == nullptr) {
            return "property " + name + " missing";
        }
        if (property->Name != name) {
            return "property " + name + " expected, got " + property->Name;
        }
        const std::string difference = CompareValue(property->Value, value);
        if (!difference.empty()) {
            return "property " + name + ": " + difference;
        }
    }
    if (index != node.PropertyCount()) {
        return "unexpected property " + node.Property(index)->Name;
    }
    return {};
}

std::string CompareNode(const TObjectNode& node, const TextObject& expected,
                        const std::string& path);

std::string CompareItem(const TObjectNode& node, const std::string& collectionName,
                        const std::vector<TextProperty>& properties, const std::string& path) {
    if (node.ClassName != "TCollectionItem" || node.Name != collectionName) {
        return path + ": collection item " + collectionName + " expected, got " + node.ClassName +
               " " + node.Name;
    }
    TextObject item{"TCollectionItem", collectionName, properties, {}};
    return CompareNode(node, item, path);
}

std::string CompareNode(const TObjectNode& node, const TextObject& expected,
                        const std::string& path) {
    const std::string here = path + "/" + expected.name + ":" + expected.className;
    if (node.ClassName != expected.className || node.Name != expected.name) {
        return here + ": got " + node.ClassName + " " + node.Name;
    }
    std::vector<const std::vector<TextProperty>*> items;
    std::string difference = CompareProperties(node, expected.properties, items);
    if (!difference.empty()) {
        return here + ": " + difference;
    }
    bool hasCollection = false;
    std::vector<std::string> itemCollection;
    for (const auto& [name, value] : expected.properties) {
        if (value.kind == TextValue::Collection) {
            hasCollection = true;
            for (std::size_t i = 0; i < value.collection.size(); ++i) {
                itemCollection.push_back(name);
            }
        }
    }
    if (node.IsCollection != hasCollection) {
        return here + ": IsCollection should be " + (hasCollection ? "set" : "clear");
    }
    const std::size_t children = items.size() + expected.children.size();
    if (static_cast<std::size_t>(node.ChildCount()) != children) {
        return here + ": " + std::to_string(children) + " children expected, got " +
               std::to_string(node.ChildCount());
    }
    for (std::size_t i = 0; i < items.size(); ++i) {
        difference =
            CompareItem(*node.Child(static_cast<int>(i)), itemCollection[i], *items[i], here);
        if (!difference.empty()) {
            return difference;
        }
    }
    for (std::size_t i = 0; i < expected.children.size(); ++i) {
        difference = CompareNode(*node.Child(static_cast<int>(items.size() + i)),
                                 expected.children[i], here);
        if (!difference.empty()) {
            return difference;
        }
    }
    return {};
}

} // namespace

TextObject ParseTextForm(const std::string& text) {
    TTextFormParser parser(text);
    return parser.ParseObject();
}

std::string CompareWithTextForm(const TObjectNode& root, const TextObject& expected) {
    return CompareNode(root, expected, "");
}

} // namespace kelvara::test
