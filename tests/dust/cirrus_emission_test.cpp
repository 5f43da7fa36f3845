// The grain emission of the cirrus: big grains at their equilibrium
// temperature, small grains with their temperature distribution, and the cell
// loop (the selection of the cells, the sum into ETOT, the CHI lines, the stops).
#include <gtest/gtest.h>
#include <omp.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <functional>
#include <cmath>
#include <string>
#include <vector>

#include "core/run.h"
#include "core/stop.h"
#include "dust/cirrus.h"
#include "dust/cirrus_emission.h"
#include "dust/cirrus_fixture.h"
#include "dust/cirrus_grid.h"
#include "dust/cirrus_light.h"
#include "dust/cirrus_phases.h"
#include "dust/grain_optics.h"
#include "dust/pdit_fixture.h"
#include "io/format.h"
#include "numerics/roots_sort.h"
#include "support/test_support.h"

namespace qv {
namespace {

using test::contains;

// The trapezoid over ws in 8-byte reals.
double trapz(const Run& run, const float* f) {
    const Vec<float>& ws = run.glopalla.ws;
    double s = 0.0;
    for (int i = 1; i < run.glopalla.nlf; ++i)
        s += 0.5 * (double(f[i - 1]) + double(f[i])) * (double(ws(i + 1)) - double(ws(i)));
    return s;
}

TEST(CirrusEmissionPlanck, KeptFactorsGiveTheNumbersOfPlanck) {
    for (float x : {10.7f, 12.3456f, 13.9f, 14.47712f, 15.2f, 16.25f, 5e10f, 2.99e13f, 1.1e15f, 3.3e16f})
        for (float t : {-1.0f, 0.0f, 0.05f, 0.1f, 2.7f, 18.0f, 150.0f, 1000.0f, 4000.0f}) {
            SCOPED_TRACE(testing::Message() << x << " " << t);
            EXPECT_EQ(planck_at(planck_nu(x), t), planck(x, t));
        }
}

// A cell's grains in a diluted stellar field on the dust grid of the dust
// preparation (100 + 18 points), with the example grain tables.
struct GrainCell {
    test::GrainRun g{test::small_grain_keys(), test::example_grain_dir(), 100, false};
    Run& run = g.run;
    explicit GrainCell(double chi = 1.0) {
        const int nlf = run.glopalla.nlf;
        run.tequi.qabsw.resize(nlf, 40);
        run.cirrus.QEFFW.resize(nlf, 40);
        run.cirrus.EX.resize(nlf);
        run.cirrus.EM.resize(nlf);
        cirrus::grain_efficiencies(run);
        test::set_field(run, chi);
    }
    void bin(int j, float ngr = 1e-20f) {
        CirrusCell& c = run.cirrus.cell;
        const float a = run.mix.agra(j) * 1e-4f;
        c.arad = a;
        c.sigma = 3.141593f * (a * a);
        c.ngr = ngr;
        run.cirrus.EX.fill(0.0f);
    }
    // The power the bin absorbs, per grain (without the factor 4 pi).
    double absorbed(int j) const {
        const int nlf = run.glopalla.nlf;
        std::vector<float> f(nlf);
        for (int i = 1; i <= nlf; ++i) f[i - 1] = run.cirrus.QEFFW(i, j) * run.glopdit.ix(i);
        return double(run.cirrus.cell.sigma) * trapz(run, f.data());
    }
};

// Every big-grain bin emits what it absorbs: the integral of its spectrum over
// wavelength against n_j pi a^2 aint1 (both over 4 pi sr), within the
// difference of the two trapezoids (over wavelength and over frequency) and the
// 0.2 K accuracy of the temperature.
TEST(CirrusEmissionBigGrains, EmitWhatTheyAbsorb) {
    for (double chi : {1.0, 300.0}) {
        SCOPED_TRACE(chi);
        GrainCell c(chi);
        qv::Run& run = c.run;
        int n = 0;
        for (int j = 1; j <= 40; ++j) {
            if (!(run.mix.agra(j) > 0.01f)) continue;
            SCOPED_TRACE(j);
            ++n;
            c.bin(j);
            cirrus::granigrossi(run, j);
            const float t = run.cirrus.cell.tgr;
            const float aint1 = run.tequi.aint1;
            EXPECT_EQ(run.glopdit.tmin, 0.1f);
            EXPECT_EQ(run.glopdit.tmax, 1000.0f);
            EXPECT_NEAR(double(aint1) * double(run.cirrus.cell.sigma), c.absorbed(j), 1e-5 * c.absorbed(j));
            // The root lies within the tolerance of Brent's method.
            EXPECT_LE(cirrus::emitted_power(run, j, t - 0.2f), aint1);
            EXPECT_GE(cirrus::emitted_power(run, j, t + 0.2f), aint1);
            EXPECT_GT(t, 5.0f);
            EXPECT_LT(t, 200.0f);
            // The spectrum's integral over wavelength is the emitted power P(T),
            // a trapezoid over frequency, up to the difference of the two rules.
            const double emitted = trapz(run, run.cirrus.EX.data());
            const double unit = 1e-20 * double(run.cirrus.cell.sigma) * 2e33;
            EXPECT_NEAR(emitted / (unit * double(cirrus::emitted_power(run, j, t))), 1.0, 0.02);
            EXPECT_NEAR(emitted / (unit * double(aint1)), 1.0, 0.03);
        }
        EXPECT_GT(n, 20);
    }
}

TEST(CirrusEmissionBigGrains, FieldTooWeakForTheBracketStops) {
    GrainCell c;
    c.run.glopdit.ix.fill(0.0f);
    c.bin(30);
    const auto s = test::stop_lines([&] { cirrus::granigrossi(c.run, 30); });
    EXPECT_EQ(s, std::vector<std::string>{" STOP: Root must be bracketed for ZBRENT2."});
}

// The shared Brent core keeps each caller's messages.
TEST(CirrusEmissionBigGrains, BrentCoreKeepsTheMessagesOfItsCaller) {
    auto f = [](float x) { return x * x + 1.0f; };
    EXPECT_EQ(test::stop_lines([&] { zbrent(f, 0.0f, 1.0f, 0.1f); }),
              std::vector<std::string>{" Root must be bracketed for ZBRENT."});
    EXPECT_EQ(test::stop_lines([&] { brent_root(f, 0.0f, 1.0f, 0.1f, " A.", " B."); }),
              std::vector<std::string>{" A."});
    auto g = [](float x) { return x - 0.3f; };
    EXPECT_EQ(brent_root(g, 0.0f, 1.0f, 1e-6f, " A.", " B."), zbrent(g, 0.0f, 1.0f, 1e-6f));
}

// ---------------------------------------------------------------------------
// Small grains.

TEST(CirrusEmissionSmallGrains, NarrowedRangeOfTheDistribution) {
    TemperatureDistribution td;
    for (int l = 1; l <= 150; ++l) td.tdarr(l) = 10.0f * static_cast<float>(l);
    auto range = [&](const std::vector<std::pair<int, float>>& v, float& lo, float& hi) {
        td.dpdt.fill(0.0f);
        for (auto [l, d] : v) td.dpdt(l) = d;
        return cirrus::narrowed_range(td, lo, hi);
    };
    float lo = 0.0f, hi = 0.0f;
    // A peak at level 40 above 1e-12 of itself from level 35 to 60.
    std::vector<std::pair<int, float>> v;
    for (int l = 35; l <= 60; ++l) v.push_back({l, l == 40 ? 1.0f : 1e-6f});
    v.push_back({34, 1e-13f});
    v.push_back({61, 1e-12f});
    EXPECT_TRUE(range(v, lo, hi));
    EXPECT_EQ(lo, 340.0f);  // the level at the threshold below the peak
    EXPECT_EQ(hi, 610.0f);  // the first level at or below it above the peak
    // The peak in the first level: the range starts there.
    EXPECT_TRUE(range({{1, 2.0f}, {2, 1.0f}}, lo, hi));
    EXPECT_EQ(lo, 10.0f);
    EXPECT_EQ(hi, 30.0f);
    // Probability up to the last written level: the range ends at level 150.
    EXPECT_TRUE(range({{148, 1.0f}, {149, 1.0f}}, lo, hi));
    EXPECT_EQ(lo, 1470.0f);
    EXPECT_EQ(hi, 1500.0f);
    // Nothing above 0 below the last level: the range collapses to one level.
    EXPECT_FALSE(range({}, lo, hi));
    EXPECT_EQ(lo, hi);
}

// A small grain's two distributions: the second on the range where the first
// exceeds 1e-12 of its peak; its spectrum carries about the power it absorbs.
TEST(CirrusEmissionSmallGrains, SecondDistributionOnTheNarrowedRange) {
    GrainCell c(3.0);
    qv::Run& run = c.run;
    const std::vector<int> small = test::small_bins(run);
    ASSERT_GE(small.size(), 3u);
    for (int j : {small.front(), small.back(), small.back() + 20}) {
        SCOPED_TRACE(j);
        TemperatureDistribution& td = run.glopdit;
        td.igra = j;
        td.tmin = 0.05f;
        td.tmax = 4000.0f;
        glopdit::pdit(run);
        float lo = 0.0f, hi = 0.0f;
        ASSERT_TRUE(cirrus::narrowed_range(td, lo, hi));

        c.bin(j, 2e-20f);
        cirrus::granipiccoli(run, j);
        EXPECT_EQ(td.igra, j);
        EXPECT_EQ(td.tmin, lo);
        EXPECT_EQ(td.tmax, hi);
        EXPECT_GT(hi - lo, 1.0f);
        EXPECT_LT(hi, 4000.0f);
        for (int k = 1; k <= run.glopalla.nlf; ++k) {
            ASSERT_GE(run.cirrus.EM(k), 0.0f);
            ASSERT_EQ(run.cirrus.EX(k), 2e-20f * run.cirrus.EM(k) * 2e33f);
        }
        const double emitted = trapz(run, run.cirrus.EM.data());
        EXPECT_NEAR(emitted / c.absorbed(j), 1.0, 0.05);
    }
}

// ---------------------------------------------------------------------------
// The cell loop.

// A small galaxy through the cirrus model's phases up to the cell loop (the
// plane grain tables, a dust grid of nlf points), optionally with the cache.
struct LoopModel {
    test::CirrusModel m;
    Run& run = m.run;
    // cache_galaxy: the galaxy radius of a run with the cache, whatever intrho.
    LoopModel(int igeo, int ndr, bool flut, int intrho = 0, int nlf = 60, bool cache_galaxy = false)
        : m(test::spectra_section({"0.0"}), nlf) {
        test::set_geometry(run, igeo, cache_galaxy ? 1 : intrho);
        run.parametri.intrho_w_r = intrho;
        run.remind.ndr = ndr;
        run.remind.flutflag = flut;
        CirrusRun& cr = run.cirrus;
        cr.disk_like = igeo != 0 && igeo != 1;
        cr.ndir = cr.ndir_total = 1;
        cirrus::allocate_cirrus_record(run);
        run.glopdit.ix.resize(nlf);
        run.glopdit.yarr.resize(nlf);
        cirrus::light_on_dust_grid(run);
        cr.Mdiff = 0.01f;
        if (intrho != 0) {
            cr.cache.open(run);
            cr.cache.header_geometry(run);
        }
        cirrus::grid_sizes(run);
        if (intrho != 0) cr.cache.header_grid(run);
        cirrus::allocate_grids(run);
        cirrus::grid_nodes(run);
        cirrus::densities(run);
        cirrus::normalise(run);
        if (intrho != 0) cr.cache.dependencies(run, cirrus::cache_pairs_needed(run));
        cirrus::cross_sections(run);
        cirrus::norma(run);
        cirrus::grain_efficiencies(run);
    }
    void loop() {
        run.cirrus.cells_computed = 0;
        cirrus::cell_emission(run);
    }
    int computed() const { return run.cirrus.cells_computed; }
    std::vector<std::string> chi_lines() const {
        std::vector<std::string> l;
        for (const auto& s : m.out())
            if (s.rfind(" ir=", 0) == 0) l.push_back(s);
        return l;
    }
    float w(int it, int jt) const {
        const Mat<float>& r = run.glocold.rhodiffarr2d;
        return (r(it - 1, jt - 1) + r(it, jt - 1) + r(it - 1, jt) + r(it, jt)) / 4.0f;
    }
};

// The spheroids compute only the equatorial cell of each radius; the cells
// above it add their own volumes with its emission.
TEST(CirrusEmissionLoop, SpheroidComputesTheEquatorialCellAndReusesIt) {
    LoopModel l(1, 2, false);
    qv::Run& run = l.run;
    run.modname.verbose_level = 1;
    l.loop();
    EXPECT_EQ(l.computed(), 1);
    const CirrusRun& cr = run.cirrus;
    ASSERT_EQ(l.chi_lines().size(), 1u);
    EXPECT_EQ(l.chi_lines()[0], fio::write_line("(' ir=',I5,' ithe=',I5,' CHI=',G15.4)", {2, 7, cr.cell.chi}));
    EXPECT_EQ(cr.cell.chi, cirrus::trapezoid_ws(run, run.glopdit.ix.data()) / 0.001776893f);
    // ETOT: the sum over jt = 7..2 of 8 pi V(jt) EX.
    const CirrusGrid& g = run.glocold;
    std::vector<float> want(run.glopalla.nlf, 0.0f);
    const float r1 = g.rarr(1), r2 = g.rarr(2);
    for (int jt = 7; jt >= 2; --jt) {
        const float v = (std::cos(g.thearr(jt - 1)) - std::cos(g.thearr(jt))) * 2.0943954f *
                        (r2 * r2 * r2 - r1 * r1 * r1) * 1e9f;
        for (int i = 1; i <= run.glopalla.nlf; ++i) want[i - 1] += 3.1415927f * 8.0f * v * cr.EX(i);
    }
    for (int i = 1; i <= run.glopalla.nlf; ++i) ASSERT_EQ(cr.ETOT(i), want[i - 1]) << i;
    EXPECT_GT(*std::max_element(cr.ETOT.data(), cr.ETOT.data() + run.glopalla.nlf), 0.0f);

    // Three radii: one computed cell and one CHI line each, all at ithe 7.
    LoopModel l3(1, 4, false);
    l3.run.modname.verbose_level = 1;
    l3.loop();
    EXPECT_EQ(l3.computed(), 3);
    const auto lines = l3.chi_lines();
    ASSERT_EQ(lines.size(), 3u);
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(lines[k].substr(0, 20), fio::write_line("(' ir=',I5,' ithe=',I5)", {k + 2, 7}));
    // The timing lines follow the loop.
    const auto out = l3.m.out();
    const int t = test::index_of(out, " giroytime=");
    ASSERT_GE(t, 0);
    EXPECT_EQ(out[t + 1].rfind(" distmediatime=", 0), 0u);
    EXPECT_EQ(out[t + 2].rfind(" intrhotime=", 0), 0u);
    EXPECT_EQ(out[t + 3].rfind(" girolamtime=", 0), 0u);
    EXPECT_EQ(out[t], fio::list_line({"giroytime=", l3.run.cirrus.GIROYTIME}));
    EXPECT_GT(l3.run.cirrus.GIROYTIME, 0.0f);
}

// A disk-like geometry computes every cell with dust, and with the cache every
// cell (its records keep their order), without changing the emission.
TEST(CirrusEmissionLoop, DiskCellsWithoutDustAreSkippedUnlessTheCacheIsInUse) {
    test::TempDir tmp;
    LoopModel a(4, 8, false, 0, 60, true);
    a.run.modname.verbose_level = 1;
    a.loop();
    const int ndr = a.run.remind.ndr, nthe = a.run.glocold.nthearr, jeq = (nthe + 1) / 2;
    int dusty = 0, empty_equator = 0;
    for (int it = 2; it <= ndr; ++it)
        for (int jt = jeq; jt >= 2; --jt) {
            if (a.w(it, jt) != 0.0f)
                ++dusty;
            else if (jt == jeq)
                ++empty_equator;
        }
    ASSERT_GT(empty_equator, 0);  // igeo 4: no dust in the outer cells
    EXPECT_EQ(a.computed(), dusty + empty_equator);
    EXPECT_EQ(static_cast<int>(a.chi_lines().size()), dusty);

    LoopModel b(4, 8, false, 1);
    ASSERT_EQ(b.run.parametri.intrho_w_r, 1);
    b.run.modname.verbose_level = 1;
    b.loop();
    EXPECT_EQ(b.computed(), (ndr - 1) * (jeq - 1));
    EXPECT_EQ(b.run.cirrus.cache.pairs_done(), cirrus::cache_pairs_needed(b.run));
    EXPECT_EQ(b.chi_lines(), a.chi_lines());
    for (int i = 1; i <= a.run.glopalla.nlf; ++i) ASSERT_EQ(b.run.cirrus.ETOT(i), a.run.cirrus.ETOT(i)) << i;
    b.run.cirrus.cache.finish(b.run);
}

// What a run of the loop leaves, for comparing runs.
struct LoopResult {
    std::vector<float> etot, ex, ix;
    std::vector<std::string> lines;  // standard output but for the timing lines
    int computed = 0, redone = 0, it = 0, jt = 0, igra = 0;
    float tmin = 0.0f, tmax = 0.0f;
    std::string cache;  // the cache file, when there is one
};

LoopResult loop_with(int threads, int igeo, int ndr, bool flut, int intrho,
                     const std::function<void(Run&)>& setup = nullptr) {
    const int before = omp_get_max_threads();
    omp_set_num_threads(threads);
    LoopResult r;
    {
        LoopModel l(igeo, ndr, flut, intrho, 60, intrho != 0);
        l.run.modname.verbose_level = 1;
        if (setup) setup(l.run);
        l.loop();
        const Run& run = l.run;
        const int nlf = run.glopalla.nlf;
        r.etot.assign(run.cirrus.ETOT.data(), run.cirrus.ETOT.data() + nlf);
        r.ex.assign(run.cirrus.EX.data(), run.cirrus.EX.data() + nlf);
        r.ix.assign(run.glopdit.ix.data(), run.glopdit.ix.data() + nlf);
        for (const auto& line : l.m.out())
            if (line.find("time") == std::string::npos) r.lines.push_back(line);
        r.computed = l.computed();
        r.redone = l.run.cirrus.cells_redone;
        r.it = run.cirrus.cell.it;
        r.jt = run.cirrus.cell.jt;
        r.igra = run.glopdit.igra;
        r.tmin = run.glopdit.tmin;
        r.tmax = run.glopdit.tmax;
        if (intrho != 0) {
            l.run.cirrus.cache.finish(l.run);
            r.cache = test::read_text(l.run.cirrus.cache.path());
        }
    }
    omp_set_num_threads(before);
    return r;
}

void expect_same(const LoopResult& a, const LoopResult& b) {
    ASSERT_EQ(a.etot.size(), b.etot.size());
    for (std::size_t i = 0; i < a.etot.size(); ++i) {
        ASSERT_EQ(std::bit_cast<std::uint32_t>(a.etot[i]), std::bit_cast<std::uint32_t>(b.etot[i])) << i;
        ASSERT_EQ(std::bit_cast<std::uint32_t>(a.ex[i]), std::bit_cast<std::uint32_t>(b.ex[i])) << i;
        ASSERT_EQ(std::bit_cast<std::uint32_t>(a.ix[i]), std::bit_cast<std::uint32_t>(b.ix[i])) << i;
    }
    EXPECT_EQ(a.lines, b.lines);
    EXPECT_EQ(a.computed, b.computed);
    EXPECT_EQ(a.it, b.it);
    EXPECT_EQ(a.jt, b.jt);
    EXPECT_EQ(a.igra, b.igra);
    EXPECT_EQ(a.tmin, b.tmin);
    EXPECT_EQ(a.tmax, b.tmax);
    EXPECT_EQ(a.cache, b.cache);
}

// The loop in threads leaves the numbers, the lines and the cache records of
// the loop done cell by cell, in every geometry; with more cells than one
// batch of the threads takes (igeo 4).
TEST(CirrusEmissionLoop, ThreadsLeaveTheResultsOfOneThread) {
    struct Case {
        int igeo, ndr;
        bool flut;
    };
    for (const Case c : {Case{0, 4, true}, Case{1, 4, true}, Case{3, 6, false}, Case{4, 8, true}, Case{5, 4, true}}) {
        SCOPED_TRACE("igeo " + std::to_string(c.igeo));
        const LoopResult one = loop_with(1, c.igeo, c.ndr, c.flut, 0);
        ASSERT_GT(one.computed, 1);
        for (int threads : {2, 3}) {
            SCOPED_TRACE(threads);
            expect_same(loop_with(threads, c.igeo, c.ndr, c.flut, 0), one);
        }
    }
}

// Moves the dust grid's frequency entry nearest to the first heating pair of
// the first small bin's wide-range distribution onto that pair's frequency:
// every cell then starts its distributions with a lookup on a grid entry,
// whose bracket depends on where the previous cell's searches ended. Returns
// false when the grid has no room for the move.
bool put_a_grid_entry_on_the_first_heating_pair(Run& run) {
    const std::vector<int> small = test::small_bins(run);
    if (small.empty()) return false;
    TemperatureDistribution& td = run.glopdit;
    td.ix.fill(1e-20f);
    td.igra = small.front();
    td.tmin = 0.05f;
    td.tmax = 4000.0f;
    glopdit::pdit(run);
    const PditPlan* plan = nullptr;
    for (const PditPlan& p : td.reuse.plans)
        if (p.agra == run.mix.agra(small.front()) && p.tmin == 0.05f && p.tmax == 4000.0f) plan = &p;
    if (!plan || plan->f.empty()) return false;
    int i = 0;
    while (plan->first[i + 1] == 0) ++i;  // the level of the first pair
    const float e = plan->u[plan->f[0]] - plan->u[i];
    const float lnu = std::log10(e / 6.62617e-27f);
    Vec<float>& lf = run.glopalla.lfarr;
    const int jj = static_cast<int>(plan->j[0]);  // lf(jj) <= lnu < lf(jj + 1)
    const int m = lnu - lf(jj) < lf(jj + 1) - lnu ? jj : jj + 1;
    if (m <= 1 || m >= lf.extent()) return false;
    lf(m) = lnu;
    // The grid is new: the distribution's first lookup is now on an entry.
    glopdit::pdit(run);
    for (const PditPlan& p : td.reuse.plans)
        if (p.agra == run.mix.agra(small.front()) && p.tmin == 0.05f && p.tmax == 4000.0f &&
            p.grid[static_cast<std::size_t>(m - 1)] == lnu)
            return !p.tie.empty() && p.tie.front() == 0;
    return false;
}

// Cells whose searches depend on where their predecessor's ended are done
// again, in the loop in threads, from that position: the loop leaves the
// numbers of one thread.
TEST(CirrusEmissionLoop, CellsThatDependOnThePreviousCellsSearchesAreDoneAgain) {
    bool moved = false;
    auto setup = [&](qv::Run& run) { moved = put_a_grid_entry_on_the_first_heating_pair(run); };
    const LoopResult one = loop_with(1, 4, 8, true, 0, setup);
    ASSERT_TRUE(moved);
    ASSERT_GT(one.computed, 12);  // more than one batch of three threads
    EXPECT_EQ(one.redone, 0);  // one thread: every cell starts where the last ended
    for (int threads : {2, 3}) {
        SCOPED_TRACE(threads);
        const LoopResult more = loop_with(threads, 4, 8, true, 0, setup);
        expect_same(more, one);
        // Every cell but the first of each batch.
        EXPECT_GT(more.redone, one.computed / 2);
        EXPECT_LT(more.redone, one.computed);
    }
}

// A cache written by the loop in threads holds the records of one thread, and
// read back in threads it gives the same loop.
TEST(CirrusEmissionLoop, CacheWrittenInThreadsIsReadBackToTheSameLoop) {
    test::TempDir tmp;
    const LoopResult one = loop_with(1, 4, 8, true, 1);
    ASSERT_FALSE(one.cache.empty());
    const LoopResult written = loop_with(3, 4, 8, true, 1);
    expect_same(written, one);
    const LoopResult read = loop_with(3, 4, 8, true, 2);
    EXPECT_EQ(read.cache, one.cache);  // read, not written again
    for (std::size_t i = 0; i < one.etot.size(); ++i) ASSERT_EQ(read.etot[i], one.etot[i]) << i;
    EXPECT_EQ(read.computed, one.computed);
}

// The big grains of a cell emit what they absorb (the last cell of the loop:
// its field and emission are left in ix and EX).
TEST(CirrusEmissionLoop, BigGrainsOfACellEmitWhatTheyAbsorb) {
    LoopModel l(1, 3, false, 0, 160);
    l.loop();
    qv::Run& run = l.run;
    const CirrusRun& cr = run.cirrus;
    const int nlf = run.glopalla.nlf;
    const float w = cr.cell.w;
    ASSERT_GT(w, 0.0f);
    double absorbed = 0.0;
    std::vector<float> f(nlf);
    for (int j = 1; j <= 40; ++j) {
        const float a = run.mix.agra(j) * 1e-4f;
        const float wj = (j <= 20 ? std::pow(10.0f, run.mix.a_gr) * run.mix.wei_gr(j)
                                  : std::pow(10.0f, run.mix.a_si) * run.mix.wei_si(j - 20));
        const double nj = double(wj) / 3.1415927 / (double(a) * double(a)) / 1.66e-24 * double(w) / 1e30;
        for (int i = 1; i <= nlf; ++i) f[i - 1] = cr.QEFFW(i, j) * run.glopdit.ix(i);
        absorbed += nj * 3.141593 * double(a) * double(a) * 2e33 * trapz(run, f.data());
    }
    const double emitted = trapz(run, cr.EX.data());
    EXPECT_NEAR(emitted / absorbed, 1.0, 0.02);
}

// A bin of exactly 0.01 micron is a small grain when flutflag is set; the last
// bin's range stays in glopdit.
TEST(CirrusEmissionLoop, BinOfExactlyOneHundredthMicronIsASmallGrain) {
    for (float a40 : {0.01f, std::nextafter(0.01f, 1.0f)}) {
        SCOPED_TRACE(a40);
        LoopModel l(1, 2, true);
        qv::Run& run = l.run;
        run.mix.agra(40) = a40;
        cirrus::grain_efficiencies(run);
        l.loop();
        const TemperatureDistribution& td = run.glopdit;
        if (a40 == 0.01f) {
            EXPECT_EQ(td.igra, 40);
            EXPECT_NE(td.tmin, 0.1f);
            EXPECT_GT(td.tmax, td.tmin);
        } else {
            EXPECT_LT(td.igra, 40);  // the last small bin
            EXPECT_EQ(td.tmin, 0.1f);
            EXPECT_EQ(td.tmax, 1000.0f);
        }
        for (int i = 1; i <= run.glopalla.nlf; ++i) ASSERT_TRUE(std::isfinite(run.cirrus.ETOT(i)));
    }
}

// With pahflag each cell's PAH bands, carried like EX to the cells that reuse
// the equatorial one, add their luminosity three times: at the band's grid
// point and at its two neighbours.
TEST(CirrusEmissionLoop, PahBandsOfEveryCellLandOnTheirThreeGridPoints) {
    LoopModel l(1, 2, false, 0, 80);
    qv::Run& run = l.run;
    run.modname.pahflag = true;
    test::set_band_grid(run.glopah);
    const int nlf = run.glopalla.nlf;
    for (int k = 1; k <= kPahBands; ++k) run.glopah.indpah(k) = 8 + 2 * k;  // distinct, with free neighbours
    l.loop();
    const CirrusRun& cr = run.cirrus;
    const CirrusGrid& g = run.glocold;
    const Vec<float>& epah = run.glopah.epah;
    ASSERT_GT(epah(12), 0.0f);
    const float w = cr.cell.w, r1 = g.rarr(1), r2 = g.rarr(2);
    // The hydrogen atoms of a cell in both hemispheres, in units of 1e30.
    auto atoms = [](float wd, float v) { return 2.0 * double(wd) * double(v) * 2e33 / 1.66e-24 / 1e30; };
    std::vector<double> dust(nlf, 0.0);
    double bands = 0.0;
    for (int jt = 7; jt >= 2; --jt) {
        const float v = (std::cos(g.thearr(jt - 1)) - std::cos(g.thearr(jt))) * 2.0943954f *
                        (r2 * r2 * r2 - r1 * r1 * r1) * 1e9f;
        for (int i = 1; i <= nlf; ++i) dust[i - 1] += double(3.1415927f * 8.0f * v * cr.EX(i));
        for (int k = 1; k <= kPahBands; ++k) bands += 3.0 * atoms(w, v) * double(epah(k));
    }
    double added = 0.0;
    for (int i = 1; i <= nlf; ++i) {
        const double d = double(cr.ETOT(i)) - dust[i - 1];
        const bool band_point = i >= 9 && i <= 57;
        if (!band_point) {
            EXPECT_NEAR(d, 0.0, 1e-5 * dust[i - 1]) << i;
        }
        added += d;
    }
    EXPECT_NEAR(added / bands, 1.0, 1e-4);
    for (int k = 1; k <= kPahBands; ++k)
        EXPECT_NEAR(double(cr.TMPEPAH(k)), atoms(w, cr.cell.vol) * double(epah(k)), 1e-5 * double(cr.TMPEPAH(k)));
}

// An emission that is not finite stops the run, naming the cell and the bin.
TEST(CirrusEmissionLoop, EmissionThatIsNotFiniteStopsSayingWhere) {
    LoopModel l(1, 2, false);
    l.run.mix.wei_gr(15) = 3e38f;
    const auto s = test::stop_lines([&] { l.loop(); });
    ASSERT_EQ(s.size(), 1u);
    EXPECT_NE(s[0].find("ERROR: the cirrus emission is not finite"), std::string::npos) << s[0];
    EXPECT_NE(s[0].find(" in cell ir=2 ithe=7, grain bin 15 (radius "), std::string::npos) << s[0];
    EXPECT_NE(s[0].find(", at wavelength index "), std::string::npos) << s[0];
}

}  // namespace
}  // namespace qv
