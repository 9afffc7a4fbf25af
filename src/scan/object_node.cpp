#include "scan/object_node.h"

#include "text/ascii.h"
#include "text/number_text.h"

#include <charconv>
#include <cmath>
#include <utility>

namespace kelvara {
std::string FloatText(double value) {
    return ShortestNumberText(value);
}

std::string ValueText(const TPropertyValue& value) {
    if (const auto* integer = std::get_if<std::int64_t>(&value)) {
        return std::to_string(*integer);
    }
    if (const auto* number = std::get_if<double>(&value)) {
        return FloatText(*number);
    }
    if (const auto* text = std::get_if<std::string>(&value)) {
        return *text;
    }
    return {};
}

TObjectNode& TObjectNode::AddChild() {
    return static_cast<TObjectNode&>(AppendChild(std::make_unique<TObjectNode>()));
}

TObjectProperty& TObjectNode::AddProperty() {
    return FProperties.emplace_back();
}

const TObjectProperty* TObjectNode::Property(int index) const {
    if (index < 0 || index >= PropertyCount()) {
        return nullptr;
    }
    return &FProperties[static_cast<std::size_t>(index)];
}

TObjectProperty* TObjectNode::Property(int index) {
    return const_cast<TObjectProperty*>(std::as_const(*this).Property(index));
}

int TObjectNode::IndexOfProperty(std::string_view name) const {
    for (int i = 0; i < PropertyCount(); ++i) {
        if (AsciiEqualIgnoringCase(FProperties[static_cast<std::size_t>(i)].Name, name)) {
            return i;
        }
    }
    return -1;
}

std::string TObjectNode::StrProperty(std::string_view name) const {
    const TObjectProperty* property = Property(IndexOfProperty(name));
    return property != nullptr ? property->Text() : std::string();
}

} // namespace kelvara
