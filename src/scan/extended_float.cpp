#include "scan/extended_float.h"

#include <bit>
#include <limits>

namespace kelvara {
namespace {

constexpr int kExtendedBias = 16383;
constexpr int kDoubleBias = 1023;
constexpr std::uint64_t kDoubleFractionMask = (std::uint64_t{1} << 52) - 1;
constexpr std::uint64_t kSignBit = std::uint64_t{1} << 63;

// m >> shift, rounded to nearest with ties to even; shift from 1 up (64 and beyond allowed).
std::uint64_t ShiftRoundingToEven(std::uint64_t m, int shift) {
    if (shift > 64) {
        return 0;
    }
    if (shift == 64) {
        const std::uint64_t half = std::uint64_t{1} << 63;
        return m > half ? 1 : 0; // a tie rounds to the even 0
    }
    const std::uint64_t quotient = m >> shift;
    const std::uint64_t remainder = m & ((std::uint64_t{1} << shift) - 1);
    const std::uint64_t half = std::uint64_t{1} << (shift - 1);
    const bool up = remainder > half || (remainder == half && (quotient & 1) != 0);
    return quotient + (up ? 1 : 0);
}

} // namespace

double ExtendedToDouble(const std::array<std::uint8_t, 10>& bytes) {
    std::uint64_t significand = 0;
    for (int i = 7; i >= 0; --i) {
        significand = (significand << 8) | bytes[static_cast<std::size_t>(i)];
    }
    const unsigned signAndExponent = bytes[8] | (unsigned{bytes[9]} << 8);
    const std::uint64_t sign = (signAndExponent & 0x8000) != 0 ? kSignBit : 0;
    const int exponent = static_cast<int>(signAndExponent & 0x7FFF);

    if (exponent == 0x7FFF) {
        const bool infinity = (significand << 1) == 0;
        const std::uint64_t bits =
            sign | (std::uint64_t{0x7FF} << 52) |
            (infinity ? 0 : ((significand >> 11) & kDoubleFractionMask) | (std::uint64_t{1} << 51));
        return std::bit_cast<double>(bits);
    }
    if (significand == 0) {
        return std::bit_cast<double>(sign);
    }

    // value = significand * 2^(e - 63); a zero exponent field means the smallest exponent, 1.
    const int leadingZeros = std::countl_zero(significand);
    const std::uint64_t normalized = significand << leadingZeros;
    int unbiased = (exponent == 0 ? 1 : exponent) - kExtendedBias - leadingZeros;

    if (unbiased >= 1 - kDoubleBias) {
        std::uint64_t kept = ShiftRoundingToEven(normalized, 11);
        if (kept == (std::uint64_t{1} << 53)) {
            kept >>= 1;
            ++unbiased;
        }
        if (unbiased > kDoubleBias) {
            return std::bit_cast<double>(sign | (std::uint64_t{0x7FF} << 52));
        }
        const auto biased = static_cast<std::uint64_t>(unbiased + kDoubleBias);
        return std::bit_cast<double>(sign | (biased << 52) | (kept & kDoubleFractionMask));
    }
    // Subnormal: the units of the result are 2^-1074. Rounding up into 2^52 gives the smallest
    // normal number, whose encoding is the same integer.
    const int shift = 11 + (1 - kDoubleBias - unbiased);
    return std::bit_cast<double>(sign | ShiftRoundingToEven(normalized, shift));
}

std::array<std::uint8_t, 10> DoubleToExtended(double value) {
    const auto bits = std::bit_cast<std::uint64_t>(value);
    const unsigned sign = (bits & kSignBit) != 0 ? 0x8000 : 0;
    const int exponent = static_cast<int>((bits >> 52) & 0x7FF);
    const std::uint64_t fraction = bits & kDoubleFractionMask;

    std::uint64_t significand = 0;
    unsigned extendedExponent = 0;
    if (exponent == 0x7FF) {
        extendedExponent = 0x7FFF;
        significand = kSignBit | (fraction << 11);
    } else if (exponent == 0 && fraction == 0) {
        extendedExponent = 0;
    } else if (exponent == 0) {
        const int leadingZeros = std::countl_zero(fraction);
        significand = fraction << leadingZeros;
        // fraction * 2^-1074 = significand * 2^(-1074 - leadingZeros), top bit at 2^63.
        extendedExponent = static_cast<unsigned>(-1074 - leadingZeros + 63 + kExtendedBias);
    } else {
        significand = kSignBit | (fraction << 11);
        extendedExponent = static_cast<unsigned>(exponent - kDoubleBias + kExtendedBias);
    }

    std::array<std::uint8_t, 10> bytes{};
    for (std::size_t i = 0; i < 8; ++i) {
        bytes[i] = static_cast<std::uint8_t>(significand >> (8 * i));
    }
    const unsigned top = sign | extendedExponent;
    bytes[8] = static_cast<std::uint8_t>(top & 0xFF);
    bytes[9] = static_cast<std::uint8_t>(top >> 8);
    return bytes;
}

} // namespace kelvara
