// The column density of one (target cell, source cell) pair: the integral that
// the radiation field of the cirrus pays for every pair of cells.
//
// The grid is that of the example model (an exponential disk, igeo 2, scale
// lengths 4 kpc, heights 0.4 and 0.2 kpc: 60 radial, 17 polar and 20 azimuth
// nodes). The target is a cell of the equatorial plane at mid radius; the
// pairs are all its source cells, in the loop's order.
#include <benchmark/benchmark.h>

#include <cmath>
#include <sstream>
#include <vector>

#include "core/console.h"
#include "core/run.h"
#include "dust/predust.h"
#include "dust/cirrus_grid.h"
#include "dust/column_density.h"

namespace {

struct Pair {
    float rt, tt, rs, ts, ps;
    int js, ks;
};

struct DiskGrid {
    std::ostringstream sink;
    qv::Console con;
    qv::Run run{con};
    std::vector<Pair> pairs;
    DiskGrid() {
        con.out = &sink;
        qv::RunParameters& p = run.parametri;
        p.igeo = 2;
        p.rcstar = p.rcdiff = 1.0f;
        p.rdstar = p.rddiff = 4.0f;
        p.zdstar = 0.4f;
        p.zddiff = 0.2f;
        run.remind.ndr = 20;
        run.remind.ncom = 1;
        qv::standard_galaxy_radius(run);
        run.cirrus.Mdiff = 0.002f;
        qv::cirrus::grid_sizes(run);
        qv::cirrus::allocate_grids(run);
        qv::cirrus::grid_nodes(run);
        qv::cirrus::densities(run);
        qv::cirrus::normalise(run);
        const qv::CirrusGrid& g = run.glocold;
        const int ndr = run.remind.ndr, nthe = g.nthearr, nphi = g.nphiarr;
        const int it = ndr / 2, jt = (nthe + 1) / 2;
        const float rt = 0.5f * (g.rarr(it) + g.rarr(it - 1));
        const float tt = 0.5f * (g.thearr(jt - 1) + g.thearr(jt));
        for (int is = 2; is <= ndr; ++is)
            for (int ks = 2; ks <= nphi; ++ks)
                for (int js = 2; js <= nthe; ++js)
                    pairs.push_back({rt, tt, 0.5f * (g.rarr(is) + g.rarr(is - 1)), 0.5f * (g.thearr(js) + g.thearr(js - 1)),
                                     0.5f * (g.phiarr(ks) + g.phiarr(ks - 1)), js, ks});
    }
};

DiskGrid& grid() {
    static DiskGrid g;
    return g;
}

// intrho with the angles of the pair (its own sines and cosines).
void BM_IntrhoPair(benchmark::State& state) {
    DiskGrid& d = grid();
    std::size_t k = 0;
    for (auto _ : state) {
        const Pair& p = d.pairs[k];
        float col = 0.0f;
        qv::protrco::intrho(d.run, p.rt, p.tt, p.rs, p.ts, p.ps, col);
        benchmark::DoNotOptimize(col);
        if (++k == d.pairs.size()) k = 0;
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    state.counters["ndr"] = d.run.remind.ndr;
    state.counters["nthe"] = d.run.glocold.nthearr;
}
BENCHMARK(BM_IntrhoPair);

// The same columns with the sines and cosines of the cell centres from the
// grid's tables, as the pair loop takes them.
void BM_IntrhoPairTables(benchmark::State& state) {
    DiskGrid& d = grid();
    const qv::CirrusGrid& g = d.run.glocold;
    const qv::protrco::ColumnGrid cg = qv::protrco::column_grid(d.run);
    const double st = std::sin(static_cast<double>(d.pairs[0].tt)), ct = std::cos(static_cast<double>(d.pairs[0].tt));
    std::size_t k = 0;
    for (auto _ : state) {
        const Pair& p = d.pairs[k];
        const float col = qv::protrco::intrho_sc(cg, d.run.protrco, p.rt, st, ct, p.rs, g.sin_thec(p.js), g.cos_thec(p.js),
                                                 g.sin_phic(p.ks), g.cos_phic(p.ks));
        benchmark::DoNotOptimize(col);
        if (++k == d.pairs.size()) k = 0;
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_IntrhoPairTables);

// One outward ray of the extinction, from a source cell towards 60 degrees.
void BM_IntrhoextRay(benchmark::State& state) {
    DiskGrid& d = grid();
    const float rmax = d.run.glocold.rarr(d.run.remind.ndr);
    std::size_t k = 0;
    for (auto _ : state) {
        const Pair& p = d.pairs[k];
        float col = 0.0f;
        qv::protrco::intrhoext(d.run, rmax, 10.0f * rmax, 1.0471976f, p.rs, p.ts, p.ps, col);
        benchmark::DoNotOptimize(col);
        if (++k == d.pairs.size()) k = 0;
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_IntrhoextRay);

// The whole column pass of one target (the same cell of the equatorial plane at
// mid radius) over all source cells, as the radiation field makes it: the
// scalar march and the march in vector lanes.
struct TargetPass {
    std::vector<float> rs, out;
    qv::protrco::PairSources src;
    qv::protrco::ColumnGrid cg;
    float rt;
    double st, ct;
    explicit TargetPass(DiskGrid& d) {
        const qv::CirrusGrid& g = d.run.glocold;
        const int ndr = d.run.remind.ndr;
        for (int is = 2; is <= ndr; ++is) rs.push_back(0.5f * (g.rarr(is) + g.rarr(is - 1)));
        src.nr = ndr - 1;
        src.np = g.nphiarr - 1;
        src.nt = g.nthearr - 1;
        src.rs = rs.data();
        src.sin_phi = &g.sin_phic(2);
        src.cos_phi = &g.cos_phic(2);
        src.sin_the = &g.sin_thec(2);
        src.cos_the = &g.cos_thec(2);
        cg = qv::protrco::column_grid(d.run);
        rt = d.pairs[0].rt;
        st = std::sin(static_cast<double>(d.pairs[0].tt));
        ct = std::cos(static_cast<double>(d.pairs[0].tt));
        out.assign(src.pairs(), 0.0f);
    }
};

// Width 0: the scalar path; 4: lanes of AVX2; 8: of AVX-512.
template <int Width>
void BM_TargetColumns(benchmark::State& state) {
    DiskGrid& d = grid();
    TargetPass t(d);
    if (qv::protrco::column_lanes_width() < Width) {
        state.SkipWithError("no vector lanes of this width on this machine");
        return;
    }
    for (auto _ : state) {
        if (Width > 0)
            qv::protrco::target_columns_lanes(t.cg, t.src, t.rt, t.st, t.ct, 0, t.out.data(), d.run.protrco, Width);
        else
            qv::protrco::target_columns_scalar(t.cg, t.src, t.rt, t.st, t.ct, 0, t.out.data(), d.run.protrco);
        benchmark::DoNotOptimize(t.out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * t.src.pairs()));
    state.counters["pairs"] = static_cast<double>(t.src.pairs());
}
BENCHMARK_TEMPLATE(BM_TargetColumns, 0)->Name("BM_TargetColumnsScalar")->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_TargetColumns, 4)->Name("BM_TargetColumnsLanesAVX2")->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_TargetColumns, 8)->Name("BM_TargetColumnsLanesAVX512")->Unit(benchmark::kMicrosecond);

}  // namespace
