// Small-grain temperature distributions: the cirrus instance glopdit and the
// solver instance glopdittau, against the plain algorithm and against the
// physics they must reproduce (normalisation, energy balance, the equilibrium
// limit), and the stops for problems the enthalpy laws cannot take.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "core/run.h"
#include "core/stop.h"
#include "dust/cirrus_emission.h"
#include "dust/pdit_fixture.h"
#include "dust/pdit_reference.h"
#include "dust/temperature_distribution.h"
#include "numerics/quadrature.h"

namespace qv {
namespace {

using test::GrainRun;

std::string stop_text(const Stop& s) {
    std::string t;
    for (const auto& l : s.lines) t += l + "\n";
    return t;
}

double d(float v) { return static_cast<double>(v); }

bool same_bits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The first index where the two float vectors differ bitwise, or -1.
int first_difference(const float* a, const float* b, int n) {
    for (int i = 0; i < n; ++i)
        if (!same_bits(a[i], b[i])) return i;
    return -1;
}

void expect_same(const TemperatureDistribution& td, const ref::PditResult& r, const std::string& what) {
    EXPECT_EQ(first_difference(td.tdarr.data(), r.tdarr.data(), 150), -1) << what << ": tdarr";
    EXPECT_EQ(first_difference(td.p.data(), r.p.data(), 150), -1) << what << ": P";
    // The rates, where they are defined (f != i).
    int da = -1;
    for (int k = 0; k < 150 * 150 && da < 0; ++k)
        if (k % 151 != 0 && !same_bits(td.a.data()[k], r.a[k])) da = k;
    EXPECT_EQ(da, -1) << what << ": A(" << da % 150 + 1 << ", " << da / 150 + 1 << ")";
    const int d = first_difference(td.dpdt.data(), r.dpdt.data(), 150);
    EXPECT_EQ(d, -1) << what << ": dpdt(" << d + 1 << ") " << (d >= 0 ? td.dpdt.data()[d] : 0.0f)
                     << " vs " << (d >= 0 ? r.dpdt[d] : 0.0f);
}

// The cirrus's narrowing of the range to where dP/dT exceeds 1e-12 of its peak
// (kept when it collapses to one level).
void narrow(TemperatureDistribution& td) {
    float lo = 0.0f, hi = 0.0f;
    if (cirrus::narrowed_range(td, lo, hi)) {
        td.tmin = lo;
        td.tmax = hi;
    }
}

// Both distributions the cirrus computes for a small-grain bin.
void two_passes(Run& run, int igra) {
    TemperatureDistribution& td = run.glopdit;
    td.igra = igra;
    td.tmin = 0.05f;
    td.tmax = 4000.0f;
    glopdit::pdit(run);
    narrow(td);
    glopdit::pdit(run);
}

double sum_p(const TemperatureDistribution& td) {
    double s = 0.0;
    for (int i = 1; i <= 150; ++i) s += d(td.p(i));
    return s;
}

// Mean and standard deviation of T under dP/dT (trapezoid on the levels).
void moments(const TemperatureDistribution& td, double& mean, double& sd) {
    double s0 = 0.0, s1 = 0.0, s2 = 0.0;
    for (int i = 1; i < 150; ++i) {
        const double w = 0.5 * d(td.tdarr(i + 1) - td.tdarr(i));
        const double t0 = td.tdarr(i), t1 = td.tdarr(i + 1);
        const double p0 = td.dpdt(i), p1 = td.dpdt(i + 1);
        s0 += w * (p0 + p1);
        s1 += w * (p0 * t0 + p1 * t1);
        s2 += w * (p0 * t0 * t0 + p1 * t1 * t1);
    }
    mean = s1 / s0;
    sd = std::sqrt(std::max(0.0, s2 / s0 - mean * mean));
}

// Power the grain absorbs from glopdit::ix (without the 4 pi x pi a^2 factor):
// the integral of Qabs J_nu over nu, with J_nu interpolated linearly in log-log
// on the dust grid as the heating rates do, on a fine grid.
double absorbed(Run& run, int igra) {
    const CloudSetup& c = run.glopalla;
    const int n = c.nlf;
    const float a = run.mix.agra(igra);
    const bool sil = igra > 20;
    std::vector<double> ly(n + 1);
    for (int i = 1; i <= n; ++i)
        ly[i] = std::log10(static_cast<double>(run.glopdit.ix(n + 1 - i)) + 1e-37) + 18.477 -
                2.0 * d(c.lfarr(i));
    double s = 0.0;
    for (int i = 1; i < n; ++i) {
        const double x0 = c.lfarr(i), x1 = c.lfarr(i + 1);
        if (x1 == x0) continue;
        const int m = 20;
        for (int k = 0; k < m; ++k) {
            const double x = x0 + (k + 0.5) * (x1 - x0) / m;
            const double lj = ly[i] + (x - x0) * (ly[i + 1] - ly[i]) / (x1 - x0);
            const double nu = std::pow(10.0, x);
            const float lam = static_cast<float>(3e14 / nu);
            const double q = sil ? q_sil_81(run, lam, a, 0) : q_gra_81(run, lam, a, 0);
            s += q * std::pow(10.0, lj) * nu * std::log(10.0) * (x1 - x0) / m;
        }
    }
    return s;
}

// The equilibrium temperature of a grain of the bin's radius: the temperature at
// which its cooling integral equals the absorbed power.
double equilibrium_temperature(Run& run, int igra, double power) {
    TemperatureDistribution& td = run.glopdit;
    td.igra = igra;
    auto cool = [&](double t) {
        td.tdus = static_cast<float>(t);
        return 2.30258509 * d(qromb([&](float x) { return glopdit::fcool(run, x); }, 8.5f, 15.5f, 0.001f));
    };
    double lo = 1.0, hi = 3000.0;
    for (int it = 0; it < 60; ++it) {
        const double mid = 0.5 * (lo + hi);
        (cool(mid) > power ? hi : lo) = mid;
    }
    return 0.5 * (lo + hi);
}

// ---------------------------------------------------------------------------
// Same numbers as the plain algorithm.

struct RefCase {
    int bin_index;  // position among the small bins (negative: from the end)
    double chi;
    int isca;
};

TEST(PditReuse, MatchesThePlainAlgorithmBitForBit) {
    GrainRun g;
    const std::vector<int> small = test::small_bins(g.run);
    ASSERT_GE(small.size(), 6u);
    const RefCase cases[] = {{0, 1.0, 0}, {2, 1.0, 0}, {-1, 1.0, 0}, {0, 3e4, 0},
                             {-1, 3e4, 2}, {1, 10.0, 2}};
    for (const RefCase& c : cases) {
        const int k = c.bin_index >= 0 ? small[c.bin_index] : small[small.size() - 1];
        for (int sil = 0; sil < 2; ++sil) {
            const int igra = k + 20 * sil;
            const std::string what = "bin " + std::to_string(igra) + " chi " +
                                     std::to_string(c.chi) + " isca " + std::to_string(c.isca);
            test::set_field(g.run, c.chi);
            g.run.remind.isca = c.isca;
            TemperatureDistribution& td = g.run.glopdit;
            td.igra = igra;
            td.tmin = 0.05f;
            td.tmax = 4000.0f;
            const int pos0 = g.run.nr_kelu.liin_s_pos;
            glopdit::pdit(g.run);
            const int pos_fast = g.run.nr_kelu.liin_s_pos;
            g.run.nr_kelu.liin_s_pos = pos0;
            expect_same(td, ref::pdit_cirrus(g.run, igra, 0.05f, 4000.0f), what + " first pass");
            EXPECT_EQ(pos_fast, g.run.nr_kelu.liin_s_pos) << what;

            narrow(td);
            const float lo = td.tmin, hi = td.tmax;
            glopdit::pdit(g.run);
            expect_same(td, ref::pdit_cirrus(g.run, igra, lo, hi), what + " second pass");
        }
    }
    EXPECT_GT(g.run.glopdit.reuse.plan_hits, 0u);
}

// Kept plans give the numbers of a fresh computation for any field, also when
// the store is full and plans are replaced.
TEST(PditReuse, KeptPlansGiveTheNumbersOfFreshOnes) {
    GrainRun kept, fresh;
    kept.run.glopdit.reuse.capacity = 4;
    fresh.run.glopdit.reuse.capacity = 0;
    const std::vector<int> small = test::small_bins(kept.run);
    const int bins[] = {small[0], small[3], small[0], small[0] + 20, small[3]};
    const double chis[] = {1.0, 7.0, 0.3, 200.0, 1.0};
    for (int r = 0; r < 5; ++r) {
        for (GrainRun* g : {&kept, &fresh}) {
            test::set_field(g->run, chis[r]);
            two_passes(g->run, bins[r]);
        }
        const TemperatureDistribution& a = kept.run.glopdit;
        const TemperatureDistribution& b = fresh.run.glopdit;
        EXPECT_EQ(first_difference(a.dpdt.data(), b.dpdt.data(), 150), -1) << "call " << r;
        EXPECT_EQ(first_difference(a.tdarr.data(), b.tdarr.data(), 150), -1) << "call " << r;
        EXPECT_EQ(kept.run.nr_kelu.liin_s_pos, fresh.run.nr_kelu.liin_s_pos) << "call " << r;
    }
    EXPECT_LE(kept.run.glopdit.reuse.plans.size(), 4u);
    EXPECT_GT(kept.run.glopdit.reuse.plan_hits, 0u);
    EXPECT_EQ(fresh.run.glopdit.reuse.plan_hits, 0u);
}

// A search for a photon frequency equal to a grid entry ends on either side of
// it, depending on where the previous search ended (the interpolated value is
// the same, the search position kept for the next call is not): the kept
// positions follow the same searches as the plain algorithm. On a coarse grid
// made of such frequencies the searches land on the entries often.
TEST(PditReuse, ExactHitsOnGridEntriesFollowTheSearchHistory) {
    GrainRun g;
    const int igra = test::small_bins(g.run)[1];
    const float tmin = 0.05f, tmax = 4000.0f;
    const float aang = 1e4f * g.run.mix.agra(igra);
    std::vector<float> u(151);
    for (int i = 1; i <= 150; ++i) u[i] = ref::enthalpy(false, aang, ref::level(tmin, tmax, i));
    auto lnu_of = [&](int i, int f) { return std::log10((u[f] - u[i]) / 6.62617e-27f); };
    std::vector<float> lf;
    for (auto [i, f] : std::vector<std::pair<int, int>>{
             {1, 2}, {149, 150}, {1, 6}, {75, 76}, {20, 23}, {120, 121}, {3, 5}, {60, 62}})
        lf.push_back(lnu_of(i, f));
    std::sort(lf.begin(), lf.end());
    lf.erase(std::unique(lf.begin(), lf.end()), lf.end());
    ASSERT_GE(lf.size(), 6u);
    test::set_dust_grid(g.run, lf);
    test::set_field(g.run, 3.0);
    const int n = static_cast<int>(lf.size());

    TemperatureDistribution& td = g.run.glopdit;
    for (int pos0 = 0; pos0 <= n + 1; ++pos0) {
        td.igra = igra;
        td.tmin = tmin;
        td.tmax = tmax;
        g.run.nr_kelu.liin_s_pos = pos0;
        glopdit::pdit(g.run);
        const int pos_fast = g.run.nr_kelu.liin_s_pos;
        g.run.nr_kelu.liin_s_pos = pos0;
        expect_same(td, ref::pdit_cirrus(g.run, igra, tmin, tmax), "guess " + std::to_string(pos0));
        EXPECT_EQ(pos_fast, g.run.nr_kelu.liin_s_pos) << "guess " << pos0;
    }
    ASSERT_EQ(td.reuse.plans.size(), 1u);
    EXPECT_GE(td.reuse.plans[0].tie.size(), 6u);
}

// The solver's instance: its own mixture and field, Qabs heating whatever the
// run's efficiency mode, the recursion started at 1e-30, no "somma parr" line.
TEST(PditInstances, SolverInstanceMatchesThePlainAlgorithm) {
    GrainRun g;
    taumix::genmix(g.run, 2);
    SolverState& s = g.run.globals;
    for (int k = 1; k <= 54; ++k) s.lfarr(k) = 10.7f + static_cast<float>(k - 1) * 0.1f;
    // The diluted stellar field of strength chi as log10 J_nu.
    double norm = 0.0;
    for (int k = 1; k < 2000; ++k) {
        const double l0 = 100.0 * std::pow(1e5, (k - 1) / 1999.0), l1 = 100.0 * std::pow(1e5, k / 1999.0);
        norm += 0.5 * (test::field_shape(l0) + test::field_shape(l1)) * (l1 - l0);
    }
    g.run.remind.isca = 2;  // not used by the solver's instance
    TemperatureDistribution& td = g.run.glopdittau;
    // The strongest field drives the recursion beyond the 8-byte reals several times over.
    for (double chi : {300.0, 1e9}) {
        for (int k = 1; k <= 54; ++k) {
            const double lam = 3e18 / std::pow(10.0, d(s.lfarr(k)));
            const double jnu = chi * 0.001776893 / norm * test::field_shape(lam) * lam * lam / 3e18;
            s.yfluarr(k) = static_cast<float>(std::log10(jnu + 1.1754944e-37));
        }
        for (int igra : {1, 2, 11, 12}) {
            ASSERT_LE(g.run.taumix.agra(igra), 0.01f);
            td.igra = igra;
            td.tmin = 0.5f;
            td.tmax = 4000.0f;
            const int pos0 = g.run.nr_kelu.liin_s_pos;
            glopdittau::pdit(g.run);
            g.run.nr_kelu.liin_s_pos = pos0;
            const ref::PditResult r = ref::pdit(g.run, igra > 10, g.run.taumix.agra(igra), 0.5f, 4000.0f,
                                                s.lfarr.data(), s.yfluarr.data(), 54, 0, 1e-30);
            expect_same(td, r, "species " + std::to_string(igra) + " chi " + std::to_string(chi));
            EXPECT_NEAR(sum_p(td), 1.0, 1e-5);
        }
    }
    for (const std::string& l : g.lines()) EXPECT_EQ(l.find("somma parr"), std::string::npos) << l;
}

// glopdit heats with the run's efficiency mode: with isca 2, sqrt(Qabs (Qabs +
// Qsca)), never below Qabs; both modes cool with Qabs. The solver's instance on
// the same grain, grid and field heats with Qabs whatever the run's mode and,
// its recursion being linear, gives the distribution of glopdit in mode 0.
TEST(PditInstances, HeatingEfficiencyModeOfEachInstance) {
    GrainRun g;
    const int igra = test::small_bins(g.run)[2];
    // A 54-point grid, so that the solver instance can take the same grid and field.
    std::vector<float> lf;
    for (int k = 0; k < 54; ++k) lf.push_back(10.7f + static_cast<float>(k) * 0.1f);
    test::set_dust_grid(g.run, lf);
    test::set_field(g.run, 5.0);
    g.run.taumix.agra(3) = g.run.mix.agra(igra);
    TemperatureDistribution& td = g.run.glopdit;
    TemperatureDistribution& tt = g.run.glopdittau;

    td.igra = igra;
    td.tmin = 0.05f;
    td.tmax = 400.0f;
    g.run.remind.isca = 0;
    glopdit::pdit(g.run);
    const std::vector<float> d0(td.dpdt.data(), td.dpdt.data() + 150);
    const Mat<float> a0 = td.a;
    const std::vector<float> c0(td.cool.data(), td.cool.data() + 150);
    g.run.remind.isca = 2;
    glopdit::pdit(g.run);
    int more = 0;
    for (int i = 1; i < 150; ++i) {
        EXPECT_EQ(td.cool(i), c0[i - 1]) << "level " << i << ": the cooling is the same in every mode";
        for (int f = i + 1; f <= 150; ++f) {
            EXPECT_GE(td.a(f, i), a0(f, i)) << f << " " << i;
            if (td.a(f, i) > a0(f, i)) ++more;
        }
    }
    EXPECT_GT(more, 100) << "scattering adds to the heating efficiency in mode 2";

    for (int k = 1; k <= 54; ++k) {
        g.run.globals.lfarr(k) = g.run.glopalla.lfarr(k);
        g.run.globals.yfluarr(k) =
            std::log10(td.ix(55 - k) + 1e-37f) + 18.477f - 2.0f * g.run.glopalla.lfarr(k);
    }
    tt.igra = 3;
    tt.tmin = 0.05f;
    tt.tmax = 400.0f;
    glopdittau::pdit(g.run);  // remind::isca is still 2
    for (int i = 0; i < 150; ++i)
        EXPECT_NEAR(d(tt.dpdt.data()[i]), d(d0[i]), 1e-5 * d(d0[i]) + 1e-37) << "level " << i + 1;
}

// ---------------------------------------------------------------------------
// The distribution itself.

TEST(PditDistribution, SumsToOneAndWritesTheCheckLineOnce) {
    GrainRun g;
    const std::vector<int> small = test::small_bins(g.run);
    test::set_field(g.run, 1.0);
    for (int k : {small[0], small[0] + 20, small.back()}) {
        two_passes(g.run, k);
        const TemperatureDistribution& td = g.run.glopdit;
        EXPECT_NEAR(sum_p(td), 1.0, 1e-5) << "bin " << k;
        EXPECT_EQ(td.dpdt(150), 0.0f);
        for (int i = 1; i <= 150; ++i) EXPECT_GE(td.dpdt(i), 0.0f) << "level " << i;
        // dP/dT times the level widths gives the probabilities back.
        double s = d(td.dpdt(1)) * d(td.tdarr(2) - td.tdarr(1));
        for (int i = 2; i < 150; ++i) s += d(td.dpdt(i)) * 0.5 * d(td.tdarr(i + 1) - td.tdarr(i - 1));
        EXPECT_NEAR(s, 1.0 - d(td.p(150)), 1e-5) << "bin " << k;
    }
    int n = 0;
    for (const std::string& l : g.lines())
        if (l.find("somma parr") != std::string::npos) {
            ++n;
            EXPECT_EQ(l.rfind(" somma parr", 0), 0u) << l;
            EXPECT_NEAR(std::stod(l.substr(11)), 1.0, 1e-5) << l;
        }
    EXPECT_EQ(n, 1);
}

// In the steady state the grain emits what it absorbs: the integral of dP/dT
// times the cooling rate equals the power absorbed from the field. Exactly so
// for the rates of the levels; for the field, within the discretisation.
TEST(PditDistribution, EmittedEnergyEqualsAbsorbedEnergy) {
    GrainRun g;
    const std::vector<int> small = test::small_bins(g.run);
    for (double chi : {1.0, 100.0}) {
        test::set_field(g.run, chi);
        for (int k : {small[0], small[3], small.back(), small[1] + 20}) {
            two_passes(g.run, k);
            const TemperatureDistribution& td = g.run.glopdit;
            double em = 0.0, em_levels = 0.0, ab_levels = 0.0;
            // The integral of dP/dT times the cooling rate, over the level widths.
            em = d(td.dpdt(1)) * d(td.cool(1)) * d(td.tdarr(2) - td.tdarr(1));
            for (int i = 2; i < 150; ++i)
                em += d(td.dpdt(i)) * d(td.cool(i)) * 0.5 * d(td.tdarr(i + 1) - td.tdarr(i - 1));
            for (int i = 1; i <= 150; ++i) {
                if (i > 1) em_levels += d(td.p(i)) * d(td.a(i - 1, i)) * d(td.u(i) - td.u(i - 1));
                for (int f = i + 1; f <= 150; ++f)
                    ab_levels += d(td.p(i)) * d(td.a(f, i)) * d(td.u(f) - td.u(i));
            }
            const double ab = absorbed(g.run, k);
            const std::string what = "bin " + std::to_string(k) + " chi " + std::to_string(chi);
            EXPECT_NEAR(em_levels / ab_levels, 1.0, 1e-4) << what;
            EXPECT_NEAR(em / ab, 1.0, 0.03) << what << ": emitted " << em << " absorbed " << ab;
        }
    }
}

// In a strong field a grain absorbs many photons per cooling time, each of which
// changes its temperature little: the distribution narrows around the
// equilibrium temperature of a big grain of the same radius. (The levels must be
// fine enough that a level step costs less energy than a typical photon brings,
// hence the range around the equilibrium.) In a weak field it is broad and lies
// below the equilibrium temperature.
TEST(PditDistribution, StrongFieldNarrowsAroundTheEquilibriumTemperature) {
    GrainRun g;
    const std::vector<int> small = test::small_bins(g.run);
    TemperatureDistribution& td = g.run.glopdit;
    test::set_field(g.run, 1e4);
    for (int k : {small[5], small[6], small[5] + 20}) {
        const double teq = equilibrium_temperature(g.run, k, absorbed(g.run, k));
        td.igra = k;
        td.tmin = static_cast<float>(0.6 * teq);
        td.tmax = static_cast<float>(1.6 * teq);
        glopdit::pdit(g.run);
        double mean, sd;
        moments(td, mean, sd);
        EXPECT_NEAR(mean / teq, 1.0, 0.02) << "bin " << k << ": mean " << mean << " K, equilibrium " << teq << " K";
        EXPECT_LT(sd / teq, 0.07) << "bin " << k;
    }

    test::set_field(g.run, 1.0);
    const int k = small[5];
    two_passes(g.run, k);
    double mean, sd;
    moments(td, mean, sd);
    const double teq = equilibrium_temperature(g.run, k, absorbed(g.run, k));
    EXPECT_GT(sd / mean, 0.3) << "mean " << mean << " sd " << sd;
    EXPECT_LT(mean, 0.8 * teq) << "equilibrium " << teq;
}

// A dark field heats nothing: the grain sits in the lowest level.
TEST(PditDistribution, DarkFieldLeavesTheGrainInTheLowestLevel) {
    GrainRun g;
    for (int i = 1; i <= g.run.glopalla.nlf; ++i) g.run.glopdit.ix(i) = 0.0f;
    TemperatureDistribution& td = g.run.glopdit;
    for (int k : {test::small_bins(g.run)[0], 21}) {
        td.igra = k;
        td.tmin = 0.05f;
        td.tmax = 4000.0f;
        glopdit::pdit(g.run);
        EXPECT_GT(td.p(1), 1.0f - 1e-6f) << "bin " << k;
        EXPECT_EQ(td.dpdt(150), 0.0f);
        EXPECT_FLOAT_EQ(td.dpdt(1), td.p(1) / (td.tdarr(2) - td.tdarr(1)));
    }
}

// The levels are the linear grid of the range; a photon whose frequency lies
// beyond the field's grid does not heat.
TEST(PditDistribution, LevelsAndHeatingOnlyFromTheGrid) {
    GrainRun g;
    test::set_field(g.run, 1.0);
    TemperatureDistribution& td = g.run.glopdit;
    td.igra = test::small_bins(g.run)[0];
    td.tmin = 10.0f;
    td.tmax = 1500.0f;
    glopdit::pdit(g.run);
    EXPECT_EQ(td.tdarr(1), 10.0f);
    EXPECT_EQ(td.tdarr(150), 1500.0f);
    EXPECT_EQ(td.tdarr(75), 10.0f + 74.0f * 1490.0f / 149.0f);
    const float lfmax = g.run.glopalla.lfarr(g.run.glopalla.nlf);
    int off = 0, heated = 0;
    for (int i = 1; i < 150; ++i)
        for (int f = i + 1; f <= 150; ++f) {
            const float lnu = std::log10((td.u(f) - td.u(i)) / 6.62617e-27f);
            if (lnu > lfmax) {
                EXPECT_EQ(td.a(f, i), 0.0f) << f << " " << i;
                ++off;
            } else if (td.a(f, i) > 0.0f) {
                ++heated;
            }
        }
    EXPECT_GT(heated, 1000);
    EXPECT_GT(off, 0) << "the case needs photons beyond the grid";
}

// ---------------------------------------------------------------------------
// Problems the algorithm cannot take stop with the bin and its radius.

struct StopCase {
    const char* name;
    float agra;  // micron (0: the bin's own)
    int igra;
    float tmin, tmax;
    const char* expect;
};

TEST(PditStops, ProblemsWithoutAnswerStopNamingTheBin) {
    const StopCase cases[] = {
        {"equal ends", 0.0f, 3, 100.0f, 100.0f, "temperature range 100 K to 100 K"},
        {"reversed", 0.0f, 3, 200.0f, 100.0f, "is empty"},
        {"negative", 0.0f, 23, -1.0f, 100.0f, "is empty"},
        {"graphite of 2 atoms", 1.5e-4f, 3, 0.05f, 4000.0f, "holds 2 carbon atoms"},
        {"silicate of 1 unit", 3e-4f, 23, 0.05f, 4000.0f, "holds 1 silicate units"},
        {"silicate of no unit", 2e-4f, 23, 0.05f, 4000.0f, "holds 0 silicate units"},
        {"levels closer than the reals", 0.0f, 3, 100.0f, 100.00001f, "do not increase"},
        {"bin outside the mixture", 0.0f, 41, 0.05f, 4000.0f, "grain bin 41 is not one of"},
    };
    for (const StopCase& c : cases) {
        GrainRun g;
        test::set_field(g.run, 1.0);
        TemperatureDistribution& td = g.run.glopdit;
        if (c.agra > 0.0f) g.run.mix.agra(c.igra) = c.agra;
        td.igra = c.igra;
        td.tmin = c.tmin;
        td.tmax = c.tmax;
        try {
            glopdit::pdit(g.run);
            ADD_FAILURE() << c.name << ": no stop";
        } catch (const Stop& s) {
            const std::string t = stop_text(s);
            EXPECT_NE(t.find(c.expect), std::string::npos) << c.name << ": " << t;
            if (c.igra <= 40) {
                EXPECT_NE(t.find("grain bin " + std::to_string(c.igra) + " (radius "), std::string::npos)
                    << c.name << ": " << t;
            }
            EXPECT_EQ(t.rfind(" FATAL ERROR in pdit: ", 0), 0u) << t;
        }
    }
}

// Populations beyond the 8-byte reals (a strong field, and a range reaching far
// below the grain's temperatures) give a normalised distribution all the same;
// a field that is not a number stops.
TEST(PditStops, PopulationsBeyondTheRealsAreRescaledAndBadFieldsStop) {
    GrainRun g;
    const int k = test::small_bins(g.run).back();
    test::set_field(g.run, 3e4);
    TemperatureDistribution& td = g.run.glopdit;
    td.igra = k;
    td.tmin = 0.05f;
    td.tmax = 80.0f;
    glopdit::pdit(g.run);
    const ref::PditResult r = ref::pdit_cirrus(g.run, k, 0.05f, 80.0f);
    expect_same(td, r, "rescaled");
    EXPECT_LT(td.x(1), 1e-100) << "the recursion had to be rescaled";
    EXPECT_NEAR(sum_p(td), 1.0, 1e-5);
    EXPECT_GT(td.dpdt(149), 0.0f) << "the grain sits at the top of this range";

    for (int i = 1; i <= g.run.glopalla.nlf; ++i) g.run.glopdit.ix(i) = -1.0f;
    try {
        glopdit::pdit(g.run);
        ADD_FAILURE() << "no stop";
    } catch (const Stop& s) {
        EXPECT_NE(stop_text(s).find("are not finite"), std::string::npos) << stop_text(s);
        EXPECT_NE(stop_text(s).find("grain bin " + std::to_string(k) + " (radius "), std::string::npos);
    }
}

}  // namespace
}  // namespace qv
