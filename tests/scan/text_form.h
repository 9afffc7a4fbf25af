#pragma once
// Reads the text form of a form stream as Free Pascal's ObjectBinaryToText writes it, and compares
// a decoded object tree with it. The text form is the independent oracle: another program's
// reading of the same bytes.

#include "scan/object_node.h"

#include <string>
#include <vector>

namespace kelvara::test {

struct TextProperty;

struct TextValue {
    enum Kind { Integer, Float, String, Ident, Set, Binary, List, Collection, Missing };
    Kind kind = Missing;
    std::string text;             // Integer, Float, Ident: the token
    std::vector<unsigned> codes;  // String: the characters, quoted ones and #nnn codes
    std::vector<TextValue> items; // List
    std::vector<std::vector<TextProperty>> collection; // per item
};

struct TextProperty {
    std::string name;
    TextValue value;
};

struct TextObject {
    std::string className;
    std::string name;
    std::vector<TextProperty> properties;
    std::vector<TextObject> children;
};

// Throws std::runtime_error on text it cannot read.
TextObject ParseTextForm(const std::string& text);

// Empty when the tree agrees with the text form, else a description of the first difference.
std::string CompareWithTextForm(const TObjectNode& root, const TextObject& expected);

} // namespace kelvara::test
