#include "client/catalogue/flag_manager.h"

#include <gmock/gmock.h>

#include "client/catalogue/dbf_table.h"
#include "tests/catalogue/catalogue_fixture.h"

namespace vantrel::catalogue {
namespace {

using ::testing::ElementsAre;
using testing::localTime;
using ::testing::Pair;

class FlagManagerTest : public testing::CatalogueFixture {
  protected:
    FlagManagerTest() : flags_(context_) {
        clock_.setLocal(localTime(2026, 12, 7, 9, 0, 0));
        useTemplate({"ABC", "A.B", "TWICE", "TWICE"});
    }

    void useTemplate(const std::vector<const char*>& names) {
        TableSpec spec = FlagModelSpec();
        spec.rows.clear();
        for (const char* name : names) spec.rows.push_back({{"FLAGNAME", name}});
        installTemplate(spec);
    }

    std::vector<std::string> dayList() {
        std::filesystem::path path;
        EXPECT_TRUE(flags_.TodayFlagListPath(path));
        CDbfImpl table;
        EXPECT_EQ(table.Open(path, 1), 1);
        std::vector<std::string> out;
        DbfRow row;
        for (int r = 0; r < table.GetRecordCount(); ++r) {
            EXPECT_TRUE(table.ReadRow(r, row));
            out.push_back(row.trimmed("flagname") + "=" + row.trimmed("updatetime"));
        }
        return out;
    }

    CFlagManager flags_;
};

TEST_F(FlagManagerTest, theNameRuleUsesTodaysHexMonthAndExactNames) {
    flags_.LoadFlags();
    EXPECT_EQ(flags_.IsFlagFile("ABC.c07"), 1);
    EXPECT_EQ(flags_.IsFlagFile("ABC.C07"), 0);
    EXPECT_EQ(flags_.IsFlagFile("abc.c07"), 0);
    EXPECT_EQ(flags_.IsFlagFile("ABC.1207"), 0);
    EXPECT_EQ(flags_.IsFlagFile("ABC"), 0);
    EXPECT_EQ(flags_.IsFlagFile("A.B.c07"), 1);
    clock_.setLocal(localTime(2027, 1, 15, 9, 0, 0));
    EXPECT_EQ(flags_.IsFlagFile("ABC.115"), 1);
}

TEST_F(FlagManagerTest, withoutADayListTheTemplateFillsTheMapAndTheFirstArrivalCreatesIt) {
    std::filesystem::path path;
    EXPECT_FALSE(flags_.TodayFlagListPath(path));
    EXPECT_EQ(path, installation_.data() / "20261207-FLAG.flg");
    flags_.LoadFlags();
    EXPECT_THAT(flags_.Flags(), ElementsAre(Pair("A.B", ""), Pair("ABC", ""), Pair("TWICE", "")));
    // act
    flags_.RecordFlagFile("A.B.c07", "2026-12-07 09:01:00");
    flags_.RecordFlagFile("twice.c07", "2026-12-07 09:02:00");
    // verify
    EXPECT_THAT(dayList(), ElementsAre("ABC=", "A.B=2026-12-07 09:01:00",
                                       "TWICE=2026-12-07 09:02:00", "TWICE=2026-12-07 09:02:00"));
    EXPECT_EQ(flags_.Flags()["A.B"], "2026-12-07 09:01:00");
    // the view was given every expected flag at the load, then each arrival
    const auto shown = eventsOf<FlagViewFlag>();
    ASSERT_EQ(shown.size(), 6u);
    EXPECT_FALSE(shown[0].arrival);
    EXPECT_EQ(shown[0].name, "ABC");
    EXPECT_EQ(shown[0].time, "");
    EXPECT_TRUE(shown[4].arrival);
    EXPECT_EQ(shown[4].name, "A.B");
}

TEST_F(FlagManagerTest, loadingReadsTheDayListsTimes) {
    flags_.LoadFlags();
    flags_.RecordFlagFile("ABC.c07", "2026-12-07 09:01:00");
    CFlagManager restarted(context_);
    restarted.LoadFlags();
    EXPECT_EQ(restarted.Flags()["ABC"], "2026-12-07 09:01:00");
    EXPECT_EQ(eventsOf<FlagViewRefill>().size(), 2u);
}

TEST_F(FlagManagerTest, refreshingKeepsKnownTimesAndShowsNewNamesAsMissing) {
    flags_.LoadFlags();
    flags_.RecordFlagFile("ABC.c07", "2026-12-07 09:01:00");
    useTemplate({"ABC", "NEW"});
    flags_.RefreshFlags();
    EXPECT_THAT(dayList(), ElementsAre("ABC=2026-12-07 09:01:00", "NEW="));
    EXPECT_THAT(flags_.Flags(), ElementsAre(Pair("ABC", "2026-12-07 09:01:00"), Pair("NEW", "")));
    EXPECT_FALSE(std::filesystem::exists(installation_.data() / "20261207-FLAG.flg.tmp"));
}

TEST_F(FlagManagerTest, refreshingBeforeLoadingTakesTheTimesFromTheDayList) {
    flags_.LoadFlags();
    flags_.RecordFlagFile("ABC.c07", "2026-12-07 09:01:00");
    CFlagManager fresh(context_);
    fresh.RefreshFlags();
    EXPECT_EQ(fresh.Flags()["ABC"], "2026-12-07 09:01:00");
    EXPECT_THAT(dayList()[0], "ABC=2026-12-07 09:01:00");
}

TEST_F(FlagManagerTest, aBrokenTemplateLeavesTheDayListAndTheMap) {
    flags_.LoadFlags();
    flags_.RecordFlagFile("ABC.c07", "2026-12-07 09:01:00");
    testing::writeBytes(installation_.localconfig() / kFlagTemplate, "garbage from the server");
    flags_.RefreshFlags();
    EXPECT_EQ(dayList().size(), 4u);
    EXPECT_EQ(flags_.Flags()["ABC"], "2026-12-07 09:01:00");
    EXPECT_THAT(logText(logs_.sysLogPath(clock_.localNow())),
                ::testing::HasSubstr("操作：更新标志文件"));
}

}  // namespace
}  // namespace vantrel::catalogue
