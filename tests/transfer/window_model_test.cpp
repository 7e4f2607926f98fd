// The window controller against a plain model of one block, over random operations seeded
// from gtest's random seed (rerun a failure with --gtest_random_seed=N).

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <random>

#include "client/transfer/block_state_layout.h"
#include "client/transfer/pkg_size.h"
#include "platform/clock.h"

namespace vantrel::testing {
namespace {

namespace bs = blockstate;

// The model: every packet handed out, by offset, and what happened to it.
struct Model {
    enum class P { Ready, InFlight, Done };
    struct Packet {
        std::int64_t length = 0;
        P state = P::Ready;
        std::int64_t sentMs = 0;
    };
    std::int64_t start = 0;
    std::int64_t end = 0;
    std::int64_t next = 0;
    int size = CPkgSize::kInitialPacketSize;
    std::map<std::int64_t, Packet> packets;

    int count(P s) const {
        return static_cast<int>(std::count_if(packets.begin(), packets.end(),
                                              [&](auto& kv) { return kv.second.state == s; }));
    }
    std::int64_t doneBytes() const {
        std::int64_t n = 0;
        for (auto& [o, p] : packets) n += p.state == P::Done ? p.length : 0;
        return n;
    }
    // The rule for the packet size after an answer, written out plainly.
    void adapt(std::int64_t nowMs, int limit) {
        std::int64_t latest = -1;
        for (auto& [o, p] : packets) {
            if (p.state == P::InFlight) latest = std::max(latest, p.sentMs);
        }
        const double elapsed = static_cast<double>(nowMs - latest) / 1000.0;
        if (size < limit && elapsed <= 4) {
            size = static_cast<int>(std::min<std::int64_t>(std::int64_t{size} * 3 / 2, limit));
        } else if (elapsed > 8 && size >= 2048) {
            size = static_cast<int>(std::int64_t{size} * 2 / 3);
        }
    }
    void cut() {
        if (next >= end) return;
        const std::int64_t length = std::min<std::int64_t>(size, end - next);
        packets[next] = {length, P::Ready, 0};
        next += length;
    }
};

std::int64_t millis(platform::WallTime t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

void runTrial(std::mt19937& rng, bool lowest, int kind) {
    platform::FakeClock clock(platform::WallTime(std::chrono::seconds(1'700'000'000)));
    std::vector<std::uint8_t> record(bs::kRecordSize, 0);
    Model m;
    m.start = std::uniform_int_distribution<std::int64_t>(0, 1 << 20)(rng);
    m.end = m.start + std::uniform_int_distribution<std::int64_t>(0, 1 << 20)(rng);
    m.next = m.start;
    bs::store<std::int64_t>(record.data() + bs::task::kStart, m.start);
    bs::store<std::int64_t>(record.data() + bs::task::kEnd, m.end);
    bs::store<std::int64_t>(record.data() + bs::task::kNextOffset, m.start);

    CPkgSize window(record.data(), bs::kWindowSlots, clock);
    window.start(false);
    for (int i = 0; i < bs::kWindowSlots; ++i) m.cut();

    const int limit =
        kind == CPkgSize::kUploadSlots ? CPkgSize::kMaxUploadPacket : CPkgSize::kMaxDownloadPacket;
    for (int step = 0; step < 20000 && !window.allDone(); ++step) {
        // Mostly quick answers, with slow ones often enough to shrink the packets.
        const int pause = std::uniform_int_distribution<int>(0, 9)(rng) < 8 ? 1000 : 12000;
        clock.advance(std::chrono::milliseconds(std::uniform_int_distribution<int>(0, pause)(rng)));
        const int op = std::uniform_int_distribution<int>(0, 9)(rng);
        if (op < 4) {
            auto p = lowest ? window.nextSlotLowest() : window.nextSlot();
            const int ready = m.count(Model::P::Ready);
            if (m.count(Model::P::InFlight) >= bs::kWindowSlots || ready == 0) {
                ASSERT_FALSE(p);
                continue;
            }
            ASSERT_TRUE(p);
            auto it = m.packets.find(p->offset);
            ASSERT_NE(it, m.packets.end());
            ASSERT_EQ(it->second.state, Model::P::Ready);
            ASSERT_EQ(it->second.length, p->length);
            if (lowest) {
                for (auto& [o, q] : m.packets) {
                    if (q.state == Model::P::Ready) {
                        ASSERT_EQ(o, p->offset);
                        break;
                    }
                }
            }
            it->second.state = Model::P::InFlight;
            it->second.sentMs = millis(clock.now());
            window.markSent(p->slot, "s" + std::to_string(p->offset));
        } else if (op < 8) {
            std::vector<std::int64_t> flying;
            for (auto& [o, q] : m.packets) {
                if (q.state == Model::P::InFlight) flying.push_back(o);
            }
            if (flying.empty()) {
                ASSERT_FALSE(window.answered(m.end + 1, kind));
                continue;
            }
            const std::int64_t offset =
                flying[std::uniform_int_distribution<std::size_t>(0, flying.size() - 1)(rng)];
            m.adapt(millis(clock.now()), limit);
            auto length = window.answered(offset, kind);
            ASSERT_TRUE(length);
            ASSERT_EQ(*length, m.packets[offset].length);
            m.packets[offset].state = Model::P::Done;
            m.cut();
            ASSERT_EQ(window.packetSize(), m.size);
            ASSERT_FALSE(window.answered(offset, kind)) << "an answer counts once";
        } else if (op == 8) {
            const int flying = m.count(Model::P::InFlight);
            ASSERT_EQ(window.resetInFlight(), flying);
            for (auto& [o, q] : m.packets) {
                if (q.state == Model::P::InFlight) q.state = Model::P::Ready;
            }
        } else {
            ASSERT_EQ(window.hasSlotInState(CPkgSize::kReady), m.count(Model::P::Ready) > 0);
        }
        // Invariants after every step.
        ASSERT_EQ(window.inFlight(), m.count(Model::P::InFlight));
        ASSERT_EQ(bs::load<std::int64_t>(record.data() + bs::task::kNextOffset), m.next);
        std::int64_t expect = m.start;
        for (auto& [o, q] : m.packets) {
            ASSERT_EQ(o, expect) << "packets are contiguous and disjoint";
            expect += q.length;
        }
        ASSERT_EQ(expect, m.next);
        ASSERT_LE(m.count(Model::P::Ready) + m.count(Model::P::InFlight), bs::kWindowSlots);
    }
    ASSERT_TRUE(window.allDone());
    ASSERT_EQ(m.doneBytes(), m.end - m.start);
    ASSERT_EQ(m.next, m.end);
}

TEST(WindowModel, roundRobinWindowAgreesWithThePlainModel) {
    std::mt19937 rng(::testing::UnitTest::GetInstance()->random_seed());
    for (int trial = 0; trial < 150; ++trial) {
        runTrial(rng, false, CPkgSize::kDownloadSlots);
        if (HasFatalFailure()) FAIL() << "trial " << trial;
    }
}

TEST(WindowModel, lowestOffsetWindowAgreesWithThePlainModel) {
    std::mt19937 rng(::testing::UnitTest::GetInstance()->random_seed() + 1);
    for (int trial = 0; trial < 150; ++trial) {
        runTrial(rng, true, CPkgSize::kUploadSlots);
        if (HasFatalFailure()) FAIL() << "trial " << trial;
    }
}

}  // namespace
}  // namespace vantrel::testing
