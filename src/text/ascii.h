#pragma once
// ASCII letter case. Names in forms, resources and table columns compare without regard to the
// case of ASCII letters; bytes from 0x80 up (the rest of UTF-8 or any 8-bit code page) stay as
// they are.

#include <string>
#include <string_view>

namespace kelvara {

constexpr char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr char AsciiUpper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string AsciiLowerCase(std::string_view text);
std::string AsciiUpperCase(std::string_view text);
bool AsciiEqualIgnoringCase(std::string_view a, std::string_view b);

} // namespace kelvara
