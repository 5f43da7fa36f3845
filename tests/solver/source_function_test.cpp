// The source function of the cloud solver's dust: its limits (pure emission,
// pure scattering), the energy balance of a thin shell in the direct field, the
// emission of small grains from their temperature distributions, the copies of
// angle 1, and the check line of the solver log.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "dust/grain_optics.h"
#include "solver/dusty_sphere_fixture.h"
#include "solver/solver_fixture.h"
#include "solver/source_function.h"

namespace qv {
namespace {

using test::DustySphere;

// S x 1e-20 for grey grains of one temperature, in three limits: emission only
// (B), scattering only (J), and a sublimated species that only scatters.
TEST(SourceFunction, LimitsOfEmissionAndScattering) {
    struct Case {
        const char* name;
        float qa, qs, t;
        double wj, wb;  // S = wj J + wb B(t)
    };
    const Case cases[] = {
        {"no scattering", 1.0f, 0.0f, 300.0f, 0.0, 1.0},
        {"negligible absorption", 1e-12f, 1.0f, 20.0f, 1.0, 1e-12},
        {"sublimated species", 1.0f, 0.5f, 0.0f, 1.0 / 3.0, 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DustySphere s;
        s.grey(c.qa, c.qs);
        s.source(1e44);
        s.edges(30.0f);
        s.uniform(1.0, static_cast<double>(c.qa + c.qs));
        s.direct_field();
        s.g.tarr.fill(c.t);
        gens(s.run);
        const SolverState& g = s.g;
        int checked = 0;
        for (int ir = 2; ir <= kSolverNr; ir += 3)
            for (int nu = 1; nu <= kSolverNnu; ++nu) {
                const double j = g.jarr(ir, 1, nu, 0), b = planck(g.lfarr(nu), c.t);
                const double want = c.wj * j + c.wb * b;
                if (!(want > 1e-30)) continue;
                ++checked;
                EXPECT_NEAR(static_cast<double>(g.sarr(ir, 1, nu)) * 1e-20 / want, 1.0, 1e-5) << "radius " << ir << " frequency " << nu;
            }
        EXPECT_GT(checked, 100);
    }
}

// A thin grey shell in the direct field, the PAH term off: at every radius the
// power the dust emits, integrated over frequency, is the power it absorbs.
TEST(SourceFunction, ThinShellEmitsWhatItAbsorbs) {
    DustySphere s;
    s.grey(1.0f, 0.0f);
    s.source(1e44);
    s.edges(10.0f);
    s.uniform(1e-3, 1.0);
    s.initial_loop();
    gens(s.run);
    const SolverState& g = s.g;
    for (int ir = 1; ir <= kSolverNr; ++ir) {
        double emitted = 0.0, absorbed = 0.0;
        for (int nu = 1; nu < kSolverNnu; ++nu) {
            const double dnu = std::pow(10.0, static_cast<double>(g.lfarr(nu + 1))) -
                               std::pow(10.0, static_cast<double>(g.lfarr(nu)));
            auto e = [&](int n) { return static_cast<double>(g.sarr(ir, 1, n)) * 1e-20 * static_cast<double>(g.alfarr(ir, 1, n)); };
            auto a = [&](int n) { return static_cast<double>(g.alfarr(ir, 1, n)) * static_cast<double>(g.jarr(ir, 1, n, 0)); };
            emitted += 0.5 * (e(nu) + e(nu + 1)) * dnu;
            absorbed += 0.5 * (a(nu) + a(nu + 1)) * dnu;
        }
        if (absorbed == 0.0) continue;  // inside the dust's edge
        EXPECT_NEAR(emitted / absorbed, 1.0, 0.03) << "radius " << ir << " T " << g.tarr(ir, 1, 1);
    }
}

// With flutmc a grain of at most 0.01 micron emits from its temperature
// distribution in the field of the point: its emission, integrated over
// frequency, is what it absorbs there.
class SmallGrains : public ::testing::Test {
protected:
    DustySphere s;
    void SetUp() override {
        // Species 1 small (10 A: its heating photons span many of the 150
        // levels between 0.5 and 4000 K); 2 exactly at the limit; the others big.
        s.run.taumix.agra(1) = 0.001f;
        s.run.taumix.agra(2) = 0.01f;
        s.tables(test::solver_plane_dir());
        s.source(1e44);
        s.edges(30.0f);
        s.uniform(1.0, 1.0);
        s.initial_loop();
    }
    // The frequency trapezoid on the grid of f(nu).
    template <class F>
    double integral(F&& f) const {
        double t = 0.0;
        for (int nu = 1; nu < kSolverNnu; ++nu)
            t += 0.5 * (f(nu) + f(nu + 1)) *
                 (std::pow(10.0, static_cast<double>(s.g.lfarr(nu + 1))) -
                  std::pow(10.0, static_cast<double>(s.g.lfarr(nu))));
        return t;
    }
};

TEST_F(SmallGrains, EmissionOfTheDistributionMatchesTheAbsorbedPower) {
    s.run.modname.flutmc = true;
    s.run.taumix.agra(2) = 0.05f;  // species 1 is the only small one: the last distribution is its own at radius 40
    gens(s.run);
    const SolverState& g = s.g;
    const double emitted = integral([&](int nu) { return static_cast<double>(aapiccolo(s.run, 1, nu)); });
    const double absorbed =
        integral([&](int nu) { return static_cast<double>(g.qaarr(nu, 1)) * 1e20 * static_cast<double>(g.jarr(kSolverNr, 1, nu, 0)); });
    ASSERT_GT(absorbed, 0.0);
    EXPECT_NEAR(emitted / absorbed, 1.0, 0.2);
    EXPECT_EQ(s.run.glopdittau.igra, 1);
    EXPECT_EQ(s.run.glopdittau.tmin, 0.5f);
    EXPECT_EQ(s.run.glopdittau.tmax, 4000.0f);
    for (int nu = 1; nu <= kSolverNnu; ++nu)
        EXPECT_EQ(g.yfluarr(nu), std::log10(g.jarr(kSolverNr, 1, nu, 0) + 1.1754944e-37f));
}

// An 0.008 micron grain near equilibrium at some 300 K in this field has level
// gaps (the 150 levels from 0.5 to 4000 K) larger than its heating photons: its
// distribution emits a small fraction of what it absorbs. Such a grain emits
// at its equilibrium temperature, as with flutmc off; the 10 A grain keeps its
// distribution.
TEST_F(SmallGrains, UnbalancedDistributionGivesWayToTheEquilibriumTemperature) {
    s.run.taumix.agra(2) = 0.05f;
    s.run.modname.flutmc = false;
    gens(s.run);
    const FArray<float, 3> off = s.g.sarr;
    s.run.modname.flutmc = true;
    gens(s.run);
    EXPECT_NE(s.g.sarr.storage(), off.storage()) << "the 10 A grain emits from its distribution";
    EXPECT_EQ(pdit_fallback_line(s.g), "");

    s.run.taumix.agra(1) = 0.008f;
    s.tables(test::solver_plane_dir());
    s.run.modname.flutmc = false;
    s.initial_loop();
    gens(s.run);
    const FArray<float, 3> off8 = s.g.sarr;
    s.run.modname.flutmc = true;
    gens(s.run);
    EXPECT_EQ(s.g.sarr.storage(), off8.storage());
    // The last distribution (species 1 at radius 40) and why it was not used.
    const double emitted = integral([&](int nu) { return static_cast<double>(aapiccolo(s.run, 1, nu)); });
    const double absorbed = integral(
        [&](int nu) { return static_cast<double>(s.g.qaarr(nu, 1)) * 1e20 * static_cast<double>(s.g.jarr(kSolverNr, 1, nu, 0)); });
    EXPECT_LT(emitted, 0.5 * absorbed);

    // Every radius where the grain is present is marked for species 1 alone,
    // and the line says how many.
    int present = 0;
    for (int ir = 1; ir <= kSolverNr; ++ir) {
        const bool here = s.g.tarr(ir, 1, 1) > 0.0f;
        present += here ? 1 : 0;
        EXPECT_EQ(s.g.pdit_fallback[0][static_cast<std::size_t>(ir - 1)], here) << "radius " << ir;
    }
    ASSERT_GT(present, 0);
    for (std::size_t k = 1; k < kSolverNsp; ++k)
        for (bool b : s.g.pdit_fallback[k]) EXPECT_FALSE(b) << "species " << k + 1;
    const std::string head =
        " Small grains at their equilibrium temperature, their temperature distribution off its energy balance "
        "by more than a factor 2:";
    EXPECT_EQ(pdit_fallback_line(s.g), head + " species 1 at " + std::to_string(present) + " radii");
    // Each radius counts once however many passes mark it; species in their order.
    gens(s.run);
    s.g.pdit_fallback[12][4] = s.g.pdit_fallback[12][39] = true;
    EXPECT_EQ(pdit_fallback_line(s.g),
              head + " species 1 at " + std::to_string(present) + " radii, species 13 at 2 radii");
}

TEST_F(SmallGrains, OnlyWithTheSwitchAndUpToTheLimitRadius) {
    // Species 2, exactly at the limit radius, is the only candidate small grain.
    // Sublimated everywhere, as a big grain it would only scatter; as a small
    // grain it still emits from its distribution.
    s.run.taumix.agra(1) = 0.05f;
    for (int ir = 1; ir <= kSolverNr; ++ir)
        for (int ict = 1; ict <= kSolverNct; ++ict) s.g.tarr(ir, ict, 2) = 0.0f;
    s.run.modname.flutmc = false;
    gens(s.run);
    const FArray<float, 3> off = s.g.sarr;
    s.run.modname.flutmc = true;
    gens(s.run);
    const FArray<float, 3> on = s.g.sarr;
    s.run.taumix.agra(2) = 0.0100001f;  // just above the limit: a big grain again
    gens(s.run);
    EXPECT_EQ(s.g.sarr.storage(), off.storage());
    int more = 0;
    for (int nu = 1; nu <= kSolverNnu; ++nu) {
        EXPECT_GE(on(20, 1, nu), off(20, 1, nu)) << nu;
        if (on(20, 1, nu) > off(20, 1, nu)) ++more;
    }
    EXPECT_GT(more, 10);
}

TEST_F(SmallGrains, EveryAngleHoldsTheValuesOfAngleOne) {
    s.run.modname.flutmc = true;
    gens(s.run);
    for (int ict = 2; ict <= kSolverNct; ++ict)
        for (int nu = 1; nu <= kSolverNnu; ++nu)
            for (int ir = 1; ir <= kSolverNr; ++ir) ASSERT_EQ(s.g.sarr(ir, ict, nu), s.g.sarr(ir, 1, nu));
}

TEST(SourceFunction, CheckLineInTheLogAndOnRequestOnStandardOutput) {
    for (int verbose : {0, 1}) {
        DustySphere s;
        s.grey();
        s.source(1e44);
        s.edges(30.0f);
        s.uniform(1.0, 1.001);
        s.initial_loop();
        s.run.modname.verbose_level = verbose;
        s.g.outlog = {"earlier line"};
        gens(s.run);
        ASSERT_EQ(s.g.outlog.size(), 2u);
        const std::string& line = s.g.outlog[1];
        ASSERT_EQ(line.size(), 24u + 30u) << line;
        EXPECT_EQ(line.substr(0, 24), " Source function Check: ");
        float sum = 0.0f;
        for (float v : s.g.sarr.storage()) sum += v;
        EXPECT_GT(sum, 0.0f);
        EXPECT_NEAR(std::stod(line.substr(24, 15)) / static_cast<double>(sum), 1.0, 1e-4) << line;
        EXPECT_EQ(line.substr(39), "     0.0000    ");
        int shown = 0;
        for (const std::string& l : s.cc.out_lines())
            if (l.find("Source function Check") != std::string::npos) {
                ++shown;
                EXPECT_EQ(l, line);
            }
        EXPECT_EQ(shown, verbose == 1 ? 1 : 0);
    }
}

}  // namespace
}  // namespace qv
