// Integrals of functions that the caller supplies: Romberg integration (qromb),
// a double integral by nested Romberg integration (quad2d), and the trapezoid
// rule refined by halving the step (qtrap). All in 4-byte reals.
//
// The integrands are templates so that the hot callers (small-grain cooling,
// PAH bands) are inlined.
#pragma once

#include <cmath>
#include <string>

#include "core/console.h"
#include "core/stop.h"
#include "numerics/search.h"

namespace qv {

namespace quad_detail {

// Trapezoid stage j (1-based) of f over a..b, refining s in place.
template <class F>
inline void trapzd_stage(F& f, float a, float b, float& s, int j) {
    if (j == 1) {
        const float fa = f(a);
        const float fb = f(b);
        s = 0.5f * (b - a) * (fa + fb);
        return;
    }
    int it = 1;
    for (int k = 1; k < j - 1; ++k) it <<= 1;
    const float tnm = static_cast<float>(it);
    const float del = (b - a) / tnm;
    float x = a + 0.5f * del;
    float sum = 0.0f;
    for (int k = 1; k <= it; ++k, x += del) sum += f(x);
    s = 0.5f * (s + (b - a) * sum / tnm);
}

// Romberg steps shared by qromb, quad2d and its inner integral: 20 stages, 5-point
// extrapolation to step 0 from stage 5, strict test |dss| < eps*|ss|.
// Returns true on convergence; ss holds the last extrapolation either way.
// An integral whose stages are all exactly 0 returns 0 (converged) at stage 5.
template <class F>
inline bool romberg(F& f, float a, float b, float eps, float& ss) {
    constexpr int JMAX = 20;
    constexpr int K = 5;
    float s[JMAX + 2];
    float h[JMAX + 2];
    h[1] = 1.0f;
    ss = 0.0f;
    float cur = 0.0f;
    for (int j = 1; j <= JMAX; ++j) {
        trapzd_stage(f, a, b, cur, j);
        s[j] = cur;
        if (j >= K) {
            float dss = 0.0f;
            neville(&h[j - K + 1], &s[j - K + 1], K, 0.0f, ss, dss);
            if (std::fabs(dss) < eps * std::fabs(ss)) return true;
            if (ss == 0.0f && dss == 0.0f) {
                bool all_zero = true;
                for (int k = 1; k <= j; ++k) all_zero = all_zero && s[k] == 0.0f;
                if (all_zero) return true;
            }
        }
        s[j + 1] = s[j];
        h[j + 1] = 0.25f * h[j];
    }
    return false;
}

}  // namespace quad_detail

// Romberg integral of func from a to b; 20 stages without convergence stop the
// run with "QROMB: Too many steps.". An integral that is exactly 0 (a zero
// integrand, or a = b) returns 0.
template <class F>
float qromb(F&& func, float a, float b, float eps) {
    float ss = 0.0f;
    if (!quad_detail::romberg(func, a, b, eps, ss)) throw Stop(" QROMB: Too many steps.");
    return ss;
}

// Double integral over x from x1 to x2 of the integral over y from y1(x) to
// y2(x) of func(x, y). Neither level stops the run: an inner integral that does
// not converge prints "G_NEW: Too many steps", the outer "QUAD2D: Too many
// steps", and each returns its last extrapolation. A zero-width inner interval
// gives 0 at once.
template <class F, class Y1, class Y2>
float quad2d(const Console& con, float x1, float x2, Y1&& y1, Y2&& y2, F&& func, float eps) {
    auto g = [&](float x) -> float {
        const float lo = y1(x);
        const float hi = y2(x);
        if (lo == hi) return 0.0f;
        auto fy = [&](float y) -> float { return func(x, y); };
        float ss = 0.0f;
        if (!quad_detail::romberg(fy, lo, hi, eps, ss)) con.line(" G_NEW: Too many steps");
        return ss;
    };
    float ss = 0.0f;
    if (!quad_detail::romberg(g, x1, x2, eps, ss)) con.line(" QUAD2D: Too many steps");
    return ss;
}

// Trapezoid refinement: returns at the first stage whose change is below
// eps*|previous|, or 0 for an integral that is 0 from stage 7 on; after 20
// stages it prints "too many steps in qtrap" and returns the last stage.
template <class F>
float qtrap(const Console& con, F&& func, float a, float b, float eps) {
    constexpr int JMAX = 20;
    float olds = -1.0e30f;
    float s = 0.0f;
    for (int j = 1; j <= JMAX; ++j) {
        quad_detail::trapzd_stage(func, a, b, s, j);
        if (std::fabs(s - olds) < eps * std::fabs(olds)) return s;
        if (s == 0.0f && olds == 0.0f && j >= 7) return s;
        olds = s;
    }
    con.line(" too many steps in qtrap");
    return s;
}

}  // namespace qv
