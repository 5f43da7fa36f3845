// The grain and PAH emission of the cirrus, cell by cell.
#include "dust/cirrus_emission.h"

#include <cmath>
#include <cstdio>
#include <cstddef>
#include <string>
#include <vector>

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

void cell_emission(Run& run) {
    CirrusRun& cr = run.cirrus;
    const CirrusGrid& g = run.glocold;
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

    for (int it = 2; it <= ndr; ++it) {
        const float rt = 0.5f * (g.rarr(it) + g.rarr(it - 1));
        const float r1 = g.rarr(it - 1), r2 = g.rarr(it);
        for (int jt = jeq; jt >= 2; --jt) {
            const float thetat = 0.5f * (g.thearr(jt - 1) + g.thearr(jt));
            const float vol = (std::cos(g.thearr(jt - 1)) - std::cos(g.thearr(jt))) * 2.0943954f *
                              (r2 * r2 * r2 - r1 * r1 * r1) * 1e9f;
            const Mat<float>& rho = g.rhodiffarr2d;
            const float w = (rho(it - 1, jt - 1) + rho(it, jt - 1) + rho(it - 1, jt) + rho(it, jt)) / 4.0f;
            cell.it = it;
            cell.jt = jt;
            cell.rt = rt;
            cell.thetat = thetat;
            cell.vol = vol;
            cell.w = w;

            const bool compute = jt == jeq || (cr.disk_like && (p.intrho_w_r != 0 || w != 0.0f));
            if (compute) {
                td.ix.fill(0.0f);
                cr.EX.fill(0.0f);
                cell.sinthet = std::sin(thetat);
                cell.costhet = std::cos(thetat);
                const double c1 = con.cpu_seconds();
                cr.CPUTIME1 = {static_cast<float>(c1), 0.0f};
                giroy(run);
                const double c2 = con.cpu_seconds();
                cr.CPUTIME2 = {static_cast<float>(c2), 0.0f};
                if (w == 0.0f) continue;
                cr.GIROYTIME += static_cast<float>(c2 - c1);
                check_finite(run, "mean intensity", td.ix, 0);

                cell.chi = trapezoid_ws(run, td.ix.data()) / 0.001776893f;
                if (run.modname.verbose_level == 1)
                    con.line(fio::write_line("(' ir=',I5,' ithe=',I5,' CHI=',G15.4)", {it, jt, cell.chi}));
                if (pahflag) pah(run);

                grain_emission(run);
            }
            if (w == 0.0f) continue;

            // The cell's emission over 4 pi sr and both hemispheres.
            const float fac = 3.1415927f * 8.0f * vol;
            for (int i = 1; i <= nlf; ++i) cr.ETOT(i) += fac * cr.EX(i);
            if (pahflag) {
                // The cell's hydrogen atoms in both hemispheres, 2 w V 2e33 / 1.66e-24,
                // times the band luminosity per atom, in 1e30 erg/s (the small
                // factors first, so that a massive cell cannot overflow).
                const Vec<float>& epah = run.glopah.epah;
                for (int k = 1; k <= kPahBands; ++k) {
                    cr.TMPEPAH(k) = w * vol * epah(k) * (2.0f * 1e24f * 2e3f) / 1.66f;
                    if (!std::isfinite(cr.TMPEPAH(k))) not_finite(run, "TMPEPAH", cr.TMPEPAH(k), 0, 0, k);
                }
                // Each pass computes its 24 values from the spectrum before the
                // pass and then stores them in band order.
                const Vec<int>& idx = run.glopah.indpah;
                for (int off : {0, 1, -1}) {
                    float v[kPahBands];
                    for (int k = 1; k <= kPahBands; ++k) v[k - 1] = cr.ETOT(idx(k) + off) + cr.TMPEPAH(k);
                    for (int k = 1; k <= kPahBands; ++k) cr.ETOT(idx(k) + off) = v[k - 1];
                }
            }
            check_finite(run, "ETOT", cr.ETOT, 0);
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
