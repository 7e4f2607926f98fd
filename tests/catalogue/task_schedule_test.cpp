#include "client/catalogue/task_schedule.h"

#include <gtest/gtest.h>

#include "client/catalogue/catalogue_text.h"
#include "tests/catalogue/catalogue_fixture.h"

namespace vantrel::catalogue {
namespace {

using testing::localTime;

// 2026-12-08 is a Tuesday.
platform::WallTime at(int day, int h, int mi, int s = 0) {
    return platform::fromLocalTime(localTime(2026, 12, day, h, mi, s));
}

std::string text(const NextRunTime& t) {
    return t ? FormatDateTime(platform::toLocalTime(*t)) : "null";
}

TaskSchedule daily(const char* begin, const char* end, const char* week = "1111111") {
    return TaskSchedule{1, "2026-01-01", begin, end, week, false};
}

TEST(FirstNextRunTest, beforeInsideAndAfterTheWindow) {
    EXPECT_EQ(text(FirstNextRun(daily("09:00", "17:00"), at(8, 8, 0))), "2026-12-08 09:00:00");
    EXPECT_EQ(text(FirstNextRun(daily("09:00", "17:00"), at(8, 10, 0))), "2026-12-08 10:00:10");
    EXPECT_EQ(text(FirstNextRun(daily("09:00", "17:00"), at(8, 18, 0))), "2026-12-09 09:00:00");
}

TEST(FirstNextRunTest, theWeekdayMaskIsHonoured) {
    // Tuesday evening, a task for Thursdays only
    EXPECT_EQ(text(FirstNextRun(daily("09:00", "17:00", "0001000"), at(8, 18, 0))),
              "2026-12-10 09:00:00");
    // inside today's window, but today is not allowed: the next Monday
    EXPECT_EQ(text(FirstNextRun(daily("09:00", "17:00", "1000000"), at(8, 10, 0))),
              "2026-12-14 10:00:00");
}

TEST(FirstNextRunTest, noDayOrNoStateMeansNotScheduled) {
    EXPECT_EQ(text(FirstNextRun(daily("09:00", "17:00", "0000000"), at(8, 10, 0))), "null");
    TaskSchedule stopped = daily("09:00", "17:00");
    stopped.planstate = 0;
    EXPECT_EQ(text(FirstNextRun(stopped, at(8, 10, 0))), "null");
}

TEST(FirstNextRunTest, aTaskThatBeginsLaterWaitsForItsFirstDay) {
    TaskSchedule s = daily("09:00", "17:00");
    s.begindate = "2026-12-20";
    EXPECT_EQ(text(FirstNextRun(s, at(8, 10, 0))), "2026-12-20 09:00:00");
}

TEST(FirstNextRunTest, aFirstDayThatIsNoDateDoesNotHoldTheTaskBack) {
    TaskSchedule s = daily("09:00", "17:00");
    s.begindate = "";
    EXPECT_EQ(text(FirstNextRun(s, at(8, 8, 0))), "2026-12-08 09:00:00");
    s.begindate = "xxxx-99-99";
    EXPECT_EQ(text(FirstNextRun(s, at(8, 10, 0))), "2026-12-08 10:00:10");
}

TEST(FirstNextRunTest, aNightWindowIsDueAtOnceAfterMidnight) {
    // 22:00-02:00 crossing midnight, allowed on Mondays only, loaded Tuesday 01:00
    TaskSchedule s{1, "2026-01-01", "22:00", "02:00", "1000000", true};
    const platform::WallTime now = at(8, 1, 0);
    const NextRunTime next = FirstNextRun(s, now);
    ASSERT_TRUE(next.has_value());
    EXPECT_LE(*next, now);
    // the same task on Tuesday 03:00 waits for next Monday's window
    EXPECT_EQ(text(FirstNextRun(s, at(8, 3, 0))), "2026-12-14 22:00:00");
}

TEST(NextRunAfterRunTest, repeatsInsideTheWindowAndMovesOnAtItsEnd) {
    EXPECT_EQ(text(NextRunAfterRun(daily("09:00", "17:00"), at(8, 10, 0), 10)),
              "2026-12-08 10:10:00");
    EXPECT_EQ(text(NextRunAfterRun(daily("09:00", "17:00"), at(8, 16, 55), 10)),
              "2026-12-09 09:00:00");
    EXPECT_EQ(text(NextRunAfterRun(daily("09:00", "17:00"), at(8, 8, 0), 10)),
              "2026-12-08 09:00:00");
    EXPECT_EQ(text(NextRunAfterRun(daily("09:00", "17:00", "0000000"), at(8, 10, 0), 10)), "null");
    EXPECT_EQ(text(NextRunAfterRun(daily("09:00", "17:00", "0000100"), at(8, 16, 55), 10)),
              "2026-12-11 09:00:00");
}

TEST(NextRunAfterRunTest, aNightWindowRepeatsThroughTheNight) {
    TaskSchedule s{1, "2026-01-01", "22:00", "06:00", "1000000", true};
    // Tuesday 01:00 belongs to Monday's window
    EXPECT_EQ(text(NextRunAfterRun(s, at(8, 1, 0), 10)), "2026-12-08 01:10:00");
    EXPECT_EQ(text(NextRunAfterRun(s, at(7, 23, 0), 10)), "2026-12-07 23:10:00");
    // after the window: next Monday
    EXPECT_EQ(text(NextRunAfterRun(s, at(8, 5, 55), 10)), "2026-12-14 22:00:00");
}

TEST(NextRunAfterRunTest, withoutAMaskEveryDayCounts) {
    TaskSchedule s = daily("09:00", "17:00", "");
    EXPECT_EQ(text(NextRunAfterRun(s, at(8, 16, 55), 10)), "2026-12-09 09:00:00");
}

TEST(IsInWindowTest, comparesTheTimeOfDayInclusively) {
    EXPECT_EQ(IsInWindow(at(8, 9, 0), "09:00", "17:00"), 1);
    EXPECT_EQ(IsInWindow(at(8, 17, 0, 59), "09:00", "17:00"), 1);
    EXPECT_EQ(IsInWindow(at(8, 17, 1), "09:00", "17:00"), 0);
    EXPECT_EQ(IsInWindow(at(8, 8, 59), "09:00", "17:00"), 0);
}

}  // namespace
}  // namespace vantrel::catalogue
