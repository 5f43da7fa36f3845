// The tav bursts: their lists, the 22 rows each burst adds to the grid, the
// burst under way at the galaxy's age, the metallicity split, and what the
// reader does with them (masses, radii, the IMF split).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <ostream>
#include <string>
#include <vector>

#include "core/stop.h"
#include "sfh_external/tav_bursts.h"
#include "tav_fixture.h"

namespace qv::test {
namespace {

using ::testing::HasSubstr;
using tav::TavBurst;
using tav::TavBurstList;

// A burst of the lists: start (lookback), mass, tau, duration, Z0, dZ, divisor, radius.
TavBurst burst(float start, float mb, float tau, float dur, float z0, float dz = 0.0f, float c9 = 1.0f,
               float c10 = 0.001f) {
    TavBurst b;
    b.c = {0.0f, 0.0f, start, mb, tau, dur, z0, dz, c9, c10};
    return b;
}

// A burst of nearly constant rate `rate` per Gyr (a very long e-folding time).
TavBurst flat_burst(float start, float dur, float rate, float z0) {
    return burst(start, rate * 1e6f, 1e6f, dur, z0);
}

// Tables with room for the bursts: quiescent times t (Gyr from the first
// epoch, tfin the last) with the rates of bin 1 of component c, two bins
// (0.004, 0.02), two components.
struct Grid : ::testing::Test {
    CapturedConsole cc;
    qv::Run run{cc.con};
    TavBurstList disk, bulge;
    int n = 0;

    void tables(const std::vector<float>& t, const std::vector<float>& r1, const std::vector<float>& r2, int nbursts) {
        SfhTables& g = run.glotauspe;
        run.remind.ncom = 2;
        g.ntav = 2;
        g.ztav.resize(2);
        g.ztav(1) = 0.004f;
        g.ztav(2) = 0.02f;
        n = static_cast<int>(t.size());
        const int cap = n + 22 * nbursts + 1;
        g.agesf.resize(cap);
        g.rsftav.resize(cap, 2, 2);
        g.agesfqui.resize(n + 1);
        g.rsftavqui.resize(n + 1, 2, 2);
        g.n_bur = nbursts;
        g.t_bur.resize(nbursts);
        g.t_end_bur.resize(nbursts);
        for (int i = 1; i <= n; ++i) {
            g.agesf(i) = t[static_cast<std::size_t>(i - 1)];
            g.agesfqui(i) = g.agesf(i);
            g.rsftav(i, 1, 1) = g.rsftavqui(i, 1, 1) = r1[static_cast<std::size_t>(i - 1)];
            g.rsftav(i, 1, 2) = g.rsftavqui(i, 1, 2) = r2[static_cast<std::size_t>(i - 1)];
        }
    }
    tav::TavRefinement refine(float tfin, float tgal) {
        return tav::refine_burst_grid(run, {&disk, &bulge}, tfin, tgal, n);
    }
    const SfhTables& g() const { return run.glotauspe; }
    // The row of the grid at time t (the first one).
    int row(float t) const {
        for (int i = 1; i <= n; ++i)
            if (g().agesf(i) == t) return i;
        ADD_FAILURE() << "no row at " << t;
        return 1;
    }
};

TEST_F(Grid, BurstAddsItsTwentyTwoTimesAndReachesEveryRowInside) {
    tables({0.0f, 5.0f, 9.1f, 10.0f}, {1, 1, 1, 1}, {0, 0, 0, 0}, 1);
    disk.bursts = {flat_burst(1.0f, 0.19f, 1.0f, 0.004f)};
    refine(10.0f, 10.0f);
    ASSERT_EQ(n, 26);
    // The times: 8.99905, 9.0, 9.01, ..., 9.19, 9.19095, with the quiescent 9.1 among them.
    std::vector<float> want = {0.0f, 5.0f, 8.99905f};
    for (int k = 0; k <= 19; ++k) want.push_back(9.0f + static_cast<float>(k) * 0.19f / 19.0f);
    want.push_back(9.19095f);
    want.push_back(9.1f);
    want.push_back(10.0f);
    std::sort(want.begin(), want.end());
    for (int i = 1; i <= n; ++i) EXPECT_NEAR(g().agesf(i), want[static_cast<std::size_t>(i - 1)], 2e-6f) << i;
    for (int i = 2; i <= n; ++i) EXPECT_GE(g().agesf(i), g().agesf(i - 1)) << i;
    EXPECT_FLOAT_EQ(g().agesf(row(9.19f)), 9.0f + 0.19f);  // the last sample is the burst's end
    EXPECT_FLOAT_EQ(g().t_bur(1), 9.0f);
    EXPECT_FLOAT_EQ(g().t_end_bur(1), 9.19f);
    for (int i = 1; i <= n; ++i) {
        const float t = g().agesf(i);
        const bool inside = t >= 9.0f && t <= 9.19f;
        EXPECT_NEAR(g().rsftav(i, 1, 1), inside ? 2.0f : 1.0f, 1e-5f) << t;
        EXPECT_FLOAT_EQ(g().rsftav(i, 2, 1), 0.0f) << t;
    }
    EXPECT_FALSE(g().current_burst);
    // The quiescent tables keep their own grid.
    EXPECT_FLOAT_EQ(g().agesfqui(3), 9.1f);
}

struct UnderWay {
    const char* name;
    float tgal;
    bool under_way;
};

void PrintTo(const UnderWay& c, std::ostream* os) {
    *os << c.name << ": tgal " << c.tgal << (c.under_way ? ", under way" : ", not under way");
}

class BurstUnderWay : public Grid, public ::testing::WithParamInterface<UnderWay> {};

// A burst from 9.0 to 9.19 Gyr (lookback 1.0 at tfin 10), in the disk list.
TEST_P(BurstUnderWay, OnlyBetweenItsStartAndItsEnd) {
    tables({0.0f, 5.0f, 10.0f}, {1, 1, 1}, {2, 2, 2}, 1);
    disk.bursts = {burst(1.0f, 1e9f, 0.1f, 0.19f, 0.004f, 0.001f)};
    const float tgal = GetParam().tgal;
    const tav::TavRefinement ref = refine(10.0f, tgal);
    EXPECT_EQ(g().current_burst, GetParam().under_way);
    if (GetParam().under_way) {
        // The disk's quiescent rates joined the bulge's (table and quiescent
        // table), the burst has component 1 to itself.
        EXPECT_FLOAT_EQ(g().rsftav(row(5.0f), 1, 2), 3.0f);
        EXPECT_FLOAT_EQ(g().rsftav(row(5.0f), 1, 1), 0.0f);
        EXPECT_FLOAT_EQ(g().rsftavqui(2, 1, 2), 3.0f);
        EXPECT_FLOAT_EQ(g().rsftavqui(2, 1, 1), 0.0f);
        EXPECT_GT(g().rsftav(row(9.0f), 1, 1), 0.0f);
        const float x = (tgal - 9.0f) / 0.1f;
        EXPECT_FLOAT_EQ(ref.gas, 1e9f * std::exp(-x));
        EXPECT_FLOAT_EQ(ref.zgas / ref.gas, 0.004f + 0.001f * x);
    } else {
        EXPECT_FLOAT_EQ(g().rsftav(row(5.0f), 1, 1), 1.0f);
        EXPECT_FLOAT_EQ(g().rsftav(row(5.0f), 1, 2), 2.0f);
        EXPECT_FLOAT_EQ(ref.gas, 0.0f);
        EXPECT_FLOAT_EQ(ref.zgas, 0.0f);
    }
    EXPECT_EQ(ref.last, &disk.bursts.front());
}

INSTANTIATE_TEST_SUITE_P(Tav, BurstUnderWay,
                         ::testing::Values(UnderWay{"Finished", 10.0f, false},
                                           UnderWay{"InTheMiddle", 9.1f, true},
                                           UnderWay{"JustStarted", 9.0f, true},
                                           UnderWay{"EndingExactlyAtTgal", 9.19f, true},
                                           UnderWay{"InTheFuture", 8.5f, false}),
                         [](const auto& i) { return std::string(i.param.name); });

struct Split {
    const char* name;
    float z;
    float bin1, bin2;  // shares of the burst's rate
};

void PrintTo(const Split& c, std::ostream* os) {
    *os << c.name << ": Z " << c.z << ", shares " << c.bin1 << " and " << c.bin2;
}

class MetallicitySplit : public Grid, public ::testing::WithParamInterface<Split> {};

TEST_P(MetallicitySplit, GoesToTheBinsAroundTheBurstsMetallicity) {
    tables({0.0f, 10.0f}, {0, 0}, {0, 0}, 1);
    bulge.bursts = {flat_burst(5.0f, 0.5f, 1.0f, GetParam().z)};
    refine(10.0f, 10.0f);
    const int i = row(5.0f);  // the burst's first sample
    EXPECT_NEAR(g().rsftav(i, 1, 2), GetParam().bin1, 1e-5f);
    EXPECT_NEAR(g().rsftav(i, 2, 2), GetParam().bin2, 1e-5f);
    EXPECT_FLOAT_EQ(g().rsftav(i, 1, 1) + g().rsftav(i, 2, 1), 0.0f);  // a bulge burst, none under way
}

INSTANTIATE_TEST_SUITE_P(Tav, MetallicitySplit,
                         ::testing::Values(Split{"BelowTheFirstBin", 0.001f, 1.0f, 0.0f},
                                           Split{"AboveTheLastBin", 0.03f, 0.0f, 1.0f},
                                           Split{"HalfwayBetween", 0.012f, 0.5f, 0.5f},
                                           Split{"OnTheFirstBin", 0.004f, 1.0f, 0.0f},
                                           Split{"OnTheLastBin", 0.02f, 0.0f, 1.0f}),
                         [](const auto& i) { return std::string(i.param.name); });

// Seen during its second disk burst: the quiescent disk and the first disk
// burst join the quiescent bulge in component 2; the second disk burst and the
// bulge burst listed after it are in component 1.
TEST_F(Grid, SecondDiskBurstUnderWayTakesComponentOne) {
    tables({0.0f, 10.0f}, {1, 1}, {2, 2}, 3);
    disk.bursts = {flat_burst(8.0f, 0.5f, 10.0f, 0.004f), flat_burst(0.2f, 0.5f, 20.0f, 0.004f)};
    bulge.bursts = {flat_burst(5.0f, 0.5f, 40.0f, 0.004f)};
    refine(10.0f, 10.0f);
    EXPECT_TRUE(g().current_burst);
    const int first = row(2.0f), second = row(9.8f), third = row(5.0f);
    EXPECT_NEAR(g().rsftav(first, 1, 2), 1.0f + 10.0f + 2.0f, 1e-4f);
    EXPECT_NEAR(g().rsftav(first, 1, 1), 0.0f, 1e-4f);
    EXPECT_NEAR(g().rsftav(second, 1, 1), 20.0f, 1e-4f);
    EXPECT_NEAR(g().rsftav(second, 1, 2), 3.0f, 1e-4f);
    EXPECT_NEAR(g().rsftav(third, 1, 1), 40.0f, 1e-4f);
    EXPECT_NEAR(g().rsftav(third, 1, 2), 3.0f, 1e-4f);
}

TEST_F(Grid, TwoEqualBurstsStackTheirRowsAndRates) {
    tables({0.0f, 10.0f}, {1, 1}, {0, 0}, 2);
    disk.bursts = {flat_burst(5.0f, 0.19f, 1.0f, 0.004f), flat_burst(5.0f, 0.19f, 1.0f, 0.004f)};
    refine(10.0f, 10.0f);
    ASSERT_EQ(n, 46);
    for (int i = 2; i <= n; ++i) EXPECT_GE(g().agesf(i), g().agesf(i - 1)) << i;
    // Each sample time twice, both rows carrying the two bursts' rates.
    const int i = row(5.0f);
    EXPECT_FLOAT_EQ(g().agesf(i + 1), 5.0f);
    EXPECT_NEAR(g().rsftav(i, 1, 1), 3.0f, 1e-5f);
    EXPECT_NEAR(g().rsftav(i + 1, 1, 1), 3.0f, 1e-5f);
}

TEST(Piksr2gl, SortsStablyWithTheSlices) {
    float arr[4] = {3.0f, 1.0f, 2.0f, 1.0f};
    FArray<float, 3> brr(4, 2, 1);
    for (int i = 1; i <= 4; ++i) {
        brr(i, 1, 1) = static_cast<float>(10 * i);
        brr(i, 2, 1) = static_cast<float>(10 * i + 1);
    }
    tav::piksr2gl(4, 2, 1, arr, brr);
    EXPECT_THAT(std::vector<float>(arr, arr + 4), ::testing::ElementsAre(1.0f, 1.0f, 2.0f, 3.0f));
    const float want1[4] = {20, 40, 30, 10};
    for (int i = 1; i <= 4; ++i) {
        EXPECT_FLOAT_EQ(brr(i, 1, 1), want1[i - 1]) << i;
        EXPECT_FLOAT_EQ(brr(i, 2, 1), want1[i - 1] + 1.0f) << i;
    }
}

struct ListFixture : ::testing::Test {
    TempDir dir;
    CapturedConsole cc;
};

TEST_F(ListFixture, BurstsAreTheLinesThatHoldThem) {
    write_text("b.1", std::string(kTavBurstHead) + " 1 1 1.0 1e9 0.1 0.2 0.02 0 1 0.001\n\n# comment\n"
                                                  " 1 2 0.5 1e9 0.1 0.2 0.02 0 1 0.001\n   \n");
    const TavBurstList l = tav::read_burst_list(cc.con, "b.1");
    EXPECT_TRUE(l.exists);
    ASSERT_EQ(l.bursts.size(), 2u);
    EXPECT_EQ(l.bursts[1].line, 7);
    EXPECT_FLOAT_EQ(l.bursts[1].start(), 0.5f);
    EXPECT_TRUE(cc.out.str().empty());

    const TavBurstList none = tav::read_burst_list(cc.con, "missing.1");
    EXPECT_FALSE(none.exists);
    EXPECT_TRUE(none.bursts.empty());
}

TEST_F(ListFixture, AnUnreadableLineEndsTheList) {
    write_text("b.1", std::string(kTavBurstHead) + " 1 1 1.0 1e9 0.1 0.2 0.02 0 1 0.001\n"
                                                  " 1 2 0.5 1e9 0.1 0.2\n"
                                                  " 1 3 0.2 1e9 0.1 0.2 0.02 0 1 0.001\n");
    const TavBurstList l = tav::read_burst_list(cc.con, "b.1");
    EXPECT_EQ(l.bursts.size(), 1u);
    EXPECT_THAT(cc.out.str(), HasSubstr("WARNING: burst list b.1 ends at line 5"));
}

// Through the reader: galaxy 7 seen during a bulge burst that began 0.05 Gyr
// before the end of its table.
TEST_F(TavFixture, BurstUnderWayGivesTheGalaxyItsGasAndRadii) {
    write_text("bursts_bulge.7", std::string(kTavBurstHead) + " 7 1 0.05 1e9 0.05 0.1 0.01 0.002 1.0 0.004\n");
    read();
    const SfhTables& g = run.glotauspe;
    EXPECT_TRUE(g.current_burst);
    EXPECT_EQ(g.n_bur, 1);
    EXPECT_EQ(g.nzsmax, 4 + 22 + 1);
    EXPECT_FLOAT_EQ(zism, 0.012f);  // Z0 + dZ (tgal - tb) / tau, one e-folding time in
    EXPECT_FLOAT_EQ(g.rdtav, 2.0f * 0.004f / 0.5f * 1000.0f / 1.678f);
    EXPECT_FLOAT_EQ(g.rctav, 0.004f / 0.5f * 1000.0f / 14.63f);
    // The burst's gas and the stars of the tables, in their raw units.
    const float gas = 1e9f * std::exp(-1.0f);
    float m1 = 0.0f, m2 = 0.0f;
    const float mass = gas / fgas;
    for (int k = 1; k < g.nzsmax; ++k) {
        const float dt = g.agesf(k + 1) - g.agesf(k);
        float a1 = 0, b1 = 0, a2 = 0, b2 = 0;
        for (int j = 1; j <= 2; ++j) {
            a1 += g.rsftav(k, j, 1);
            b1 += g.rsftav(k + 1, j, 1);
            a2 += g.rsftav(k, j, 2);
            b2 += g.rsftav(k + 1, j, 2);
        }
        m1 += 0.5f * dt * (a1 + b1);
        m2 += 0.5f * dt * (a2 + b2);
    }
    // rsftav is per unit primordial mass over upsilon 2.
    EXPECT_NEAR((m1 + m2) * 2.0f * mass + gas, mass, 1e-3f * mass);
    EXPECT_NEAR(g.bsut, m2 / (m1 + m2), 1e-5f);
    EXPECT_NEAR(run.remind.primordial_mass, mass / 0.5f / 1e12f, 1e-6f);
    // Component 1 is the burst alone: no quiescent rate in it.
    for (int k = 1; k <= g.nzqui; ++k) EXPECT_FLOAT_EQ(g.rsftavqui(k, 1, 1), 0.0f) << k;
    EXPECT_FLOAT_EQ(g.rsftav(1, 1, 1), 0.0f);
}

// A library of quiescent and burst tables: rows strictly inside a burst
// divide its quiescent part by upsilon and the burst's own part by the burst
// tables' upsilon; other rows, the burst's first one included, by upsilon.
TEST_F(TavFixture, MixedLibrarySplitsTheImfInsideBursts) {
    run.glotauspe.imf_flag = {1, 2};
    write_text("imf_bursts.dat", "upsilon  4.000\n");
    write_text("bursts_disk.7", std::string(kTavBurstHead) + " 7 1 2.0 1e9 1.0 0.19 0.004 0.0 1.0 0.001\n");
    read();
    const SfhTables& g = run.glotauspe;
    const float m = 5e10f;
    int at_start = 0, inside = 0, outside = 0;
    for (int k = 1; k <= g.nzsmax; ++k) {
        if (g.agesf(k) == 1.0f && at_start == 0) at_start = k;
        if (std::fabs(g.agesf(k) - 1.01f) < 1e-6f) inside = k;
        if (g.agesf(k) == 2.0f) outside = k;
    }
    ASSERT_GT(at_start * inside * outside, 0);
    // Quiescent disk rate of bin 1 goes from 2e9 at 1 Gyr to 3e9 at 2 Gyr.
    EXPECT_NEAR(g.rsftav(inside, 1, 1), (2.01e9f / 2.0f + 1e9f * std::exp(-0.01f) / 4.0f) / m, 1e-5f);
    EXPECT_NEAR(g.rsftav(at_start, 1, 1), (2e9f + 1e9f) / 2.0f / m, 1e-5f);
    EXPECT_NEAR(g.rsftav(outside, 1, 1), 3e9f / 2.0f / m, 1e-5f);
}

}  // namespace
}  // namespace qv::test
