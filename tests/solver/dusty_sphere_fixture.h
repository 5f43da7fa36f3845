// A dusty sphere for the tests of the solver's temperatures, opacities, source
// function and luminosity measures: the mode-2 parameters and grids, a
// blackbody central source written as <stem>.SSP and loaded as a solve loads
// it, 10 graphite and 10 silicate species, and either grey efficiency tables
// (Qabs and Qsca constant) or the efficiencies of a set of grain tables.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "core/run.h"
#include "core/stop.h"
#include "numerics/quadrature.h"
#include "solver/central_source.h"
#include "solver/dust_geometry.h"
#include "solver/grain_temperatures.h"
#include "solver/opacities.h"
#include "solver/solver_grains.h"
#include "solver/solver_grids.h"
#include "solver/solver_output.h"
#include "solver/solver_state.h"
#include "support/test_support.h"

namespace qv::test {

inline constexpr double kSigmaSB = 5.670374e-5;  // erg s^-1 cm^-2 K^-4
inline constexpr double kPi = 3.14159265358979;

// The radius where a grey grain in the light of a point source of luminosity L
// (erg/s) reaches the temperature t: L / (16 pi r^2) = sigma t^4.
inline double grey_radius(double l, double t) { return std::sqrt(l / (16.0 * kPi * kSigmaSB * t * t * t * t)); }

// B_lambda (erg s^-1 cm^-2 A^-1 sr^-1) at lambda in Angstrom.
inline double planck_lambda_a(double lam_a, double t) {
    const double lam = lam_a * 1e-8;
    const double x = 1.4387769 / (lam * t);
    if (x > 700.0) return 0.0;
    return 2.0 * 6.62607e-27 * 2.99792458e10 * 2.99792458e10 / std::pow(lam, 5.0) / std::expm1(x) * 1e-8;
}

struct DustySphere {
    TempDir dir;
    CapturedConsole cc;
    Run run{cc.con};
    SolverState& g = run.globals;

    DustySphere() {
        g.tgra = 1500.0f;
        g.tsil = 1200.0f;
        inppa2(g);
        g.nom = "cloud";
        fgrid(g, 0.0f, 1);
        ctgrid(g, g.ctarr, kSolverNct, 1);
        for (int k = 1; k <= kSolverNsp; ++k) g.tsgra(k) = k <= kSolverNgr ? g.tgra : std::fabs(g.tsil);
        // Radii from 0.02 to 0.25 micron in each material, equal mass fractions.
        SolverGrainMix& m = run.taumix;
        for (int k = 1; k <= kSolverNsp; ++k) {
            const int j = (k - 1) % kSolverNgr;
            m.agra(k) = 0.02f * std::pow(12.5f, static_cast<float>(j) / 9.0f);
            m.dgra(k) = k <= kSolverNgr ? 2.26f : 3.3f;
            m.xgra(k) = 0.05f;
        }
        ntilde(m.agra, m.dgra, m.xgra, g.ntil, kSolverNsp);
        run.glopahtau.xx = 0.0f;
    }

    // Efficiencies the same at every frequency for every species.
    void grey(float qabs = 1.0f, float qsca = 1e-3f) {
        for (int k = 1; k <= kSolverNsp; ++k)
            for (int nu = 1; nu <= kSolverNnu; ++nu) {
                g.qaarr(nu, k) = qabs;
                g.qsarr(nu, k) = qsca;
                g.qearr(nu, k) = qabs + qsca;
            }
    }

    // The efficiencies of the grain tables in data_dir (with the trailing "/").
    void tables(const std::string& data_dir) {
        run.modname.name_dir = data_dir;
        ntilde(run.taumix.agra, run.taumix.dgra, run.taumix.xgra, g.ntil, kSolverNsp);
        genq(run);
    }

    // A blackbody source of luminosity l (erg/s) and temperature t (K), written
    // to <stem>.SSP and loaded; al46tru as the driver integrates it.
    void source(double l, double t = 2.5e4) {
        // Dense enough that the table's own spacing (0.4 %) adds little to the
        // +-10 % running mean of the loader.
        std::string text;
        const int n = 4000;
        for (int i = 0; i < n; ++i) {
            const double lam = 50.0 * std::pow(4e6, i / (n - 1.0));  // 50 A .. 2e8 A
            const double llam = l * kPi * planck_lambda_a(lam, t) / (kSigmaSB * t * t * t * t) / 1e30;
            char buf[64];
            std::snprintf(buf, sizeof buf, "%.7e %.7e\n", lam, llam);
            text += buf;
        }
        write_text("cloud.SSP", text);
        prejnssp(run);
        const float x1 = 2.3025851f * g.lfarr(g.nlf1_ajn), x2 = 2.3025851f * g.lfarr(g.nlf2_ajn);
        g.al46 = quad2d(run.con, x1, x2, alinf, alsup, [this](float x, float th) { return alint(run, x, th); },
                        0.001f);
        g.al46tru = g.al46 * 16.0f * 3.141593f * 3.141593f / 1e16f;
    }

    // Inner edges, outer radius and radial grid.
    void edges(float rmsr0) {
        r0min(run);
        g.rmsr0 = rmsr0;
        g.rmax = outer_radius(g.r0, rmsr0);
        rgrid(g.rarr, kSolverNr, g.r0, g.rmax, g.beta);
    }

    // Inner edges at fraction f of r0 for every species, without a source.
    void fixed_edges(float r0, float rmsr0, float f = 0.99f) {
        g.r0 = r0;
        g.rmsr0 = rmsr0;
        g.rmax = outer_radius(r0, rmsr0);
        rgrid(g.rarr, kSolverNr, g.r0, g.rmax, g.beta);
        for (int ict = 1; ict <= kSolverNct; ++ict)
            for (int c = 1; c <= kSolverNsp + 1; ++c) g.rsgra(ict, c) = f * r0;
    }

    // The geometric optical depth per unit dust mass column of the grey grains
    // (cm^2 per g of dust) with extinction efficiency qext.
    double grey_opacity(double qext) const {
        double s = 0.0;
        for (int k = 1; k <= kSolverNsp; ++k)
            s += qext * 7500.0 * static_cast<double>(run.taumix.xgra(k)) / static_cast<double>(run.taumix.agra(k)) /
                 static_cast<double>(run.taumix.dgra(k));
        return s;
    }

    // A uniform density with the grain optical depth tau from r0 to rmax.
    void uniform(double tau, double qext) {
        g.rho1 = static_cast<float>(tau / (grey_opacity(qext) * static_cast<double>(g.rmax - g.r0)));
        genrho(g);
    }

    void direct_field() {
        gensig(run, g.sigarr, g.rhoarr, run.taumix.agra, g.ntil, g.rarr, g.rsgra, kSolverNr, kSolverNct,
               kSolverNsp);
        genalf(run, 2);
        gentau(run);
        genjn(run);
    }

    // The initial loop: direct field and temperatures until no species
    // sublimates; returns the number of passes. each(pass) runs after every pass.
    template <class F>
    int initial_loop(F&& each) {
        for (int it = 1; it <= 100; ++it) {
            direct_field();
            gent(run, true);
            each(it);
            if (!g.agflag) return it;
        }
        return 101;
    }
    int initial_loop() {
        return initial_loop([](int) {});
    }

    std::vector<std::string> stop_lines(void (*f)(DustySphere&)) {
        try {
            f(*this);
        } catch (const Stop& s) {
            return s.lines;
        }
        ADD_FAILURE() << "no stop";
        return {};
    }
};

}  // namespace qv::test
