#include "text/number_text.h"

#include <charconv>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <random>

namespace kelvara {
namespace {

TEST(ShortestNumberText, OrdinaryMagnitudesHaveNoExponent) {
    const struct {
        double value;
        const char* text;
    } cases[] = {{800000, "800000"},  {0.1, "0.1"},
                 {-2.5, "-2.5"},      {0, "0"},
                 {1e-5, "0.00001"},   {999999999999999, "999999999999999"},
                 {1e15, "1e+15"},     {1.5e-6, "1.5e-06"},
                 {13.002, "13.002"},  {std::nan(""), "NaN"},
                 {-INFINITY, "-INF"}, {INFINITY, "INF"}};
    for (const auto& c : cases) {
        EXPECT_EQ(ShortestNumberText(c.value), c.text) << c.text;
    }
}

TEST(ShortestNumberText, ReadsBackToTheSameDouble) {
    std::mt19937_64 rng(48);
    for (int i = 0; i < 10000; ++i) {
        const double value = std::ldexp(std::uniform_real_distribution<double>(-1, 1)(rng),
                                        std::uniform_int_distribution<int>(-60, 60)(rng));
        const std::string text = ShortestNumberText(value);
        double back = 0;
        std::from_chars(text.data(), text.data() + text.size(), back);
        ASSERT_EQ(back, value) << text;
    }
}

} // namespace
} // namespace kelvara
