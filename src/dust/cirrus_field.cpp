// The radiation field in the cirrus at one target point.
#include "dust/cirrus_field.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>

#include "core/run.h"
#include "core/stop.h"
#include "dust/cirrus_phases.h"
#include "io/format.h"

namespace qv::cirrus {

namespace {

// The three series of the fast exponential, written once for the scalar rule
// and for the blocks of add_source so that both give the same numbers.
inline float series1(float t) { return 1.0f - t; }
inline float series2(float t) { return (1.0f - t) + t * t / 2.0f; }
inline float series3(float t) { return ((1.0f - t) + t * t / 2.0f) - 0.16666f * (t * t * t); }

// acc(i) += g light(i) for i < n. The main part has a length the vectoriser
// can take whole; the rest is a short scalar tail.
inline void add_plain(float* __restrict acc, const float* __restrict light, float g, int n) {
    const int m = n & ~7;
    for (int i = 0; i < m; ++i) acc[i] += g * light[i];
    for (int i = m; i < n; ++i) acc[i] += g * light[i];
}

// acc(i) += (g light(i)) (1 - c txys(i)) for i < n.
inline void add_linear(float* __restrict acc, const float* __restrict light, const float* __restrict txys,
                       float g, float c, int n) {
    const int m = n & ~7;
    for (int i = 0; i < m; ++i) acc[i] += (g * light[i]) * series1(c * txys[i]);
    for (int i = m; i < n; ++i) acc[i] += (g * light[i]) * series1(c * txys[i]);
}

// The first k in [lo, n) at which c txys(k) > limit (or, with at_least,
// c txys(k) >= limit) no longer holds: txys descending, so the condition holds
// on a leading block.
inline int end_above(const float* txys, int lo, int n, float c, float limit, bool at_least = false) {
    int hi = n;
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        const float t = c * txys[mid];
        if (at_least ? t >= limit : t > limit)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

std::string short_number(float v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.4g", static_cast<double>(v));
    return buf;
}

}  // namespace

float exp_app(float tau, std::int64_t& nexp, std::int64_t& nnoexp) {
    if (tau < 0.14f) {
        ++nnoexp;
        return series1(tau);
    }
    if (tau < 0.7f) {
        ++nnoexp;
        return series2(tau);
    }
    if (tau <= 1.1f) {
        ++nnoexp;
        return series3(tau);
    }
    if (tau < 50.0f) {
        ++nexp;
        return std::exp(-tau);
    }
    return 0.0f;
}

void add_source(float* acc, const float* light, const float* txys, int n, float g, float c,
                std::int64_t& nexp, std::int64_t& nnoexp) {
    // tau >= 50: no light arrives (and nothing is counted).
    int k = end_above(txys, 0, n, c, 50.0f, true);
    const int k_exp = k;
    for (; k < n; ++k) {
        const float t = c * txys[k];
        if (!(t > 1.1f)) break;
        acc[k] += (g * light[k]) * std::exp(-t);
    }
    nexp += k - k_exp;
    const int k_series = k;
    for (; k < n; ++k) {
        const float t = c * txys[k];
        if (!(t >= 0.7f)) break;
        acc[k] += (g * light[k]) * series3(t);
    }
    for (; k < n; ++k) {
        const float t = c * txys[k];
        if (!(t >= 0.14f)) break;
        acc[k] += (g * light[k]) * series2(t);
    }
    const int k_plain = end_above(txys, k, n, c, 0.01f);
    add_linear(acc + k, light + k, txys + k, g, c, k_plain - k);
    nnoexp += k_plain - k_series;
    add_plain(acc + k_plain, light + k_plain, g, n - k_plain);
}

void count_source(const float* txys, int n, float c, std::int64_t& nexp, std::int64_t& nnoexp) {
    const int k = end_above(txys, 0, n, c, 50.0f, true);
    const int kexp = end_above(txys, k, n, c, 1.1f);
    const int kplain = end_above(txys, kexp, n, c, 0.01f);
    nexp += kexp - k;
    nnoexp += kplain - kexp;
}

// ---------------------------------------------------------------------------
// Distances.

CellMoments cell_moments(float r1f, float r2f, float af, float bf) {
    const double r1 = r1f, r2 = r2f, a = af, b = bf;
    const double r13 = r1 * r1 * r1, r23 = r2 * r2 * r2;
    const double v3 = (r23 - r13) / 3.0;                       // radial part of the volume
    const double v4 = (r23 * r2 - r13 * r1) / 4.0;             // integral of r^3 dr
    const double v5 = (r23 * r2 * r2 - r13 * r1 * r1) / 5.0;  // integral of r^4 dr
    const double sa = std::sin(a), ca = std::cos(a), sb = std::sin(b), cb = std::cos(b);
    const double dcos = ca - cb;                                   // integral of sin
    const double scs = (sb * sb - sa * sa) / 2.0;                  // integral of sin cos
    const double ss = ((b - a) - (sb * cb - sa * ca)) / 2.0;       // integral of sin^2
    return {v5 / v3, v4 * scs / (v3 * dcos), v4 * ss / (v3 * dcos)};
}

double cos_mean(float p1, float p2) {
    return (std::sin(static_cast<double>(p2)) - std::sin(static_cast<double>(p1))) /
           (static_cast<double>(p2) - static_cast<double>(p1));
}

// |x - T|^2 = r^2 + rt^2 - 2 r rt (cos th cos tht + sin th sin tht cos phi),
// averaged over the cell: the closed-form cell integrals of r^4, r^3 cos th
// sin th, r^3 sin^2 th cos phi over its volume, each divided by the volume. The
// average is a small difference of terms of the size of r^2 for a cell near the
// target, so it is summed in 8-byte reals (in 4-byte reals the nearest cells of
// a disk lose one per cent of their distance).
float distmedia_from(const CellMoments& m, double cos_phi_mean, float rtf, double sin_tt, double cos_tt) {
    const double rt = rtf;
    const double d2 = m.r2 + rt * rt - 2.0 * rt * (cos_tt * m.z + sin_tt * m.x * cos_phi_mean);
    return static_cast<float>(1e6 * d2);
}

float distmedia(float r1, float r2, float a, float b, float p1, float p2, float rt, float thetat) {
    const double t = thetat;
    return distmedia_from(cell_moments(r1, r2, a, b), cos_mean(p1, p2), rt, std::sin(t), std::cos(t));
}

// The own cell. With A = r^2 + rt^2, B = 2 r rt and psi = theta - thetat,
//   d^2 = A - B cos psi = (r - rt)^2 + 2 B sin^2(psi/2),
//   sin theta = sin psi cos thetat + cos psi sin thetat,
// and the integral over theta of sin theta / d^2 is
//   cos thetat / B [ln d^2] + sin thetat ( -[psi] / B + A / B [J] ),
// J(psi) = 2 / |r^2 - rt^2| atan((r + rt) / |r - rt| tan(psi/2)), the brackets
// taken between the limits a and b (the half-angle substitution; |psi| < pi).
// tan(psi/2) comes from the half-angle tangents of the limit and of thetat,
// tan(theta/2) = (1 - cos theta) / sin theta: this is where the sine of each
// limit is raised to 1e-5 when it is smaller, so that a cell on the polar axis
// (a = 0) gives tan(a/2) = 0 instead of 0/0, and one reaching the other pole a
// large finite tangent. r = rt, the singularity of the integrand (the cell's
// azimuthal width is neglected), is never a node of the Gauss rule.
float integrando_distmediaapp(float r, float rt, float thetat, float a, float b) {
    auto half_tan = [](float th) { return (1.0f - std::cos(th)) / std::max(std::sin(th), 1e-5f); };
    const float st = std::sin(thetat), ct = std::cos(thetat);
    const float tt = (1.0f - ct) / std::max(st, 1e-5f);
    const float A = r * r + rt * rt;
    const float B = 2.0f * r * rt;
    const float dr = r - rt;
    const float adr = std::fabs(dr);
    const float K = (r + rt) / adr;
    auto limit = [&](float th, float& d2, float& at) {
        const float tl = half_tan(th);
        const float tp = (tl - tt) / (1.0f + tl * tt);  // tan(psi/2)
        const float s2 = tp * tp / (1.0f + tp * tp);    // sin^2(psi/2)
        d2 = dr * dr + 2.0f * B * s2;
        at = std::atan(K * tp);
    };
    float d2a, ata, d2b, atb;
    limit(a, d2a, ata);
    limit(b, d2b, atb);
    const float jdiff = 2.0f * (atb - ata) / (adr * (r + rt));
    const float integral = ct / B * std::log(d2b / d2a) + st * (A / B * jdiff - (b - a) / B);
    return r * r * integral;
}

float own_cell_d2(float r1, float r2, float a, float b, float rt, float thetat) {
    const float c = (r1 + r2) / 2.0f;
    const float h = (r2 - r1) / 2.0f;
    float s = 0.0f;
    for (int m = 0; m < 5; ++m)
        s += kGaussW[m] * (integrando_distmediaapp(c + h * kGaussX[m], rt, thetat, a, b) +
                           integrando_distmediaapp(c - h * kGaussX[m], rt, thetat, a, b));
    const float integral = h * s;
    return (std::cos(a) - std::cos(b)) * ((r2 * r2 * r2 - r1 * r1 * r1) / 3.0f) * 1e6f / integral;
}

// ---------------------------------------------------------------------------
// The work kept for the cell loop.

void prepare_field(Run& run) {
    CirrusRun& cr = run.cirrus;
    const CirrusGrid& g = run.glocold;
    CirrusFieldWork& w = cr.field;
    const int nlf = run.glopalla.nlf, ndr = run.remind.ndr, nthe = g.nthearr, nphi = g.nphiarr;
    const int ncom = cr.FORMA.extent(1);
    w.ready = false;
    w.nlf = nlf;
    w.ndr = ndr;
    w.nthe = nthe;
    w.nphi = nphi;

    // TXY is the diffuse mixture's cross-section per unit gas column: one
    // beyond the 4-byte reals comes from the keys named here.
    for (int i = 1; i <= nlf; ++i)
        if (!(cr.TXY(i) >= 0.0f) || !std::isfinite(cr.TXY(i))) {
            const std::string what = std::isfinite(cr.TXY(i)) ? "is negative" : "is not a finite number";
            const float micron = run.glopalla.ws.extent() >= i ? run.glopalla.ws(i) * 1e-4f : 0.0f;
            throw Stop(std::vector<std::string>{
                fio::list_line({"ERROR: the cirrus optical depth per unit column TXY " + what + " at wavelength index " +
                                std::to_string(i) + " (" + short_number(micron) +
                                " micron): the radiation field cannot be computed"}),
                fio::list_line({"it is set by section MIXDIF (the size distributions, corgra, corsil, and the PAH "
                                "abundance xx with pahflag) and by the MAIN key dsug: the diffuse dust is far too "
                                "opaque; make xx, corgra or corsil smaller"})});
        }

    // Wavelengths by descending TXY (ties in index order).
    w.perm.resize(static_cast<std::size_t>(nlf));
    for (int i = 0; i < nlf; ++i) w.perm[i] = i + 1;
    std::stable_sort(w.perm.begin(), w.perm.end(), [&](int x, int y) { return cr.TXY(x) > cr.TXY(y); });
    w.txys.resize(static_cast<std::size_t>(nlf));
    for (int k = 0; k < nlf; ++k) w.txys[k] = cr.TXY(w.perm[k]);

    const int nr = ndr - 1, nt = nthe - 1, np = nphi - 1;
    const std::size_t ncell = static_cast<std::size_t>(nr) * nt;
    std::vector<float> light(ncell * nlf, 0.0f);
    w.dark.assign(ncell, 1);
    w.m_r2.assign(ncell, 0.0);
    w.m_z.assign(ncell, 0.0);
    w.m_x.assign(ncell, 0.0);
    w.rs.resize(static_cast<std::size_t>(nr));
    for (int is = 2; is <= ndr; ++is) {
        w.rs[is - 2] = 0.5f * (g.rarr(is) + g.rarr(is - 1));
        for (int js = 2; js <= nthe; ++js) {
            const std::size_t q = static_cast<std::size_t>(is - 2) * nt + (js - 2);
            const CellMoments m = cell_moments(g.rarr(is - 1), g.rarr(is), g.thearr(js - 1), g.thearr(js));
            w.m_r2[q] = m.r2;
            w.m_z[q] = m.z;
            w.m_x[q] = m.x;
            bool dark = true;
            for (int c = 1; c <= ncom; ++c)
                if (cr.NORMA(is, js, c) != 0.0f) dark = false;
            w.dark[q] = dark ? 1 : 0;
            if (dark) continue;
            float* L = light.data() + q * nlf;
            for (int k = 0; k < nlf; ++k) {
                const int i = w.perm[k];
                float s = 0.0f;
                for (int c = 1; c <= ncom; ++c) s += cr.FORMA(i, c) * cr.NORMA(is, js, c);
                L[k] = s;
            }
        }
    }
    w.light = std::make_shared<const std::vector<float>>(std::move(light));
    w.dphi.resize(static_cast<std::size_t>(np));
    w.cos_mean.resize(static_cast<std::size_t>(np));
    for (int ks = 2; ks <= nphi; ++ks) {
        w.dphi[ks - 2] = g.phiarr(ks) - g.phiarr(ks - 1);
        w.cos_mean[ks - 2] = cos_mean(g.phiarr(ks - 1), g.phiarr(ks));
    }
    const std::size_t nsrc = ncell * np;
    w.d2.assign(nsrc, 0.0f);
    w.column.assign(nsrc, 0.0f);
    w.acc.assign(static_cast<std::size_t>(nlf), 0.0f);
    w.ready = true;
}

// ---------------------------------------------------------------------------
// giroy.

namespace {

bool field_ready(const Run& run) {
    const CirrusFieldWork& w = run.cirrus.field;
    return w.ready && w.nlf == run.glopalla.nlf && w.ndr == run.remind.ndr && w.nthe == run.glocold.nthearr &&
           w.nphi == run.glocold.nphiarr;
}

}  // namespace

std::size_t read_cached_columns(Run& run, float* column, std::size_t n) {
    CirrusRun& cr = run.cirrus;
    if (run.parametri.igeo == 0 || run.parametri.intrho_w_r != 2) return 0;
    const float n0 = cr.N0;
    std::size_t q = 0;
    float rec = 0.0f;
    for (; q < n && cr.cache.read_pair(rec); ++q) column[q] = rec * n0;
    return q;
}

void write_cached_columns(Run& run, const float* column, std::size_t n) {
    CirrusRun& cr = run.cirrus;
    if (run.parametri.igeo == 0 || run.parametri.intrho_w_r != 1) return;
    const float n0 = cr.N0;
    for (std::size_t q = 0; q < n; ++q) cr.cache.write_pair(column[q] / n0);
}

void giroy(Run& run) {
    if (!field_ready(run)) prepare_field(run);
    std::vector<float>& col = run.cirrus.field.column;
    const std::size_t given = read_cached_columns(run, col.data(), col.size());
    field_at_target(run, given);
    write_cached_columns(run, col.data(), col.size());
}

void field_at_target(Run& run, std::size_t given) {
    CirrusRun& cr = run.cirrus;
    CirrusGrid& g = run.glocold;
    CirrusCell& cell = cr.cell;
    CirrusFieldWork& w = cr.field;
    if (!field_ready(run)) prepare_field(run);
    const int nlf = w.nlf, ndr = w.ndr, nthe = w.nthe, nphi = w.nphi;
    const int nt = nthe - 1, np = nphi - 1;
    const int it = cell.it, jt = cell.jt;
    const float rt = cell.rt;
    const double sin_tt = std::sin(static_cast<double>(cell.thetat));
    const double cos_tt = std::cos(static_cast<double>(cell.thetat));
    const RunParameters& p = run.parametri;
    const Console& con = run.con;

    // 1. Effective squared distances, in the visiting order (is, ks, js).
    const double t0 = con.cpu_seconds();
    std::size_t q = 0;
    for (int is = 2; is <= ndr; ++is)
        for (int ks = 2; ks <= nphi; ++ks) {
            const double cphi = w.cos_mean[ks - 2];
            const std::size_t c0 = static_cast<std::size_t>(is - 2) * nt;
            for (int js = 2; js <= nthe; ++js, ++q) {
                const std::size_t c = c0 + (js - 2);
                w.d2[q] = distmedia_from(CellMoments{w.m_r2[c], w.m_z[c], w.m_x[c]}, cphi, rt, sin_tt, cos_tt);
            }
        }
    const float d2own =
        own_cell_d2(g.rarr(it - 1), g.rarr(it), g.thearr(jt - 1), g.thearr(jt), rt, cell.thetat);
    w.d2[(static_cast<std::size_t>(it - 2) * np) * nt + (jt - 2)] = d2own;

    // 2. Columns of the pairs not read from the cache (none for igeo 0).
    const double t1 = con.cpu_seconds();
    if (p.igeo == 0) {
        for (std::size_t k = 0; k < w.d2.size(); ++k) w.column[k] = std::sqrt(w.d2[k]) * cr.rhou;
    } else if (given < w.column.size()) {
        protrco::PairSources src;
        src.nr = ndr - 1;
        src.np = np;
        src.nt = nt;
        src.rs = w.rs.data();
        src.sin_phi = &g.sin_phic(2);
        src.cos_phi = &g.cos_phic(2);
        src.sin_the = &g.sin_thec(2);
        src.cos_the = &g.cos_thec(2);
        protrco::target_columns(protrco::column_grid(run), src, rt, sin_tt, cos_tt, given, w.column.data(),
                                run.protrco);
    }

    // 3. The light of every source cell, diluted and attenuated, into the field.
    const double t2 = con.cpu_seconds();
    float* acc = w.acc.data();
    Vec<float>& ix = run.glopdit.ix;
    if (ix.extent() != nlf) ix.resize(nlf);
    for (int k = 0; k < nlf; ++k) acc[k] = ix(w.perm[k]);
    std::int64_t nexp = 0, nnoexp = 0;
    q = 0;
    for (int is = 2; is <= ndr; ++is)
        for (int ks = 2; ks <= nphi; ++ks) {
            const float dphi = w.dphi[ks - 2];
            const std::size_t c0 = static_cast<std::size_t>(is - 2) * nt;
            for (int js = 2; js <= nthe; ++js, ++q) {
                const std::size_t c = c0 + (js - 2);
                if (w.dark[c]) {
                    // No light to add; the fast exponential is counted all the same.
                    count_source(w.txys.data(), nlf, w.column[q], nexp, nnoexp);
                    continue;
                }
                const float gdil = dphi / w.d2[q] / 3086.0f / 3086.0f / 157.91370f;
                add_source(acc, w.light->data() + c * nlf, w.txys.data(), nlf, gdil, w.column[q], nexp, nnoexp);
            }
        }
    g.nexp += nexp;
    g.nnoexp += nnoexp;
    // The mirror half of the azimuth, pi to 2 pi.
    for (int k = 0; k < nlf; ++k) ix(w.perm[k]) = acc[k];
    for (int i = 1; i <= nlf; ++i) ix(i) = 2.0f * ix(i);
    const double t3 = con.cpu_seconds();

    cr.DISTMEDIATIME += static_cast<float>(t1 - t0);
    cr.INTRHOTIME += static_cast<float>(t2 - t1);
    cr.GIROLAMTIME += static_cast<float>(t3 - t2);

    // The source-cell state of the last pair visited.
    cell.is = ndr;
    cell.ks = nphi;
    cell.js = nthe;
    cell.rs = w.rs[ndr - 2];
    cell.phis = 0.5f * (g.phiarr(nphi) + g.phiarr(nphi - 1));
    cell.thetas = 0.5f * (g.thearr(nthe) + g.thearr(nthe - 1));
    cell.sinthes = static_cast<float>(g.sin_thec(nthe));
    cell.dphi = w.dphi[np - 1];
    cell.d2 = w.d2.back();
    cell.column = w.column.back();
    for (int i = 1; i <= nlf; ++i) cr.TAUXY(i) = cell.column * cr.TXY(i);
}

}  // namespace qv::cirrus
