#include "dust/cirrus_grid.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <stdexcept>

#include "core/allocating.h"
#include "core/run.h"
#include "core/stop.h"
#include "io/format.h"
#include "numerics/roots_sort.h"

namespace qv {

void CirrusGrid::release() {
    rarr.clear();
    thearr.clear();
    phiarr.clear();
    rhostararr.clear();
    rhodiffarr.clear();
    rhodiffarr2d.clear();
    sin_thec.clear();
    cos_thec.clear();
    sin_phic.clear();
    cos_phic.clear();
}

namespace cirrus {

namespace {

constexpr float kHalfPi = 1.5707965f;
constexpr float kPi = 3.141593f;
// Both azimuth halves of the grid: 2 x phiarr(nphi).
constexpr float kTwoPi = 6.283186f;

bool cache_in_use(const Run& run) { return run.parametri.intrho_w_r != 0; }

// NINT: rounds half away from zero.
int nint(float x) { return static_cast<int>(std::lround(x)); }

// The core law (1 + (r/rc)^2)^-e, 1 at the centre node.
float core_law(int i, float r, float rc, float e) {
    if (i == 1) return 1.0f;
    const float q = r / rc;
    return std::pow(1.0f + q * q, -e);
}

float cube(float x) { return x * x * x; }

}  // namespace

float grid_zd(const Run& run) {
    const RunParameters& p = run.parametri;
    return cache_in_use(run) ? p.zddiff : std::min(p.zddiff, p.zdstar);
}

float grid_rd(const Run& run) {
    const RunParameters& p = run.parametri;
    return cache_in_use(run) ? p.rddiff : std::min(p.rddiff, p.rdstar);
}

void grid_sizes(Run& run) {
    RunParameters& p = run.parametri;
    CirrusGrid& g = run.glocold;
    int& ndr = run.remind.ndr;
    const float zd = grid_zd(run);
    const float rd = grid_rd(run);

    if (p.igeo == -1 || p.igeo == 2) {
        g.theta0 = std::asin(0.5f * zd / p.rgal);
        const int n = nint(2.0f * std::log(kHalfPi / g.theta0) / std::log(2.5f) + 3.0f);
        g.nthearr = (n % 2 != 0) ? n : n + 1;
    } else {
        g.theta0 = 0.0f;
    }

    if (p.igeo == 2) {
        ndr = nint(p.rgal / std::min(2.0f * zd, rd));
        run.con.line(fio::list_line({"ndr ideale=", ndr}));
        ndr = std::min(ndr, 80);
    } else if (p.igeo == -1) {
        const int m0 = (run.glotauspe.bsut == 0.0f && !cache_in_use(run)) ? 2 : ndr;
        // The core law spreads its nodes over m0 - 1 intervals.
        if (m0 < 2)
            throw Stop(fio::list_line(
                {"ERROR: igeo=-1 needs at least 2 core nodes in the radial grid (MAIN key ndr), ndr=", m0}));
        g.m0 = m0;
        const int n = nint(0.68f * p.rgal / std::min(2.0f * zd, rd));
        run.con.line(fio::list_line({"ndr ideale=", m0 + n}));
        ndr = std::max(std::min(n, 30) + m0, 20);
    }
    if (ndr < 2)
        throw Stop(fio::list_line({"ERROR: the cirrus grid needs at least 2 radial nodes, ndr=", ndr}));
    if (g.nthearr < 3)
        throw Stop(fio::list_line({"ERROR: the cirrus grid needs at least 3 polar nodes, nthearr=", g.nthearr}));
    run.con.line(fio::list_line({"ndr=", ndr, "  nthearr=", g.nthearr}));
}

void allocate_grids(Run& run) {
    CirrusGrid& g = run.glocold;
    const int ndr = run.remind.ndr, nthe = g.nthearr, nphi = g.nphiarr, ncom = run.remind.ncom;
    allocating(fio::list_line({"GRIDS ALLOCATION ERROR", 1}), [&] {
        g.rarr.resize(ndr);
        g.phiarr.resize(nphi);
        g.thearr.resize(nthe);
        run.cirrus.NORMA.resize(ndr, nthe, ncom);
        g.rhostararr.resize(ndr, nthe, ncom);
        g.rhodiffarr.resize(ndr, nthe, ncom);
        g.rhodiffarr2d.resize(ndr, nthe);
        g.sin_thec.reshape({Bounds{2, nthe}});
        g.cos_thec.reshape({Bounds{2, nthe}});
        g.sin_phic.reshape({Bounds{2, nphi}});
        g.cos_phic.reshape({Bounds{2, nphi}});
    });
}

void grid_nodes(Run& run) {
    const RunParameters& p = run.parametri;
    CirrusGrid& g = run.glocold;
    const int ndr = run.remind.ndr, nthe = g.nthearr, nphi = g.nphiarr;

    // Polar nodes.
    if (p.igeo == -1 || p.igeo == 2) {
        const int m = (nthe - 1) / 2;
        const float t0 = g.theta0;
        g.thearr(1) = 0.0f;
        for (int j = 2; j <= m; ++j) {
            const float e = static_cast<float>(nthe - 2 * j - 1) / static_cast<float>(nthe - 3);
            g.thearr(j) = kHalfPi - t0 * std::pow(kHalfPi / t0, e);
        }
        g.thearr((nthe + 1) / 2) = kHalfPi;
        for (int j = (nthe + 3) / 2; j <= nthe; ++j) g.thearr(j) = kPi - g.thearr(nthe + 1 - j);
    } else {
        for (int k = 1; k <= nthe; ++k)
            g.thearr(k) = kPi * static_cast<float>(k - 1) / static_cast<float>(nthe - 1);
    }

    // Azimuth nodes: the first cell the narrowest, then a geometric progression to pi.
    g.phiarr(1) = 0.0f;
    g.phiarr(2) = 0.39269912f / static_cast<float>(nphi - 1);
    const float s = std::log(kPi / g.phiarr(2)) / static_cast<float>(nphi - 2);
    for (int k = 1; k <= nphi - 2; ++k) g.phiarr(k + 2) = g.phiarr(2) * std::exp(static_cast<float>(k) * s);

    // Radial nodes.
    const bool cache = cache_in_use(run);
    auto core_nodes = [&](int n, float rc) {
        const float q = p.rgal / rc;
        const float top = 1.0f + q * q;
        for (int k = 1; k <= n; ++k)
            g.rarr(k) = rc * std::sqrt(std::pow(top, static_cast<float>(k - 1) / static_cast<float>(n - 1)) - 1.0f);
    };
    switch (p.igeo) {
        case -1: {
            const int m0 = g.m0;
            for (int w = m0 + 1; w <= ndr; ++w)
                g.rarr(w) = p.rgal * static_cast<float>(w - m0) / static_cast<float>(ndr - m0 + 1);
            core_nodes(m0, cache ? p.rddiff / 15.0f : std::min(p.rcdiff, p.rcstar));
            sort(ndr, g.rarr.data());
            break;
        }
        case 1:
            core_nodes(ndr, cache ? p.rcdiff : std::min(p.rcdiff, p.rcstar));
            break;
        case 5:
            core_nodes(ndr, p.rcstar);
            break;
        default:
            for (int k = 1; k <= ndr; ++k)
                g.rarr(k) = p.rgal * static_cast<float>(k - 1) / static_cast<float>(ndr - 1);
            break;
    }
    // Every ray steps from node to node: equal or falling nodes would make it stall.
    for (int k = 2; k <= ndr; ++k)
        if (!(g.rarr(k) > g.rarr(k - 1)))
            throw Stop(fio::list_line({"ERROR: radial nodes of the cirrus grid not ascending at node", k, g.rarr(k - 1),
                                       g.rarr(k)}));

    // Sines and cosines of the cell centres.
    for (int js = 2; js <= nthe; ++js) {
        const float t = 0.5f * (g.thearr(js) + g.thearr(js - 1));
        g.sin_thec(js) = std::sin(static_cast<double>(t));
        g.cos_thec(js) = std::cos(static_cast<double>(t));
    }
    for (int ks = 2; ks <= nphi; ++ks) {
        const float f = 0.5f * (g.phiarr(ks) + g.phiarr(ks - 1));
        g.sin_phic(ks) = std::sin(static_cast<double>(f));
        g.cos_phic(ks) = std::cos(static_cast<double>(f));
    }
}

void densities(Run& run) {
    const RunParameters& p = run.parametri;
    CirrusGrid& g = run.glocold;
    CirrusRun& cr = run.cirrus;
    const int ndr = run.remind.ndr, nthe = g.nthearr;
    const float bsut = run.glotauspe.bsut;
    g.rhostararr.fill(0.0f);
    g.rhodiffarr.fill(0.0f);

    if (p.igeo < -1 || p.igeo > 5) throw Stop(fio::list_line({"ERROR: invalid IGEO!"}));

    if (p.igeo == 0) {
        const float rg3 = p.rgal * p.rgal * p.rgal;
        const float star = 3.0f / (12.566372f * rg3 * 1e9f);
        cr.rhou = 3.0f * cr.Mdiff * 1e12f / (12.566372f * rg3 * 1e9f);
        for (int j = 1; j <= nthe; ++j)
            for (int i = 1; i <= ndr; ++i) {
                g.rhostararr(i, j, 1) = star;
                g.rhodiffarr(i, j, 1) = cr.rhou;
            }
        return;
    }

    const float rlast = g.rarr(ndr);
    for (int j = 1; j <= nthe; ++j) {
        const float st = std::sin(g.thearr(j)), ct = std::cos(g.thearr(j));
        for (int i = 1; i <= ndr; ++i) {
            const float r = g.rarr(i);
            const float R = r * st;
            const float z = std::fabs(r * ct);
            switch (p.igeo) {
                case -1:
                    if (bsut != 1.0f) {
                        g.rhostararr(i, j, 1) = std::exp(-R / p.rdstar) * std::exp(-z / p.zdstar);
                        g.rhodiffarr(i, j, 1) = std::exp(-R / p.rddiff) * std::exp(-z / p.zddiff);
                    }
                    if (bsut != 0.0f) {
                        g.rhostararr(i, j, 2) = core_law(i, r, p.rcstar, 1.5f);
                        g.rhodiffarr(i, j, 2) = core_law(i, r, p.rcdiff, 1.5f);
                    }
                    break;
                case 1:
                    g.rhostararr(i, j, 1) = core_law(i, r, p.rcstar, 1.5f);
                    g.rhodiffarr(i, j, 1) = core_law(i, r, p.rcdiff, 1.5f);
                    break;
                case 2:
                    g.rhostararr(i, j, 1) = std::exp(-R / p.rdstar) * std::exp(-z / p.zdstar);
                    g.rhodiffarr(i, j, 1) = std::exp(-R / p.rddiff) * std::exp(-z / p.zddiff);
                    break;
                case 3:
                    if (i <= 2) {
                        g.rhostararr(i, j, 1) = 1.0f;
                        g.rhodiffarr(i, j, 1) = 1.0f;
                    } else {
                        g.rhostararr(i, j, 1) = cube(g.rarr(2) / r);
                        g.rhodiffarr(i, j, 1) = rlast > 1.5f * r ? g.rarr(2) / r : 0.0f;
                    }
                    break;
                case 4:
                    g.rhostararr(i, j, 1) = 1.0f;
                    g.rhodiffarr(i, j, 1) = rlast > 1.45f * r ? 1.0f : 0.0f;
                    break;
                case 5:
                    g.rhostararr(i, j, 1) = core_law(i, r, p.rcstar, 1.5f);
                    g.rhodiffarr(i, j, 1) = core_law(i, r, p.rcdiff, p.gamdiff);
                    break;
                default:
                    break;
            }
        }
    }
}

float volume_integral(const CirrusGrid& g, int ndr, const float* f) {
    const int nthe = g.nthearr;
    float sum = 0.0f;
    for (int j = 1; j <= nthe - 1; ++j) {
        const float dcos = std::cos(g.thearr(j)) - std::cos(g.thearr(j + 1));
        const float* a = f + static_cast<std::ptrdiff_t>(j - 1) * ndr;  // column j
        const float* b = a + ndr;                                       // column j + 1
        for (int i = 1; i <= ndr - 1; ++i) {
            const float mean = 0.25f * (a[i - 1] + a[i] + b[i - 1] + b[i]);
            sum += mean * (cube(g.rarr(i + 1)) - cube(g.rarr(i))) / 3.0f * dcos;
        }
    }
    return kTwoPi * sum;
}

void normalise(Run& run) {
    const RunParameters& p = run.parametri;
    CirrusGrid& g = run.glocold;
    CirrusRun& cr = run.cirrus;
    const int ndr = run.remind.ndr, nthe = g.nthearr, ncom = run.remind.ncom;
    const std::size_t nn = static_cast<std::size_t>(ndr) * static_cast<std::size_t>(nthe);

    for (int c = 1; c <= ncom; ++c) {
        float* f = g.rhostararr.ptr(1, 1, c);
        const float v = volume_integral(g, ndr, f);
        if (v != 0.0f) {
            const float den = 1e9f * v;
            for (std::size_t k = 0; k < nn; ++k) f[k] = f[k] / den;
        }
    }

    // Dust: component 1 holds 1 - fmdifbul of the mass, component 2 fmdifbul. A
    // component without a dust law (igeo -1 with all stars in one component)
    // hands its share to the other.
    float share[3] = {0.0f, 1.0f - p.fmdifbul, p.fmdifbul};
    float vol[3] = {0.0f, 0.0f, 0.0f};
    for (int c = 1; c <= ncom && c <= 2; ++c) vol[c] = volume_integral(g, ndr, g.rhodiffarr.ptr(1, 1, c));
    if (ncom >= 2) {
        if (vol[1] == 0.0f && vol[2] != 0.0f) {
            share[1] = 0.0f;
            share[2] = 1.0f;
        } else if (vol[2] == 0.0f && vol[1] != 0.0f) {
            share[1] = 1.0f;
            share[2] = 0.0f;
        }
    }
    for (int c = 1; c <= ncom && c <= 2; ++c) {
        if (vol[c] == 0.0f) continue;
        float* f = g.rhodiffarr.ptr(1, 1, c);
        const float fac = 1000.0f * cr.Mdiff * share[c];
        for (std::size_t k = 0; k < nn; ++k) f[k] = fac * f[k] / vol[c];
    }

    for (int j = 1; j <= nthe; ++j)
        for (int i = 1; i <= ndr; ++i) {
            float s = 0.0f;
            for (int c = 1; c <= ncom; ++c) s += g.rhodiffarr(i, j, c);
            g.rhodiffarr2d(i, j) = s;
        }
    cr.N0 = p.rgal * g.rhodiffarr2d(1, 1);
}

std::vector<std::string> grid_log_lines(const Run& run) {
    std::vector<std::string> lines;
    lines.push_back(fio::list_line({"ndr=", run.remind.ndr, "  nthearr=", run.glocold.nthearr}));
    const Glotauspe& gt = run.glotauspe;
    if (gt.istarfo == 4) {
        lines.push_back(fio::list_line({"BULGE/TOT in mass=", gt.bsut}));
        lines.push_back(fio::list_line({"BULGE/TOT in mag=", gt.magbsut}));
    } else if (run.parametri.igeo == -1) {
        lines.push_back(fio::list_line({"BULGE/TOT in mass=", gt.bsut}));
    }
    return lines;
}

void norma(Run& run) {
    CirrusGrid& g = run.glocold;
    FArray<float, 3>& nrm = run.cirrus.NORMA;
    const int ndr = run.remind.ndr, nthe = g.nthearr, ncom = run.remind.ncom;
    nrm.fill(0.0f);
    for (int c = 1; c <= ncom; ++c)
        for (int j = 2; j <= nthe; ++j) {
            const float dcos = std::cos(g.thearr(j - 1)) - std::cos(g.thearr(j));
            const float* a = g.rhostararr.ptr(1, j - 1, c);
            const float* b = g.rhostararr.ptr(1, j, c);
            for (int i = 2; i <= ndr; ++i) {
                const float mean = 0.25f * (a[i - 2] + a[i - 1] + b[i - 2] + b[i - 1]);
                nrm(i, j, c) = mean * dcos * 1e9f * (cube(g.rarr(i)) - cube(g.rarr(i - 1))) / 3.0f;
            }
        }
}

std::int64_t cache_pairs_needed(const Run& run) {
    const RunParameters& p = run.parametri;
    if (p.igeo == 0) return 0;
    if (!(p.emiflag && p.annflag < 2)) return 0;
    const std::int64_t ndr = run.remind.ndr, nthe = run.glocold.nthearr, nphi = run.glocold.nphiarr;
    const bool disk_like = p.igeo != 0 && p.igeo != 1;
    const std::int64_t targets = disk_like ? (ndr - 1) * ((nthe + 1) / 2 - 1) : (ndr - 1);
    return targets * (ndr - 1) * (nphi - 1) * (nthe - 1);
}

}  // namespace cirrus
}  // namespace qv
