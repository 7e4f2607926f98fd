// The generated S-box circuits against the published tables: one call with a
// 64-bit lane per input bit evaluates a circuit on all 64 inputs at once,
// exactly as the bitsliced kernel uses it.
#include <gtest/gtest.h>

#include <cstdint>

#include "des_sboxes.h"
#include "des_tables.h"

namespace {

using korrim::des::sboxValue;

// Lane bit x of input k is bit k (first input bit = most significant) of x.
uint64_t inputLane(int k) {
    uint64_t lane = 0;
    for (unsigned x = 0; x < 64; ++x) {
        if ((x >> (5 - k)) & 1) lane |= uint64_t{1} << x;
    }
    return lane;
}

using Box = void (*)(uint64_t, uint64_t, uint64_t, uint64_t, uint64_t, uint64_t, uint64_t&,
                     uint64_t&, uint64_t&, uint64_t&);

TEST(DesSboxCircuits, everyCircuitGivesItsTableValueForAll64Inputs) {
    using namespace korrim::des;
    const Box boxes[8] = {sbox1<uint64_t>, sbox2<uint64_t>, sbox3<uint64_t>, sbox4<uint64_t>,
                          sbox5<uint64_t>, sbox6<uint64_t>, sbox7<uint64_t>, sbox8<uint64_t>};
    for (int box = 0; box < 8; ++box) {
        // Outputs are folded in by exclusive or: start from a pattern and take it out again.
        const uint64_t start = 0x9E3779B97F4A7C15ull * static_cast<uint64_t>(box + 1);
        uint64_t out[4] = {start, ~start, start >> 3, start << 5};
        const uint64_t before[4] = {out[0], out[1], out[2], out[3]};
        boxes[box](inputLane(0), inputLane(1), inputLane(2), inputLane(3), inputLane(4),
                   inputLane(5), out[0], out[1], out[2], out[3]);
        for (unsigned x = 0; x < 64; ++x) {
            unsigned value = 0;
            for (int bit = 0; bit < 4; ++bit)
                value = (value << 1) | (((out[bit] ^ before[bit]) >> x) & 1);
            ASSERT_EQ(value, sboxValue(box, x)) << "S-box " << box + 1 << " input " << x;
        }
    }
}

TEST(DesSboxCircuits, tablesHaveTheStandardShape) {
    // Every row of every S-box is a permutation of 0..15, and the row comes
    // from the outer input bits: input 0b100001 is row 3, column 0.
    for (int box = 0; box < 8; ++box) {
        for (int row = 0; row < 4; ++row) {
            unsigned seen = 0;
            for (int column = 0; column < 16; ++column)
                seen |= 1u << korrim::des::kSbox[box][row][column];
            EXPECT_EQ(seen, 0xFFFFu) << "S-box " << box + 1 << " row " << row;
        }
        EXPECT_EQ(sboxValue(box, 0x21), korrim::des::kSbox[box][3][0]);
        EXPECT_EQ(sboxValue(box, 0x1E), korrim::des::kSbox[box][0][15]);
    }
}

}  // namespace
