// The HII regions of the young stars: photon counts, case-B lines, the nebular
// continuum and its table, the pan files, and the driver on a small galaxy
// whose young stars are blackbodies: what it adds, where, and how the light
// that leaves the clouds carries it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "clouds/cloud_extinction.h"
#include "clouds/hii_library.h"
#include "clouds/hii_lines.h"
#include "clouds/hii_regions.h"
#include "clouds/nebular_continuum.h"
#include "clouds/young_stars.h"
#include "clouds/young_stars_fixture.h"
#include "core/run.h"
#include "core/stop.h"
#include "generators.h"
#include "numerics/search.h"
#include "support/test_support.h"

namespace qv {
namespace {

using namespace pallanolt96_stages;
using test::CloudRun;
using test::kPm;

constexpr double kHc = 1.4387769e8;  // h c / k in Angstrom K

double d(float x) { return x; }

// A decreasing frequency grid (1e14 Hz) from wavelengths.
std::vector<float> frequencies(const std::vector<float>& lam) {
    std::vector<float> nu;
    for (float l : lam) nu.push_back(29979.0f / l);
    return nu;
}

// n wavelengths from a to b Angstrom, equal steps in log.
std::vector<float> log_grid(double a, double b, int n) {
    std::vector<float> v;
    for (int i = 0; i < n; ++i) v.push_back(static_cast<float>(a * std::pow(b / a, i / double(n - 1))));
    return v;
}

// L_lambda of a blackbody of bolometric luminosity lbol and temperature t.
double blackbody_llambda(double lbol, double t, double lam) {
    const double u = kHc / (lam * t);
    if (u > 700.0) return 0.0;
    return lbol * 15.0 / std::pow(M_PI, 4) * std::pow(u, 4) / (lam * std::expm1(u));
}

// ---------------------------------------------------------------------------
// Photon counts.

TEST(HiiPhotons, ExactForAPhotonSpectrumLinearInFrequency) {
    // p(nu) = a + b nu, so lnu = 6.6262e7 nu (a + b nu); the count above t is
    // a (nu1 - t) + b (nu1^2 - t^2) / 2.
    const float a = 2.0f, b = 0.05f;
    for (int n : {40, 7}) {
        std::vector<float> nu;
        for (int i = 0; i < n; ++i) nu.push_back(200.0f - 190.0f * static_cast<float>(i) / static_cast<float>(n - 1));
        std::vector<float> lnu;
        for (float v : nu) lnu.push_back(6.6262e7f * v * (a + b * v));
        for (float t : {modhii::kNuH, modhii::kNuHe, modhii::kNuO, modhii::kNuHep, nu[3]}) {
            const double n1 = nu[0], td = t;
            const double want = double(a) * (n1 - td) + double(b) * (n1 * n1 - td * td) / 2.0;
            EXPECT_NEAR(modhii::photons_above(n, nu.data(), lnu.data(), t), want, 2e-6 * want) << n << " " << t;
        }
    }
}

TEST(HiiPhotons, FewPointsAboveTheThresholdGiveADefinedCount) {
    const float t = modhii::kNuH;
    const double td = t;
    struct C {
        std::vector<float> nu;
        double want;  // with p = 1 everywhere: the length of [t, nu1] that the grid covers
    } cases[] = {
        {{40.0f}, 0.0},                          // one point: nothing to integrate
        {{30.0f, 20.0f}, 0.0},                   // the grid does not reach the threshold
        {{40.0f, 20.0f}, 40.0 - td},             // one point above: the part down to t
        {{40.0f, 35.0f, 20.0f}, 40.0 - td},      // two above
        {{40.0f, 35.0f}, 5.0},                   // the grid ends above the threshold
        {{40.0f, t, 20.0f}, 40.0 - td},          // a point on the threshold
    };
    for (const C& c : cases) {
        std::vector<float> lnu;
        for (float v : c.nu) lnu.push_back(6.6262e7f * v);  // one photon per unit frequency
        EXPECT_NEAR(modhii::photons_above(static_cast<int>(c.nu.size()), c.nu.data(), lnu.data(), t), c.want,
                    1e-5 * (1.0 + c.want))
            << c.nu.size() << " points from " << c.nu.front();
    }
}

TEST(HiiPhotons, CountsFallWithTheThresholdForAnyNonNegativeSpectrum) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    for (int t = 0; t < 200; ++t) {
        const int n = 2 + static_cast<int>(u(rng) * 60.0f);
        std::vector<float> nu(static_cast<std::size_t>(n)), lnu(nu.size());
        float f = 20.0f + 300.0f * u(rng);
        for (int i = 0; i < n; ++i) {
            nu[static_cast<std::size_t>(i)] = f;
            f *= 0.6f + 0.39f * u(rng);
            const float r = u(rng);
            lnu[static_cast<std::size_t>(i)] = r < 0.2f ? 0.0f : std::pow(10.0f, 10.0f * r);
        }
        const modhii::PhotonCounts q = modhii::calcs(n, nu.data(), lnu.data());
        EXPECT_GE(q.qh, q.qhe) << t;
        EXPECT_GE(q.qhe, q.qo) << t;
        EXPECT_GE(q.qo, q.qhep) << t;
        EXPECT_GE(q.qhep, 0.0f) << t;
    }
}

TEST(HiiPhotons, ABlackbodyWithinOnePercentOfItsAnalyticCount) {
    // With x = h nu / kT the photons above x0 are, in the program's units,
    // Lbol 15/pi^4 / (6.6262e7 theta) I(x0), theta = kT/h in 1e14 Hz and
    // I(x0) = the integral of x^2/(e^x - 1) from x0 = sum_j e^(-j x0) (x0^2/j + 2 x0/j^2 + 2/j^3).
    const std::vector<float> lam = log_grid(10.0, 9.0e7, 1500);
    const std::vector<float> nu = frequencies(lam);
    for (double temp : {30000.0, 45000.0, 80000.0}) {
        std::vector<float> lnu;
        for (float l : lam) {
            const double ld = l;
            lnu.push_back(static_cast<float>(blackbody_llambda(1e6, temp, ld) * ld * ld / 29979.0));
        }
        const double theta = temp / kHc * 29979.0;
        const modhii::PhotonCounts q = modhii::calcs(static_cast<int>(lam.size()), nu.data(), lnu.data());
        const float thr[4] = {modhii::kNuH, modhii::kNuHe, modhii::kNuO, modhii::kNuHep};
        const float got[4] = {q.qh, q.qhe, q.qo, q.qhep};
        for (int k = 0; k < 4; ++k) {
            const double x0 = static_cast<double>(thr[k]) / theta;
            double s = 0.0;
            for (int j = 1; j < 200; ++j) s += std::exp(-j * x0) * (x0 * x0 / j + 2.0 * x0 / (j * j) + 2.0 / (j * j * j));
            const double want = 1e6 * 15.0 / std::pow(M_PI, 4) / (6.6262e7 * theta) * s;
            EXPECT_NEAR(static_cast<double>(got[k]), want, 0.01 * want) << temp << " threshold " << k;
        }
    }
}

TEST(HiiPhotons, CaseBLinesOfQH) {
    const std::vector<float> lam = log_grid(91.0, 1e5, 120);
    const std::vector<float> nu = frequencies(lam);
    std::vector<float> lnu;
    for (float l : lam) lnu.push_back(static_cast<float>(blackbody_llambda(1e6, 40000.0, d(l)) * d(l) * d(l) / 29979.0));
    const modhii::CaseB c = modhii::strom(120, nu.data(), lnu.data());
    EXPECT_GT(c.qh, 0.0f);
    EXPECT_EQ(c.qh, modhii::calcs(120, nu.data(), lnu.data()).qh);
    EXPECT_NEAR(c.halpha / c.hbeta, 2.87f, 1e-6f);
    EXPECT_NEAR(c.hbeta / c.qh, 4.790e-3f, 1e-6f);
}

// ---------------------------------------------------------------------------
// The continuum table and the continuum.

TEST(HiiContinuumTable, QuotedPointsEdgesAndEnds) {
    using namespace modcontneb;
    auto at = [](float lam) {
        for (int k = 0; k < kContinuumPoints; ++k)
            if (lam_cn[static_cast<std::size_t>(k)] == lam) return static_cast<std::size_t>(k);
        ADD_FAILURE() << "no table point at " << lam;
        return std::size_t{0};
    };
    EXPECT_EQ(lam_cn.front(), 1.0f);
    EXPECT_EQ(lam_cn.back(), 1e10f);
    for (int k = 1; k < kContinuumPoints; ++k)
        EXPECT_GT(lam_cn[static_cast<std::size_t>(k)], lam_cn[static_cast<std::size_t>(k - 1)]) << k;
    for (float l : {1.0f, 912.0f})
        for (const auto* g : {&g1, &g2, &g3, &g4}) EXPECT_EQ((*g)[at(l)], 0.0f) << l;
    EXPECT_EQ(g1[at(3642.0f)], 24.7f);
    EXPECT_EQ(g1[at(3648.0f)], 1.248f);
    EXPECT_EQ(g1[at(8207.0f)], 10.29f);
    EXPECT_EQ(g1[at(8209.0f)], 3.036f);
    EXPECT_EQ(g2[at(1600.0f)], 9.478f);
    for (int k = 0; k < kContinuumPoints; ++k) {
        const auto u = static_cast<std::size_t>(k);
        if (lam_cn[u] < 1220.0f) {
            EXPECT_EQ(g2[u], 0.0f) << lam_cn[u];
        }
        EXPECT_LE(g2[u], 9.478f) << lam_cn[u];  // the two-photon peak
        if (lam_cn[u] > 5e6f) {
            for (const auto* g : {&g1, &g2, &g3, &g4}) EXPECT_EQ((*g)[u], 0.0f) << lam_cn[u];
        }
        for (const auto* g : {&g1, &g2, &g3, &g4}) EXPECT_GE((*g)[u], 0.0f);
    }
}

TEST(HiiContinuumTable, TheCommittedNumbersAreTheToolsOwn) {
    const qvgen::ContinuumTable t = qvgen::nebular_continuum_coefficients();
    ASSERT_EQ(t.lam.size(), static_cast<std::size_t>(modcontneb::kContinuumPoints));
    const std::array<const std::array<float, 97>*, 4> g = {&modcontneb::g1, &modcontneb::g2, &modcontneb::g3,
                                                           &modcontneb::g4};
    for (std::size_t k = 0; k < t.lam.size(); ++k) {
        EXPECT_NEAR(modcontneb::lam_cn[k], t.lam[k], 5e-4 * t.lam[k]) << k;
        for (std::size_t j = 0; j < 4; ++j)
            EXPECT_NEAR((*g[j])[k], t.g[j][k], 5e-4 * t.g[j][k] + 1e-30) << "table " << j + 1 << " point " << k;
    }
}

// The continuum of a blackbody population on a wavelength grid, L_nu units.
struct Population {
    std::vector<float> lam, nu, lnu;
    Population(double temp, const std::vector<float>& l) : lam(l), nu(frequencies(l)) {
        for (float x : lam) lnu.push_back(static_cast<float>(blackbody_llambda(1e6, temp, d(x)) * d(x) * d(x) / 29979.0));
    }
    std::vector<float> cont(float f = kHiiAbsorbed, std::vector<float> in = {}) {
        if (in.empty()) in = lnu;
        NrKelu st;
        std::vector<float> c(in.size());
        modhii::contneb(st, nu.data(), in.data(), c.data(), static_cast<int>(in.size()), f);
        return c;
    }
};

TEST(HiiContinuum, LinearInItsInputAndZeroAtAndBeyondTheTableEnds) {
    Population a(40000.0, log_grid(0.5, 2e10, 160)), b(25000.0, log_grid(0.5, 2e10, 160));
    std::vector<float> sum, twice;
    for (std::size_t i = 0; i < a.lnu.size(); ++i) {
        sum.push_back(a.lnu[i] + b.lnu[i]);
        twice.push_back(2.0f * a.lnu[i]);
    }
    const std::vector<float> ca = a.cont(), cb = b.cont(), cs = a.cont(kHiiAbsorbed, sum),
                             c2 = a.cont(kHiiAbsorbed, twice), half = a.cont(0.495f);
    int positive = 0;
    for (std::size_t i = 0; i < ca.size(); ++i) {
        EXPECT_NEAR(cs[i], ca[i] + cb[i], 1e-5f * (ca[i] + cb[i])) << a.lam[i];
        EXPECT_NEAR(c2[i], 2.0f * ca[i], 1e-5f * ca[i]) << a.lam[i];
        EXPECT_NEAR(half[i], 0.5f * ca[i], 1e-5f * ca[i]) << a.lam[i];
        if (a.lam[i] <= 1.0f || a.lam[i] >= 1e10f) {
            EXPECT_EQ(ca[i], 0.0f) << a.lam[i];
        }
        positive += ca[i] > 0.0f ? 1 : 0;
    }
    EXPECT_GT(positive, 100);
    // Exactly at the ends.
    Population ends(40000.0, {1.0f, 1e4f, 1e10f});
    const std::vector<float> ce = ends.cont();
    EXPECT_EQ(ce[0], 0.0f);
    EXPECT_GT(ce[1], 0.0f);
    EXPECT_EQ(ce[2], 0.0f);
}

// Trapezoid over wavelength of L_lambda where keep(lambda).
template <class Keep>
double energy(const std::vector<float>& lam, const std::vector<double>& ll, Keep keep) {
    double e = 0.0;
    for (std::size_t i = 1; i < lam.size(); ++i)
        if (keep(lam[i - 1]) && keep(lam[i])) e += 0.5 * (ll[i] + ll[i - 1]) * (d(lam[i]) - d(lam[i - 1]));
    return e;
}

TEST(HiiContinuum, ItsShareOfTheIonisingLightTakenAway) {
    // The continuum added above 911.8 Angstrom against the share F of the light
    // at or below it that the driver removes. The hydrogen part of the table
    // gives about 5.8 eV per recombination, against the 13.6 eV and more that
    // each ionising photon brings, so the share falls as the source gets
    // hotter and its photons more energetic.
    struct Case {
        double temp, share;
    };
    const Case cases[] = {{25000.0, 0.36}, {45000.0, 0.32}, {100000.0, 0.25}};
    // Fine enough that the Wien tail of the coolest source just beyond the
    // edge is resolved (300 points put its ionising light 15 % too low).
    const std::vector<float> lam = log_grid(91.0, 9.0e7, 3000);
    for (const Case& k : cases) {
        const double temp = k.temp;
        Population p(temp, lam);
        const std::vector<float> c = p.cont();
        std::vector<double> cl, sl;
        for (std::size_t i = 0; i < lam.size(); ++i) {
            cl.push_back(d(p.nu[i]) * d(p.nu[i]) * d(c[i]) / 2.9979);
            sl.push_back(blackbody_llambda(1e6, temp, lam[i]));
        }
        const double added = energy(lam, cl, [](float l) { return l > 911.8f; });
        const double removed = d(kHiiAbsorbed) * energy(lam, sl, [](float l) { return l <= 911.8f; });
        EXPECT_NEAR(added / removed, k.share, 0.1 * k.share) << temp;
    }
}

TEST(HiiNames, PanFileNamesAndDigits) {
    struct C {
        int nnh, v;
        const char* name;
    } cases[] = {{1, 1, "m.pan"}, {0, 1, "m.pan"}, {2, 1, "m_1.pan"}, {2, 2, "m_2.pan"},
                 {10, 9, "m_9.pan"}, {10, 10, "m_0.pan"}};
    for (const C& c : cases) EXPECT_EQ(pan_file_name("m", c.nnh, c.v), c.name) << c.nnh << " " << c.v;
    const std::pair<int, char> digits[] = {{0, '0'}, {5, '5'}, {9, '9'}, {10, '0'}, {-1, '0'}, {123, '0'}};
    for (const auto& [i, ch] : digits) EXPECT_EQ(modhii::itochar(i), ch) << i;
}

// ---------------------------------------------------------------------------
// The driver on a small galaxy.

// Young stars as blackbodies that cool and fade with age, on a grid from 91
// Angstrom; birth times every Myr up to 12 Myr; the generator's HII library.
struct HiiGalaxy {
    CloudRun c;
    explicit HiiGalaxy(const std::vector<float>& radius = {16.0f}, const std::vector<float>& frac = {1.0f},
                       const std::vector<float>& t0 = {0.003f}, int nnh = 1)
        : c(birth_times(), log_grid(91.0, 2e6, 140)) {
        static const bool library = [] {
            qvgen::write_hii_library(test::plane_grain_dir());
            return true;
        }();
        (void)library;
        c.types(radius, frac, t0);
        c.run.glopalla.vout = 1.0f / t0.front();
        c.run.glopalla.hiiflag = true;
        BirthGrid& r = c.run.remind;
        const float t_last = r.tbirth(r.icall);
        for (int j = 1; j <= r.icall; ++j) {
            const double age = std::max(1e-3, double(t_last - r.tbirth(j)));
            const double temp = std::max(4500.0, 45000.0 * std::pow(age / 1e-3, -0.22));
            const double lbol = 5e6 * std::pow(age / 1e-3, -0.8);  // 1e30 erg/s per solar mass
            for (int l = 1; l <= r.nlam; ++l)
                r.flsspint(l, j, 1) = static_cast<float>(blackbody_llambda(lbol, temp, r.wave(l)));
        }
        std::string lin = std::to_string(nnh) + "\n";
        for (int i = 0; i <= c.run.mc_righe.n_tau_mc; ++i) {
            for (int v = 0; v < nnh; ++v) lin += " 1.0e4 'qv_hii'";
            lin += "\n";
        }
        test::write_text("m.lin", lin);
    }
    static std::vector<float> birth_times() {
        std::vector<float> t;
        for (int j = 0; j <= 12; ++j) t.push_back(0.001f * static_cast<float>(j));
        return t;
    }
    // Stages 1 to 4.
    void embed() {
        cloud_arrays_allocate(c.run);
        mc_righe::set_mc_arr(c.run);
        inside_fractions(c.run);
        inside_spectra(c.run, kPm);
    }
    // Stage 5 by its parts, keeping the spectra before the driver.
    void hii_driver() {
        mc_righe::read_file_lin(c.run);
        escaped_spectra(c.run, kPm);
        before_in = c.run.mc_righe.ldentro_arr.storage();
        before_out = c.run.mc_righe.lfuori.storage();
        hiitot(c.run, 0.02f, "m");
    }
    std::vector<float> before_in, before_out;
    const std::vector<float>& wave() const { return c.run.remind.wave.storage(); }
};

TEST(HiiDriver, TheContinuumGoesToTheAgeBinsAndTheIonisingLightLeaves) {
    HiiGalaxy g;
    g.embed();
    g.hii_driver();
    const CloudTypes& mc = g.c.run.mc_righe;
    const int nlam = g.c.run.remind.nlam;
    const int nd = g.c.run.glopalla.ndt_hii;
    ASSERT_GT(mc.mfuori(0), 0.0f);  // some stars have left
    ASSERT_EQ(mc.mfuori(1), 0.0f);  // the youngest have not
    // ldentro_arr(l, 1, b) at offset l - 1 + nlam b; lfuori(l, b) likewise.
    auto in_before = [&](int l, int b) { return g.before_in[static_cast<std::size_t>(l - 1 + nlam * b)]; };
    auto out_before = [&](int l, int b) { return g.before_out[static_cast<std::size_t>(l - 1 + nlam * b)]; };
    double added_in = 0.0, removed_in = 0.0, added_out = 0.0, removed_out = 0.0;
    for (int l = 1; l <= nlam; ++l) {
        const float w = g.c.run.remind.wave(l);
        // Bin 0, all ages, keeps the stars alone.
        EXPECT_EQ(mc.ldentro_arr(l, 1, 0), in_before(l, 0)) << w;
        EXPECT_EQ(mc.lfuori(l, 0), out_before(l, 0)) << w;
        float cin = 0.0f, cout = 0.0f;
        for (int b = 1; b <= nd; ++b) {
            if (w <= 911.8f) {
                EXPECT_EQ(mc.ldentro_arr(l, 1, b), in_before(l, b) * (1.0f - kHiiAbsorbed));
                EXPECT_EQ(mc.lfuori(l, b), out_before(l, b) * (1.0f - kHiiAbsorbed));
            } else {
                EXPECT_GE(mc.ldentro_arr(l, 1, b), in_before(l, b));
                cin += mc.ldentro_arr(l, 1, b) - in_before(l, b);
                cout += mc.lfuori(l, b) - out_before(l, b);
            }
        }
        if (w <= 911.8f) {
            EXPECT_EQ(mc.ldentro_old_arr(l, 1), 1.0f - kHiiAbsorbed);
            EXPECT_EQ(mc.lfuori_old(l), 1.0f - kHiiAbsorbed);
        } else {
            // 1 + C/S with S the light of bin 0.
            EXPECT_NEAR(mc.ldentro_old_arr(l, 1), 1.0f + cin / in_before(l, 0), 1e-5f * mc.ldentro_old_arr(l, 1));
            EXPECT_NEAR(mc.lfuori_old(l), 1.0f + cout / out_before(l, 0), 1e-5f * mc.lfuori_old(l));
        }
    }
    // The energy balance of the age bins: continuum in, F of the ionising light out.
    std::vector<float> lam = g.wave();
    std::vector<double> cin(lam.size()), cout(lam.size()), iin(lam.size()), iout(lam.size());
    for (int l = 1; l <= nlam; ++l) {
        const auto u = static_cast<std::size_t>(l - 1);
        for (int b = 1; b <= nd; ++b) {
            cin[u] += d(mc.ldentro_arr(l, 1, b)) - d(in_before(l, b));
            cout[u] += d(mc.lfuori(l, b)) - d(out_before(l, b));
            iin[u] += d(in_before(l, b));
            iout[u] += d(out_before(l, b));
        }
    }
    auto above = [](float l) { return l > 911.8f; };
    auto below = [](float l) { return l <= 911.8f; };
    added_in = energy(lam, cin, above);
    removed_in = d(kHiiAbsorbed) * energy(lam, iin, below);
    added_out = energy(lam, cout, above);
    removed_out = d(kHiiAbsorbed) * energy(lam, iout, below);
    EXPECT_GT(added_in, 0.1 * removed_in);
    EXPECT_LT(added_in, removed_in);
    EXPECT_GT(added_out, 0.1 * removed_out);
    EXPECT_LT(added_out, removed_out);
}

TEST(HiiDriver, TwoTypesOfHalfTheMassGiveTheContinuumOfOneType) {
    HiiGalaxy one;
    one.embed();
    one.hii_driver();
    HiiGalaxy two({16.0f, 16.0f}, {0.5f, 0.5f}, {0.003f, 0.003f});
    two.embed();
    two.hii_driver();
    const CloudTypes& a = one.c.run.mc_righe;
    const CloudTypes& b = two.c.run.mc_righe;
    for (int l = 1; l <= one.c.run.remind.nlam; ++l) {
        for (int i = 1; i <= 2; ++i) {
            for (int bin = 0; bin <= 5; ++bin)
                EXPECT_NEAR(b.ldentro_arr(l, i, bin), a.ldentro_arr(l, 1, bin), 1e-5f * a.ldentro_arr(l, 1, bin))
                    << l << " " << i << " " << bin;
            EXPECT_NEAR(b.ldentro_old_arr(l, i), a.ldentro_old_arr(l, 1), 1e-5f * a.ldentro_old_arr(l, 1));
        }
        EXPECT_NEAR(b.lfuori(l, 3), a.lfuori(l, 3), 1e-5f * a.lfuori(l, 3));
    }
}

// The light of the young stars after the clouds, per birth interval, as the
// extinction stage integrates it, above 911.8 Angstrom.
double light_above_lyman(const Run& run) {
    const BirthGrid& r = run.remind;
    std::vector<double> s(static_cast<std::size_t>(r.nlam));
    for (int j = 2; j <= r.icall; ++j)
        for (int l = 1; l <= r.nlam; ++l)
            s[static_cast<std::size_t>(l - 1)] += 0.5 * (d(r.tbirth(j)) - d(r.tbirth(j - 1))) *
                                                  (d(r.sfrate(j, 1)) * d(r.flsspint(l, j, 1)) +
                                                   d(r.sfrate(j - 1, 1)) * d(r.flsspint(l, j - 1, 1)));
    return energy(r.wave.storage(), s, [](float l) { return l > 911.8f; });
}

TEST(HiiDriver, TheLightLeavingTheCloudsCarriesTheContinuumOnce) {
    // Nobody leaves and the clouds are transparent: the galaxy gains the
    // continuum added to the inside stars, once.
    HiiGalaxy g({16.0f}, {1.0f}, {1.0f});
    g.c.run.glopalla.tau1 = 1e-7f;
    g.embed();
    const double before = light_above_lyman(g.c.run);
    g.hii_driver();
    const CloudTypes& mc = g.c.run.mc_righe;
    std::vector<double> cont(g.wave().size());
    for (int l = 1; l <= g.c.run.remind.nlam; ++l)
        for (int b = 1; b <= 5; ++b) {
            const auto u = static_cast<std::size_t>(l - 1);
            const std::size_t at = u + static_cast<std::size_t>(b * g.c.run.remind.nlam);
            cont[u] += d(mc.ldentro_arr(l, 1, b)) - d(g.before_in[at]);
        }
    const double added = energy(g.wave(), cont, [](float l) { return l > 911.8f; });
    ASSERT_GT(added, 0.0);
    for (int l = 1; l <= g.c.run.remind.nlam; ++l)
        EXPECT_EQ(mc.lfuori_old(l), g.c.run.remind.wave(l) > 911.8f ? 1.0f : 1.0f - kHiiAbsorbed);
    per_cloud(g.c.run);
    cloud_extinction(g.c.run, kPm);
    const double after = light_above_lyman(g.c.run);
    // Per unit primordial mass and without the 1e12: the spectra's scale.
    EXPECT_NEAR((after - before) * d(kPm) * 1e12, added, 0.01 * added);
}

TEST(HiiDriver, ThePanFileAndItsRecords) {
    HiiGalaxy g;
    g.embed();
    g.hii_driver();
    const std::vector<std::string> pan = test::read_lines("m.pan");
    const int n = g.c.run.mc_righe.n_tau_mc;
    ASSERT_EQ(pan.size(), static_cast<std::size_t>(1 + 3 * (n + 1) + 1 + kHiiLines));
    EXPECT_EQ(pan[0], "# file     =m");
    EXPECT_EQ(pan[1].rfind("# L_Ha(str)=", 0), 0u);
    EXPECT_EQ(pan[2].rfind("# L_Hb(str)=", 0), 0u);
    EXPECT_EQ(pan[3].rfind("# Q(H)     =", 0), 0u);
    EXPECT_EQ(pan[1].size(), 24u);
    EXPECT_EQ(pan[7],
              "#  nomeriga lambda,  lines_MC(1:n_tau_mc), lines_fuo, tau_den(1:n_tau_mc),  "
              "lines_MC*e^(-t)(1:n_tau_mc)");
    // H alpha / H beta of case B, and H beta / Q(H), in both rows.
    for (int row : {0, 1}) {
        const float ha = std::stof(pan[static_cast<std::size_t>(1 + 3 * row)].substr(12));
        const float hb = std::stof(pan[static_cast<std::size_t>(2 + 3 * row)].substr(12));
        const float qh = std::stof(pan[static_cast<std::size_t>(3 + 3 * row)].substr(12));
        EXPECT_NEAR(ha / hb, 2.87f, 0.01f);
        EXPECT_NEAR(hb / qh, 4.79e-3f, 1e-5f);
    }
    // Every line record: label, wavelength, lines inside, outside, tau r, lines after.
    for (int k = 1; k <= kHiiLines; ++k) {
        const std::string& rec = pan[static_cast<std::size_t>(7 + k)];
        ASSERT_EQ(rec.size(), 21u + 11u * static_cast<std::size_t>(3 * n + 1)) << rec;
        EXPECT_EQ(rec.substr(0, 11), modrighe::etic[static_cast<std::size_t>(k - 1)]);
    }
    // The H beta of the library scales with Q(H): the interpolated line against
    // the case-B value of the same populations.
    const std::string& hbeta = pan[7 + 10];
    const float lines_mc = std::stof(hbeta.substr(21, 11));
    const float hb_caseb = std::stof(pan[2].substr(12));
    // (the library's nodes lie 0.25 dex apart in Q(H), and the line is
    // interpolated linearly in log Q(H))
    EXPECT_NEAR(lines_mc / (kHiiAbsorbed * hb_caseb), 1.0f, 0.05f);
}

TEST(HiiDriver, OnePanRecordByteForByte) {
    CloudRun c({0.0f, 0.001f});
    c.types({16.0f, 30.0f}, {0.5f, 0.5f}, {0.003f, 0.003f});
    CloudTypes& mc = c.run.mc_righe;
    mc.tau_mc_arr.resize(2);
    mc.tau_mc_arr(1) = 2.0f;
    mc.tau_mc_arr(2) = 500.0f;  // beyond an optical depth of 30 at every line
    HiiSetSums s;
    s.lines_mc.resize(kHiiLines, 2);
    s.lines_fuo.resize(kHiiLines);
    for (Vec<float>* v : {&s.ha, &s.hb, &s.qh}) v->resize(3);
    s.lines_mc(10, 1) = 1.5f;
    s.lines_mc(10, 2) = 123456.0f;
    s.lines_fuo(10) = 0.25f;
    s.ha(3) = 2.5f;
    s.hb(3) = 12345.0f;
    s.qh(3) = 0.001234f;
    const std::vector<std::string> rec = [&] {
        std::vector<std::string> l;
        std::string t = pan_text(c.run, "galaxy_2.pan", s), cur;
        for (char ch : t) {
            if (ch == '\n') {
                l.push_back(cur);
                cur.clear();
            } else {
                cur += ch;
            }
        }
        return l;
    }();
    ASSERT_EQ(rec.size(), 1u + 9u + 1u + 114u);
    EXPECT_EQ(rec[0], "# file     =galaxy_2");
    EXPECT_EQ(rec[1], "# L_Ha(str)=    0.00    ");
    EXPECT_EQ(rec[7], "# L_Ha(str)=    2.50    ");
    EXPECT_EQ(rec[8], "# L_Hb(str)=   0.123E+05");
    EXPECT_EQ(rec[9], "# Q(H)     =   0.123E-02");
    const float r = glopalla::mixpalla(c.run, 4862.683f / 1e4f) / glopalla::mixpalla(c.run, 1.0f);
    auto e = [](double v) {
        char b[32];
        std::snprintf(b, sizeof b, "%11.4E", v);
        return std::string(b);
    };
    const float t1 = 2.0f * r;
    const std::string want = std::string("H_b    4861") + "    4862.7" + e(1.5) + e(123456.0) + e(0.25) + e(t1) +
                             e(500.0f * r) + e(1.5f * std::exp(-t1)) + e(0.0);
    EXPECT_EQ(rec[11 + 9], want);
}

TEST(HiiDriver, LinesOfEveryRowAndSetAndTheLibraryLoadedOncePerRow) {
    HiiGalaxy g({16.0f}, {1.0f}, {0.003f}, 2);
    g.embed();
    g.hii_driver();
    EXPECT_TRUE(std::filesystem::exists("m_1.pan"));
    EXPECT_TRUE(std::filesystem::exists("m_2.pan"));
    EXPECT_FALSE(std::filesystem::exists("m.pan"));
    EXPECT_EQ(test::read_lines("m_1.pan")[0], "# file     =m_1");
    int reads = 0, populations = 0;
    for (const std::string& l : g.c.cc.out_lines()) {
        reads += l.rfind("reading HII library qv_hii.dat ....", 0) == 0 ? 1 : 0;
        populations += l.rfind("Log(Q_H)=", 0) == 0 ? 1 : 0;
    }
    EXPECT_EQ(reads, 2 * 2);  // (one type + the escaped stars) x two sets
    EXPECT_GT(populations, 4);
    EXPECT_FALSE(g.c.run.modhii.zgas.allocated());  // freed after the populations
}

TEST(HiiDriver, WithoutEscapedStarsTheirLinesAre0AndTheirFactorOneOrOnePercent) {
    HiiGalaxy g({16.0f}, {1.0f}, {1.0f});
    g.embed();
    g.hii_driver();
    const CloudTypes& mc = g.c.run.mc_righe;
    for (int b = 0; b <= 5; ++b) EXPECT_EQ(mc.mfuori(b), 0.0f);
    for (int l = 1; l <= g.c.run.remind.nlam; ++l)
        EXPECT_EQ(mc.lfuori_old(l), g.c.run.remind.wave(l) > 911.8f ? 1.0f : 1.0f - kHiiAbsorbed);
    const std::vector<std::string> pan = test::read_lines("m.pan");
    for (int k = 1; k <= kHiiLines; ++k) {
        const std::string& rec = pan[static_cast<std::size_t>(7 + k)];
        EXPECT_EQ(std::stof(rec.substr(21 + 11, 11)), 0.0f) << rec;
        EXPECT_GT(std::stof(rec.substr(21, 11)), 0.0f) << rec;
    }
}

TEST(HiiDriver, OpticallyThickLinesShow0InTheLastColumns) {
    HiiGalaxy g;
    g.c.run.glopalla.tau1 = 40.0f;
    g.embed();
    g.hii_driver();
    const std::vector<std::string> pan = test::read_lines("m.pan");
    int thick = 0, thin = 0;
    for (int k = 1; k <= kHiiLines; ++k) {
        const std::string& rec = pan[static_cast<std::size_t>(7 + k)];
        const float tr = std::stof(rec.substr(21 + 22, 11));
        const float after = std::stof(rec.substr(21 + 33, 11));
        const float inside = std::stof(rec.substr(21, 11));
        if (tr > 30.0f) {
            EXPECT_EQ(after, 0.0f) << rec;
            ++thick;
        } else {
            // Five digits of tr and of the lines.
            EXPECT_NEAR(after, inside * std::exp(-tr), (2e-4f + 1e-4f * tr) * inside + 1e-30f) << rec;
            ++thin;
        }
    }
    EXPECT_GT(thick, 0);
    EXPECT_GT(thin, 0);
}

TEST(HiiDriver, TheCloudModelRunsItWithItsMessages) {
    HiiGalaxy g;
    pallanolt96(g.c.run, kPm, 0.02f);
    const std::vector<std::string> out = g.c.cc.out_lines();
    auto has = [&](const std::string& s) {
        for (const auto& l : out)
            if (l == s) return true;
        return false;
    };
    EXPECT_TRUE(has(" Computing HII regions emission."));
    EXPECT_TRUE(has(" HII regions computation completed."));
    EXPECT_TRUE(has(" FATTO PALLANOLT96"));
    EXPECT_TRUE(std::filesystem::exists("m.pan"));
}

}  // namespace
}  // namespace qv

namespace qv {
namespace {

TEST(HiiDriverFiles, APanFileThatCannotBeWrittenIsAnIoErrorAndLeavesNothingBehind) {
    HiiGalaxy g;
    g.embed();
    std::filesystem::create_directory("m.pan");  // in the way of the pan file
    mc_righe::read_file_lin(g.c.run);
    escaped_spectra(g.c.run, kPm);
    try {
        hiitot(g.c.run, 0.02f, "m");
        FAIL() << "no error";
    } catch (const IoError& e) {
        EXPECT_NE(std::string(e.what()).find("m.pan"), std::string::npos) << e.what();
    }
    for (const auto& f : std::filesystem::directory_iterator("."))
        EXPECT_EQ(f.path().filename().string().find("m.pan."), std::string::npos) << f.path();
}

}  // namespace
}  // namespace qv
