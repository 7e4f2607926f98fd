// Serial-number pools against a plain model: the block in use and at most one waiting.

// GCC 12 at -O2 reports std::optional<uint64_t> as maybe-uninitialized inside the model
// loop below; it is always engaged before use.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <random>

#include "client/gateway/text_format.h"
#include "client/gateway/trans_serials.h"

namespace vantrel {
namespace {

const Route kRoute{"VRELKA", "FTP_A_QS", "04"};

SerialAnswerRecord block(std::uint64_t first, int count, char flag = '0') {
    SerialAnswerRecord a;
    a.text = "TXID0001";
    a.returnCode = "0000";
    a.firstSerial = formatText("%016llu", static_cast<unsigned long long>(first));
    a.serialFlag = std::string(1, flag);
    a.count = formatText("%04d", count);
    return a;
}

TEST(SerialPool, firstBlockIsAdoptedByTheFirstTakeAndRunsOut) {
    SerialPool pool;
    std::string serial;
    char flag = 0;
    EXPECT_EQ(TakeSerial(pool, kRoute, serial, flag), -1);  // no entry
    ASSERT_TRUE(AddSerialBlock(pool, kRoute, block(100, 20, '1')));
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(TakeSerial(pool, kRoute, serial, flag), 0);
        EXPECT_EQ(serial, formatText("%016d", 100 + i));
        EXPECT_EQ(flag, '1');
    }
    EXPECT_EQ(serial, "0000000000000119");
    EXPECT_EQ(TakeSerial(pool, kRoute, serial, flag), -1);
}

TEST(SerialPool, needsSerialsWhenFiveRemainAndNoneWaits) {
    SerialPool pool;
    EXPECT_TRUE(NeedsSerials(pool, kRoute));
    ASSERT_TRUE(AddSerialBlock(pool, kRoute, block(100, 20)));
    EXPECT_FALSE(NeedsSerials(pool, kRoute));  // a block waits
    std::string serial;
    char flag;
    for (int i = 0; i < 14; ++i) ASSERT_EQ(TakeSerial(pool, kRoute, serial, flag), 0);
    EXPECT_FALSE(NeedsSerials(pool, kRoute));  // 6 remain
    ASSERT_EQ(TakeSerial(pool, kRoute, serial, flag), 0);
    EXPECT_TRUE(NeedsSerials(pool, kRoute));  // 5 remain
    ASSERT_TRUE(AddSerialBlock(pool, kRoute, block(500, 20)));
    EXPECT_FALSE(NeedsSerials(pool, kRoute));  // waiting block
    for (int i = 0; i < 5; ++i) ASSERT_EQ(TakeSerial(pool, kRoute, serial, flag), 0);
    EXPECT_EQ(serial, "0000000000000119");
    ASSERT_EQ(TakeSerial(pool, kRoute, serial, flag), 0);
    EXPECT_EQ(serial, "0000000000000500");
}

TEST(SerialPool, routeKeyIsTheTrimmedCodesAndSixteenDigitsStayExact) {
    SerialPool pool;
    ASSERT_TRUE(
        AddSerialBlock(pool, Route{" VRELKA ", "FTP_A_QS  ", "04"}, block(9999999999999990ull, 5)));
    EXPECT_EQ(pool.count("VRELKAFTP_A_QS04"), 1u);
    std::string serial;
    char flag;
    ASSERT_EQ(TakeSerial(pool, kRoute, serial, flag), 0);
    EXPECT_EQ(serial, "9999999999999990");
}

TEST(SerialPool, refusesAnswersThatAreNotNumbers) {
    struct Case {
        const char* first;
        const char* count;
    };
    const Case cases[] = {{"20261208000000x1", "0020"}, {"", "0020"},
                          {"0000000000000000", "0020"}, {"2026120800000001", "00a0"},
                          {"2026120800000001", "0000"}, {"2026120800000001", "-001"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.first) + "/" + c.count);
        SerialPool pool;
        SerialAnswerRecord a = block(1, 1);
        a.firstSerial = c.first;
        a.count = c.count;
        EXPECT_FALSE(AddSerialBlock(pool, kRoute, a));
        EXPECT_TRUE(pool.empty());
    }
    SerialPool pool;
    EXPECT_FALSE(AddSerialBlock(pool, Route{" ", "", ""}, block(1, 1)));
}

// The model: the numbers left in the block in use, and the block that waits (a newer
// answer replaces a waiting block that was never used).
TEST(SerialPool, behavesLikeThePlainModelOverRandomOperations) {
    const unsigned seed = static_cast<unsigned>(::testing::UnitTest::GetInstance()->random_seed());
    std::mt19937 random(seed);
    SCOPED_TRACE("seed " + std::to_string(seed));
    const int count = std::uniform_int_distribution<int>(1, 30)(random);
    SerialPool pool;
    std::deque<std::uint64_t> current;
    std::optional<std::uint64_t> waiting;
    bool known = false;
    std::uint64_t next = 1000;
    for (int step = 0; step < 5000; ++step) {
        if (std::uniform_int_distribution<int>(0, 9)(random) == 0) {
            ASSERT_TRUE(AddSerialBlock(pool, kRoute, block(next, count)));
            waiting = next;
            known = true;
            next += static_cast<std::uint64_t>(count) + 7;
            continue;
        }
        const bool modelNeeds = !known || (!waiting && current.size() < 6);
        EXPECT_EQ(NeedsSerials(pool, kRoute), modelNeeds);
        if (current.empty() && waiting) {
            for (int i = 0; i < count; ++i)
                current.push_back(*waiting + static_cast<std::uint64_t>(i));
            waiting.reset();
        }
        std::string serial;
        char flag;
        const int rc = TakeSerial(pool, kRoute, serial, flag);
        if (current.empty()) {
            ASSERT_EQ(rc, -1) << "step " << step;
        } else {
            ASSERT_EQ(rc, 0) << "step " << step;
            ASSERT_EQ(serial,
                      formatText("%016llu", static_cast<unsigned long long>(current.front())));
            current.pop_front();
        }
    }
}

}  // namespace
}  // namespace vantrel
