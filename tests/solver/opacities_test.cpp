// Opacities and the direct field of the cloud solver: cross-sections,
// extinction with the PAH term, optical depths against taurad, the attenuated
// source light and the symmetry copies.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "dust/grain_optics.h"
#include "solver/dusty_sphere_fixture.h"
#include "solver/solver_fixture.h"

namespace qv {
namespace {

using test::DustySphere;

bool in_pah_window(const SolverState& g, int nu) {
    const float lam = 3e14f / std::pow(10.0f, g.lfarr(nu));
    return lam > 0.05f && lam < 0.5f;
}

// A sphere with the plane-table efficiencies, the PAH term on, every inner edge
// inside r0 (as r0min leaves them) and a uniform density.
struct TableSphere : DustySphere {
    TableSphere() {
        tables(test::solver_plane_dir());
        source(1e44);
        run.glopahtau.xx = 7.5e-25f;
        fixed_edges(1e17f, 100.0f);
        g.rho1 = 1e-21f;
        genrho(g);
    }
};

TEST(OpticalDepth, OuterRadiusAgreesWithTaurad) {
    TableSphere s;
    s.direct_field();
    const SolverState& g = s.g;
    int checked = 0;
    for (int nu = 1; nu <= kSolverNnu; ++nu) {
        float tau = 0.0f;
        taurad(s.run, g.lfarr(nu), 1.5707964f, g.cthe1, g.ctarr, s.run.taumix.agra, s.run.taumix.dgra,
               s.run.taumix.xgra, g.rsgra, kSolverNsp, kSolverNgr, kSolverNct, tau);
        const float t40 = g.tauarr(kSolverNr, 1, nu);
        if (in_pah_window(g, nu)) {
            // The PAH molecules absorb on top of the grains there.
            EXPECT_GT(t40, tau) << nu;
            continue;
        }
        ++checked;
        EXPECT_NEAR(t40 / tau, 1.0f, 1e-3f) << "frequency " << nu << " tau " << tau;
    }
    EXPECT_GT(checked, 40);
}

TEST(Extinction, InsideTheSpeciesEdgesOnlyThePahTermRemains) {
    TableSphere s;
    SolverState& g = s.g;
    // Every species starts at radius 10.
    for (int ict = 1; ict <= kSolverNct; ++ict)
        for (int c = 2; c <= kSolverNsp + 1; ++c) g.rsgra(ict, c) = g.rarr(10);
    s.direct_field();
    for (int nu = 1; nu <= kSolverNnu; ++nu) {
        for (int ir = 1; ir <= 10; ++ir) {
            for (int k = 1; k <= kSolverNsp; ++k) ASSERT_EQ(g.sigarr(ir, 1, k), 0.0f);
            if (in_pah_window(g, nu)) {
                const float lam = 3e14f / std::pow(10.0f, g.lfarr(nu));
                EXPECT_EQ(g.alfarr(ir, 1, nu) > 0.0f, sigma_pah_c(lam) > 0.0f) << nu;
                continue;
            }
            EXPECT_EQ(g.alfarr(ir, 1, nu), 0.0f);
            EXPECT_EQ(g.tauarr(ir, 1, nu), 0.0f);
            // The source light falls as 1/r^2 there.
            EXPECT_NEAR(g.jnarr(ir, 1, nu) / ajn(s.run, g.rarr(ir), 0.0f, g.lfarr(nu)), 1.0f, 1e-6f);
        }
        EXPECT_GT(g.alfarr(11, 1, nu), 0.0f) << nu;
    }
}

TEST(Extinction, PahTermFollowsTheDensityAndVanishesWithoutPah) {
    TableSphere s;
    SolverState& g = s.g;
    for (int ict = 1; ict <= kSolverNct; ++ict)
        for (int c = 2; c <= kSolverNsp + 1; ++c) g.rsgra(ict, c) = g.rmax;  // no grains anywhere
    s.direct_field();
    const FArray<float, 3> a1 = g.alfarr;
    g.rho1 *= 2.0f;
    genrho(g);
    s.direct_field();
    int window = 0;
    for (int nu = 1; nu <= kSolverNnu; ++nu) {
        if (!in_pah_window(g, nu)) {
            EXPECT_EQ(g.alfarr(5, 1, nu), 0.0f);
            continue;
        }
        if (a1(5, 1, nu) > 0.0f) ++window;
        EXPECT_NEAR(g.alfarr(5, 1, nu), 2.0f * a1(5, 1, nu), 1e-6f * a1(5, 1, nu));
    }
    EXPECT_GT(window, 3);
    s.run.glopahtau.xx = 0.0f;
    s.direct_field();
    for (int nu = 1; nu <= kSolverNnu; ++nu) EXPECT_EQ(g.alfarr(5, 1, nu), 0.0f);
}

TEST(DirectField, MirrorsAndCopiesOfTheAngles) {
    TableSphere s;
    SolverState& g = s.g;
    g.jdarr.fill(0.0f);
    s.direct_field();
    for (int ict = 13; ict <= kSolverNct; ++ict)
        for (int ir = 1; ir <= kSolverNr; ++ir) {
            for (int k = 1; k <= kSolverNsp; ++k) ASSERT_EQ(g.sigarr(ir, ict, k), g.sigarr(ir, 25 - ict, k));
            for (int nu = 1; nu <= kSolverNnu; ++nu) {
                ASSERT_EQ(g.alfarr(ir, ict, nu), g.alfarr(ir, 25 - ict, nu));
                ASSERT_EQ(g.tauarr(ir, ict, nu), g.tauarr(ir, 25 - ict, nu));
            }
        }
    for (int ict = 2; ict <= kSolverNct; ++ict)
        for (int nu = 1; nu <= kSolverNnu; ++nu)
            for (int ir = 1; ir <= kSolverNr; ++ir) {
                ASSERT_EQ(g.jnarr(ir, ict, nu), g.jnarr(ir, 1, nu));
                for (int d = 0; d <= 2; ++d) ASSERT_EQ(g.jarr(ir, ict, nu, d), g.jarr(ir, 1, nu, d));
            }
}

// The direct beam is the mean intensity of direction 0 and, spread over the
// solid angles of the two directions that look at the source, the same mean
// intensity again (the direction weights add up to 2 pi).
TEST(DirectField, BeamOfTheTwoSourceDirectionsCarriesTheMeanIntensity) {
    TableSphere s;
    SolverState& g = s.g;
    g.jdarr.fill(0.0f);
    s.direct_field();
    for (int nu = 1; nu <= kSolverNnu; nu += 7)
        for (int ir = 1; ir <= kSolverNr; ir += 13) {
            const float j0 = g.jarr(ir, 1, nu, 0);
            EXPECT_EQ(j0, g.jnarr(ir, 1, nu));
            if (!(j0 > 1e-30f)) continue;  // no source light left there
            const float beam = (g.jarr(ir, 1, nu, 1) * g.omespi(1) + g.jarr(ir, 1, nu, 2) * g.omespi(2)) /
                               (2.0f * 3.141593f);
            EXPECT_NEAR(beam / j0, 1.0f, 1e-5f);
            EXPECT_NEAR(j0 / (ajn(s.run, g.rarr(ir), 0.0f, g.lfarr(nu)) * std::exp(-g.tauarr(ir, 1, nu))), 1.0f,
                        1e-6f);
        }
    // A diffuse field adds to the total field, direction by direction.
    g.jdarr.fill(0.0f);
    for (int d = 0; d <= 2; ++d) g.jdarr(7, 1, 9, d) = 1e-5f * static_cast<float>(d + 1);
    const float j0 = g.jarr(7, 1, 9, 0), j1 = g.jarr(7, 1, 9, 1);
    genjn(s.run);
    EXPECT_FLOAT_EQ(g.jarr(7, 1, 9, 0), j0 + 1e-5f);
    EXPECT_FLOAT_EQ(g.jarr(7, 1, 9, 1), j1 + 2e-5f);
}

}  // namespace
}  // namespace qv
