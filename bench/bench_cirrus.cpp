// The cirrus model's cost centre on a grid of the example model's size: an
// exponential disk (igeo 2, scale lengths 4 kpc, heights 0.4 and 0.2 kpc: 60
// radial, 17 polar and 20 azimuth nodes, 472 target cells of 17936 source cells
// each) on a dust grid of 100 + 18 points, with small grains.
//
//   cirrus/giroy/equatorial  the radiation field at one target cell of the
//                            midplane at mid radius: 17936 pairs (columns,
//                            distances, 118 wavelengths each)
//   cirrus/giroy/all_cells   the same, the target taking each cell of the cell
//                            loop in turn (the average call of a run)
//   cirrus/grains/cell       one cell's grain emission: 40 bins, big grains by
//                            their equilibrium temperature, small grains by two
//                            temperature distributions (the fields of eight
//                            cells in turn, as the loop meets them)
//   cirrus/grains/big_only   the same without small grains (flutflag off)
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "generators.h"
#include "core/console.h"
#include "core/parameters.h"
#include "core/run.h"
#include "dust/dust_grid.h"
#include "dust/cirrus.h"
#include "dust/cirrus_emission.h"
#include "dust/cirrus_field.h"
#include "dust/cirrus_grid.h"
#include "dust/cirrus_light.h"
#include "dust/cirrus_phases.h"
#include "dust/grain_mix.h"
#include "dust/predust.h"

namespace {

using namespace qv;

void write_files(const std::filesystem::path& dir) {
    std::filesystem::create_directories(dir);
    qvgen::write_grain_tables(dir.string(), false);
    std::ofstream(dir / "m.par", std::ios::binary)
        << "MIXDIF\n% key     value\n"
           "amin_gr   8.0e-7\namax_gr   2.5e-5\namin_si   8.0e-7\namax_si   2.5e-5\n"
           "beta1_gr  -3.5\nbeta2_gr  -3.0\nbeta1_si  -3.5\nbeta2_si  -3.0\n"
           "ab_gr     1.0e-6\nab_si     1.0e-6\ncorgra    1.0\ncorsil    1.0\n"
           "xx        7.5e-25\nxh        1.0\n";
}

double planck_lambda(double lam_a, double t) {
    const double lam = lam_a * 1e-8;
    const double x = 1.4387769 / (lam * t);
    if (x > 700.0) return 0.0;
    return 2.0 * 6.62607e-27 * 2.99792458e10 * 2.99792458e10 / std::pow(lam, 5.0) / std::expm1(x) * 1e-8;
}

// The example-size disk through the cirrus model's phases up to the cell loop.
struct ExampleDisk {
    std::filesystem::path dir;
    std::ostringstream sink;
    Console con;
    Run run{con};
    std::vector<std::pair<int, int>> targets;  // the cell loop's order

    ExampleDisk() {
        con.out = &sink;
        dir = std::filesystem::temp_directory_path() / "qvbench-cirrus";
        write_files(dir);
        run.modname.name = (dir / "m").string();
        run.modname.name_dir = dir.string() + "/";
        run.mix.dsug = 0.0089f;
        mix::genmix(run);

        // The dust preparation's grid for the key nlf 100 (no PAH bands) on an SSP
        // grid wide enough that it runs from 10^10.7 to 10^16.25 Hz.
        CloudSetup& c = run.glopalla;
        c.nlf = 100 + 18;
        run.remind.nlam = 2;
        run.remind.wave.resize(2);
        run.remind.wave(1) = 100.0f;
        run.remind.wave(2) = 1e8f;
        pah_band_grid(run.glopah);
        build_dust_grid(run);
        const int nlf = c.nlf;
        c.klama = mix::mixcold(run, 1.0f);
        c.klam = 1.4f * c.klama;

        RunParameters& p = run.parametri;
        p.igeo = 2;
        p.rcstar = p.rcdiff = 1.0f;
        p.rdstar = p.rddiff = 4.0f;
        p.zdstar = 0.4f;
        p.zddiff = 0.2f;
        p.emiflag = true;
        run.remind.ndr = 20;
        run.remind.ncom = 1;
        run.remind.nz = 2;
        run.remind.flutflag = true;
        standard_galaxy_radius(run);

        CirrusRun& cr = run.cirrus;
        cr.disk_like = true;
        cr.ndir = cr.ndir_total = 1;
        cirrus::allocate_cirrus_record(run);
        run.glopdit.ix.resize(nlf);
        run.glopdit.yarr.resize(nlf);
        // Starlight of the example's size: two blackbodies, 7e44 erg/s in all.
        double tot = 0.0;
        std::vector<double> l(nlf + 1);
        for (int i = 1; i <= nlf; ++i) l[i] = planck_lambda(c.ws(i), 2e4) + 300.0 * planck_lambda(c.ws(i), 4500.0);
        for (int i = 1; i < nlf; ++i) tot += 0.5 * (l[i] + l[i + 1]) * static_cast<double>(c.ws(i + 1) - c.ws(i));
        for (int i = 1; i <= nlf; ++i) cr.FORMA(i, 1) = static_cast<float>(l[i] * 7e14 / tot);

        cr.Mdiff = 0.00142f;  // the example's diffuse hydrogen mass
        cirrus::grid_sizes(run);
        cirrus::allocate_grids(run);
        cirrus::grid_nodes(run);
        cirrus::densities(run);
        cirrus::normalise(run);
        cirrus::cross_sections(run);
        cirrus::norma(run);
        cirrus::grain_efficiencies(run);
        cirrus::prepare_field(run);
        cirrus::prepare_grains(run);
        const int ndr = run.remind.ndr, nthe = run.glocold.nthearr;
        for (int it = 2; it <= ndr; ++it)
            for (int jt = (nthe + 1) / 2; jt >= 2; --jt) targets.push_back({it, jt});
    }

    void target(int it, int jt) {
        const CirrusGrid& g = run.glocold;
        CirrusCell& c = run.cirrus.cell;
        c.it = it;
        c.jt = jt;
        c.rt = 0.5f * (g.rarr(it) + g.rarr(it - 1));
        c.thetat = 0.5f * (g.thearr(jt - 1) + g.thearr(jt));
        c.sinthet = std::sin(c.thetat);
        c.costhet = std::cos(c.thetat);
        const Mat<float>& r = g.rhodiffarr2d;
        c.w = (r(it - 1, jt - 1) + r(it, jt - 1) + r(it - 1, jt) + r(it, jt)) / 4.0f;
    }
    void field(int it, int jt) {
        target(it, jt);
        run.glopdit.ix.fill(0.0f);
        cirrus::giroy(run);
    }
    std::int64_t pairs() const {
        return static_cast<std::int64_t>(run.remind.ndr - 1) * (run.glocold.nthearr - 1) * (run.glocold.nphiarr - 1);
    }
};

ExampleDisk& disk() {
    static ExampleDisk d;
    return d;
}

void giroy_equatorial(benchmark::State& st) {
    ExampleDisk& d = disk();
    const int it = d.run.remind.ndr / 2, jt = (d.run.glocold.nthearr + 1) / 2;
    for (auto _ : st) {
        d.field(it, jt);
        benchmark::DoNotOptimize(d.run.glopdit.ix.data());
    }
    st.SetItemsProcessed(st.iterations() * d.pairs());
    st.counters["pairs"] = static_cast<double>(d.pairs());
    st.counters["nlf"] = d.run.glopalla.nlf;
}
BENCHMARK(giroy_equatorial)->Name("cirrus/giroy/equatorial")->Unit(benchmark::kMillisecond);

void giroy_all_cells(benchmark::State& st) {
    ExampleDisk& d = disk();
    std::size_t k = 0;
    for (auto _ : st) {
        d.field(d.targets[k].first, d.targets[k].second);
        benchmark::DoNotOptimize(d.run.glopdit.ix.data());
        if (++k == d.targets.size()) k = 0;
    }
    st.SetItemsProcessed(st.iterations() * d.pairs());
    st.counters["targets"] = static_cast<double>(d.targets.size());
}
BENCHMARK(giroy_all_cells)->Name("cirrus/giroy/all_cells")->Unit(benchmark::kMillisecond);

// The fields of eight cells of the loop, for the grain benchmarks.
struct Fields {
    std::vector<std::vector<float>> ix;
    std::vector<std::pair<int, int>> cells;
    Fields() {
        ExampleDisk& d = disk();
        const int ndr = d.run.remind.ndr, jeq = (d.run.glocold.nthearr + 1) / 2;
        for (int k = 0; k < 8; ++k) {
            const int it = 2 + k * (ndr - 2) / 7, jt = jeq - (k % 4);
            d.field(it, jt);
            const Vec<float>& v = d.run.glopdit.ix;
            ix.emplace_back(v.data(), v.data() + v.extent());
            cells.push_back({it, jt});
        }
    }
};

Fields& fields() {
    static Fields f;
    return f;
}

void cell_grains(benchmark::State& st, bool flut) {
    ExampleDisk& d = disk();
    Fields& f = fields();
    d.run.remind.flutflag = flut;
    std::size_t k = 0;
    for (auto _ : st) {
        d.target(f.cells[k].first, f.cells[k].second);
        std::copy(f.ix[k].begin(), f.ix[k].end(), d.run.glopdit.ix.data());
        d.run.cirrus.EX.fill(0.0f);
        cirrus::grain_emission(d.run);
        benchmark::DoNotOptimize(d.run.cirrus.EX.data());
        if (++k == f.ix.size()) k = 0;
    }
    d.run.remind.flutflag = true;
    int small = 0;
    for (int j = 1; j <= 40; ++j) small += d.run.mix.agra(j) <= 0.01f ? 1 : 0;
    st.counters["small_bins"] = flut ? small : 0;
}
BENCHMARK_CAPTURE(cell_grains, cell, true)->Name("cirrus/grains/cell")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(cell_grains, big_only, false)->Name("cirrus/grains/big_only")->Unit(benchmark::kMillisecond);

}  // namespace
