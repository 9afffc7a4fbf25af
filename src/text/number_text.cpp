#include "text/number_text.h"

#include <charconv>
#include <cmath>

namespace kelvara {

std::string ShortestNumberText(double value) {
    if (std::isnan(value)) {
        return "NaN";
    }
    if (std::isinf(value)) {
        return value < 0 ? "-INF" : "INF";
    }
    const double magnitude = std::fabs(value);
    const bool ordinary = magnitude == 0 || (magnitude >= 1e-5 && magnitude < 1e15);
    // Fixed notation of a double below 1e15 needs at most about 330 characters (tiny fractions).
    char buffer[400];
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value,
                      ordinary ? std::chars_format::fixed : std::chars_format::scientific);
    return std::string(buffer, result.ptr);
}

} // namespace kelvara
