#include "platform/event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace vantrel::platform {
namespace {

using namespace std::chrono_literals;

TEST(EventTest, aManualEventStaysSetUntilReset) {
    Event event(Event::Reset::Manual);
    EXPECT_FALSE(event.isSet());
    EXPECT_FALSE(event.wait(0ms));
    event.set();
    EXPECT_TRUE(event.wait(0ms));
    EXPECT_TRUE(event.wait(0ms));
    EXPECT_TRUE(event.isSet());
    event.reset();
    EXPECT_FALSE(event.wait(0ms));
}

TEST(EventTest, anAutoEventClearsForTheWaiterThatTakesIt) {
    Event event(Event::Reset::Auto, true);
    EXPECT_TRUE(event.isSet());
    EXPECT_TRUE(event.wait(0ms));
    EXPECT_FALSE(event.isSet());
    EXPECT_FALSE(event.wait(0ms));
    event.set();
    event.wait();
    EXPECT_FALSE(event.isSet());
}

TEST(EventTest, aWaitTimesOutWhenNothingSetsTheEvent) {
    Event event;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(event.wait(50ms));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms);
}

TEST(EventTest, aSetFromAnotherThreadWakesTheWaiter) {
    Event event;
    std::thread setter([&] {
        std::this_thread::sleep_for(20ms);
        event.set();
    });
    EXPECT_TRUE(event.wait(10s));
    setter.join();
}

TEST(EventTest, aManualSetReleasesEveryWaiter) {
    Event event(Event::Reset::Manual);
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i) {
        waiters.emplace_back([&] {
            if (event.wait(10s)) ++released;
        });
    }
    event.set();
    for (std::thread& waiter : waiters) waiter.join();
    EXPECT_EQ(released, 4);
}

TEST(EventTest, anAutoSetReleasesOneWaiterAtATime) {
    Event event(Event::Reset::Auto);
    Event done(Event::Reset::Auto);
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i) {
        waiters.emplace_back([&] {
            if (event.wait(10s)) {
                ++released;
                done.set();
            }
        });
    }
    for (int round = 1; round <= 3; ++round) {
        event.set();
        ASSERT_TRUE(done.wait(10s));
        // No second waiter may pass on the same set.
        std::this_thread::sleep_for(30ms);
        EXPECT_EQ(released, round);
    }
    for (std::thread& waiter : waiters) waiter.join();
}

}  // namespace
}  // namespace vantrel::platform
