// Young stars in the molecular clouds: the age bins, the share of every SSP step
// still inside each cloud type, the inside spectra and masses per age bin, the
// division by the number of clouds, and the checks of the cloud model's inputs.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "clouds/young_stars.h"
#include "clouds/young_stars_fixture.h"
#include "core/run.h"
#include "core/stop.h"

namespace qv {
namespace {

using namespace pallanolt96_stages;
using test::CloudRun;
using test::kPm;

double dbl(float x) { return x; }

std::vector<float> shares(const Run& run, int i) {
    const CloudTypes& mc = run.mc_righe;
    std::vector<float> v;
    for (int k = 1; k <= mc.nsoudin_arr(i); ++k) v.push_back(mc.f_sources_arr(k, i));
    return v;
}

// Stages 1 and 3.
void fractions(CloudRun& c) {
    cloud_arrays_allocate(c.run);
    inside_fractions(c.run);
}

TEST(YoungStarsAgeBins, FiveBinsOfTwoMillionYearsIn4ByteArithmetic) {
    // 0.01f / 0.002f falls just below 5 in 4-byte arithmetic, so there are 5 bins, not 6.
    EXPECT_EQ(age_bin_count(), 5);
    struct C {
        float t_last, tb;
        int bin;
    } cases[] = {
        {0.01f, 0.01f, 1},     // the last birth time itself
        {0.004f, 0.002f, 2},   // exactly one bin width old starts bin 2
        {0.008f, 0.0f, 5},     // four widths old starts bin 5
        {0.01f, 0.0f, 5},      // exactly t_hii old is still bin 5
        {0.0101f, 0.0f, 0},    // beyond t_hii: no bin of its own
        {0.02f, 0.0f, 0},
        {13.0f, 0.0f, 0},      // a very old birth time
        {0.0f, 0.001f, 0},     // a birth time after the last one has no bin
    };
    for (const C& cs : cases)
        EXPECT_EQ(age_bin(cs.t_last, cs.tb, 5), cs.bin) << cs.t_last << " " << cs.tb;

    CloudRun c({0.0f, 0.01f});
    cloud_arrays_allocate(c.run);
    EXPECT_EQ(c.run.glopalla.ndt_hii, 5);
    const CloudTypes& mc = c.run.mc_righe;
    EXPECT_EQ(mc.ldentro_arr.lbound(2), 0);
    EXPECT_EQ(mc.ldentro_arr.ubound(2), 5);
    EXPECT_EQ(mc.mdentro_arr.ubound(1), 5);
    EXPECT_EQ(mc.lfuori.ubound(1), 5);
    EXPECT_EQ(mc.mfuori.lbound(), 0);
    EXPECT_EQ(mc.f_sources_arr.extent(0), 1000);
}

TEST(YoungStarsInsideShare, TableBeforeT0HalfwayAndAfterEscape) {
    // Ages 0.25, 0.375, 0.5, 0.75, 1 and 2 Gyr at a galaxy age of 10 Gyr (step 1 the youngest).
    const std::vector<float> tb = {8.0f, 9.0f, 9.25f, 9.5f, 9.625f, 9.75f};
    {
        // One type: the escape rate of the par file (here 2 = 1/t0).
        CloudRun c(tb, {5000.0f, 10000.0f}, 1, 10.0f);
        c.types({16.0f}, {1.0f}, {0.5f});
        c.run.glopalla.vout = 2.0f;
        fractions(c);
        EXPECT_EQ(c.run.mc_righe.nsoudin_arr(1), 6);
        EXPECT_EQ(shares(c.run, 1), (std::vector<float>{1.0f, 1.0f, 1.0f, 0.5f, 0.0f, 0.0f}));
        EXPECT_EQ(c.run.glopalla.vout, 2.0f);
    }
    {
        // One type keeps the par file's rate even when it is not 1/t0.
        CloudRun c(tb, {5000.0f, 10000.0f}, 1, 10.0f);
        c.types({16.0f}, {1.0f}, {0.5f});
        c.run.glopalla.vout = 1.0f;
        fractions(c);
        EXPECT_EQ(shares(c.run, 1), (std::vector<float>{1.0f, 1.0f, 1.0f, 0.75f, 0.5f, 0.0f}));
    }
    {
        // Several types: each leaves at 1/t0 of its own; vout ends as 1/t0 of the last.
        CloudRun c(tb, {5000.0f, 10000.0f}, 1, 10.0f);
        c.types({16.0f, 30.0f}, {0.5f, 0.5f}, {0.5f, 0.25f});
        c.run.glopalla.vout = 77.0f;
        fractions(c);
        EXPECT_EQ(shares(c.run, 1), (std::vector<float>{1.0f, 1.0f, 1.0f, 0.5f, 0.0f, 0.0f}));
        EXPECT_EQ(shares(c.run, 2), (std::vector<float>{1.0f, 0.5f, 0.0f, 0.0f, 0.0f, 0.0f}));
        EXPECT_EQ(c.run.glopalla.vout, 4.0f);
    }
}

TEST(YoungStarsInsideShare, OnlyThe1000YoungestStepsHaveAShare) {
    std::vector<float> tb;
    for (int j = 0; j < 1004; ++j) tb.push_back(0.001f * static_cast<float>(j));
    CloudRun c(tb, {5000.0f, 10000.0f});
    fractions(c);
    EXPECT_EQ(c.run.mc_righe.nsoudin_arr(1), 1000);
    EXPECT_EQ(shares(c.run, 1).size(), 1000u);
}

TEST(YoungStarsInsideSpectra, AgeBinsOf4ByteBirthTimes) {
    // Intervals ending at the birth times -0.001 (age 0.011: no bin), 0 (age exactly
    // t_hii: bin 5, its mass not counted) and 0.01 (the last: bin 1).
    CloudRun c({-0.02f, -0.001f, 0.0f, 0.01f}, {2000.0f, 8000.0f, 20000.0f});
    c.types({16.0f}, {1.0f}, {1.0f});  // nobody has left yet
    fractions(c);
    inside_spectra(c.run, kPm);
    const BirthGrid& r = c.run.remind;
    const CloudTypes& mc = c.run.mc_righe;
    const test::Dbl d{c.run};
    const double scale = dbl(kPm) * 1e12 * 0.5;
    auto inc = [&](int j, int l) { return d.dt(j) * (d.sf(j, 1) * d.fl(l, j, 1) + d.sf(j - 1, 1) * d.fl(l, j - 1, 1)); };
    for (int l = 1; l <= r.nlam; ++l) {
        EXPECT_NEAR(d.ld(l, 1, 0) / ((inc(2, l) + inc(3, l) + inc(4, l)) * scale), 1.0, 1e-6);
        EXPECT_NEAR(d.ld(l, 1, 1) / (inc(4, l) * scale), 1.0, 1e-6);
        EXPECT_NEAR(d.ld(l, 1, 5) / (inc(3, l) * scale), 1.0, 1e-6);
        for (int b = 2; b <= 4; ++b) EXPECT_EQ(mc.ldentro_arr(l, 1, b), 0.0f) << b;
    }
    const double m4 = d.dt(4) * (d.sf(4, 1) + d.sf(3, 1)) * scale;
    EXPECT_NEAR(d.md(1, 0) / m4, 1.0, 1e-6);
    EXPECT_EQ(mc.mdentro_arr(1, 0), mc.mdentro_arr(1, 1));
    for (int b = 2; b <= 5; ++b) EXPECT_EQ(mc.mdentro_arr(1, b), 0.0f) << b;

    // Stage 6: the inside spectra of one cloud; the masses stay totals.
    const std::vector<float> before = mc.ldentro_arr.storage();
    per_cloud(c.run);
    const float ncloud = c.run.glopalla.ncloud;
    for (std::size_t m = 0; m < before.size(); ++m) EXPECT_EQ(mc.ldentro_arr.storage()[m], before[m] / ncloud);
    EXPECT_NEAR(d.md(1, 0) / m4, 1.0, 1e-6);
}

TEST(YoungStarsInsideSpectra, SharesWeightBothEndsOfEachIntervalAndTheTypeFractionTheMasses) {
    // Two components; ages 0.004, 0.003, 0.002 (= t0), 0.001, 0 Gyr; escape rate 1/t0
    // = 500 per Gyr. Type 2 has no mass and keeps zeros.
    CloudRun c({0.0f, 0.001f, 0.002f, 0.003f, 0.004f}, {2000.0f, 8000.0f}, 2);
    c.types({16.0f, 20.0f, 30.0f}, {0.7f, 0.0f, 0.3f}, {0.002f, 0.002f, 0.001f});
    fractions(c);
    inside_spectra(c.run, kPm);
    const BirthGrid& r = c.run.remind;
    const CloudTypes& mc = c.run.mc_righe;
    const test::Dbl d{c.run};
    const double scale = dbl(kPm) * 1e12 * 0.5;
    for (int i : {1, 3}) {
        const double fmc = mc.f_mc_arr(i);
        double mass = 0.0;
        for (int l = 1; l <= r.nlam; ++l) {
            double sum = 0.0;
            for (int j = 2; j <= r.icall; ++j) {
                const int k = r.icall + 1 - j;
                for (int cc = 1; cc <= 2; ++cc) {
                    sum += d.dt(j) * (d.sf(j, cc) * d.fl(l, j, cc) * d.fs(k, i) +
                                      d.sf(j - 1, cc) * d.fl(l, j - 1, cc) * d.fs(k + 1, i));
                    if (l == 1) mass += d.dt(j) * (d.sf(j, cc) * d.fs(k, i) + d.sf(j - 1, cc) * d.fs(k + 1, i));
                }
            }
            EXPECT_NEAR(d.ld(l, i, 0) / (sum * scale), 1.0, 1e-5) << i << " " << l;
        }
        // Every age is below t_hii: all the inside mass counts, times the type's fraction.
        EXPECT_NEAR(d.md(i, 0) / (mass * fmc * scale), 1.0, 1e-5) << i;
    }
    const std::vector<float> f1 = shares(c.run, 1), want = {1.0f, 1.0f, 1.0f, 0.5f, 0.0f};
    ASSERT_EQ(f1.size(), want.size());
    for (std::size_t k = 0; k < want.size(); ++k) EXPECT_NEAR(f1[k], want[k], 1e-6f) << k;
    for (int b = 0; b <= 5; ++b) {
        EXPECT_EQ(mc.mdentro_arr(2, b), 0.0f);
        for (int l = 1; l <= r.nlam; ++l) EXPECT_EQ(mc.ldentro_arr(l, 2, b), 0.0f);
    }
}

TEST(YoungStarsInsideSpectra, AllYoungerThanT0StayInsideAndAllOlderHaveLeft) {
    {
        // Everything younger than t0: the inside spectrum of all clouds is the
        // whole stellar spectrum.
        CloudRun c({0.0f, 0.0005f, 0.001f, 0.0015f}, {2000.0f, 8000.0f, 20000.0f});
        c.types({16.0f}, {1.0f}, {0.003f});
        fractions(c);
        for (float f : shares(c.run, 1)) EXPECT_EQ(f, 1.0f);
        inside_spectra(c.run, kPm);
        hii_regions(c.run, kPm, 0.02f);
        per_cloud(c.run);
        const BirthGrid& r = c.run.remind;
        const test::Dbl d{c.run};
        for (int l = 1; l <= r.nlam; ++l) {
            double lsta = 0.0;
            for (int j = 2; j <= r.icall; ++j)
                lsta += (d.sf(j - 1, 1) * d.fl(l, j - 1, 1) + d.sf(j, 1) * d.fl(l, j, 1)) * d.dt(j);
            lsta *= dbl(kPm) * 1e12 * 0.5;
            EXPECT_NEAR(d.ld(l, 1, 0) * d.ncloud() / lsta, 1.0, 1e-5);
        }
    }
    {
        // Everything older than t0 + 1/vout = 0.002 Gyr: nothing inside.
        CloudRun c({0.0f, 1.0f, 2.0f, 3.0f}, {2000.0f, 8000.0f}, 1, 3.5f);
        c.types({16.0f}, {1.0f}, {0.001f});
        c.run.glopalla.vout = 1000.0f;
        fractions(c);
        for (float f : shares(c.run, 1)) EXPECT_EQ(f, 0.0f);
        inside_spectra(c.run, kPm);
        for (float x : c.run.mc_righe.ldentro_arr.storage()) EXPECT_EQ(x, 0.0f);
        for (float x : c.run.mc_righe.mdentro_arr.storage()) EXPECT_EQ(x, 0.0f);
    }
}

TEST(YoungStarsInsideSpectra, OneBirthTimeHasNoInterval) {
    CloudRun c({0.5f}, {2000.0f, 8000.0f});
    fractions(c);
    inside_spectra(c.run, kPm);
    EXPECT_EQ(shares(c.run, 1), std::vector<float>{1.0f});
    for (float x : c.run.mc_righe.ldentro_arr.storage()) EXPECT_EQ(x, 0.0f);
    for (float x : c.run.mc_righe.mdentro_arr.storage()) EXPECT_EQ(x, 0.0f);
}

TEST(YoungStarsHii, WithoutHiiRegionsBothFactorsAreOneAndNothingEscapedIsCounted) {
    CloudRun c({0.0f, 0.001f, 0.002f, 0.01f});
    fractions(c);
    inside_spectra(c.run, kPm);
    hii_regions(c.run, kPm, 0.02f);
    const CloudTypes& mc = c.run.mc_righe;
    for (float x : mc.ldentro_old_arr.storage()) EXPECT_EQ(x, 1.0f);
    for (float x : mc.lfuori_old.storage()) EXPECT_EQ(x, 1.0f);
    for (float x : mc.lfuori.storage()) EXPECT_EQ(x, 0.0f);
    for (float x : mc.mfuori.storage()) EXPECT_EQ(x, 0.0f);
}

TEST(YoungStarsHii, EscapedSpectraAndMassesPerAgeBin) {
    // Two types leaving at different ages; intervals ending in bins 1 to 5 and
    // older (bin 0 only).
    CloudRun c({-0.005f, 0.0f, 0.004f, 0.007f, 0.0085f, 0.0095f, 0.011f, 0.0125f, 0.0135f, 0.014f});
    c.types({16.0f, 30.0f}, {0.7f, 0.3f}, {0.002f, 0.004f});
    fractions(c);
    inside_spectra(c.run, kPm);
    escaped_spectra(c.run, kPm);
    const BirthGrid& r = c.run.remind;
    const CloudTypes& mc = c.run.mc_righe;
    const test::Dbl d{c.run};
    const int icall = r.icall;
    std::vector<std::vector<double>> lf(static_cast<std::size_t>(r.nlam), std::vector<double>(6));
    std::vector<double> mf(6);
    for (int j = 2; j <= icall; ++j) {
        const int k = icall + 1 - j;
        double ci = 0.0;
        for (int i = 1; i <= 2; ++i) ci += (1.0 - d.fs(k, i)) * dbl(mc.f_mc_arr(i));
        const int b = age_bin(r.tbirth(icall), r.tbirth(j), 5);
        for (int l = 1; l <= r.nlam; ++l) {
            const double inc = ci * d.dt(j) * (d.sf(j, 1) * d.fl(l, j, 1) + d.sf(j - 1, 1) * d.fl(l, j - 1, 1));
            lf[static_cast<std::size_t>(l - 1)][0] += inc;
            if (b > 0) lf[static_cast<std::size_t>(l - 1)][static_cast<std::size_t>(b)] += inc;
        }
        const double m = ci * d.dt(j) * (d.sf(j, 1) + d.sf(j - 1, 1));
        mf[0] += m;
        if (b > 0) mf[static_cast<std::size_t>(b)] += m;
    }
    const double scale = dbl(kPm) * 1e12 * 0.5;
    for (int b = 0; b <= 5; ++b) {
        const auto u = static_cast<std::size_t>(b);
        EXPECT_NEAR(dbl(mc.mfuori(b)), mf[u] * scale, 1e-5 * mf[0] * scale) << b;
        for (int l = 1; l <= r.nlam; ++l)
            EXPECT_NEAR(dbl(mc.lfuori(l, b)), lf[static_cast<std::size_t>(l - 1)][u] * scale,
                        1e-5 * lf[static_cast<std::size_t>(l - 1)][0] * scale)
                << l << " " << b;
    }
    EXPECT_EQ(mc.mfuori(1), 0.0f);  // younger than both escape ages
    EXPECT_GT(mc.mfuori(5), 0.0f);
    EXPECT_GT(mc.mfuori(0), mc.mfuori(2) + mc.mfuori(3) + mc.mfuori(4) + mc.mfuori(5));

    // One birth time: no interval, nothing has left.
    CloudRun one({0.01f});
    fractions(one);
    escaped_spectra(one.run, kPm);
    for (float x : one.run.mc_righe.lfuori.storage()) EXPECT_EQ(x, 0.0f);
    for (float x : one.run.mc_righe.mfuori.storage()) EXPECT_EQ(x, 0.0f);
}

// ---------------------------------------------------------------------------
// Inputs that would turn the clouds' spectra into infinities or NaN stop the run
// before anything is written.

TEST(YoungStarsStops, BadCloudInputsStopWithTheValue) {
    struct C {
        const char* what;
        void (*set)(CloudRun&);
        std::string head;
    } cases[] = {
        {"t0 of 0 with two types",
         [](CloudRun& c) { c.types({16.0f, 30.0f}, {0.5f, 0.5f}, {0.003f, 0.0f}); },
         " cloud model: the escape age of cloud type 2 must be >0 with several types, t0_arr="},
        {"negative t0 with two types",
         [](CloudRun& c) { c.types({16.0f, 30.0f}, {0.5f, 0.5f}, {-0.003f, 0.003f}); },
         " cloud model: the escape age of cloud type 1 must be >0 with several types, t0_arr="},
        {"infinite escape rate", [](CloudRun& c) { c.run.glopalla.vout = std::numeric_limits<float>::infinity(); },
         " cloud model: the escape rate must be finite and >=0, vout="},
        {"negative escape rate", [](CloudRun& c) { c.run.glopalla.vout = -1.0f; },
         " cloud model: the escape rate must be finite and >=0, vout="},
        {"cloud mass 0", [](CloudRun& c) { c.run.glopalla.mcloud = 0.0f; },
         " cloud model: the mass of one cloud must be >0, mcloud="},
        {"negative cloud mass", [](CloudRun& c) { c.run.glopalla.mcloud = -5.0f; },
         " cloud model: the mass of one cloud must be >0, mcloud="},
        {"no clouds", [](CloudRun& c) { c.run.glopalla.ncloud = 0.0f; },
         " cloud model: the number of clouds must be >0, ncloud="},
        {"infinitely many clouds",
         [](CloudRun& c) { c.run.glopalla.ncloud = std::numeric_limits<float>::infinity(); },
         " cloud model: the number of clouds must be >0, ncloud="},
    };
    for (const C& cs : cases) {
        CloudRun c({0.0f, 0.001f, 0.002f});
        cs.set(c);
        try {
            pallanolt96(c.run, kPm, 0.02f);
            ADD_FAILURE() << cs.what << ": no stop";
        } catch (const Stop& s) {
            ASSERT_EQ(s.lines.size(), 1u) << cs.what;
            EXPECT_EQ(s.lines[0].rfind(cs.head, 0), 0u) << cs.what << ": " << s.lines[0];
        }
        EXPECT_TRUE(c.log_added().empty()) << cs.what;
        for (const auto& l : c.cc.out_lines()) EXPECT_EQ(l.find("FATTO"), std::string::npos) << cs.what;
    }
}

TEST(YoungStarsStops, TheValueIsNamed) {
    CloudRun c({0.0f, 0.001f});
    c.run.glopalla.mcloud = -5.0f;
    try {
        pallanolt96(c.run, kPm, 0.02f);
        FAIL() << "no stop";
    } catch (const Stop& s) {
        const std::string head = " cloud model: the mass of one cloud must be >0, mcloud=";
        ASSERT_EQ(s.lines[0].rfind(head, 0), 0u);
        EXPECT_EQ(std::stof(s.lines[0].substr(head.size())), -5.0f);
    }
}

}  // namespace
}  // namespace qv
