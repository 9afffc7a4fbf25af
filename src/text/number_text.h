#pragma once

#include <string>

namespace kelvara {

// The shortest decimal text that reads back to the same double: without an exponent for
// magnitudes from 1e-5 up to below 1e15 (and for zero), in scientific form beyond; "NaN", "INF"
// and "-INF" for the values that are no numbers.
std::string ShortestNumberText(double value);

} // namespace kelvara
