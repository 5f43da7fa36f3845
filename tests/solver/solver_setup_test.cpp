// The first steps of a mode-2 solve with the example data generator's files:
// output settings, parameters, grain tables, grids, the central source, the
// outer radius, and the density normalised to the requested optical depth.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "solver/central_source.h"
#include "solver/dust_geometry.h"
#include "solver/solver_fixture.h"
#include "solver/solver_grains.h"
#include "solver/solver_grids.h"
#include "solver/solver_output.h"

namespace qv {
namespace {

TEST(SolverSetup, ModeTwoSphereFromTheExampleSettings) {
    test::SolverRun s(test::solver_plane_dir());
    SolverState& g = s.g;
    g.taue = 5.0f;
    g.rmsr0 = 200.0f;
    test::write_text("tmp1234.SSP", [] {
        std::string t;
        for (int i = 0; i < 1500; ++i) {
            const double lam = 91.2 * std::pow(1e7 / 91.2, i / 1499.0);
            char buf[64];
            std::snprintf(buf, sizeof buf, "%12.5E %12.5E\n", lam, 1e5 * std::pow(lam / 1000.0, -2.0));
            t += buf;
        }
        return t;
    }());

    inpof(s.run.modname, g.outfla, 14, g.dirarr, 10, g.ncted, g.lamarr, 54, g.nmapd, 2);
    EXPECT_TRUE(g.outfla[13]);
    EXPECT_FALSE(g.outfla[14]);
    g.outlog.clear();
    outpar(g, g.outlog);
    const SolverGrainMix& m = s.run.taumix;
    ntilde(m.agra, m.dgra, m.xgra, g.ntil, 20);
    outarr(g.ntil, 20, g.outlog, "NTIL  ", g.outfla[2]);
    genq(s.run);
    prejnssp(s.run);
    // The table ends at 91.2 A and 1e7 A, inside the grid; beyond them log10 L_nu
    // is extrapolated linearly, so the whole grid has a positive source.
    EXPECT_EQ(g.nlf1_ajn, 1);
    EXPECT_EQ(g.nlf2_ajn, 54);

    g.r0 = 3e16f;  // the sublimation radius the temperature step would give
    for (int i = 1; i <= kSolverNct; ++i)
        for (int j = 1; j <= kSolverNsp + 1; ++j) g.rsgra(i, j) = g.r0;
    g.rmax = outer_radius(g.r0, g.rmsr0);
    EXPECT_FLOAT_EQ(g.rmax, 6e18f);
    rgrid(g.rarr, 40, g.r0, g.rmax, g.beta);
    normalise_density(s.run, g.outlog);
    genrho(g);
    shape_factor(g);

    EXPECT_NEAR(taurad_reference(s.run), 5.0f, 5e-5f);
    EXPECT_EQ(g.rhoarr(1, 1), g.rho1);
    EXPECT_EQ(g.rhoarr(40, 24), g.rho1);
    EXPECT_NEAR(g.shafac, 0.3316f, 5e-4f);
    // The log: the parameter block (flag 2 is off: no NTIL block), then the density.
    ASSERT_EQ(g.outlog.size(), 27u);
    EXPECT_EQ(g.outlog[1], "IGEO  =          0 0 = toro - 1 = coni");
    EXPECT_EQ(g.outlog[10], "TAUE  =   5.00    ");
    EXPECT_EQ(g.outlog[5], "RMSR0 =   200.    ");
    EXPECT_EQ(g.outlog[26].substr(0, 13), "Pongo RHO1 = ");
}

}  // namespace
}  // namespace qv
