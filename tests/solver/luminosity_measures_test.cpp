// Luminosity measures and the conservation rescaling of the cloud solver.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "solver/dusty_sphere_fixture.h"
#include "solver/luminosity_measures.h"

namespace qv {
namespace {

using test::DustySphere;

// The direct field of a dust-free sphere: the luminosity through every radius is
// the source luminosity, short only of the polar caps beyond the first and last
// cell centre that the angle trapezoid leaves out (cos 0.09726 = 0.99527), to
// the accuracy of the frequency trapezoid on the solver's grid (which is coarse
// at the ultraviolet peak of the source: 6 % below its exact integral al46tru).
TEST(LuminosityPerRadius, DirectFieldAloneCarriesTheSourceLuminosity) {
    DustySphere s;
    s.grey();
    s.source(1e44);
    s.edges(30.0f);
    s.g.rho1 = 0.0f;
    genrho(s.g);
    s.direct_field();
    inif(s.g.farr, s.g.jnarr, kSolverNr, kSolverNct, kSolverNnu);
    genl(s.run);
    const double caps = std::cos(static_cast<double>(s.g.ctarr(1)));
    // The source's L_nu (1e46 erg/s/Hz) integrated by the trapezoid on the grid.
    const double r = 1e16;
    double lgrid = 0.0;
    for (int nu = 1; nu < kSolverNnu; ++nu) {
        auto lnu = [&](int k) { return 16.0 * test::kPi * test::kPi * r * r * static_cast<double>(ajn(s.run, 1e16f, 0.0f, s.g.lfarr(k))) / 1e46; };
        lgrid += 0.5 * (lnu(nu) + lnu(nu + 1)) *
                 (std::pow(10.0, static_cast<double>(s.g.lfarr(nu + 1))) - std::pow(10.0, static_cast<double>(s.g.lfarr(nu))));
    }
    for (int ir = 1; ir <= kSolverNr; ++ir) {
        const double l = s.g.larr(ir);
        EXPECT_NEAR(l / static_cast<double>(s.g.larr(1)), 1.0, 1e-5) << ir;
        EXPECT_NEAR(l / (caps * lgrid), 1.0, 2e-3) << ir;
        EXPECT_NEAR(l / (caps * static_cast<double>(s.g.al46tru)), 1.0, 0.07) << ir;
    }
    // The loaded source: 1e44 erg/s, raised by the loader's +-10 % running mean
    // over the curved blackbody (7 %).
    EXPECT_NEAR(s.g.al46tru, 1e-2f, 1e-3f);
}

// With dust the direct field's luminosity falls outward as the source light is
// absorbed, and the extinction power per radius follows alpha J.
TEST(LuminosityPerRadius, DustAbsorbsTheDirectField) {
    DustySphere s;
    s.grey();
    s.source(1e44);
    s.edges(30.0f);
    s.uniform(1.0, 1.001);
    s.direct_field();
    inif(s.g.farr, s.g.jnarr, kSolverNr, kSolverNct, kSolverNnu);
    genl(s.run);
    geny(s.run);
    for (int ir = 2; ir <= kSolverNr; ++ir) EXPECT_LT(s.g.larr(ir), s.g.larr(ir - 1)) << ir;
    // Grey grains of optical depth 1 pass about exp(-1) of the source light.
    EXPECT_NEAR(s.g.larr(kSolverNr) / s.g.larr(1), std::exp(-1.0f), 0.01f);
    // The power the dust takes out of the direct field between two radii is
    // the drop of the luminosity there: 4 pi r^2 y(r) dr / 1e46, y being 4 pi
    // alpha J.
    double taken = 0.0;
    for (int ir = 1; ir < kSolverNr; ++ir) {
        const double r1 = s.g.rarr(ir), r2 = s.g.rarr(ir + 1);
        const double y1 = s.g.yarr(ir), y2 = s.g.yarr(ir + 1);
        taken += 0.5 * (r1 * r1 * y1 + r2 * r2 * y2) * (r2 - r1) * 4.0 * test::kPi / 1e46;
    }
    EXPECT_NEAR(taken / static_cast<double>(s.g.larr(1) - s.g.larr(kSolverNr)), 1.0, 0.03);
}

// The conservation factors, case by case: n = 40, a = 2.
TEST(ConservationFactors, TableOfCases) {
    struct Case {
        const char* name;
        void (*setup)(Vec<float>& y, Vec<float>& l);
        void (*check)(const Vec<float>& sf);
    };
    const Case cases[] = {
        {"luminosity conserved: factor 1 whatever the extinction power",
         [](Vec<float>& y, Vec<float>& l) {
             for (int i = 1; i <= 40; ++i) {
                 y(i) = 1.0f + 0.37f * static_cast<float>(i % 7);
                 l(i) = 2.0f;
             }
         },
         [](const Vec<float>& sf) {
             for (int i = 1; i <= 40; ++i) EXPECT_NEAR(sf(i), 1.0f, 1e-6f) << i;
         }},
        {"half the luminosity everywhere: factor 2",
         [](Vec<float>& y, Vec<float>& l) {
             for (int i = 1; i <= 40; ++i) {
                 y(i) = 3.0f / static_cast<float>(i);
                 l(i) = 1.0f;
             }
         },
         [](const Vec<float>& sf) {
             for (int i = 1; i <= 40; ++i) EXPECT_NEAR(sf(i), 2.0f, 1e-5f) << i;
         }},
        {"no extinction power at a radius: factor 0 there",
         [](Vec<float>& y, Vec<float>& l) {
             for (int i = 1; i <= 40; ++i) {
                 y(i) = 1.0f;
                 l(i) = 1.0f;
             }
             y(17) = 0.0f;
         },
         [](const Vec<float>& sf) {
             EXPECT_EQ(sf(17), 0.0f);
             for (int i = 1; i <= 40; ++i) EXPECT_TRUE(std::isfinite(sf(i))) << i;
         }},
        {"no luminosity at a radius: no infinity, factor 0 where it would divide",
         [](Vec<float>& y, Vec<float>& l) {
             for (int i = 1; i <= 40; ++i) {
                 y(i) = 1.0f;
                 l(i) = 1.0f;
             }
             l(40) = 0.0f;
             l(39) = -0.5f;
             l(12) = 0.0f;
             l(25) = -1e-3f;
         },
         [](const Vec<float>& sf) {
             EXPECT_EQ(sf(40), 0.0f);
             EXPECT_EQ(sf(39), 0.0f);
             EXPECT_EQ(sf(11), 0.0f);
             EXPECT_EQ(sf(24), 0.0f);
             for (int i = 1; i <= 40; ++i) {
                 EXPECT_TRUE(std::isfinite(sf(i))) << i;
                 EXPECT_GE(sf(i), 0.0f) << i;
             }
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Vec<float> sf(40), y(40), l(40);
        c.setup(y, l);
        gensf(sf, y, l, 2.0f, 40);
        c.check(sf);
    }
}

// The two chains inward are independent: the factors at even radii use only
// the extinction power at even radii, and at odd radii only at odd ones.
TEST(ConservationFactors, InterleavedChains) {
    Vec<float> sf(40), y(40), l(40);
    for (int i = 1; i <= 40; ++i) {
        y(i) = 1.0f / static_cast<float>(i * i);
        l(i) = 1.0f + 0.01f * static_cast<float>(i);
    }
    gensf(sf, y, l, 1.5f, 40);
    const Vec<float> before = sf;
    y(21) *= 3.0f;  // changes the odd chain from radius 21 inward
    gensf(sf, y, l, 1.5f, 40);
    int changed = 0;
    for (int i = 1; i <= 40; ++i) {
        if (i % 2 == 0)
            EXPECT_EQ(sf(i), before(i)) << i;
        else if (sf(i) != before(i))
            ++changed;
    }
    EXPECT_EQ(changed, 11);
    EXPECT_EQ(sf(40), 1.5f / l(40));
    EXPECT_EQ(sf(39), 1.5f / l(39));
    // One step of the recursion.
    const float q = y(38) / y(36);
    EXPECT_FLOAT_EQ(sf(36), (1.5f / l(37)) * (1.0f - q) + sf(38) * q);
}

// The rescaled field is never below the direct field, and a factor of 0 resets
// a radius to the direct field.
TEST(Rescaling, ScalesTheMeanIntensityAboveTheDirectField) {
    DustySphere s;
    s.grey();
    s.source(1e44);
    s.edges(30.0f);
    s.uniform(1.0, 1.001);
    s.g.jdarr.fill(0.0f);
    s.direct_field();
    SolverState& g = s.g;
    // A diffuse field of a tenth of the direct field.
    for (int nu = 1; nu <= kSolverNnu; ++nu)
        for (int ict = 1; ict <= kSolverNct; ++ict)
            for (int ir = 1; ir <= kSolverNr; ++ir) {
                g.jdarr(ir, ict, nu, 0) = 0.1f * g.jnarr(ir, ict, nu);
                g.jarr(ir, ict, nu, 0) = g.jnarr(ir, ict, nu) + g.jdarr(ir, ict, nu, 0);
            }
    const FArray<float, 4> j0 = g.jarr;
    for (int ir = 1; ir <= kSolverNr; ++ir) g.sfarr(ir) = 2.0f;
    g.sfarr(5) = 0.0f;   // reset to the direct field
    g.sfarr(6) = 0.5f;   // would fall below the direct field
    genjp(s.run);
    for (int ict = 1; ict <= kSolverNct; ++ict)
        for (int nu = 1; nu <= kSolverNnu; ++nu)
            for (int ir = 1; ir <= kSolverNr; ++ir) {
                const float jn = g.jnarr(ir, ict, nu);
                const float want = ir == 5 || ir == 6 ? jn : 2.0f * j0(ir, ict, nu, 0);
                ASSERT_EQ(g.jarr(ir, ict, nu, 0), want) << ir << " " << ict << " " << nu;
                ASSERT_EQ(g.jdarr(ir, ict, nu, 0), want - jn);
                // The directions of the direct beam are not rescaled.
                ASSERT_EQ(g.jarr(ir, ict, nu, 1), j0(ir, ict, nu, 1));
            }
}

}  // namespace
}  // namespace qv
