#include "solver/interior_rays.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "core/stop.h"
#include "numerics/search.h"
#include "solver/dust_geometry.h"
#include "solver/solver_state.h"

namespace qv {

void RayAngles::set_ray(double theta, double phi) {
    sinthe = std::sin(theta);
    costhe = std::cos(theta);
    sinphi = std::sin(phi);
    cosphi = std::cos(phi);
}

void RayAngles::set_origin(double ct) {
    sinct = std::sin(ct);
    cosct = std::cos(ct);
}

bool field_is_angle_free(const SolverState& g) {
    if (!g.simsfe || g.cthe1 > 0.0f) return false;
    for (int c = 1; c <= kSolverNsp + 1; ++c)
        for (int j = 2; j <= kSolverNct; ++j)
            if (g.rsgra(j, c) != g.rsgra(1, c)) return false;
    for (int k = 1; k <= kSolverNnu; ++k)
        for (int j = 2; j <= kSolverNct; ++j)
            for (int i = 1; i <= kSolverNr; ++i)
                if (g.sarr(i, j, k) != g.sarr(i, 1, k) || g.alfarr(i, j, k) != g.alfarr(i, 1, k))
                    return false;
    return true;
}

bool use_shared_path(const SolverState& g, RayPath path) {
    switch (path) {
        case RayPath::general: return false;
        case RayPath::shared: return true;
        case RayPath::automatic: break;
    }
    return field_is_angle_free(g);
}

RayField ray_field(const SolverState& g, int k, bool shared) {
    RayField f;
    f.rarr = g.rarr.ptr(1);
    f.ctarr = g.ctarr.ptr(1);
    f.rs = g.rsgra.ptr(1, 1);
    f.s = g.sarr.ptr(1, 1, k);
    f.a = g.alfarr.ptr(1, 1, k);
    f.state = &g;
    f.rmax = g.rmax;
    f.shared = shared;
    f.k = k;
    return f;
}

bool in_hole(const RayField& f, float r, float t, int& guess) {
    if (theta_out(*f.state, t)) return true;
    if (r > f.rmax) return true;
    if (r < 0.999f * f.rarr[0]) return true;
    float rs;
    if (f.shared) {
        rs = f.rs[0];
    } else {
        NrKelu st;
        rs = nr_kelu::liin(st, f.ctarr, kSolverNct, f.rs, t, &guess);
    }
    return r < 0.999f * rs;
}

namespace {

// Bracket of x in a table of n entries, confined to the intervals 1..n-1.
inline int cell(int j, int n) { return std::clamp(j, 1, n - 1); }

// Bilinear values of the two planes at (r, t), one search for both.
inline void interpolate(const RayField& f, float r, float t, int& ir, int& it, float& s,
                        float& a) {
    hunt(f.rarr, kSolverNr, r, ir);
    const int i = cell(ir, kSolverNr);
    const float fr = (r - f.rarr[i - 1]) / (f.rarr[i] - f.rarr[i - 1]);
    if (f.shared) {
        s = (1.0f - fr) * f.s[i - 1] + fr * f.s[i];
        a = (1.0f - fr) * f.a[i - 1] + fr * f.a[i];
        return;
    }
    hunt(f.ctarr, kSolverNct, t, it);
    const int j = cell(it, kSolverNct);
    const float ft = (t - f.ctarr[j - 1]) / (f.ctarr[j] - f.ctarr[j - 1]);
    auto at = [](const float* v, int ii, int jj) { return v[(ii - 1) + kSolverNr * (jj - 1)]; };
    auto bil = [&](const float* v) {
        return (1.0f - fr) * ((1.0f - ft) * at(v, i, j) + ft * at(v, i, j + 1)) +
               fr * ((1.0f - ft) * at(v, i + 1, j) + ft * at(v, i + 1, j + 1));
    };
    s = bil(f.s);
    a = bil(f.a);
}

// Where a ray starts and how it ends.
struct MarchStart {
    double x0 = 0.0;      // the origin's distance from the centre, along its local x
    double s0 = 0.0;      // path length of the starting point (cm)
    float r_prev = 0.0f;  // radius and radial bracket of the starting point
    int i_prev = 1;
    float s_prev = 0.0f;  // source function and extinction there
    float a_prev = 0.0f;
    float divisor = 1.0f;  // exterior rays: step divisor
    double s_out = 0.0;    // exterior rays: where the ray leaves the sphere
};

// Steps per ray beyond which a march is taken to be stuck.
constexpr long kMaxSteps = 10000000;

std::string short_number(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.4g", v);
    return buf;
}

// A ray that cannot advance: where it stopped and, when the extinction set the
// step (on the solver's grid), the clouds' optical depth and that extinction,
// with the keys that set them.
[[noreturn]] void stalled(const char* who, const RayField& f, double s, float h, bool by_extinction, float alpha) {
    std::vector<std::string> lines{std::string(" ") + who + ": the ray step makes no progress (path " +
                                   std::to_string(s) + " cm, step " + std::to_string(h) +
                                   " cm); the radial grid or the extinction is not usable"};
    const SolverState* g = f.state;
    if (by_extinction && g && f.k >= 1 && f.k <= kSolverNnu) {
        const double micron = 3.0e14 / std::pow(10.0, static_cast<double>(g->lfarr(f.k)));
        const std::string ext = std::isfinite(alpha) ? "is " + short_number(alpha) + " per cm"
                                                     : "is not a finite number";
        lines.push_back(" the clouds' optical depth at " + short_number(g->altau) + " micron is " +
                        short_number(g->taue) + " and their extinction at " + short_number(micron) + " micron " +
                        ext + ": the clouds are far too opaque for the ray steps");
        lines.push_back(" they are set by the grains and the PAH abundance xx of section MIXMOL, the MAIN keys "
                        "mcloud and rcloud, and the cloud radii of section MC_LINE: make them less opaque");
    }
    throw Stop(lines);
}

// The ray marcher of the interior (Exterior false) and exterior rays: the
// trapezoid in optical depth of the attenuated source function along the ray,
// with its step rule, its approach to the holes and its stop tests. Path
// length and coordinates are 8-byte reals in cm.
template <bool Shared, bool Exterior>
float march(const RayField& f, const RayAngles& pr, const MarchStart& m) {
    const char* who = Exterior ? "intrex" : "intray";
    const float* rarr = f.rarr;
    const float r1 = rarr[0];

    auto point = [&](double s, float& r, float& t) {
        const double x = m.x0 + s * pr.costhe;
        if constexpr (Shared) {
            const double p = s * pr.sinthe;
            r = static_cast<float>(std::sqrt(x * x + p * p));
            t = 1.5707964f;  // not read on this path
        } else {
            const double y = s * pr.sinthe * pr.cosphi;
            const double z = s * pr.sinthe * pr.sinphi;
            const double X = pr.cosct * x - pr.sinct * y;
            const double Y = pr.cosct * y + pr.sinct * x;
            const double rr = std::sqrt(X * X + Y * Y + z * z);
            r = static_cast<float>(rr);
            t = rr > 0.0 ? static_cast<float>(std::acos(std::clamp(X / rr, -1.0, 1.0))) : 0.0f;
        }
    };

    double s = m.s0;
    float rp = m.r_prev;
    int ip = m.i_prev;
    float sp = m.s_prev;
    float ap = m.a_prev;
    float fdiv = 1.0f;
    bool armed = true;
    bool inhole = false;
    float tau = 0.0f;
    float sum = 0.0f;
    float c = 0.0f;
    int gr = m.i_prev;
    int gt = 0;
    int gh = 0;

    for (long n = 0;; ++n) {
        float h;
        if (rp >= r1) {
            const int i = cell(ip, kSolverNr);
            const float dr = rarr[i] - rarr[i - 1];
            h = Exterior ? (dr / 3.0f) / fdiv / m.divisor : dr / fdiv;
            if (ap > 0.0f && 1.0f / ap <= h) h = 1.0f / ap;
        } else {
            h = r1 / (Exterior ? 40.0f : 20.0f);
        }
        const double sn = s + static_cast<double>(h);
        if (!(sn > s) || n > kMaxSteps) stalled(who, f, s, h, rp >= r1 && ap > 0.0f && 1.0f / ap <= h, ap);

        float r, t;
        point(sn, r, t);
        if (in_hole(f, r, t, gh)) {
            if (armed) {
                // Back to the previous point; approach the hole with shorter steps.
                fdiv = 10.0f;
                armed = false;
                continue;
            }
            s = sn;
            rp = r;
            hunt(rarr, kSolverNr, r, gr);
            ip = gr;
            sp = 0.0f;
            fdiv = 1.0f;
            inhole = true;
            if (Exterior ? s > m.s_out : !(r < f.rmax)) break;
            continue;
        }

        s = sn;
        rp = r;
        float sv, alpha;
        interpolate(f, r, t, gr, gt, sv, alpha);
        ip = gr;
        if (sv > 0.0f) {
            float dtau;
            if (inhole) {
                dtau = 0.0f;
                fdiv = 1.0f;
                armed = true;
            } else {
                dtau = h * (ap + alpha) / 2.0f;
            }
            tau += dtau;
            const float sa = sv * std::exp(-tau);
            if (!inhole) {
                c = (sp + sa) * dtau;
                sum += c;
            }
            sp = sa;
            inhole = false;
        } else {
            if (sp > 0.0f) {
                c = h * ap * sp;
                sum += c;
            }
            sp = 0.0f;
            inhole = true;
            if (alpha > 0.0f) tau += h * (ap + alpha) / 2.0f;
        }
        ap = alpha;
        if constexpr (Exterior) {
            if (tau > 6.0f || s > m.s_out) break;
        } else {
            if (std::fabs(c) < std::fabs(0.001f * sum) || tau > 4.0f) break;
            if (!(r < f.rmax)) break;
        }
    }
    return sum / 2.0e20f;
}

template <bool Exterior>
float march_any(const RayField& f, const RayAngles& pr, const MarchStart& m) {
    return f.shared ? march<true, Exterior>(f, pr, m) : march<false, Exterior>(f, pr, m);
}

}  // namespace

float grid_value(const RayField& f, const float* v, float r, float t, int& ir, int& it) {
    RayField one = f;
    one.s = v;
    one.a = v;
    float s, a;
    interpolate(one, r, t, ir, it, s, a);
    return s;
}

void clejd(FArray<float, 4>& array, int na, int nb, int nc, int nd) {
    for (int d = 0; d <= nd; ++d)
        for (int c = 1; c <= nc; ++c)
            for (int b = 1; b <= nb; ++b)
                for (int a = 1; a <= na; ++a) array(a, b, c, d) = 0.0f;
}

float intray(const SolverState& g, const RayField& f, int ir, int ict, float theta, float phi,
             RayAngles& pr) {
    pr.set_ray(theta, phi);
    MarchStart m;
    m.x0 = g.rarr(ir);
    m.s0 = 0.0;
    m.r_prev = g.rarr(ir);
    m.i_prev = ir;
    m.s_prev = f.s[(ir - 1) + kSolverNr * (ict - 1)];
    m.a_prev = f.a[(ir - 1) + kSolverNr * (ict - 1)];
    return march_any<false>(f, pr, m);
}

float intray(const SolverState& g, int ir, int ict, int k, int, float theta, float phi,
             RayAngles& pr, RayPath path) {
    const RayField f = ray_field(g, k, use_shared_path(g, path));
    return intray(g, f, ir, ict, theta, phi, pr);
}

float intrex(const SolverState& g, const RayField& f, float D, float ct, double theta,
             double phi, float divisor, RayAngles& pr) {
    pr.set_ray(theta, phi);
    pr.set_origin(ct);
    const double d = D;
    const double rmax = g.rmax;
    const double c = std::cos(3.141592653589793 - theta);
    double q = (c * c - 1.0) * d * d + rmax * rmax;
    if (q <= 0.0) q = 0.0;
    const double sq = std::sqrt(q);
    MarchStart m;
    m.x0 = d;
    m.s_out = d * c + sq;
    const float back = (g.rarr(40) - g.rarr(39)) / 3.0f / divisor / 10.0f;
    m.s0 = d * c - sq - static_cast<double>(back);
    {
        const double x = d + m.s0 * pr.costhe;
        const double p = m.s0 * pr.sinthe;
        m.r_prev = static_cast<float>(std::sqrt(x * x + p * p));
    }
    m.i_prev = kSolverNr;
    m.s_prev = 0.0f;
    m.a_prev = 0.0f;
    m.divisor = divisor;
    return march_any<true>(f, pr, m);
}

float intrex(const SolverState& g, float D, float ct, int k, int, double theta, double phi,
             float divisor, RayPath path) {
    const RayField f = ray_field(g, k, use_shared_path(g, path));
    RayAngles pr;
    return intrex(g, f, D, ct, theta, phi, divisor, pr);
}

namespace {

// intmed on a prepared field.
void intmed_field(SolverState& g, const RayField& f, int ir, int ict, int k, float& J, float& F) {
    constexpr float pi = 3.141593f;
    RayAngles pr;
    pr.set_origin(g.ctarr(ict));

    // Look angles toward the centre: straight in, two between, then the
    // tangents to shells 3, 7, 11, ... down to the cap's edge.
    float th[51];
    float mu[51];
    float itil1[51];
    float itil2[51];
    const float thcap = pi - (g.thespi(1) + g.thespi(3)) / 2.0f;
    int n = 0;
    for (int i = 1;; ++i) {
        const int j = 4 * i - 1;
        float ratio = j > kSolverNr ? 1.0f : g.rarr(j) / g.rarr(ir);
        if (ratio >= 1.0f) ratio = 1.0f;
        const float tang = pi - std::asin(ratio);
        if (tang < thcap) {
            th[3 + n++] = thcap;
            break;
        }
        th[3 + n++] = tang;
    }
    th[0] = pi;
    th[1] = pi - (pi - th[3]) / 3.0f;
    th[2] = pi - 2.0f * (pi - th[3]) / 3.0f;
    const int N = n + 2;
    for (int m = 0; m <= N; ++m) {
        mu[m] = std::cos(th[m]);
        const float I = intray(g, f, ir, ict, th[m], 0.0f, pr);
        itil1[m] = I;
        itil2[m] = I;
    }
    float s1 = 0.0f;
    float s2 = 0.0f;
    for (int m = 0; m < N; ++m) {
        s1 += (itil1[m] + itil1[m + 1]) * (mu[m] - mu[m + 1]);
        s2 += (itil2[m] + itil2[m + 1]) * (mu[m] - mu[m + 1]);
    }
    g.jdarr(ir, ict, k, 1) = -s1 * 0.78539824f / g.omespi(1);
    g.jdarr(ir, ict, k, 2) = -s2 * 0.78539824f / g.omespi(1);

    for (int d = 3; d <= kSolverNdir; ++d) {
        if (g.thespi(d) != g.thespi(d - 1))
            g.jdarr(ir, ict, k, d) = intray(g, f, ir, ict, pi - g.thespi(d), pi + g.phispi(d), pr);
        else
            g.jdarr(ir, ict, k, d) = g.jdarr(ir, ict, k, d - 1);
    }

    float sj = 0.0f;
    float sf = 0.0f;
    for (int d = 1; d <= kSolverNdir; ++d) {
        sj += g.omespi(d) * g.jdarr(ir, ict, k, d);
        sf += g.omespi(d) * g.jdarr(ir, ict, k, d) * std::cos(g.thespi(d));
    }
    J = 0.5f / 3.141593f * sj;
    F = 2.0f * sf;
    g.jdarr(ir, ict, k, 0) = J;
}

}  // namespace

void intmed(SolverState& g, int ir, int ict, int k, int, float& J, float& F, RayPath path) {
    const RayField f = ray_field(g, k, use_shared_path(g, path));
    intmed_field(g, f, ir, ict, k, J, F);
}

void genjd(SolverState& g, RayPath path) {
    const bool shared = use_shared_path(g, path);
    for (int k = 1; k <= kSolverNnu; ++k) {
        const RayField f = ray_field(g, k, shared);
        for (int ir = 1; ir <= kSolverNr; ++ir) {
            float J, F;
            intmed_field(g, f, ir, 1, k, J, F);
            g.farr(ir, 1, k) = 12.566372f * g.jnarr(ir, 1, k) + F;
            g.jarr(ir, 1, k, 0) = g.jnarr(ir, 1, k) + g.jdarr(ir, 1, k, 0);
        }
    }
    for (int k = 1; k <= kSolverNnu; ++k)
        for (int ict = 2; ict <= kSolverNct; ++ict)
            for (int ir = 1; ir <= kSolverNr; ++ir) {
                for (int d = 0; d <= kSolverNdir; ++d)
                    g.jdarr(ir, ict, k, d) = g.jdarr(ir, 1, k, d);
                g.farr(ir, ict, k) = g.farr(ir, 1, k);
                g.jarr(ir, ict, k, 0) = g.jarr(ir, 1, k, 0);
            }
}

}  // namespace qv
