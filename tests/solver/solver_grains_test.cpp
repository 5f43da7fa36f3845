// The solver's grains: grains per gram of each species and the efficiency
// tables on the solver's frequency grid, against the generator's plane and grey
// grain tables whose values are known.
#include <gtest/gtest.h>

#include <cmath>

#include "solver/solver_fixture.h"
#include "solver/solver_grains.h"

namespace qv {
namespace {

using test::SolverRun;

double d(float v) { return static_cast<double>(v); }

TEST(SolverGrains, GrainsPerGramTimesGrainMassIsTheMassFraction) {
    SolverRun s;
    const SolverGrainMix& m = s.run.taumix;
    ntilde(m.agra, m.dgra, m.xgra, s.g.ntil, kSolverNsp);
    double total = 0.0;
    for (int k = 1; k <= kSolverNsp; ++k) {
        const double a = d(m.agra(k)) * 1e-4;  // cm
        const double mass = 4.0 / 3.0 * M_PI * a * a * a * d(m.dgra(k));
        EXPECT_NEAR(d(s.g.ntil(k)) * mass, d(m.xgra(k)), 1e-5 * d(m.xgra(k))) << k;
        total += d(s.g.ntil(k)) * mass;
    }
    EXPECT_NEAR(total, 1.0, 1e-4);
}

TEST(SolverGrains, SpeciesWithoutMassHasNoGrainsButKeepsItsEfficiencies) {
    SolverRun s(test::solver_plane_dir());
    s.run.taumix.xgra(4) = 0.0f;
    const SolverGrainMix& m = s.run.taumix;
    ntilde(m.agra, m.dgra, m.xgra, s.g.ntil, kSolverNsp);
    genq(s.run);
    EXPECT_EQ(s.g.ntil(4), 0.0f);
    EXPECT_GT(s.g.ntil(5), 0.0f);
    for (int nu = 1; nu <= kSolverNnu; ++nu) {
        EXPECT_GT(s.g.qaarr(nu, 4), 0.0f);
        EXPECT_GT(s.g.qsarr(nu, 4), 0.0f);
    }
}

TEST(SolverGrains, TablesFollowEachSpeciesOwnMaterialAndRadius) {
    SolverRun s(test::solver_plane_dir());
    genq(s.run);
    const SolverGrainMix& m = s.run.taumix;
    for (int k = 1; k <= kSolverNsp; ++k) {
        const test::Plane& pa = k <= 10 ? test::kGraAbs : test::kSilAbs;
        const test::Plane& ps = k <= 10 ? test::kGraSca : test::kSilSca;
        for (int nu = 1; nu <= kSolverNnu; ++nu) {
            const double lam = 3e14 / std::pow(10.0, d(s.g.lfarr(nu)));
            const double a = d(m.agra(k));
            // Inside the tables (0.01 to 1e4 micron): the planes themselves.
            if (lam < 0.0101 || lam > 9.9e3) continue;
            EXPECT_NEAR(d(s.g.qaarr(nu, k)), pa.q(lam, a), 2e-4 * pa.q(lam, a)) << k << " " << nu;
            EXPECT_NEAR(d(s.g.qsarr(nu, k)), ps.q(lam, a), 2e-4 * ps.q(lam, a)) << k << " " << nu;
            EXPECT_EQ(s.g.qearr(nu, k), s.g.qaarr(nu, k) + s.g.qsarr(nu, k)) << k << " " << nu;
        }
    }
}

TEST(SolverGrains, SameRadiusDifferentMaterialsDiffer) {
    SolverRun s(test::solver_plane_dir());
    s.run.taumix.agra(11) = s.run.taumix.agra(1);
    const Vec<float>& agra = s.run.taumix.agra;
    const float lf = std::log10(3e14f / 2.0f);
    EXPECT_NE(qa(s.run, lf, 1, agra, 20, 10), qa(s.run, lf, 11, agra, 20, 10));
    EXPECT_NE(qs(s.run, lf, 1, agra, 20, 10), qs(s.run, lf, 11, agra, 20, 10));
    // Two silicate species of different radii take their own radii.
    EXPECT_NE(qa(s.run, lf, 12, agra, 20, 10), qa(s.run, lf, 13, agra, 20, 10));
}

TEST(SolverGrains, GreyTablesGiveUnitAbsorptionAndTinyScattering) {
    SolverRun s(test::grey_grain_dir());
    genq(s.run);
    for (int k = 1; k <= kSolverNsp; ++k)
        for (int nu = 1; nu <= kSolverNnu; ++nu) {
            EXPECT_FLOAT_EQ(s.g.qaarr(nu, k), 1.0f) << k << " " << nu;
            EXPECT_NEAR(s.g.qsarr(nu, k), 1e-6f, 1e-10f) << k << " " << nu;
        }
}

}  // namespace
}  // namespace qv
