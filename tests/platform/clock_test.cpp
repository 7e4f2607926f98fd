#include "platform/clock.h"

#include <gtest/gtest.h>
#include <time.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace vantrel::platform {
namespace {

using namespace std::chrono;
using namespace std::chrono_literals;

// Fixes the process's time zone for one test. POSIX zone strings need no zone database.
class ZoneTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const char* tz = std::getenv("TZ")) saved_ = tz;
    }
    void TearDown() override {
        saved_ ? ::setenv("TZ", saved_->c_str(), 1) : ::unsetenv("TZ");
        ::tzset();
    }
    static void useZone(const char* tz) {
        ::setenv("TZ", tz, 1);
        ::tzset();
    }
    static WallTime utc(int y, unsigned m, unsigned d, int h = 0, int min = 0, int s = 0,
                        int ms = 0) {
        return sys_days(year(y) / month(m) / day(d)) + hours(h) + minutes(min) + seconds(s) +
               milliseconds(ms);
    }

  private:
    std::optional<std::string> saved_;
};

void expectLocal(const LocalTime& lt, int y, int mo, int d, int h, int mi, int s, int ms,
                 int weekday) {
    EXPECT_EQ(lt.year, y);
    EXPECT_EQ(lt.month, mo);
    EXPECT_EQ(lt.day, d);
    EXPECT_EQ(lt.hour, h);
    EXPECT_EQ(lt.minute, mi);
    EXPECT_EQ(lt.second, s);
    EXPECT_EQ(lt.millisecond, ms);
    EXPECT_EQ(lt.weekday, weekday);
}

TEST_F(ZoneTest, brokenDownTimesFollowTheZone) {
    useZone("UTC0");
    expectLocal(toLocalTime(WallTime{}), 1970, 1, 1, 0, 0, 0, 0, 4);
    expectLocal(toLocalTime(WallTime{} - 1ms), 1969, 12, 31, 23, 59, 59, 999, 3);

    useZone("CST-8");  // UTC+8 without daylight saving
    expectLocal(toLocalTime(utc(2026, 1, 31, 15, 59, 59, 999)), 2026, 1, 31, 23, 59, 59, 999, 6);
    expectLocal(toLocalTime(utc(2026, 1, 31, 16)), 2026, 2, 1, 0, 0, 0, 0, 0);
    expectLocal(toLocalTime(utc(2028, 2, 28, 16)), 2028, 2, 29, 0, 0, 0, 0, 2);
    expectLocal(toLocalTime(utc(2026, 12, 31, 16)), 2027, 1, 1, 0, 0, 0, 0, 5);
}

TEST_F(ZoneTest, localTimesConvertBackAndNormaliseOutOfRangeFields) {
    useZone("CST-8");
    EXPECT_EQ(fromLocalTime({2026, 2, 1, 0, 0, 0, 0, 0}), utc(2026, 1, 31, 16));
    EXPECT_EQ(fromLocalTime({2026, 1, 31, 23, 59, 59, 999, 6}), utc(2026, 1, 31, 15, 59, 59, 999));
    // Day 32 of January, the 24th hour, the 13th month and 1500 ms roll over as mktime does.
    EXPECT_EQ(fromLocalTime({2026, 1, 32, 0, 0, 0, 0, 0}), utc(2026, 1, 31, 16));
    EXPECT_EQ(fromLocalTime({2026, 1, 31, 24, 0, 0, 0, 0}), utc(2026, 1, 31, 16));
    EXPECT_EQ(fromLocalTime({2026, 13, 1, 0, 0, 0, 0, 0}), utc(2026, 12, 31, 16));
    EXPECT_EQ(fromLocalTime({2028, 3, 0, 8, 0, 0, 1500, 0}), utc(2028, 2, 29, 0, 0, 1, 500));
}

TEST_F(ZoneTest, daylightSavingZonesRoundTripEveryDayOfTheYear) {
    useZone("EST5EDT,M3.2.0,M11.1.0");
    expectLocal(toLocalTime(utc(2026, 7, 1, 12)), 2026, 7, 1, 8, 0, 0, 0, 3);  // EDT, UTC-4
    expectLocal(toLocalTime(utc(2026, 1, 1, 12)), 2026, 1, 1, 7, 0, 0, 0, 4);  // EST, UTC-5
    for (WallTime t = utc(2026, 1, 1, 17, 30); t < utc(2027, 1, 1); t += 24h) {
        EXPECT_EQ(fromLocalTime(toLocalTime(t)), t);
    }
}

TEST_F(ZoneTest, aFakeClockMovesOnlyWhenTold) {
    useZone("CST-8");
    FakeClock clock(utc(2026, 1, 31, 15, 59, 59));
    const Tick start = clock.tick();
    EXPECT_EQ(clock.now(), utc(2026, 1, 31, 15, 59, 59));
    EXPECT_EQ(clock.tick(), start);

    clock.advance(1s);
    expectLocal(clock.localNow(), 2026, 2, 1, 0, 0, 0, 0, 0);
    EXPECT_EQ(clock.tick() - start, 1s);

    clock.setLocal({2026, 2, 8, 0, 0, 0, 0, 0});
    EXPECT_EQ(clock.now(), utc(2026, 2, 7, 16));
    EXPECT_EQ(clock.tick() - start, 1s + 7 * 24h) << "moving forward moves the tick as far";

    clock.set(utc(2026, 1, 1));
    EXPECT_EQ(clock.now(), utc(2026, 1, 1));
    EXPECT_EQ(clock.tick() - start, 1s + 7 * 24h) << "the tick never runs backwards";
}

TEST(RealClockTest, readsTheMachinesClocks) {
    const Clock& clock = RealClock::instance();
    const WallTime before = system_clock::now();
    const WallTime now = clock.now();
    EXPECT_LE(before, now);
    EXPECT_LE(now, system_clock::now());
    const Tick first = clock.tick();
    EXPECT_LE(first, clock.tick());
    EXPECT_EQ(&RealClock::instance(), &clock);
}

}  // namespace
}  // namespace vantrel::platform
