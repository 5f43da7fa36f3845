// Small-grain temperature distributions and PAH bands in a typical cirrus cell:
// a diluted stellar field of the solar-neighbourhood strength (CHI = 1) on a
// dust grid of 100 + 18 + 120 points from 10^10.7 to 10^16.25 Hz, built as the
// dust preparation builds it.
//
//   pdit/plain     both distributions of a small-grain bin as the cirrus computes
//                  them (0.05-4000 K, then the narrowed range), every level,
//                  rate and cooling integral afresh: the algorithm as written
//   pdit/reuse     the same with the field-independent work kept (the cirrus's
//                  steady state: every bin's ranges met before)
//   pdit/new_plan  the same with nothing kept between calls but the cooling
//                  integrand at its fixed abscissas (a range met for the first time)
//   pah/plain      the 24 PAH bands with the plain integrand
//   pah/reuse      the same with the inner temperature integrals kept (every
//                  cell after the first)
//   pah/first_cell the first cell of a run, which fills them
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../tests/dust/pdit_reference.h"
#include "generators.h"
#include "core/console.h"
#include "core/parameters.h"
#include "core/run.h"
#include "dust/dust_grid.h"
#include "dust/cirrus_emission.h"
#include "dust/pah_emission.h"
#include "dust/temperature_distribution.h"

namespace {

using namespace qv;

double planck_lambda(double lam_a, double t) {
    const double lam = lam_a * 1e-8;
    const double x = 1.4387769 / (lam * t);
    if (x > 700.0) return 0.0;
    return 2.0 * 6.62607e-27 * 2.99792458e10 * 2.99792458e10 / std::pow(lam, 5.0) / std::expm1(x) * 1e-8;
}

// A run set up as the cirrus leaves it before a cell's grains: mixture radii,
// PAH bands, dust grid, field.
struct Cell {
    std::filesystem::path dir;
    std::ostringstream sink;  // the one "somma parr" line
    Console con;
    Run run{con};

    explicit Cell(double chi = 1.0) {
        con.out = &sink;
        dir = std::filesystem::temp_directory_path() / "qvbench-grains";
        std::filesystem::create_directories(dir);
        if (!std::filesystem::exists(dir / "GRA_81")) {
            qvgen::write_grain_tables(dir.string(), false);
        }
        run.modname.name_dir = dir.string() + "/";
        // 20 graphite and 20 silicate radii, 10 Angstrom to 0.25 micron.
        for (int k = 1; k <= 20; ++k) {
            const float a = 1e-3f * std::pow(250.0f, static_cast<float>(k - 1) / 19.0f);
            run.mix.agra(k) = a;
            run.mix.agra(20 + k) = a * 1.3f;
        }
        PahBands& g = run.glopah;
        const float sig[24] = {3.9f, 0.25f, 0.4f, 3.0f, 0.5f, 2.0f, 4.0f, 3.0f, 0.8f, 3.0f, 0.3f, 3.5f,
                               3.0f, 1.2f,  2.0f, 0.8f, 0.8f, 0.2f, 0.1f, 0.3f, 0.5f, 0.15f, 0.1f, 0.2f};
        for (int k = 1; k <= 24; ++k) g.sigmai(k) = sig[k - 1];
        pah_band_grid(g);
        g.xh = 1.0f;
        g.xx = 7.5e-25f;
        // The dust preparation's grid (key nlf 100, with the PAH bands) on an SSP
        // grid wide enough that it runs from 10^10.7 to 10^16.25 Hz.
        run.modname.pahflag = true;
        run.glopalla.nlf = 100 + 18 + 120;
        run.remind.nlam = 2;
        run.remind.wave.resize(2);
        run.remind.wave(1) = 100.0f;
        run.remind.wave(2) = 1e8f;
        build_dust_grid(run);
        const int n = run.glopalla.nlf;
        run.glopdit.ix.resize(n);
        run.glopdit.yarr.resize(n);
        set_field(chi);
    }
    void set_field(double chi) {
        const CloudSetup& c = run.glopalla;
        const int n = c.nlf;
        std::vector<double> v(n + 1);
        for (int i = 1; i <= n; ++i) v[i] = planck_lambda(c.ws(i), 1e4) + 40.0 * planck_lambda(c.ws(i), 4000.0);
        double s = 0.0;
        for (int i = 1; i < n; ++i) s += 0.5 * (v[i] + v[i + 1]) * static_cast<double>(c.ws(i + 1) - c.ws(i));
        for (int i = 1; i <= n; ++i) run.glopdit.ix(i) = static_cast<float>(v[i] * chi * 0.001776893 / s);
    }

    // The cirrus's narrowing of the range to where dP/dT exceeds 1e-12 of its peak.
    void narrow() {
        float lo = 0.0f, hi = 0.0f;
        if (cirrus::narrowed_range(run.glopdit, lo, hi)) {
            run.glopdit.tmin = lo;
            run.glopdit.tmax = hi;
        }
    }

    void two_passes(int igra) {
        TemperatureDistribution& td = run.glopdit;
        td.igra = igra;
        td.tmin = 0.05f;
        td.tmax = 4000.0f;
        glopdit::pdit(run);
        narrow();
        glopdit::pdit(run);
    }
};

constexpr int kBin = 4;  // a graphite bin of 28 Angstrom

void pdit_plain(benchmark::State& st) {
    Cell c;
    c.two_passes(kBin);  // reads the tables
    const float lo = c.run.glopdit.tmin, hi = c.run.glopdit.tmax;
    for (auto _ : st) {
        ref::PditResult r1 = ref::pdit_cirrus(c.run, kBin, 0.05f, 4000.0f);
        ref::PditResult r2 = ref::pdit_cirrus(c.run, kBin, lo, hi);
        benchmark::DoNotOptimize(r1.dpdt.data());
        benchmark::DoNotOptimize(r2.dpdt.data());
    }
}
BENCHMARK(pdit_plain)->Name("pdit/plain")->Unit(benchmark::kMicrosecond);

void pdit_reuse(benchmark::State& st) {
    Cell c;
    c.two_passes(kBin);
    for (auto _ : st) {
        c.two_passes(kBin);
        benchmark::DoNotOptimize(c.run.glopdit.dpdt.data());
    }
}
BENCHMARK(pdit_reuse)->Name("pdit/reuse")->Unit(benchmark::kMicrosecond);

void pdit_new_plan(benchmark::State& st) {
    Cell c;
    c.run.glopdit.reuse.capacity = 0;
    c.two_passes(kBin);
    for (auto _ : st) {
        c.two_passes(kBin);
        benchmark::DoNotOptimize(c.run.glopdit.dpdt.data());
    }
}
BENCHMARK(pdit_new_plan)->Name("pdit/new_plan")->Unit(benchmark::kMicrosecond);

void pah_plain(benchmark::State& st) {
    Cell c;
    std::vector<int> bands;
    for (int k = 1; k <= 24; ++k) bands.push_back(k);
    for (auto _ : st) {
        ref::PahReference r;
        std::vector<float> e = r.pah(c.run, bands);
        benchmark::DoNotOptimize(e.data());
    }
}
BENCHMARK(pah_plain)->Name("pah/plain")->Unit(benchmark::kMillisecond)->Iterations(2);

void pah_reuse(benchmark::State& st) {
    Cell c;
    pah(c.run);
    for (auto _ : st) {
        pah(c.run);
        benchmark::DoNotOptimize(c.run.glopah.epah.data());
    }
}
BENCHMARK(pah_reuse)->Name("pah/reuse")->Unit(benchmark::kMillisecond);

void pah_first_cell(benchmark::State& st) {
    Cell c;
    for (auto _ : st) {
        c.run.qvpah = PahEmissionWork();
        pah(c.run);
        benchmark::DoNotOptimize(c.run.glopah.epah.data());
    }
}
BENCHMARK(pah_first_cell)->Name("pah/first_cell")->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
