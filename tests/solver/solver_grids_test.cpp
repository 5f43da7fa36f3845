// The solver's fixed grids: the frequency grid's fixed points and ordering, the
// radial grid and its outer-radius rule, the polar grid and the direction weights.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "core/stop.h"
#include "solver/solver_fixture.h"
#include "solver/solver_grids.h"
#include "solver/solver_state.h"

namespace qv {
namespace {

using test::stop_text;

TEST(SolverFrequencyGrid, CheckpointsAndStrictAscent) {
    SolverState g;
    fgrid(g, 0.0f, 1);
    struct Point {
        int i;
        float lf;
    };
    for (const Point& p : {Point{1, 10.5f}, Point{9, 12.9f}, Point{10, 13.077f}, Point{18, 13.2771f},
                           Point{23, 13.401f}, Point{38, 13.777f}, Point{39, 13.933f},
                           Point{54, 16.3f}})
        EXPECT_EQ(g.lfarr(p.i), p.lf) << "lfarr(" << p.i << ")";
    for (int i = 1; i < kSolverNnu; ++i) EXPECT_LT(g.lfarr(i), g.lfarr(i + 1)) << i;
    // The 29 close values lie between lflocg(9) = 12.9 and lflocg(10) = 13.933.
    for (int i = 10; i <= 38; ++i) {
        EXPECT_GT(g.lfarr(i), 12.9f);
        EXPECT_LT(g.lfarr(i), 13.933f);
    }
}

TEST(SolverFrequencyGrid, OnlyTheFixedGridIsBuilt) {
    SolverState g;
    EXPECT_THROW(fgrid(g, 0.0f, 0), Stop);
}

TEST(SolverRadialGrid, GeometricForBetaZeroEndingBelowRmax) {
    Vec<float> r(kSolverNr);
    const float r0 = 2.0e17f, rmax = 2.0e19f;
    rgrid(r, kSolverNr, r0, rmax, 0.0f);
    EXPECT_EQ(r(1), r0);
    EXPECT_EQ(r(kSolverNr), 0.9999f * rmax);
    for (int i = 1; i < kSolverNr; ++i) EXPECT_LT(r(i), r(i + 1)) << i;
    // r(i+1) = r0 (rmax/r0)^(i/39) below the last point.
    for (int i = 0; i < kSolverNr - 1; ++i)
        EXPECT_NEAR(std::log10(r(i + 1)), static_cast<double>(std::log10(r0)) + 2.0 * i / 39.0, 1e-5) << i;
}

TEST(SolverRadialGrid, BetaCrowdsThePointsInward) {
    Vec<float> flat(kSolverNr), steep(kSolverNr);
    rgrid(flat, kSolverNr, 1e17f, 1e19f, 0.0f);
    rgrid(steep, kSolverNr, 1e17f, 1e19f, 2.0f);
    for (int i = 2; i < kSolverNr; ++i) EXPECT_LT(steep(i), flat(i)) << i;
    for (int i = 1; i < kSolverNr; ++i) EXPECT_LT(steep(i), steep(i + 1)) << i;
}

TEST(SolverOuterRadius, RatioUpToOneMillionThenThickness) {
    struct Case {
        float r0, rmsr0, rmax;
    };
    for (const Case& c : {Case{1e17f, 100.0f, 1e19f}, Case{1e17f, 1.01f, 1.01e17f},
                          Case{1e10f, 1.0e6f, 1e16f}, Case{1e10f, 2.0e8f, 1.02e10f},
                          Case{1e17f, 3.0e18f, 3.1e18f}})
        EXPECT_FLOAT_EQ(outer_radius(c.r0, c.rmsr0), c.rmax) << c.rmsr0;
}

TEST(SolverOuterRadius, GridThatWouldNotAscendStopsNamingRmsr0) {
    struct Case {
        float r0, rmsr0;
    };
    // Not positive; a ratio below 1.01; a thickness below 0.01 r0.
    for (const Case& c : {Case{1e17f, 0.0f}, Case{1e17f, -5.0f}, Case{1e17f, 1.0f},
                          Case{1e17f, 1.005f}, Case{1e18f, 2.0e6f}, Case{1e18f, 9.0e15f}}) {
        try {
            outer_radius(c.r0, c.rmsr0);
            ADD_FAILURE() << "no stop for RMSR0 " << c.rmsr0;
        } catch (const Stop& s) {
            EXPECT_NE(stop_text(s).find("RMSR0"), std::string::npos) << stop_text(s);
        }
    }
}

TEST(SolverPolarGrid, CentresMirrorAndCrowdTowardTheEquator) {
    SolverState g;
    ctgrid(g, g.ctarr, kSolverNct, 1);
    EXPECT_NEAR(g.ctarr(1), 0.09726f, 2e-5f);
    EXPECT_NEAR(g.ctarr(12), 1.52986f, 2e-5f);
    EXPECT_NEAR(g.ctarr(13), 1.61173f, 2e-5f);
    EXPECT_NEAR(g.ctarr(24), 3.04433f, 2e-5f);
    for (int j = 1; j <= kSolverNct; ++j) EXPECT_NEAR(g.ctarr(25 - j), 3.141593f - g.ctarr(j), 2e-6f) << j;
    // Cells shrink toward the equator.
    for (int j = 1; j < 12; ++j)
        EXPECT_GT(g.ctarr(j + 1) - g.ctarr(j), g.ctarr(j + 2) - g.ctarr(j + 1) - 1e-6f) << j;
    // The cells tile the sphere: edges rebuilt from the centres (b0 = 0) give
    // solid angles summing to 4 pi, 2 pi per hemisphere.
    double b = 0.0, hemi = 0.0;
    for (int j = 1; j <= 12; ++j) {
        const double nb = 2.0 * static_cast<double>(g.ctarr(j)) - b;
        hemi += 2.0 * M_PI * (std::cos(b) - std::cos(nb));
        b = nb;
    }
    EXPECT_NEAR(b, M_PI / 2.0, 1e-5);
    EXPECT_NEAR(hemi, 2.0 * M_PI, 1e-4);
}

TEST(SolverDirections, WeightsAddUpToTwoPiAndBandsSharePolarAngles) {
    SolverState g;
    double s = 0.0;
    for (int d = 1; d <= kSolverNdir; ++d) s += static_cast<double>(g.omespi(d));
    EXPECT_NEAR(s, 2.0 * M_PI, 2e-4);
    EXPECT_EQ(g.thespi(1), 0.262f);
    EXPECT_EQ(g.phispi(26), 2.356f);
    // Six bands: a new polar angle starts directions 1, 3, 8, 14, 20 and 25.
    int starts = 0;
    for (int d = 2; d <= kSolverNdir; ++d) starts += g.thespi(d) != g.thespi(d - 1);
    EXPECT_EQ(starts, 5);
    EXPECT_EQ(g.lflocg(10), 13.933f);
    EXPECT_EQ(g.nctmez, 12);
    EXPECT_EQ(g.nlf1_ajn, 1);
    EXPECT_EQ(g.nlf2_ajn, 54);
}

TEST(SolverState, LargeFieldsStayFarBelowTensOfMegabytes) {
    SolverState g;
    const std::size_t bytes = (g.jarr.size() + g.jdarr.size() + g.sarr.size()) * sizeof(float);
    EXPECT_LT(bytes, 8u << 20);
    EXPECT_EQ(g.jdarr.lbound(3), 0);
    EXPECT_EQ(g.jdarr.ubound(3), 26);
    EXPECT_EQ(g.farr.lbound(2), 0);
    EXPECT_EQ(g.spdarr.lbound(1), 0);
}

}  // namespace
}  // namespace qv
