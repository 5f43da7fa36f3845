// The solver's dust geometry: dust-free cones, the density law and grid, the
// optical depth along a direction, the shape factor, and the normalisation of
// the density to the requested optical depth on both sides of 1e-4.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "core/stop.h"
#include "io/format.h"
#include "solver/dust_geometry.h"
#include "solver/solver_fixture.h"
#include "solver/solver_grains.h"

namespace qv {
namespace {

using test::SolverRun;
using test::stop_text;

double d(float v) { return static_cast<double>(v); }

// tau along the equator at log10 nu lf for a uniform sphere, species k's dust
// starting at edge(k), from the grey efficiencies of the run.
double expected_tau(SolverRun& s, float lf, const std::vector<double>& edge) {
    const SolverGrainMix& m = s.run.taumix;
    double tau = 0.0;
    for (int k = 1; k <= kSolverNsp; ++k) {
        const double q = d(qa(s.run, lf, k, m.agra, 20, 10)) + d(qs(s.run, lf, k, m.agra, 20, 10));
        const double len = std::max(0.0, d(s.g.rmax) - std::max(edge[k - 1], d(s.g.r0)));
        tau += q * 7500.0 * d(m.xgra(k)) * d(s.g.rho1) * len / d(m.agra(k)) / d(m.dgra(k));
    }
    return tau;
}

TEST(SolverGeometry, DustFreeConesOnlyWithAnOpeningAngle) {
    SolverState g;
    for (float t : {0.0f, 0.01f, 1.5707964f, 3.141593f}) EXPECT_FALSE(theta_out(g, t)) << t;
    g.cthe1 = 0.3f;
    struct Case {
        float theta;
        bool out;
    };
    for (const Case& c : {Case{0.0f, true}, Case{0.29f, true}, Case{0.3f, false}, Case{1.5f, false},
                          Case{2.84f, false}, Case{2.85f, true}})
        EXPECT_EQ(theta_out(g, c.theta), c.out) << c.theta;
}

TEST(SolverGeometry, UniformSphereDensityGridAndShapeFactor) {
    SolverRun s;
    s.sphere(1e17f, 1e19f, 2.5e-21f);
    genrho(s.g);
    for (int ir = 1; ir <= kSolverNr; ++ir)
        for (int ict = 1; ict <= kSolverNct; ++ict) ASSERT_EQ(s.g.rhoarr(ir, ict), 2.5e-21f) << ir << " " << ict;
    shape_factor(s.g);
    // The trapezoid in cos(theta) between the first and last cell centres.
    double num = 0.0, den = 0.0;
    for (int j = 1; j < kSolverNct; ++j) {
        const double a = std::cos(d(s.g.ctarr(j))), b = std::cos(d(s.g.ctarr(j + 1)));
        num += (a * a + b * b) * (a - b);
        den += 2.0 * (a - b);
    }
    EXPECT_NEAR(d(s.g.shafac), num / den, 1e-5);
    EXPECT_NEAR(d(s.g.shafac), 0.3316, 5e-4);
    EXPECT_LT(s.g.shafac, 1.0f / 3.0f);
}

TEST(SolverGeometry, ShapeFactorKeptWithoutDust) {
    SolverRun s;
    s.sphere(1e17f, 1e19f, 0.0f);
    genrho(s.g);
    s.g.shafac = 0.42f;
    shape_factor(s.g);
    EXPECT_EQ(s.g.shafac, 0.42f);
}

TEST(SolverGeometry, GeneralLawMirrorsTheUpperHemisphere) {
    SolverRun s;
    s.sphere(1e17f, 1e19f, 1e-20f);
    s.g.alpha = 1.5f;
    s.g.beta = 2.0f;
    s.g.r1 = 1e17f;
    s.g.cthe1 = 0.2f;
    genrho(s.g);
    for (int ir = 1; ir <= kSolverNr; ++ir) {
        EXPECT_EQ(s.g.rhoarr(ir, 1), 0.0f);  // ctarr(1) = 0.097 lies in the cone
        for (int ict = 2; ict <= 12; ++ict) {
            const double law = 1e-20 * std::pow(1e17 / d(s.g.rarr(ir)), 2.0) *
                               std::exp(-1.5 * std::fabs(std::cos(d(s.g.ctarr(ict)))));
            EXPECT_NEAR(d(s.g.rhoarr(ir, ict)), law, 1e-5 * law) << ir << " " << ict;
            EXPECT_EQ(s.g.rhoarr(ir, 25 - ict), s.g.rhoarr(ir, ict)) << ir << " " << ict;
        }
    }
    s.g.simequ = false;
    genrho(s.g);
    for (int ict = 13; ict <= kSolverNct; ++ict) EXPECT_EQ(s.g.rhoarr(5, ict), 0.0f) << ict;
}

TEST(SolverGeometry, OpticalDepthOfAUniformSphere) {
    SolverRun s;
    s.sphere(1e17f, 1e19f, 1e-21f);
    const float lf = std::log10(3e14f);
    float tau = -1.0f;
    taurad(s.run, lf, 1.5707964f, s.g.cthe1, s.g.ctarr, s.run.taumix.agra, s.run.taumix.dgra,
           s.run.taumix.xgra, s.g.rsgra, 20, 10, 24, tau);
    const double expected = expected_tau(s, lf, std::vector<double>(20, 1e17));
    EXPECT_NEAR(d(tau), expected, 1e-5 * expected);
    EXPECT_EQ(taurad_reference(s.run), tau);
    // The same along any direction of the sphere; none in a dust-free cone.
    float t2 = 0.0f;
    taurad(s.run, lf, 0.5f, s.g.cthe1, s.g.ctarr, s.run.taumix.agra, s.run.taumix.dgra,
           s.run.taumix.xgra, s.g.rsgra, 20, 10, 24, t2);
    EXPECT_NEAR(d(t2), expected, 1e-5 * expected);
    s.g.cthe1 = 0.6f;
    taurad(s.run, lf, 0.5f, s.g.cthe1, s.g.ctarr, s.run.taumix.agra, s.run.taumix.dgra,
           s.run.taumix.xgra, s.g.rsgra, 20, 10, 24, t2);
    EXPECT_EQ(t2, 0.0f);
}

TEST(SolverGeometry, SpeciesEdgesBeyondR0AndBeyondRmax) {
    SolverRun s;
    s.sphere(1e17f, 1e19f, 1e-21f);
    std::vector<double> edge(20, 1e17);
    // Species 3 starts half-way out; species 12 and 15 beyond the outer radius.
    edge[2] = 5e18;
    edge[11] = 2e19;
    edge[14] = 1e20;
    for (int k : {3, 12, 15})
        for (int i = 1; i <= kSolverNct; ++i) s.g.rsgra(i, 1 + k) = static_cast<float>(edge[k - 1]);
    const float lf = 14.0f;
    float tau = 0.0f;
    taurad(s.run, lf, 1.5707964f, s.g.cthe1, s.g.ctarr, s.run.taumix.agra, s.run.taumix.dgra,
           s.run.taumix.xgra, s.g.rsgra, 20, 10, 24, tau);
    const double expected = expected_tau(s, lf, edge);
    EXPECT_NEAR(d(tau), expected, 1e-5 * expected);
    // Without the two species beyond rmax, what remains is positive and smaller
    // than the full sphere's depth.
    EXPECT_LT(d(tau), expected_tau(s, lf, std::vector<double>(20, 1e17)));
}

TEST(SolverGeometry, DensityNormalisedToTaueOnBothSidesOfTheOldThreshold) {
    for (float taue : {9.9e-5f, 1.0e-4f, 1.01e-4f, 0.3f, 40.0f}) {
        SolverRun s;
        s.sphere(1e17f, 1e19f, 123.0f);
        s.g.taue = taue;
        SolverLines log;
        normalise_density(s.run, log);
        EXPECT_EQ(s.g.taue, taue);  // never replaced
        const float tau = taurad_reference(s.run);
        EXPECT_NEAR(d(tau), d(taue), 1e-5 * d(taue)) << taue;
        // A uniform sphere: rho1 = taue over the depth of unit density.
        const double unit = expected_tau(s, std::log10(3e14f), std::vector<double>(20, 1e17)) / d(s.g.rho1);
        EXPECT_NEAR(d(s.g.rho1), d(taue) / unit, 1e-5 * d(s.g.rho1)) << taue;
        ASSERT_EQ(log.size(), 2u) << taue;
        EXPECT_EQ(log[0], "");
        EXPECT_EQ(log[1], fio::write_line("('Pongo RHO1 = ',G15.4)", {s.g.rho1}));
    }
}

TEST(SolverGeometry, RenormalisationHoldsTaueWhenEdgesMoveOut) {
    SolverRun s;
    s.sphere(1e17f, 1e19f);
    s.g.taue = 2.0f;
    SolverLines log;
    normalise_density(s.run, log);
    genrho(s.g);
    const float rho_before = s.g.rho1;
    // The graphite species sublimate out to 3e18 cm: less dust along the ray.
    for (int k = 1; k <= 10; ++k)
        for (int i = 1; i <= kSolverNct; ++i) s.g.rsgra(i, 1 + k) = 3e18f;
    const float tau_moved = taurad_reference(s.run);
    log.clear();
    renormalise_density(s.run, log);
    EXPECT_GT(s.g.rho1, rho_before);
    EXPECT_NEAR(d(taurad_reference(s.run)), 2.0, 2e-5);
    EXPECT_EQ(s.g.rhoarr(7, 19), s.g.rho1);  // the grid follows the new density
    const std::vector<std::string> expected = {
        "", fio::write_line("('TAUE = ',G15.4,'a ',F10.3,' micron')", {tau_moved, 1.0f}),
        "", fio::write_line("('Pongo RHO1 = ',G15.4)", {s.g.rho1})};
    EXPECT_EQ(log, expected);
    EXPECT_EQ(log[1].substr(0, 7), "TAUE = ");
    EXPECT_EQ(log[1].substr(22), "a      1.000 micron");

    // Every species sublimated out to the outer radius: a stop, not an infinite density.
    for (int k = 1; k <= 20; ++k)
        for (int i = 1; i <= kSolverNct; ++i) s.g.rsgra(i, 1 + k) = s.g.rmax;
    EXPECT_THROW(renormalise_density(s.run, log), Stop);
}

TEST(SolverGeometry, NormalisationRefusesWhatNoDensityCanGive) {
    {
        SolverRun s;
        s.sphere(1e17f, 1e19f);
        for (float taue : {0.0f, -1.0f}) {
            s.g.taue = taue;
            SolverLines log;
            try {
                normalise_density(s.run, log);
                ADD_FAILURE() << "no stop for TAUE " << taue;
            } catch (const Stop& e) {
                EXPECT_NE(stop_text(e).find("TAUE"), std::string::npos) << stop_text(e);
            }
        }
    }
    {
        // Every species' edge beyond the outer radius: no optical depth at all.
        SolverRun s;
        s.sphere(1e17f, 1e19f);
        for (int i = 1; i <= kSolverNct; ++i)
            for (int j = 1; j <= kSolverNsp + 1; ++j) s.g.rsgra(i, j) = 5e19f;
        s.g.taue = 1.0f;
        SolverLines log;
        EXPECT_EQ(taurad_reference(s.run), 0.0f);
        EXPECT_THROW(normalise_density(s.run, log), Stop);
    }
}

}  // namespace
}  // namespace qv
