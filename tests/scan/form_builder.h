#pragma once
// Writes binary form streams from a short description, for tests:
//
//   using namespace kelvara::test::form;
//   Object form{"TForm1", "Form1", {{"Caption", Text("Hello")}, {"Left", Int(8)}},
//               {Object{"TButton", "OkButton", {{"Caption", Text("OK")}}}}};
//   std::vector<std::uint8_t> stream = FormStream(form);
//
// Integers take the smallest of the 8-, 16- and 32-bit kinds unless a kind is named.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kelvara::test::form {

struct Value;
struct Property;

// One item of a collection: an optional order index, then its properties.
struct Item {
    Item(std::vector<Property> properties_, std::optional<std::int32_t> orderIndex_ = std::nullopt);
    std::vector<Property> properties;
    std::optional<std::int32_t> orderIndex;
};

struct Value {
    // The bytes of the value: its type byte and payload.
    std::vector<std::uint8_t> bytes;
};

struct Property {
    std::string name;
    Value value;
};

struct Object {
    Object(std::string className_, std::string name_, std::vector<Property> properties_ = {},
           std::vector<Object> children_ = {}, std::uint8_t prefixFlags_ = 0,
           std::int32_t position_ = 0);
    std::string className;
    std::string name;
    std::vector<Property> properties;
    std::vector<Object> children;
    // Prefix flags (1 inherited, 2 child position, 4 inline) and the position for flag 2.
    std::uint8_t prefixFlags = 0;
    std::int32_t position = 0;
};

Value Int(std::int64_t value); // smallest of types 2, 3, 4; type 19 beyond 32 bits
Value Int8(std::int8_t value);
Value Int16(std::int16_t value);
Value Int32(std::int32_t value);
Value Int64(std::int64_t value);
Value Extended(double value);
// Raw 10 extended bytes.
Value ExtendedBytes(const std::vector<std::uint8_t>& bytes);
Value Double(double value);
Value Single(float value);
Value Currency(std::int64_t scaledBy10000);
Value Date(double value);
Value Text(const std::string& bytes); // type 6 up to 255 bytes, else 12
Value LongText(const std::string& bytes);
Value WideText(const std::u16string& units);
Value Utf8Text(const std::string& bytes);
Value Ident(const std::string& name);
Value True();
Value False();
Value Nil();
Value Binary(const std::vector<std::uint8_t>& bytes);
Value Set(const std::vector<std::string>& members);
Value List(const std::vector<Value>& values);
Value Collection(const std::vector<Item>& items);
// Any bytes, written as they are.
Value Raw(const std::vector<std::uint8_t>& bytes);

// "TPF0" and the object.
std::vector<std::uint8_t> FormStream(const Object& root);
// The object alone.
std::vector<std::uint8_t> ObjectBytes(const Object& object);

} // namespace kelvara::test::form
