#include "text/ascii.h"

#include <algorithm>

namespace kelvara {

std::string AsciiLowerCase(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), AsciiLower);
    return out;
}

std::string AsciiUpperCase(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), AsciiUpper);
    return out;
}

bool AsciiEqualIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

} // namespace kelvara
