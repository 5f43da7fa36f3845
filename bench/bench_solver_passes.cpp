// The cloud solver's temperature pass and source function on the example's
// first cloud type: the MIXMOL mixture of examples/example.par on the
// generator's grain tables, optical depth 10.87 at 1 micron, outer radius
// 16 pc, a 3e4 K blackbody of 1e6 Lsun as the stars inside, settled by the
// initial loop (direct field, temperatures and sublimation, density
// renormalised) before the timing.
//
//   solver/gent_pass          one temperature pass (20 species x 40 radii
//                             searched, the other angles copied)
//   solver/gens_pass          one source function, every species at its
//                             equilibrium temperature (flutmc off)
//   solver/gens_pass_flutmc   the same with the small grains' temperature
//                             distributions (flutmc on; one per small species
//                             and radius)
//   solver/direct_field       gensig, genalf, gentau and genjn of one pass
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "generators.h"
#include "core/console.h"
#include "core/run.h"
#include "dust/grain_mix.h"
#include "numerics/quadrature.h"
#include "solver/central_source.h"
#include "solver/dust_geometry.h"
#include "solver/grain_temperatures.h"
#include "solver/opacities.h"
#include "solver/solver_grains.h"
#include "solver/solver_grids.h"
#include "solver/solver_output.h"
#include "solver/source_function.h"

namespace {

using namespace qv;

std::string mixmol_section() {
    std::ifstream f(std::string(QV_SOURCE_DIR) + "/examples/example.par");
    std::string line, out;
    bool in = false;
    while (std::getline(f, line)) {
        if (line.rfind("MIXMOL", 0) == 0) in = true;
        else if (in && line.empty()) break;
        if (in) out += line + "\n";
    }
    return out;
}

double planck_lambda(double lam_a, double t) {
    const double lam = lam_a * 1e-8;
    const double x = 1.4387769 / (lam * t);
    if (x > 700.0) return 0.0;
    return 2.0 * 6.62607e-27 * 2.99792458e10 * 2.99792458e10 / std::pow(lam, 5.0) / std::expm1(x) * 1e-8;
}

struct ExampleCloud {
    std::filesystem::path dir;
    std::filesystem::path prev;
    std::ostringstream sink;
    Console con;
    Run run{con};
    SolverState& g = run.globals;
    int small_species = 0;
    int passes = 0;  // of the initial loop

    ExampleCloud() {
        con.out = &sink;
        dir = std::filesystem::temp_directory_path() / "qvbench-solver";
        std::filesystem::create_directories(dir);
        prev = std::filesystem::current_path();
        std::filesystem::current_path(dir);
        qvgen::write_grain_tables(dir.string(), qvgen::GrainTables::example);
        std::ofstream(dir / "m.par", std::ios::binary) << mixmol_section();
        run.modname.name = (dir / "m").string();
        run.modname.name_dir = dir.string() + "/";
        taumix::genmix(run, 2);

        g.tgra = 1500.0f;
        g.tsil = 1200.0f;
        g.nom = "tmp0001";
        inppa2(g);
        for (int k = 1; k <= kSolverNsp; ++k) g.tsgra(k) = k <= kSolverNgr ? g.tgra : std::fabs(g.tsil);
        SolverGrainMix& m = run.taumix;
        ntilde(m.agra, m.dgra, m.xgra, g.ntil, kSolverNsp);
        fgrid(g, g.tc, g.grflag);
        genq(run);
        ctgrid(g, g.ctarr, kSolverNct, 1);
        for (int k = 1; k <= kSolverNsp; ++k)
            if (m.agra(k) <= 0.01f) ++small_species;

        // The stars inside the cloud.
        {
            std::ofstream f(dir / "tmp0001.SSP");
            const double l = 3.827e39, t = 3e4;
            for (int i = 0; i < 2000; ++i) {
                const double lam = 50.0 * std::pow(4e6, i / 1999.0);
                const double llam = l * 3.14159265 * planck_lambda(lam, t) / (5.670374e-5 * t * t * t * t) / 1e30;
                char buf[64];
                std::snprintf(buf, sizeof buf, "%.7e %.7e\n", lam, llam);
                f << buf;
            }
        }
        prejnssp(run);
        const float x1 = 2.3025851f * g.lfarr(g.nlf1_ajn), x2 = 2.3025851f * g.lfarr(g.nlf2_ajn);
        g.al46 = quad2d(con, x1, x2, alinf, alsup, [this](float x, float th) { return alint(run, x, th); }, 0.001f);
        g.al46tru = g.al46 * 16.0f * 3.141593f * 3.141593f / 1e16f;

        r0min(run);
        g.taue = 10.87f;
        g.rmsr0 = 16.0f * 3.086e18f;
        g.rmax = outer_radius(g.r0, g.rmsr0);
        rgrid(g.rarr, kSolverNr, g.r0, g.rmax, g.beta);
        SolverLines log;
        normalise_density(run, log);
        genrho(g);
        g.jdarr.fill(0.0f);
        for (int it = 1; it <= 100; ++it) {
            passes = it;
            direct_field();
            gent(run, true);
            const float tau = taurad_reference(run);
            g.rho1 = g.rho1 * g.taue / tau;
            genrho(g);
            if (!g.agflag) break;
        }
        direct_field();
    }
    ~ExampleCloud() {
        std::filesystem::current_path(prev);
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }

    void direct_field() {
        gensig(run, g.sigarr, g.rhoarr, run.taumix.agra, g.ntil, g.rarr, g.rsgra, kSolverNr, kSolverNct,
               kSolverNsp);
        genalf(run, 2);
        gentau(run);
        genjn(run);
    }
};

ExampleCloud& cloud() {
    static ExampleCloud c;
    return c;
}

void gent_pass(benchmark::State& state) {
    ExampleCloud& c = cloud();
    for (auto _ : state) {
        gent(c.run, true);
        benchmark::DoNotOptimize(c.g.tarr.data());
    }
    state.counters["searches"] = kSolverNsp * kSolverNr;
    state.counters["initial_passes"] = c.passes;
}
BENCHMARK(gent_pass)->Name("solver/gent_pass")->Unit(benchmark::kMillisecond);

void gens_pass(benchmark::State& state, bool flutmc) {
    ExampleCloud& c = cloud();
    c.run.modname.flutmc = flutmc;
    for (auto _ : state) {
        gens(c.run);
        if (c.g.outlog.size() > 1000) c.g.outlog.clear();
        benchmark::DoNotOptimize(c.g.sarr.data());
    }
    c.run.modname.flutmc = false;
    state.counters["small_species"] = flutmc ? c.small_species : 0;
}
BENCHMARK_CAPTURE(gens_pass, off, false)->Name("solver/gens_pass")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(gens_pass, flutmc, true)->Name("solver/gens_pass_flutmc")->Unit(benchmark::kMillisecond);

void direct_field_pass(benchmark::State& state) {
    ExampleCloud& c = cloud();
    for (auto _ : state) {
        c.direct_field();
        benchmark::DoNotOptimize(c.g.jarr.data());
    }
}
BENCHMARK(direct_field_pass)->Name("solver/direct_field")->Unit(benchmark::kMillisecond);

}  // namespace
