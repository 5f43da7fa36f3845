// Brent's root finder and the quicksort family (sort, sort2, indexx) with an
// explicit stack of pending ranges. Arrays are 1-based in meaning: arr points to
// entry 1.
#pragma once

#include <cmath>
#include <utility>

#include "core/console.h"
#include "core/stop.h"

namespace qv {

// Brent's method on the bracket x1..x2 with absolute accuracy tol, stopping the
// run with the line no_bracket when the end values have the same sign and with
// no_convergence after 100 iterations. zbrent and the cirrus grains' ZBRENT2
// differ only in these two lines.
template <class F>
float brent_root(F&& func, float x1, float x2, float tol, const char* no_bracket,
                 const char* no_convergence) {
    constexpr int ITMAX = 100;
    constexpr float EPS = 3.0e-8f;
    float a = x1, b = x2, c = x2, d = 0.0f, e = 0.0f;
    float fa = func(a);
    float fb = func(b);
    auto same_sign = [](float u, float v) { return (u > 0.0f && v > 0.0f) || (u < 0.0f && v < 0.0f); };
    if (same_sign(fa, fb)) throw Stop(no_bracket);
    float fc = fb;
    for (int iter = 1; iter <= ITMAX; ++iter) {
        if (same_sign(fb, fc)) {
            c = a;
            fc = fa;
            d = b - a;
            e = d;
        }
        if (std::fabs(fc) < std::fabs(fb)) {
            a = b;
            b = c;
            c = a;
            fa = fb;
            fb = fc;
            fc = fa;
        }
        const float tol1 = 2.0f * EPS * std::fabs(b) + 0.5f * tol;
        const float xm = 0.5f * (c - b);
        if (std::fabs(xm) <= tol1 || fb == 0.0f) return b;
        if (std::fabs(e) >= tol1 && std::fabs(fa) > std::fabs(fb)) {
            const float s = fb / fa;
            float p, q;
            if (a == c) {
                p = 2.0f * xm * s;
                q = 1.0f - s;
            } else {
                q = fa / fc;
                const float r = fb / fc;
                p = s * (2.0f * xm * q * (q - r) - (b - a) * (r - 1.0f));
                q = (q - 1.0f) * (r - 1.0f) * (s - 1.0f);
            }
            if (p > 0.0f) q = -q;
            p = std::fabs(p);
            const float min1 = 3.0f * xm * q - std::fabs(tol1 * q);
            const float min2 = std::fabs(e * q);
            if (2.0f * p < (min1 < min2 ? min1 : min2)) {
                e = d;
                d = p / q;
            } else {
                d = xm;
                e = d;
            }
        } else {
            d = xm;
            e = d;
        }
        a = b;
        fa = fb;
        if (std::fabs(d) > tol1)
            b += d;
        else
            b += (xm >= 0.0f ? std::fabs(tol1) : -std::fabs(tol1));
        fb = func(b);
    }
    throw Stop(no_convergence);
}

// Brent's method on the bracket x1..x2 with absolute accuracy tol. The bracket is
// decided by the signs of the two end values (a zero at either end counts as a
// bracket); no bracket stops the run with "Root must be bracketed for ZBRENT.",
// 100 iterations without convergence with "ZBRENT exceeding maximum iterations.".
template <class F>
float zbrent(F&& func, float x1, float x2, float tol) {
    return brent_root(std::forward<F>(func), x1, x2, tol, " Root must be bracketed for ZBRENT.",
                      " ZBRENT exceeding maximum iterations.");
}

// The quicksort family: median-of-three quicksort with an explicit stack of 25
// pending ranges, the larger part pushed and the smaller sorted first, ranges of
// at most 7 elements by straight insertion (equal keys keep their order there).

// arr(1..n) in ascending order. A full stack stops the run ("NSTACK too small
// in sort").
void sort(int n, float* arr);

// arr(1..n) ascending, brr permuted alongside. A full stack of pending ranges
// pauses the run ("NSTACK too small in sort2"); when the user lets it go on, the
// stack grows.
void sort2(const Console& con, int n, float* arr, float* brr);

// indx(1..n) (positions from 1) such that arr(indx(1)), arr(indx(2)), ...
// ascend; arr unchanged. A full stack stops the run ("NSTACK too small in
// indexx").
void indexx(int n, const float* arr, int* indx);

namespace sort_detail {

// Pending ranges the stack of every member holds.
inline constexpr int kStackPairs = 25;

// The members with the stack capacity (in pending ranges) as a parameter; the
// public routines pass kStackPairs. Only 2^28 elements can fill 25 ranges, so
// tests reach the full-stack paths through a smaller capacity.
void sort(int n, float* arr, int stack_pairs);
void sort2(const Console& con, int n, float* arr, float* brr, int stack_pairs);
void indexx(int n, const float* arr, int* indx, int stack_pairs);

}  // namespace sort_detail

}  // namespace qv
