#include "platform/signals.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

namespace vantrel::platform {
namespace {

// A stop request waits for the thread that blocks it, and the mask comes back after.
TEST(StopSignalsTest, aStopSignalIsTakenByTheWaitAndTheMaskIsRestored) {
    sigset_t before;
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, nullptr, &before), 0);
    {
        StopSignals signals;
        EXPECT_FALSE(signals.waitFor(std::chrono::milliseconds(20)));
        ASSERT_EQ(::raise(SIGTERM), 0);  // to this thread, where it is blocked
        EXPECT_TRUE(signals.waitFor(std::chrono::seconds(5)));
        EXPECT_FALSE(signals.waitFor(std::chrono::milliseconds(1))) << "taken once";
    }
    sigset_t after;
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, nullptr, &after), 0);
    EXPECT_EQ(sigismember(&after, SIGTERM), sigismember(&before, SIGTERM));
    EXPECT_TRUE(processRuns(::getpid()));
    EXPECT_FALSE(processRuns(0));
}

}  // namespace
}  // namespace vantrel::platform
