// The portable 80-bit extended conversion. Where the compiler's long double is the x87 extended
// format (x86 Linux), the hardware conversion is the oracle for random bit patterns.

#include "scan/extended_float.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>

namespace kelvara {
namespace {

using Bytes = std::array<std::uint8_t, 10>;

Bytes Extended(bool negative, unsigned exponent, std::uint64_t significand) {
    Bytes bytes{};
    for (std::size_t i = 0; i < 8; ++i) {
        bytes[i] = static_cast<std::uint8_t>(significand >> (8 * i));
    }
    const unsigned top = (negative ? 0x8000 : 0) | exponent;
    bytes[8] = static_cast<std::uint8_t>(top);
    bytes[9] = static_cast<std::uint8_t>(top >> 8);
    return bytes;
}

constexpr std::uint64_t kOne = 0x8000000000000000ull;

TEST(ExtendedFloat, KnownValues) {
    const double denormalMin = std::numeric_limits<double>::denorm_min();
    const double max = std::numeric_limits<double>::max();
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        Bytes bytes;
        double expected;
    } cases[] = {
        {Extended(false, 0x3FFF, kOne), 1.0},
        {Extended(true, 0x4000, kOne), -2.0},
        {Extended(false, 0x3FFB, 0xCCCCCCCCCCCCCCCDull), 0.1},
        {Extended(false, 0x4005, 0xC800000000000000ull), 100.0},
        {Extended(false, 0, 0), 0.0},
        {Extended(false, 0x3FFF + 1023, 0xFFFFFFFFFFFFF800ull), max},
        // Past the largest double after rounding, and plainly beyond it.
        {Extended(false, 0x3FFF + 1023, 0xFFFFFFFFFFFFFC00ull), inf},
        {Extended(true, 0x7FFE, kOne), -inf},
        // 2^-1074 exactly, and half of it (a tie that rounds to the even zero), and a bit more.
        {Extended(false, 0x3FFF - 1074, kOne), denormalMin},
        {Extended(false, 0x3FFF - 1075, kOne), 0.0},
        {Extended(false, 0x3FFF - 1075, kOne | 1), denormalMin},
        // 1.5 * 2^-1074 rounds to the even 2 * 2^-1074.
        {Extended(false, 0x3FFF - 1074, 0xC000000000000000ull), 2 * denormalMin},
        // The largest subnormal rounding up into the smallest normal.
        {Extended(false, 0x3FFF - 1023, 0xFFFFFFFFFFFFFFFFull), std::numeric_limits<double>::min()},
        // An extended denormal (exponent field 0) is far below every double.
        {Extended(false, 0, 1), 0.0},
        // Unnormal: integer bit clear, read by its value (0.5).
        {Extended(false, 0x3FFF, 0x4000000000000000ull), 0.5},
        {Extended(false, 0x7FFF, kOne), inf},
    };
    for (const auto& c : cases) {
        const double actual = ExtendedToDouble(c.bytes);
        EXPECT_EQ(std::bit_cast<std::uint64_t>(actual), std::bit_cast<std::uint64_t>(c.expected))
            << actual << " expected " << c.expected;
    }
    EXPECT_TRUE(std::signbit(ExtendedToDouble(Extended(true, 0, 0))));
    EXPECT_TRUE(std::isnan(ExtendedToDouble(Extended(false, 0x7FFF, kOne | 1))));
    EXPECT_TRUE(std::isnan(ExtendedToDouble(Extended(true, 0x7FFF, 0xC000000000000000ull))));
}

TEST(ExtendedFloat, EveryDoubleRoundTrips) {
    std::uint64_t state = 12345;
    for (int i = 0; i < 200000; ++i) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        // Half of the cases among subnormals and tiny exponents.
        const std::uint64_t bits = (i % 2 == 0) ? state : (state & 0x801FFFFFFFFFFFFFull);
        const double value = std::bit_cast<double>(bits);
        if (std::isnan(value)) {
            continue;
        }
        EXPECT_EQ(std::bit_cast<std::uint64_t>(ExtendedToDouble(DoubleToExtended(value))), bits);
    }
}

bool LongDoubleIsExtended() {
    return std::numeric_limits<long double>::digits == 64 &&
           std::numeric_limits<long double>::max_exponent == 16384;
}

TEST(ExtendedFloat, AgreesWithTheHardwareConversion) {
    if (!LongDoubleIsExtended()) {
        GTEST_SKIP() << "long double is not the 80-bit extended format here: no hardware oracle";
    }
    std::uint64_t state = 987654321;
    auto next = [&state] {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return state;
    };
    for (int i = 0; i < 300000; ++i) {
        const bool negative = (next() >> 63) != 0;
        // Exponents over the whole range, or clustered where doubles end (under- and overflow).
        unsigned exponent = 0;
        switch (i % 3) {
        case 0:
            exponent = static_cast<unsigned>(next() % 0x7FFF);
            break;
        case 1:
            exponent = static_cast<unsigned>(0x3FFF - 1080 + next() % 70);
            break;
        default:
            exponent = static_cast<unsigned>(0x3FFF + 1015 + next() % 20);
            break;
        }
        std::uint64_t significand = next();
        // Normalised (hardware refuses unnormals), with ties and round-up carries common.
        significand |= kOne;
        if (i % 5 == 0) {
            significand &= ~0x7FFull;
            significand |= 0x400;
        }
        if (exponent == 0) {
            significand &= ~kOne; // a real extended denormal
        }
        const Bytes bytes = Extended(negative, exponent, significand);
        long double hardware = 0;
        std::memcpy(&hardware, bytes.data(), bytes.size());
        const double expected = static_cast<double>(hardware);
        const double actual = ExtendedToDouble(bytes);
        ASSERT_EQ(std::bit_cast<std::uint64_t>(actual), std::bit_cast<std::uint64_t>(expected))
            << "exponent " << exponent << " significand " << std::hex << significand;
    }
}

TEST(ExtendedFloat, EncodingMatchesTheHardware) {
    if (!LongDoubleIsExtended()) {
        GTEST_SKIP() << "long double is not the 80-bit extended format here: no hardware oracle";
    }
    std::uint64_t state = 42;
    for (int i = 0; i < 100000; ++i) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        const double value = std::bit_cast<double>(i % 2 ? state : state & 0x800FFFFFFFFFFFFFull);
        if (std::isnan(value)) {
            continue;
        }
        const long double hardware = value;
        Bytes expected{};
        std::memcpy(expected.data(), &hardware, expected.size());
        ASSERT_EQ(DoubleToExtended(value), expected) << value;
    }
}

} // namespace
} // namespace kelvara
