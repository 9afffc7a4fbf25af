#pragma once
// The object tree of a decoded form stream: one TObjectNode per stored object (the form, each
// component, each collection item) with its class name, object name and properties in stream
// order. Every node of such a tree is a TObjectNode (AddChild makes only those), so the typed
// navigation below shadows TNode's.

#include "scan/node.h"

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <variant>

namespace kelvara {

// A property value: empty, a signed integer (64 bits wide, to hold every integer kind of the
// stream), a double, or a text (bytes as stored; wide texts already converted to UTF-8).
using TPropertyValue = std::variant<std::monostate, std::int64_t, double, std::string>;

// Text form of a value: an integer in decimal with a leading minus when negative; a double as the
// shortest decimal text that reads back to the same double (no exponent from 1e-5 up to below
// 1e15, "NaN", "INF", "-INF"); a text as itself; an empty value as empty text.
std::string ValueText(const TPropertyValue& value);
// The shortest round-trip decimal text of a double, as ValueText gives it.
std::string FloatText(double value);

struct TObjectProperty {
    std::string Name; // as stored, letter case kept
    TPropertyValue Value;

    std::string Text() const { return ValueText(Value); }
};

class TObjectNode : public TNode {
public:
    std::string Name;      // object name
    std::string ClassName; // class name
    // Set when at least one of the object's properties was a collection.
    bool IsCollection = false;

    // A new node whose parent is this one, appended to the children.
    TObjectNode& AddChild();
    // A new empty property appended to the properties; the reference stays valid as long as the
    // node lives.
    TObjectProperty& AddProperty();

    int PropertyCount() const { return static_cast<int>(FProperties.size()); }
    // The property at index, or nullptr when the index is out of range.
    const TObjectProperty* Property(int index) const;
    TObjectProperty* Property(int index);
    // Index of the first property whose name equals name ignoring ASCII letter case, or -1.
    int IndexOfProperty(std::string_view name) const;
    // ValueText of the property IndexOfProperty(name) finds, or empty text without one.
    std::string StrProperty(std::string_view name) const;

    // Typed navigation (same contracts as TNode's).
    TObjectNode* Parent() const { return static_cast<TObjectNode*>(TNode::Parent()); }
    TObjectNode* Child(int index) const { return static_cast<TObjectNode*>(TNode::Child(index)); }
    TObjectNode* FirstChild() const { return static_cast<TObjectNode*>(TNode::FirstChild()); }
    TObjectNode* LastChild() const { return static_cast<TObjectNode*>(TNode::LastChild()); }
    TObjectNode* NextSibling() const { return static_cast<TObjectNode*>(TNode::NextSibling()); }
    TObjectNode* Next() const { return static_cast<TObjectNode*>(TNode::Next()); }

private:
    std::deque<TObjectProperty> FProperties; // stable addresses while properties are added
};

} // namespace kelvara
