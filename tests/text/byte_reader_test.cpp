#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "text/byte_reader.h"

namespace kelvara {
namespace {

const std::vector<std::uint8_t> kBytes = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09};

TEST(ByteReader, ReadsBothByteOrders) {
    const ByteReader r(kBytes);
    EXPECT_EQ(r.U16LE(0), 0x0201);
    EXPECT_EQ(r.U16BE(0), 0x0102);
    EXPECT_EQ(r.U32LE(1), 0x05040302u);
    EXPECT_EQ(r.U32BE(1), 0x02030405u);
    EXPECT_EQ(r.U64LE(1), 0x0908070605040302ull);
    EXPECT_EQ(r.Sub(7, 2).U16LE(0), 0x0908);
}

TEST(ByteReader, RefusesEveryReadPastTheEnd) {
    const ByteReader r(kBytes);
    constexpr auto kHuge = std::numeric_limits<std::uint64_t>::max();
    EXPECT_TRUE(r.Has(9, 0));
    EXPECT_FALSE(r.Has(10, 0));
    EXPECT_FALSE(r.Has(1, kHuge));
    EXPECT_FALSE(r.Has(kHuge, 2));
    EXPECT_THROW(r.U32LE(6), EReadOutOfBounds);
    EXPECT_THROW(r.U8(9), EReadOutOfBounds);
    EXPECT_THROW(r.Bytes(8, kHuge), EReadOutOfBounds);
    EXPECT_THROW(r.Sub(5, 5), EReadOutOfBounds);
    EXPECT_THROW(ByteReader().U8(0), EReadOutOfBounds);
}

TEST(ByteCursor, AdvancesAndStopsAtTheEnd) {
    ByteCursor c{ByteReader(kBytes)};
    EXPECT_EQ(c.U8(), 1);
    EXPECT_EQ(c.U16LE(), 0x0302);
    EXPECT_EQ(c.Chars(2), std::string_view("\x04\x05", 2));
    EXPECT_EQ(c.Remaining(), 4u);
    EXPECT_THROW(c.U64LE(), EReadOutOfBounds);
    EXPECT_EQ(c.Position(), 5u) << "a failed read does not move the cursor";
    c.Skip(4);
    EXPECT_TRUE(c.AtEnd());
    EXPECT_THROW(c.Skip(1), EReadOutOfBounds);
}

} // namespace
} // namespace kelvara
