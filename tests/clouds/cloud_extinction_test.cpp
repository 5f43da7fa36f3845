// The extinction of the embedded starlight by the clouds, the stellar luminosity
// before and after them, the run-log records of the cloud model, and the stellar
// spectra after the clouds on both grids.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "clouds/cloud_extinction.h"
#include "clouds/young_stars.h"
#include "clouds/young_stars_fixture.h"
#include "core/run.h"
#include "dust/dust_grid.h"

namespace qv {
namespace {

using namespace pallanolt96_stages;
using test::CloudRun;
using test::kPm;

double dbl(float x) { return x; }

const std::vector<float> kTb = {0.0f, 0.001f, 0.0015f, 0.002f, 0.003f, 0.0035f};
const std::vector<float> kWave = {1200.0f, 3000.0f, 6000.0f, 12000.0f};

// The numbers of a free-format record after its label.
std::vector<float> numbers_after(const std::string& line, const std::string& label) {
    std::vector<float> v;
    EXPECT_EQ(line.rfind(label, 0), 0u) << line;
    if (line.rfind(label, 0) != 0) return v;
    std::istringstream s(line.substr(label.size()));
    float x;
    while (s >> x) v.push_back(x);
    return v;
}

// The luminosity of one cloud's share of the stars by the mean-of-ends rule, in double.
double cloud_luminosity(const Run& run, double pm) {
    const BirthGrid& r = run.remind;
    const test::Dbl d{run};
    double tot = 0.0;
    for (int j = 2; j <= r.icall; ++j)
        for (int c = 1; c <= r.ncom; ++c) {
            double s = 0.0;
            for (int l = 1; l < r.nlam; ++l)
                s += (d.fl(l + 1, j, c) + d.fl(l, j, c) + d.fl(l + 1, j - 1, c) + d.fl(l, j - 1, c)) *
                     (d.w(l + 1) - d.w(l)) * 0.25;
            tot += (d.sf(j - 1, c) + d.sf(j, c)) * 0.5 * d.dt(j) * pm * 1e12 * s / d.ncloud();
        }
    return tot;
}

// ---------------------------------------------------------------------------

TEST(CloudExtinction, AttenuationFactorTable) {
    struct C {
        const char* what;
        std::vector<float> radius, frac, tau;
        std::function<float(int k, int i)> share;
        // The expected factor at wavelength l for step k, given r(l).
        std::function<double(double rl, int k)> factor;
        bool exact;
    };
    auto mixed = [](int k, int) { return std::vector<float>{0.0f, 0.25f, 0.5f, 0.75f, 1.0f}[k % 5]; };
    const C cases[] = {
        {"clouds without dust leave the light unchanged", {16.0f}, {1.0f}, {0.0f}, mixed,
         [](double, int) { return 1.0; }, true},
        {"fully embedded behind an optical depth of 1", {16.0f}, {1.0f}, {1.0f},
         [](int, int) { return 1.0f; }, [](double rl, int) { return std::exp(-rl); }, false},
        {"fully outside: unchanged", {16.0f}, {1.0f}, {3.0f}, [](int, int) { return 0.0f; },
         [](double, int) { return 1.0; }, true},
        {"opaque clouds absorb exactly the light of their stars", {16.0f}, {1.0f}, {1000.0f}, mixed,
         [&](double, int k) { return 1.0 - dbl(mixed(k, 1)); }, true},
        {"two types, one of them opaque", {16.0f, 30.0f}, {0.6f, 0.4f}, {0.5f, 40.0f},
         [](int k, int i) { return i == 1 ? 0.2f * static_cast<float>(k - 1) : 1.0f - 0.1f * static_cast<float>(k); },
         [](double rl, int k) {
             const double f1 = dbl(0.2f * static_cast<float>(k - 1)), f2 = dbl(1.0f - 0.1f * static_cast<float>(k));
             return std::exp(-0.5 * rl) * dbl(0.6f) * f1 + (1.0 - f1) * dbl(0.6f) + (1.0 - f2) * dbl(0.4f);
         },
         false},
    };
    for (const C& cs : cases) {
        CloudRun c(kTb, kWave, 2);
        c.types(cs.radius, cs.frac, std::vector<float>(cs.radius.size(), 0.003f));
        c.embed(cs.tau, cs.share);
        const FArray<float, 3> before = c.run.remind.flsspint;
        cloud_extinction(c.run, kPm);
        const BirthGrid& r = c.run.remind;
        for (int k = 1; k <= r.icall; ++k) {
            const int j = r.icall + 1 - k;
            for (int l = 1; l <= r.nlam; ++l) {
                const double w = cs.factor(c.rel_ext(l), k);
                for (int cc = 1; cc <= 2; ++cc) {
                    const double b = before(l, j, cc), a = r.flsspint(l, j, cc);
                    if (cs.exact)
                        EXPECT_EQ(a, static_cast<float>(b * w)) << cs.what << " k=" << k << " l=" << l;
                    else
                        EXPECT_NEAR(a / (b * w), 1.0, 1e-6) << cs.what << " k=" << k << " l=" << l;
                }
            }
        }
        // The birth times beyond icall are not touched.
        for (int l = 1; l <= r.nlam; ++l) EXPECT_EQ(r.flsspint(l, r.icall + 1, 1), 0.0f);
    }
}

TEST(CloudExtinction, StepsOlderThanThe1000YoungestAreLeftUnattenuated) {
    std::vector<float> tb;
    for (int j = 0; j < 1003; ++j) tb.push_back(1e-5f * static_cast<float>(j));
    CloudRun c(tb, {3000.0f, 12000.0f});
    c.embed({1000.0f}, [](int, int) { return 1.0f; });
    const FArray<float, 3> before = c.run.remind.flsspint;
    const CloudLuminosities lum = cloud_extinction(c.run, kPm);
    const BirthGrid& r = c.run.remind;
    for (int j = 1; j <= r.icall; ++j)
        for (int l = 1; l <= r.nlam; ++l) {
            if (j <= 3)
                EXPECT_EQ(r.flsspint(l, j, 1), before(l, j, 1)) << j;
            else
                EXPECT_EQ(r.flsspint(l, j, 1), 0.0f) << j;
        }
    // What is left is the light of the intervals that reach the three oldest steps.
    EXPECT_GT(lum.ldopo, 0.0f);
    EXPECT_LT(lum.ldopo, lum.lprima * 0.01f);
}

TEST(CloudExtinction, LuminosityBeforeAndAfterTheCloudsAndTheDustLuminosity) {
    CloudRun c(kTb, kWave, 2);
    c.types({16.0f, 30.0f}, {0.6f, 0.4f}, {0.003f, 0.003f});
    c.embed({1.0f, 2.0f}, [](int k, int i) { return k <= 3 ? 1.0f : 0.5f * static_cast<float>(i - 1); });
    CloudSetup& gp = c.run.glopalla;
    for (int f = 1; f <= gp.nlf; ++f) gp.lumdus(f) = 1.0f + 0.5f * static_cast<float>(f);

    const double lprima = cloud_luminosity(c.run, kPm);
    const CloudLuminosities lum = cloud_extinction(c.run, kPm);
    const double ldopo = cloud_luminosity(c.run, kPm);
    EXPECT_NEAR(dbl(lum.lprima) / lprima, 1.0, 1e-5);
    EXPECT_NEAR(dbl(lum.ldopo) / ldopo, 1.0, 1e-5);
    EXPECT_LT(lum.ldopo, lum.lprima);
    EXPECT_EQ(gp.e2inpdiftru, gp.ncloud * lum.ldopo);
    // alnorm keeps the per-cloud luminosity of each interval after the clouds.
    float sum = 0.0f;
    for (int j = 2; j <= c.run.remind.icall; ++j)
        for (int cc = 1; cc <= 2; ++cc) sum += c.run.remind.alnorm(j, cc);
    EXPECT_EQ(sum, lum.ldopo);

    double dust = 0.0;
    for (int f = 1; f < gp.nlf; ++f)
        dust += 0.5 * (dbl(gp.farr(f + 1)) - dbl(gp.farr(f))) * (dbl(gp.lumdus(f)) + dbl(gp.lumdus(f + 1)));
    EXPECT_NEAR(dbl(gp.lumdusbol30) / dust, 1.0, 1e-5);
}

TEST(CloudExtinction, OpaqueCloudsHoldingEveryStarLetNothingOut) {
    CloudRun c(kTb, kWave);
    c.embed({500.0f}, [](int, int) { return 1.0f; });
    const CloudLuminosities lum = cloud_extinction(c.run, kPm);
    for (float x : c.run.remind.flsspint.storage()) EXPECT_EQ(x, 0.0f);
    EXPECT_EQ(lum.ldopo, 0.0f);
    EXPECT_EQ(c.run.glopalla.e2inpdiftru, 0.0f);
    EXPECT_GT(lum.lprima, 0.0f);
}

// ---------------------------------------------------------------------------
// Whole calls of the cloud model.

TEST(CloudModel, RunLogRecordsAndResultsScaledToAllClouds) {
    CloudRun c(kTb, kWave);
    c.types({16.0f, 30.0f}, {0.6f, 0.4f}, {0.003f, 0.005f});
    CloudSetup& gp = c.run.glopalla;
    for (int f = 1; f <= gp.nlf; ++f) gp.lumdus(f) = 2.0f;
    for (int k = 1; k <= 24; ++k) c.run.globals.totepahtau(k) = static_cast<float>(k);
    const double lprima = cloud_luminosity(c.run, kPm);

    pallanolt96(c.run, kPm, 0.02f);

    const auto log = c.log_added();
    ASSERT_EQ(log.size(), 7u);
    EXPECT_EQ(log[0], " ncloud,lumdus,lprima-ldopo,lprima,ldopo");
    ASSERT_EQ(log[1].size(), 75u) << log[1];
    float v[5];
    for (int m = 0; m < 5; ++m) v[m] = std::stof(log[1].substr(static_cast<std::size_t>(15 * m), 15));
    EXPECT_EQ(v[0], 1000.0f);
    const double dust = 2.0 * (dbl(gp.farr(gp.nlf)) - dbl(gp.farr(1)));
    EXPECT_NEAR(dbl(v[1]) / dust, 1.0, 1e-4);
    EXPECT_NEAR(dbl(v[3]) / lprima, 1.0, 1e-4);
    EXPECT_NEAR(v[4] / (gp.e2inpdiftru / gp.ncloud), 1.0f, 1e-4f);
    EXPECT_NEAR(v[2], v[3] - v[4], 1e-4f * v[3]);
    EXPECT_GT(v[2], 0.0f);

    EXPECT_EQ(log[2].rfind(" n_tau_mc=", 0), 0u) << log[2];
    EXPECT_EQ(numbers_after(log[2], " n_tau_mc="), std::vector<float>{2.0f});
    EXPECT_NE(log[2].find(" numero tau e t0 per MC"), std::string::npos) << log[2];
    const std::vector<float> tau = numbers_after(log[3], " tau1=");
    ASSERT_EQ(tau.size(), 2u);
    EXPECT_NEAR(tau[0] / tau[1], (30.0 * 30.0) / (16.0 * 16.0), 1e-5);  // one cloud mass, two radii
    EXPECT_EQ(numbers_after(log[4], " rcloud[pc]="), (std::vector<float>{16.0f, 30.0f}));
    EXPECT_EQ(numbers_after(log[5], " f_mc_arr="), (std::vector<float>{0.6f, 0.4f}));
    EXPECT_EQ(numbers_after(log[6], " t0_arr[Gyr]="), (std::vector<float>{0.003f, 0.005f}));

    EXPECT_EQ(c.cc.out_lines().back(), " FATTO PALLANOLT96");

    // Per-cloud results scaled to all clouds.
    for (int f = 1; f <= gp.nlf; ++f) EXPECT_EQ(gp.lumdus(f), 2.0f * gp.ncloud);
    for (int k = 1; k <= 24; ++k) EXPECT_EQ(c.run.globals.totepahtau(k), static_cast<float>(k) * gp.ncloud);
    EXPECT_NEAR(dbl(gp.lumdusbol30) / dust, 1.0, 1e-5);  // stays per cloud

    // The per-type arrays, the cloud types and the rebinning work are freed.
    const CloudTypes& mc = c.run.mc_righe;
    EXPECT_FALSE(mc.ldentro_arr.allocated());
    EXPECT_FALSE(mc.ldentro_old_arr.allocated());
    EXPECT_FALSE(mc.tau_mc_arr.allocated());
    EXPECT_FALSE(mc.lfuori.allocated());
    EXPECT_FALSE(mc.lfuori_old.allocated());
    EXPECT_FALSE(mc.mfuori.allocated());
    EXPECT_FALSE(mc.mdentro_arr.allocated());
    EXPECT_FALSE(mc.c_f_sources.allocated());
    EXPECT_FALSE(mc.nsoudin_arr.allocated());
    EXPECT_FALSE(mc.f_sources_arr.allocated());
    EXPECT_FALSE(mc.r_mc_arr.allocated());
    EXPECT_FALSE(mc.f_mc_arr.allocated());
    EXPECT_FALSE(mc.t0_arr.allocated());
    EXPECT_FALSE(gp.somcom.allocated());
    EXPECT_FALSE(gp.flscom.allocated());

    // The spectrum after the clouds is the synthesis of the attenuated flsspint.
    const BirthGrid& r = c.run.remind;
    const test::Dbl d{c.run};
    for (int l = 1; l <= r.nlam; ++l) {
        double s = 0.0;
        for (int j = 2; j <= r.icall; ++j)
            s += (d.fl(l, j - 1, 1) * d.sf(j - 1, 1) + d.fl(l, j, 1) * d.sf(j, 1)) * d.dt(j);
        EXPECT_NEAR(dbl(gp.l_stamc(l, 1)) / (dbl(kPm) * 1e12 * 0.5 * s), 1.0, 1e-5) << l;
    }
}

TEST(CloudModel, CloudsGivenByRadiusRatioLogTheOuterRadiusOfTheLastSolve) {
    CloudRun c(kTb, kWave);
    c.run.glopalla.rmsr0_flag = true;
    c.run.globals.rmax = 3.086e19f;
    pallanolt96(c.run, kPm, 0.02f);
    const auto log = c.log_added();
    ASSERT_EQ(log.size(), 7u);
    const std::vector<float> r = numbers_after(log[4], " rcloud[pc]=");
    ASSERT_EQ(r.size(), 1u);
    EXPECT_NEAR(r[0], 10.0f, 1e-5f);
}

TEST(CloudModel, NothingEscapesFromOpaqueCloudsWhileAllStarsAreYoungerThanT0) {
    CloudRun c(kTb, kWave);
    c.types({16.0f}, {1.0f}, {1.0f});
    c.run.glopalla.tau1 = 1000.0f;  // the one type takes the dust preparation's depth
    pallanolt96(c.run, kPm, 0.02f);
    for (float x : c.run.glopalla.l_stamc.storage()) EXPECT_EQ(x, 0.0f);
    EXPECT_EQ(c.run.glopalla.e2inpdiftru, 0.0f);
    const auto log = c.log_added();
    ASSERT_GE(log.size(), 2u);
    const float ldopo = std::stof(log[1].substr(60, 15));
    const float diff = std::stof(log[1].substr(30, 15)), lprima = std::stof(log[1].substr(45, 15));
    EXPECT_EQ(ldopo, 0.0f);
    EXPECT_EQ(diff, lprima);
    EXPECT_GT(lprima, 0.0f);
}

TEST(CloudModel, WithAllStarsOutsideTheCloudsTheLightIsUnchanged) {
    CloudRun c({0.0f, 1.0f, 2.0f, 3.0f}, kWave, 1, 3.5f);
    c.types({16.0f}, {1.0f}, {0.001f});
    c.run.glopalla.vout = 1000.0f;
    const std::vector<float> before = c.flsspint_copy();
    pallanolt96(c.run, kPm, 0.02f);
    EXPECT_EQ(c.flsspint_copy(), before);
    const auto log = c.log_added();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(std::stof(log[1].substr(30, 15)), 0.0f);  // lprima - ldopo
}

// A dust grid whose first window edge 0.97 ws(1) is exactly an SSP wavelength:
// where the search lands on such a hit depends on the guess it starts from, so a
// guess left over from an earlier search would change the rebinned spectrum.
void hit_the_first_window_edge(CloudRun& c) {
    c.dust_grid(40);
    c.run.remind.wave(2) = 0.97f * c.run.glopalla.ws(1);
    ASSERT_LT(c.run.remind.wave(1), c.run.remind.wave(2));
    ASSERT_LT(c.run.remind.wave(2), c.run.remind.wave(3));
}

// Without molecular gas the cloud model only builds the spectra after the clouds,
// which are then the unattenuated ones, whatever search guesses the rebinning
// finds on entry.
TEST(CloudModel, WithoutMolecularGasTheSpectraAfterTheCloudsAreThoseBeforeThem) {
    for (const bool hii : {false, true}) {
        CloudRun c(kTb, kWave, 2);
        hit_the_first_window_edge(c);
        CloudSetup& gp = c.run.glopalla;
        gp.mmol = 0.0f;
        gp.ncloud = 0.0f;
        gp.hiiflag = hii;  // no gas, no HII regions to miss
        stellar_spectrum(c.run, kPm, gp.l_sta);
        gp.klo = 0;
        gp.khi = 0;
        rebin_to_dust_grid(c.run, gp.l_sta, gp.lumsta);
        gp.l_stamc.fill(-1.0f);
        gp.lumstamc.fill(-1.0f);
        gp.klo = 3;  // guesses left from an earlier search
        gp.khi = 1;
        const std::vector<float> before = c.flsspint_copy();

        pallanolt96(c.run, kPm, 0.02f);

        EXPECT_EQ(gp.l_stamc.storage(), gp.l_sta.storage());
        EXPECT_EQ(gp.lumstamc.storage(), gp.lumsta.storage());
        EXPECT_EQ(c.flsspint_copy(), before);
        EXPECT_TRUE(c.log_added().empty());
        EXPECT_EQ(c.cc.out_lines().back(), " FATTO PALLANOLT96");
    }
}

TEST(CloudModel, TheRebinnedSpectrumDoesNotDependOnEarlierSearches) {
    std::vector<float> first;
    for (const int guess : {0, 2, 3, 1}) {
        CloudRun c(kTb, kWave);
        hit_the_first_window_edge(c);
        c.run.glopalla.klo = guess;
        c.run.glopalla.khi = guess;
        pallanolt96(c.run, kPm, 0.02f);
        if (first.empty())
            first = c.run.glopalla.lumstamc.storage();
        else
            EXPECT_EQ(c.run.glopalla.lumstamc.storage(), first) << guess;
    }
}

}  // namespace
}  // namespace qv
