#pragma once
// The 80-bit extended floating-point format of form streams (1 sign bit, 15 exponent bits with
// bias 16383, 64 significand bits with an explicit integer bit), converted portably without any
// assumption about long double.

#include <array>
#include <cstdint>

namespace kelvara {

// The double nearest the extended value in bytes (little-endian, 10 bytes), ties to even:
// subnormal results are rounded once, magnitudes beyond double become infinity, NaN stays NaN,
// unnormal encodings (integer bit clear with a non-zero exponent) are read by their value.
double ExtendedToDouble(const std::array<std::uint8_t, 10>& bytes);

// The extended encoding of a double (exact: every double is an extended value).
std::array<std::uint8_t, 10> DoubleToExtended(double value);

} // namespace kelvara
