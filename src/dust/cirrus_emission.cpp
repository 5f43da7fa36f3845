// The grain and PAH emission of the cirrus, cell by cell.
#include "dust/cirrus_emission.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstddef>
#include <ctime>
#include <exception>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <omp.h>

#include "core/run.h"
#include "core/stop.h"
#include "dust/cirrus_field.h"
#include "dust/cirrus_phases.h"
#include "dust/pah_emission.h"
#include "dust/temperature_distribution.h"
#include "io/format.h"
#include "numerics/roots_sort.h"

namespace qv {

PlanckNu planck_nu(float x) {
    const float nu = x < 100.0f ? std::pow(10.0f, x) : x;
    const float n14 = nu / 1e14f;
    return {4.79928e-11f * nu, 1.474524e-5f * (n14 * n14 * n14)};
}

namespace cirrus {

namespace {

constexpr int kBins = 40;
constexpr int NL = kPditLevels;

std::string num(float v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", static_cast<double>(v));
    return buf;
}

// A value of the emission that is not finite stops the run, saying where.
[[noreturn]] void not_finite(const Run& run, const char* what, float v, int i, int bin, int band) {
    const CirrusCell& c = run.cirrus.cell;
    std::string t = std::string("ERROR: the cirrus emission is not finite: ") + what + " = " + num(v) +
                    " in cell ir=" + std::to_string(c.it) + " ithe=" + std::to_string(c.jt);
    if (bin > 0) t += ", grain bin " + std::to_string(bin) + " (radius " + num(run.mix.agra(bin)) + " micron)";
    if (band > 0) t += ", PAH band " + std::to_string(band);
    if (i > 0) t += ", at wavelength index " + std::to_string(i) + " (" + num(run.glopalla.ws(i)) + " A)";
    throw Stop(fio::list_line({t}));
}

void check_finite(const Run& run, const char* what, const Vec<float>& v, int bin) {
    const int n = v.extent();
    const float* p = v.data();
    for (int i = 0; i < n; ++i)
        if (!std::isfinite(p[i])) not_finite(run, what, p[i], i + v.lbound(), bin, 0);
}

}  // namespace

void prepare_grains(Run& run) {
    CirrusGrainWork& w = run.cirrus.grains;
    const CloudSetup& gp = run.glopalla;
    const Mat<float>& qabsw = run.tequi.qabsw;
    const int nlf = gp.nlf;
    w.ready = false;
    w.nlf = nlf;
    w.nu_abs.resize(static_cast<std::size_t>(nlf));
    w.nu_emi.resize(static_cast<std::size_t>(nlf));
    w.nu_small.resize(static_cast<std::size_t>(nlf));
    w.kws.resize(static_cast<std::size_t>(nlf));
    std::vector<float> nu(static_cast<std::size_t>(nlf));
    for (int i = 1; i <= nlf; ++i) {
        const float ws = gp.ws(i);
        nu[i - 1] = 3e18f / ws;
        w.nu_abs[i - 1] = planck_nu(nu[i - 1]);
        w.nu_emi[i - 1] = planck_nu(std::log10(3e18f / ws));
        w.nu_small[i - 1] = planck_nu(std::log10(gp.farr(nlf + 1 - i)));
        w.kws[i - 1] = 3e18f / (ws * ws);
    }
    // Trapezoid widths of P(T) over the descending frequencies.
    std::vector<float> dnu(static_cast<std::size_t>(nlf), 0.0f);
    if (nlf > 1) {
        dnu[0] = nu[0] - nu[1];
        for (int i = 1; i + 1 < nlf; ++i) dnu[i] = nu[i - 1] - nu[i + 1];
        dnu[nlf - 1] = nu[nlf - 2] - nu[nlf - 1];
    }
    w.pw.assign(static_cast<std::size_t>(nlf) * kBins, 0.0f);
    for (int j = 1; j <= kBins; ++j)
        for (int i = 1; i <= nlf; ++i)
            w.pw[static_cast<std::size_t>(j - 1) * nlf + (i - 1)] = qabsw(i, j) * dnu[i - 1];
    w.f.assign(static_cast<std::size_t>(nlf), 0.0f);
    w.s.assign(static_cast<std::size_t>(nlf), 0.0f);
    w.ready = true;
}

float trapezoid_ws(const Run& run, const float* f) {
    const Vec<float>& ws = run.glopalla.ws;
    const int nlf = run.glopalla.nlf;
    float t = 0.0f;
    for (int i = 1; i < nlf; ++i) t += 0.5f * (f[i - 1] + f[i]) * (ws(i + 1) - ws(i));
    return t;
}

float emitted_power(const Run& run, int j, float t) {
    const CirrusGrainWork& w = run.cirrus.grains;
    const int nlf = w.nlf;
    const float* pw = w.pw.data() + static_cast<std::size_t>(j - 1) * nlf;
    float s = 0.0f;
    for (int i = 0; i < nlf; ++i) s += planck_at(w.nu_abs[i], t) * pw[i];
    return 0.5f * s;
}

void granigrossi(Run& run, int j) {
    CirrusRun& cr = run.cirrus;
    CirrusGrainWork& w = cr.grains;
    if (!w.ready || w.nlf != run.glopalla.nlf) prepare_grains(run);
    TemperatureDistribution& td = run.glopdit;
    CirrusCell& cell = cr.cell;
    const int nlf = w.nlf;
    td.tmin = 0.1f;
    td.tmax = 1000.0f;

    // The absorbed power, with the efficiency in the run's mode.
    float* f = w.f.data();
    const float* q = cr.QEFFW.col(j);
    const float* ix = td.ix.data();
    for (int i = 0; i < nlf; ++i) f[i] = q[i] * ix[i];
    const float aint1 = trapezoid_ws(run, f);
    run.tequi.aint1 = aint1;

    auto equrad_cold = [&run, j, aint1](float t) { return aint1 - emitted_power(run, j, t); };
    const float t = brent_root(equrad_cold, td.tmin, td.tmax, 0.2f, " STOP: Root must be bracketed for ZBRENT2.",
                               " ZBRENT2 exceeding maximum iterations.");
    cell.tgr = t;

    const float* qa = run.tequi.qabsw.col(j);
    const float sigma = cell.sigma, ngr = cell.ngr;
    float* ex = cr.EX.data();
    for (int i = 0; i < nlf; ++i) {
        const float e = planck_at(w.nu_emi[i], t) * sigma * qa[i] * w.kws[i] * 2e33f;
        ex[i] += ngr * e;
    }
}

bool narrowed_range(const TemperatureDistribution& td, float& tlo, float& thi) {
    const float* D = td.dpdt.data();
    int imax = 1;
    float pmax = D[0];
    for (int l = 2; l <= NL; ++l)
        if (D[l - 1] > pmax) {
            pmax = D[l - 1];
            imax = l;
        }
    const float thr = pmax / 1e12f;
    int iup = imax;
    if (!(imax == NL || D[imax - 1] <= thr)) {
        iup = NL;
        for (int l = imax + 1; l <= NL; ++l)
            if (D[l - 1] <= thr) {
                iup = l;
                break;
            }
    }
    int ilo = imax;
    while (ilo > 1 && D[ilo - 1] > thr) --ilo;
    tlo = td.tdarr(ilo);
    thi = td.tdarr(iup);
    return tlo < thi;
}

void granipiccoli(Run& run, int j) {
    CirrusRun& cr = run.cirrus;
    CirrusGrainWork& w = cr.grains;
    if (!w.ready || w.nlf != run.glopalla.nlf) prepare_grains(run);
    TemperatureDistribution& td = run.glopdit;
    const CirrusCell& cell = cr.cell;
    const int nlf = w.nlf;

    td.igra = j;
    td.tmin = 0.05f;
    td.tmax = 4000.0f;
    glopdit::pdit(run);

    // A range that collapses to one level keeps the first pass's levels and
    // distribution (a second pass on it would divide by zero).
    float tlo = 0.0f, thi = 0.0f;
    if (narrowed_range(td, tlo, thi)) {
        td.tmin = tlo;
        td.tmax = thi;
        glopdit::pdit(run);
    }

    // S(k) = 2 x the trapezoid over T of B_nu(T) dP/dT at each frequency.
    const float* D = td.dpdt.data();
    const float* T = td.tdarr.data();
    float* S = w.s.data();
    const PlanckNu* nus = w.nu_small.data();
    if (D[0] > 1e-16f || D[NL - 1] > 1e-16f) {
        const float w1 = D[0] * (T[1] - T[0]), wn = D[NL - 1] * (T[NL - 1] - T[NL - 2]);
        for (int k = 0; k < nlf; ++k) S[k] = planck_at(nus[k], T[0]) * w1 + planck_at(nus[k], T[NL - 1]) * wn;
    } else {
        for (int k = 0; k < nlf; ++k) S[k] = 0.0f;
    }
    for (int l = 2; l <= NL - 1; ++l) {
        if (!(D[l - 1] > 1e-16f)) continue;
        const float tl = T[l - 1], wl = D[l - 1] * (T[l] - T[l - 2]);
        for (int k = 0; k < nlf; ++k) S[k] += planck_at(nus[k], tl) * wl;
    }

    const float* qa = run.tequi.qabsw.col(j);
    const float sigma = cell.sigma, ngr = cell.ngr;
    float* em = cr.EM.data();
    float* ex = cr.EX.data();
    for (int k = 0; k < nlf; ++k) {
        em[k] = 0.5f * S[k] * qa[k] * sigma * w.kws[k];
        ex[k] += ngr * em[k] * 2e33f;
    }
}

void grain_emission(Run& run) {
    CirrusRun& cr = run.cirrus;
    CirrusCell& cell = cr.cell;
    const GrainMix& mx = run.mix;
    const bool flut = run.remind.flutflag;
    const float w = cell.w;
    const float wgr = std::pow(10.0f, mx.a_gr), wsi = std::pow(10.0f, mx.a_si);
    for (int j = 1; j <= kBins; ++j) {
        const float a = mx.agra(j) * 1e-4f;
        const float wj = j <= 20 ? wgr * mx.wei_gr(j) : wsi * mx.wei_si(j - 20);
        cell.jbin = j;
        cell.arad = a;
        cell.sigma = 3.141593f * (a * a);
        cell.ngr = wj / 3.1415927f / (a * a) / 1.66e-24f * w / 1e30f;
        if (mx.agra(j) > 0.01f || !flut)
            granigrossi(run, j);
        else
            granipiccoli(run, j);
        check_finite(run, "EX", cr.EX, j);
    }
}

// ---------------------------------------------------------------------------
// The cell loop.
//
// The target cells are independent but for what their computation leaves in
// the records for the next one: the cache's record order, the emission and PAH
// bands a cell that is not computed takes over, the search position of liin_s
// and the lines written on standard output. The loop therefore runs in batches:
// the cache records of a batch are read in the visiting order, the cells of the
// batch are computed in threads, each thread on its own copy of the records the
// computation reads and writes, and the batch is then taken up in the visiting
// order: the lines each cell wrote, its cache records, its sums into ETOT and
// the PAH bands. A cell whose searches depended on the position its predecessor
// left (a value on a table entry) is computed again from that position before
// it is taken up. The results are those of the cells done one after the other,
// for any number of threads.

namespace {

// One target cell, in the visiting order.
struct TargetCell {
    int it = 0, jt = 0;
    float rt = 0.0f, thetat = 0.0f, vol = 0.0f, w = 0.0f;
    bool compute = false;
    // The target's part of the cell record.
    void place(CirrusCell& c) const {
        c.it = it;
        c.jt = jt;
        c.rt = rt;
        c.thetat = thetat;
        c.vol = vol;
        c.w = w;
    }
};

// What the computation of one cell leaves for the serial part of the loop.
struct CellResult {
    std::size_t given = 0;      // leading columns read from the cache
    std::vector<float> column;  // the pair columns (with the cache only)
    std::vector<float> ex, ix, em, tauxy, epah;
    bool pah_done = false;   // epah holds this cell's bands
    std::string out;         // what the cell wrote on standard output
    std::exception_ptr error;
    NrKelu kelu;             // the search positions the cell left
    bool used_unknown = false;
    std::int64_t nexp = 0, nnoexp = 0;
    float t_giroy = 0.0f, t_dist = 0.0f, t_intrho = 0.0f, t_lam = 0.0f;
    CirrusCell cell;
    RayDirection ray;
    float aint1 = 0.0f;
    int igra = 0;
    float tmin = 0.0f, tmax = 0.0f;
    std::vector<float> tdarr, dpdt;
};

double thread_cpu_seconds() {
    struct timespec ts {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

// A thread's own copy of the records that the computation of a cell reads and
// writes; what it writes on standard output is kept per cell.
struct CellWorker {
    std::ostringstream out;
    Console con;
    Run run;

    explicit CellWorker(const Run& s) : con(s.con), run(con) {
        // The cell has no use for the cloud solver's records.
        { SolverState unused = std::move(run.globals); }
        con.out = &out;
        con.cpu_seconds = thread_cpu_seconds;
        Run& d = run;
        d.parametri = s.parametri;
        d.modname = s.modname;
        d.trucco = s.trucco;
        d.remind.ndr = s.remind.ndr;
        d.remind.ncom = s.remind.ncom;
        d.remind.isca = s.remind.isca;
        d.remind.flutflag = s.remind.flutflag;
        d.glopalla.nlf = s.glopalla.nlf;
        d.glopalla.ws = s.glopalla.ws;
        d.glopalla.farr = s.glopalla.farr;
        d.glopalla.lfarr = s.glopalla.lfarr;
        d.mix = s.mix;
        d.q_draine = s.q_draine;
        d.glopah = s.glopah;
        d.qvpah = s.qvpah;
        d.glopdit = s.glopdit;
        d.tequi = s.tequi;
        d.glocold = s.glocold;
        d.nr_kelu = s.nr_kelu;
        d.protrco = s.protrco;
        const CirrusRun& a = s.cirrus;
        CirrusRun& b = d.cirrus;
        b.disk_like = a.disk_like;
        b.N0 = a.N0;
        b.rhou = a.rhou;
        b.TXY = a.TXY;
        b.QEFFW = a.QEFFW;
        b.TAUXY = a.TAUXY;
        b.EX = a.EX;
        b.EM = a.EM;
        b.cell = a.cell;
        b.field = a.field;
        b.grains = a.grains;
    }
};

// Computes one cell on the worker's records. incoming: the liin_s position the
// cell starts from (NrKelu::kUnknownPos when its predecessor is not done yet);
// somma_parr_done: whether the line of the first temperature distribution is
// already written when this cell's turn comes.
void compute_cell(CellWorker& wk, const TargetCell& tc, CellResult& res, int incoming, bool somma_parr_done) {
    Run& run = wk.run;
    CirrusRun& cr = run.cirrus;
    CirrusCell& cell = cr.cell;
    TemperatureDistribution& td = run.glopdit;
    wk.out.str(std::string());
    res.error = nullptr;
    res.pah_done = false;
    run.nr_kelu.liin_s_pos = incoming;
    run.nr_kelu.used_unknown = false;
    td.somma_parr_done = somma_parr_done;
    const std::int64_t nexp0 = run.glocold.nexp, nnoexp0 = run.glocold.nnoexp;
    const float dist0 = cr.DISTMEDIATIME, intrho0 = cr.INTRHOTIME, lam0 = cr.GIROLAMTIME;
    try {
        tc.place(cell);
        td.ix.fill(0.0f);
        cr.EX.fill(0.0f);
        cell.sinthet = std::sin(tc.thetat);
        cell.costhet = std::cos(tc.thetat);
        std::vector<float>& col = cr.field.column;
        if (res.given > 0) std::copy(res.column.begin(), res.column.begin() + static_cast<std::ptrdiff_t>(res.given), col.begin());
        const double c1 = thread_cpu_seconds();
        field_at_target(run, res.given);
        const double c2 = thread_cpu_seconds();
        if (!res.column.empty()) std::copy(col.begin(), col.end(), res.column.begin());
        res.t_giroy = static_cast<float>(c2 - c1);
        if (tc.w != 0.0f) {
            check_finite(run, "mean intensity", td.ix, 0);
            cell.chi = trapezoid_ws(run, td.ix.data()) / 0.001776893f;
            if (run.modname.verbose_level == 1)
                wk.con.line(fio::write_line("(' ir=',I5,' ithe=',I5,' CHI=',G15.4)", {tc.it, tc.jt, cell.chi}));
            if (run.modname.pahflag) {
                pah(run);
                res.pah_done = true;
                res.epah.assign(run.glopah.epah.data(), run.glopah.epah.data() + kPahBands);
            }
            grain_emission(run);
        }
    } catch (...) {
        res.error = std::current_exception();
    }
    res.out = wk.out.str();
    res.used_unknown = run.nr_kelu.used_unknown;
    res.kelu = run.nr_kelu;
    res.nexp = run.glocold.nexp - nexp0;
    res.nnoexp = run.glocold.nnoexp - nnoexp0;
    res.t_dist = cr.DISTMEDIATIME - dist0;
    res.t_intrho = cr.INTRHOTIME - intrho0;
    res.t_lam = cr.GIROLAMTIME - lam0;
    res.ex.assign(cr.EX.data(), cr.EX.data() + cr.EX.extent());
    res.ix.assign(td.ix.data(), td.ix.data() + td.ix.extent());
    res.em.assign(cr.EM.data(), cr.EM.data() + cr.EM.extent());
    res.tauxy.assign(cr.TAUXY.data(), cr.TAUXY.data() + cr.TAUXY.extent());
    res.cell = cell;
    res.ray = run.protrco;
    res.aint1 = run.tequi.aint1;
    res.igra = td.igra;
    res.tmin = td.tmin;
    res.tmax = td.tmax;
    res.tdarr.assign(td.tdarr.data(), td.tdarr.data() + td.tdarr.extent());
    res.dpdt.assign(td.dpdt.data(), td.dpdt.data() + td.dpdt.extent());
}

// Writes what a cell wrote on standard output, line by line.
void replay_lines(const Console& con, const std::string& text) {
    std::size_t a = 0;
    while (a < text.size()) {
        const std::size_t b = text.find('\n', a);
        if (b == std::string::npos) {
            con.line(text.substr(a));
            break;
        }
        con.line(text.substr(a, b - a));
        a = b + 1;
    }
}

}  // namespace

void cell_emission(Run& run) {
    CirrusRun& cr = run.cirrus;
    CirrusGrid& g = run.glocold;
    const RunParameters& p = run.parametri;
    CirrusCell& cell = cr.cell;
    TemperatureDistribution& td = run.glopdit;
    const Console& con = run.con;
    const int ndr = run.remind.ndr, nthe = g.nthearr, nlf = run.glopalla.nlf;
    const bool pahflag = run.modname.pahflag;
    if (td.ix.extent() != nlf) td.ix.resize(nlf);

    prepare_field(run);
    prepare_grains(run);
    const int jeq = (nthe + 1) / 2;

    // The cells in the visiting order.
    std::vector<TargetCell> cells;
    for (int it = 2; it <= ndr; ++it) {
        const float rt = 0.5f * (g.rarr(it) + g.rarr(it - 1));
        const float r1 = g.rarr(it - 1), r2 = g.rarr(it);
        for (int jt = jeq; jt >= 2; --jt) {
            TargetCell c;
            c.it = it;
            c.jt = jt;
            c.rt = rt;
            c.thetat = 0.5f * (g.thearr(jt - 1) + g.thearr(jt));
            c.vol = (std::cos(g.thearr(jt - 1)) - std::cos(g.thearr(jt))) * 2.0943954f *
                    (r2 * r2 * r2 - r1 * r1 * r1) * 1e9f;
            const Mat<float>& rho = g.rhodiffarr2d;
            c.w = (rho(it - 1, jt - 1) + rho(it, jt - 1) + rho(it - 1, jt) + rho(it, jt)) / 4.0f;
            c.compute = jt == jeq || (cr.disk_like && (p.intrho_w_r != 0 || c.w != 0.0f));
            cells.push_back(c);
        }
    }
    // The first cell whose emission computes a temperature distribution writes
    // the line of the first one.
    bool small_grains = false;
    for (int j = 1; j <= kBins; ++j)
        if (run.remind.flutflag && !(run.mix.agra(j) > 0.01f)) small_grains = true;
    std::size_t first_pdit = cells.size();
    if (small_grains)
        for (std::size_t k = 0; k < cells.size(); ++k)
            if (cells[k].compute && cells[k].w != 0.0f) {
                first_pdit = k;
                break;
            }

    const bool cached = p.igeo != 0 && (p.intrho_w_r == 1 || p.intrho_w_r == 2);
    const std::size_t npairs = cr.field.column.size();
    const int nthreads = std::max(1, omp_get_max_threads());
    std::vector<std::unique_ptr<CellWorker>> workers(static_cast<std::size_t>(nthreads));
    for (auto& wk : workers) wk = std::make_unique<CellWorker>(run);
    // One thread takes the cells one by one: each starts where the last ended.
    const std::size_t batch = nthreads == 1 ? 1 : 4 * static_cast<std::size_t>(nthreads);
    std::vector<CellResult> results(batch);
    if (cached)
        for (CellResult& r : results) r.column.assign(npairs, 0.0f);

    // What the last computed cell left: the emission and the PAH bands a cell
    // that is not computed takes over.
    std::vector<float> last_ex(static_cast<std::size_t>(nlf), 0.0f);
    for (int i = 1; i <= nlf; ++i) last_ex[i - 1] = cr.EX(i);
    const CellResult* last = nullptr;
    CellResult last_copy;

    std::vector<std::size_t> todo;  // the computed cells of a batch
    for (std::size_t b0 = 0; b0 < cells.size();) {
        // The batch: the cells up to the batch-th computed one.
        todo.clear();
        std::size_t b1 = b0;
        while (b1 < cells.size() && todo.size() < batch) {
            if (cells[b1].compute) todo.push_back(b1);
            ++b1;
        }
        // Its cache records, in the visiting order.
        for (std::size_t k = 0; k < todo.size(); ++k) {
            CellResult& r = results[k];
            r.given = cached ? read_cached_columns(run, r.column.data(), npairs) : 0;
        }
        const int first_incoming = run.nr_kelu.liin_s_pos;
        const bool somma0 = td.somma_parr_done;
        const int ntodo = static_cast<int>(todo.size());
#pragma omp parallel for schedule(dynamic, 1) num_threads(nthreads)
        for (int k = 0; k < ntodo; ++k) {
            CellWorker& wk = *workers[static_cast<std::size_t>(omp_get_thread_num())];
            const std::size_t c = todo[static_cast<std::size_t>(k)];
            compute_cell(wk, cells[c], results[static_cast<std::size_t>(k)],
                         k == 0 ? first_incoming : NrKelu::kUnknownPos, somma0 || c != first_pdit);
        }

        // The batch taken up in the visiting order.
        std::size_t k = 0;
        for (std::size_t c = b0; c < b1; ++c) {
            const TargetCell& tc = cells[c];
            if (tc.compute) {
                CellResult& r = results[k];
                if (r.used_unknown && k > 0) {
                    compute_cell(*workers[0], tc, r, run.nr_kelu.liin_s_pos, somma0 || c != first_pdit);
                    ++cr.cells_redone;
                }
                ++k;
                ++cr.cells_computed;
                replay_lines(con, r.out);
                cell = r.cell;
                if (r.error) std::rethrow_exception(r.error);
                if (cached) write_cached_columns(run, r.column.data(), npairs);
                if (r.kelu.liin_s_pos != NrKelu::kUnknownPos) run.nr_kelu.liin_s_pos = r.kelu.liin_s_pos;
                if (c == first_pdit) td.somma_parr_done = true;
                g.nexp += r.nexp;
                g.nnoexp += r.nnoexp;
                cr.DISTMEDIATIME += r.t_dist;
                cr.INTRHOTIME += r.t_intrho;
                cr.GIROLAMTIME += r.t_lam;
                last_ex = r.ex;
                if (r.pah_done)
                    for (int b = 1; b <= kPahBands; ++b) run.glopah.epah(b) = r.epah[b - 1];
                last = &r;
                if (tc.w == 0.0f) continue;
                cr.GIROYTIME += r.t_giroy;
            } else {
                tc.place(cell);
                if (tc.w == 0.0f) continue;
            }

            // The cell's emission over 4 pi sr and both hemispheres.
            const float w = tc.w, vol = tc.vol;
            const float fac = 3.1415927f * 8.0f * vol;
            for (int i = 1; i <= nlf; ++i) cr.ETOT(i) += fac * last_ex[i - 1];
            if (pahflag) {
                // The cell's hydrogen atoms in both hemispheres, 2 w V 2e33 / 1.66e-24,
                // times the band luminosity per atom, in 1e30 erg/s (the small
                // factors first, so that a massive cell cannot overflow).
                const Vec<float>& epah = run.glopah.epah;
                for (int kb = 1; kb <= kPahBands; ++kb) {
                    cr.TMPEPAH(kb) = w * vol * epah(kb) * (2.0f * 1e24f * 2e3f) / 1.66f;
                    if (!std::isfinite(cr.TMPEPAH(kb))) not_finite(run, "TMPEPAH", cr.TMPEPAH(kb), 0, 0, kb);
                }
                // Each pass computes its 24 values from the spectrum before the
                // pass and then stores them in band order.
                const Vec<int>& idx = run.glopah.indpah;
                for (int off : {0, 1, -1}) {
                    float v[kPahBands];
                    for (int kb = 1; kb <= kPahBands; ++kb) v[kb - 1] = cr.ETOT(idx(kb) + off) + cr.TMPEPAH(kb);
                    for (int kb = 1; kb <= kPahBands; ++kb) cr.ETOT(idx(kb) + off) = v[kb - 1];
                }
            }
            check_finite(run, "ETOT", cr.ETOT, 0);
        }
        // The state the last computed cell left in the records.
        if (last) {
            last_copy = *last;
            last = &last_copy;
        }
        b0 = b1;
    }
    if (last) {
        for (int i = 1; i <= nlf; ++i) {
            cr.EX(i) = last->ex[i - 1];
            td.ix(i) = last->ix[i - 1];
            cr.TAUXY(i) = last->tauxy[i - 1];
        }
        if (static_cast<int>(last->em.size()) == cr.EM.extent())
            for (int i = 1; i <= nlf; ++i) cr.EM(i) = last->em[i - 1];
        run.protrco = last->ray;
        run.tequi.aint1 = last->aint1;
        td.igra = last->igra;
        td.tmin = last->tmin;
        td.tmax = last->tmax;
        for (int l = 1; l <= kPditLevels; ++l) {
            td.tdarr(l) = last->tdarr[l - 1];
            td.dpdt(l) = last->dpdt[l - 1];
        }
    }

    // The loop's work is not needed after it.
    cr.field = CirrusFieldWork{};
    cr.grains = CirrusGrainWork{};

    con.line(fio::list_line({"giroytime=", cr.GIROYTIME}));
    con.line(fio::list_line({"distmediatime=", cr.DISTMEDIATIME}));
    con.line(fio::list_line({"intrhotime=", cr.INTRHOTIME}));
    con.line(fio::list_line({"girolamtime=", cr.GIROLAMTIME}));
}

}  // namespace cirrus
}  // namespace qv
