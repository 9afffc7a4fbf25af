#include "scan/form_builder.h"

#include "scan/extended_float.h"

#include <bit>
#include <cstring>
#include <stdexcept>

namespace kelvara::test::form {
namespace {

void PutLe(std::vector<std::uint8_t>& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

void PutShortText(std::vector<std::uint8_t>& out, const std::string& text) {
    if (text.size() > 255) {
        throw std::invalid_argument("short text longer than 255 bytes");
    }
    out.push_back(static_cast<std::uint8_t>(text.size()));
    out.insert(out.end(), text.begin(), text.end());
}

Value Typed(std::uint8_t type, std::uint64_t payload, int bytes) {
    Value value{{type}};
    PutLe(value.bytes, payload, bytes);
    return value;
}

void PutProperties(std::vector<std::uint8_t>& out, const std::vector<Property>& properties) {
    for (const Property& property : properties) {
        PutShortText(out, property.name);
        out.insert(out.end(), property.value.bytes.begin(), property.value.bytes.end());
    }
}

} // namespace

Item::Item(std::vector<Property> properties_, std::optional<std::int32_t> orderIndex_)
    : properties(std::move(properties_)), orderIndex(orderIndex_) {}

Object::Object(std::string className_, std::string name_, std::vector<Property> properties_,
               std::vector<Object> children_, std::uint8_t prefixFlags_, std::int32_t position_)
    : className(std::move(className_)), name(std::move(name_)), properties(std::move(properties_)),
      children(std::move(children_)), prefixFlags(prefixFlags_), position(position_) {}

Value Int8(std::int8_t value) {
    return Typed(2, static_cast<std::uint8_t>(value), 1);
}
Value Int16(std::int16_t value) {
    return Typed(3, static_cast<std::uint16_t>(value), 2);
}
Value Int32(std::int32_t value) {
    return Typed(4, static_cast<std::uint32_t>(value), 4);
}
Value Int64(std::int64_t value) {
    return Typed(19, static_cast<std::uint64_t>(value), 8);
}

Value Int(std::int64_t value) {
    if (value >= INT8_MIN && value <= INT8_MAX) {
        return Int8(static_cast<std::int8_t>(value));
    }
    if (value >= INT16_MIN && value <= INT16_MAX) {
        return Int16(static_cast<std::int16_t>(value));
    }
    if (value >= INT32_MIN && value <= INT32_MAX) {
        return Int32(static_cast<std::int32_t>(value));
    }
    return Int64(value);
}

Value Extended(double value) {
    const auto bytes = DoubleToExtended(value);
    return ExtendedBytes({bytes.begin(), bytes.end()});
}

Value ExtendedBytes(const std::vector<std::uint8_t>& bytes) {
    Value value{{5}};
    value.bytes.insert(value.bytes.end(), bytes.begin(), bytes.end());
    return value;
}

Value Double(double value) {
    return Typed(21, std::bit_cast<std::uint64_t>(value), 8);
}
Value Single(float value) {
    return Typed(15, std::bit_cast<std::uint32_t>(value), 4);
}
Value Currency(std::int64_t scaled) {
    return Typed(16, static_cast<std::uint64_t>(scaled), 8);
}
Value Date(double value) {
    return Typed(17, std::bit_cast<std::uint64_t>(value), 8);
}

Value Text(const std::string& bytes) {
    if (bytes.size() > 255) {
        return LongText(bytes);
    }
    Value value{{6}};
    PutShortText(value.bytes, bytes);
    return value;
}

Value LongText(const std::string& bytes) {
    Value value = Typed(12, bytes.size(), 4);
    value.bytes.insert(value.bytes.end(), bytes.begin(), bytes.end());
    return value;
}

Value WideText(const std::u16string& units) {
    Value value = Typed(18, units.size(), 4);
    for (const char16_t unit : units) {
        PutLe(value.bytes, unit, 2);
    }
    return value;
}

Value Utf8Text(const std::string& bytes) {
    Value value = Typed(20, bytes.size(), 4);
    value.bytes.insert(value.bytes.end(), bytes.begin(), bytes.end());
    return value;
}

Value Ident(const std::string& name) {
    Value value{{7}};
    PutShortText(value.bytes, name);
    return value;
}

Value True() {
    return Value{{9}};
}
Value False() {
    return Value{{8}};
}
Value Nil() {
    return Value{{13}};
}

Value Binary(const std::vector<std::uint8_t>& bytes) {
    Value value = Typed(10, bytes.size(), 4);
    value.bytes.insert(value.bytes.end(), bytes.begin(), bytes.end());
    return value;
}

Value Set(const std::vector<std::string>& members) {
    Value value{{11}};
    for (const std::string& member : members) {
        PutShortText(value.bytes, member);
    }
    value.bytes.push_back(0);
    return value;
}

Value List(const std::vector<Value>& values) {
    Value value{{1}};
    for (const Value& item : values) {
        value.bytes.insert(value.bytes.end(), item.bytes.begin(), item.bytes.end());
    }
    value.bytes.push_back(0);
    return value;
}

Value Collection(const std::vector<Item>& items) {
    Value value{{14}};
    for (const Item& item : items) {
        if (item.orderIndex) {
            const Value index = Int(*item.orderIndex);
            value.bytes.insert(value.bytes.end(), index.bytes.begin(), index.bytes.end());
        }
        value.bytes.push_back(1);
        PutProperties(value.bytes, item.properties);
        value.bytes.push_back(0);
    }
    value.bytes.push_back(0);
    return value;
}

Value Raw(const std::vector<std::uint8_t>& bytes) {
    return Value{bytes};
}

std::vector<std::uint8_t> ObjectBytes(const Object& object) {
    std::vector<std::uint8_t> out;
    if (object.prefixFlags != 0) {
        out.push_back(static_cast<std::uint8_t>(0xF0 | object.prefixFlags));
        if ((object.prefixFlags & 2) != 0) {
            const Value position = Int(object.position);
            out.insert(out.end(), position.bytes.begin(), position.bytes.end());
        }
    }
    PutShortText(out, object.className);
    PutShortText(out, object.name);
    PutProperties(out, object.properties);
    out.push_back(0);
    for (const Object& child : object.children) {
        const std::vector<std::uint8_t> bytes = ObjectBytes(child);
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    out.push_back(0);
    return out;
}

std::vector<std::uint8_t> FormStream(const Object& root) {
    std::vector<std::uint8_t> out{'T', 'P', 'F', '0'};
    const std::vector<std::uint8_t> bytes = ObjectBytes(root);
    out.insert(out.end(), bytes.begin(), bytes.end());
    return out;
}

} // namespace kelvara::test::form
