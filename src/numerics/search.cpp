#include "numerics/search.h"

#include <cmath>
#include <stdexcept>

#include "core/stop.h"

namespace qv {

namespace {

// The interpolation interval for a search result: the end intervals serve
// beyond the table.
inline int clamp_interval(int j, int n) {
    if (j >= n) return n - 1;
    if (j <= 0) return 1;
    return j;
}

inline float lin(const float* xa, const float* ya, int j, float x) {
    // j is 1-based.
    const float x0 = xa[j - 1], x1 = xa[j];
    const float y0 = ya[j - 1], y1 = ya[j];
    return y0 + (x - x0) * (y1 - y0) / (x1 - x0);
}

// Neville's scheme with caller-supplied columns c(1..m), d(1..m).
void neville_cols(const float* xs, const float* ys, int m, float x, float& y, float& dy, float* c,
                  float* d) {
    int ns = 1;
    float dif = std::fabs(x - xs[0]);
    for (int i = 1; i <= m; ++i) {
        const float dift = std::fabs(x - xs[i - 1]);
        if (dift < dif) {
            ns = i;
            dif = dift;
        }
        c[i - 1] = ys[i - 1];
        d[i - 1] = ys[i - 1];
    }
    y = ys[ns - 1];
    --ns;
    if (m == 1) return;
    for (int l = 1; l <= m - 1; ++l) {
        for (int i = 1; i <= m - l; ++i) {
            const float ho = xs[i - 1] - x;
            const float hp = xs[i + l - 1] - x;
            const float w = c[i] - d[i - 1];
            const float den = ho - hp;
            if (den == 0.0f) throw Stop(" stop in polint");
            const float q = w / den;
            d[i - 1] = hp * q;
            c[i - 1] = ho * q;
        }
        if (2 * ns < m - l) {
            dy = c[ns];  // c(ns+1)
        } else {
            dy = d[ns - 1];  // d(ns)
            --ns;
        }
        y += dy;
    }
}

}  // namespace

void hunt(const float* xx, int n, float x, int& jlo) { jlo = search_detail::bracket<false>(xx, n, x, jlo); }

namespace nr_kelu {

void hunt90(const float* xx, int n, float x, int& jlo) { jlo = search_detail::bracket<true>(xx, n, x, jlo); }

float liin(NrKelu& st, const float* xa, int n, const float* ya, float x, int* ii) {
    const int guess = ii ? *ii : st.liin_pos;
    const int r = search_detail::bracket<true>(xa, n, x, guess);
    if (ii) *ii = r;
    st.liin_pos = r;
    return lin(xa, ya, clamp_interval(r, n), x);
}

float liin_s(NrKelu& st, const float* xa, const float* ya, int n, float x, int* ii) {
    int guess = ii ? *ii : st.liin_s_pos;
    const bool unknown = guess == NrKelu::kUnknownPos;
    if (unknown) guess = 0;
    const int r = search_detail::bracket<false>(xa, n, x, guess);
    if (unknown && ((r >= 1 && r <= n && xa[r - 1] == x) || (r >= 0 && r < n && xa[r] == x))) st.used_unknown = true;
    if (ii) *ii = r;
    st.liin_s_pos = r;
    return lin(xa, ya, clamp_interval(r, n), x);
}

float arrint(const float* xa, int na, const float* ya, int nb) {
    if (na != nb) throw Stop("arrays xa and ya must have same dim in function arrint", true);
    const int n = na;
    // A table of fewer than two points spans no interval.
    if (n < 2) return 0.0f;
    float s = (xa[1] - xa[0]) * ya[0] + (xa[n - 1] - xa[n - 2]) * ya[n - 1];
    for (int i = 2; i <= n - 1; ++i) s += (xa[i] - xa[i - 2]) * ya[i - 1];
    return 0.5f * s;
}

}  // namespace nr_kelu

void neville(const float* xs, const float* ys, int m, float x, float& y, float& dy) {
    if (m < 1 || m > kNevilleMax) throw std::invalid_argument("neville: 1 to 10 points");
    float c[kNevilleMax];
    float d[kNevilleMax];
    neville_cols(xs, ys, m, x, y, dy, c, d);
}

int poinh_window(int jlo, int n, int m) {
    const int half = m / 2;
    if (jlo < half) return 1;
    if (jlo > n - m + half) return n - m + 1;
    return jlo - half + 1;
}

void poinh(PoinhWork& w, const float* xa, const float* ya, int n, int m, float x, float& y,
           float& dy, int& jlo) {
    int mm = m < n ? m : n;
    if (mm > kNevilleMax) mm = kNevilleMax;
    if (mm < 1) mm = 1;
    jlo = search_detail::bracket<true>(xa, n, x, jlo);
    const int k = poinh_window(jlo, n, mm);
    for (int i = 0; i < mm; ++i) {
        w.xs[i] = xa[k - 1 + i];
        w.ys[i] = ya[k - 1 + i];
    }
    neville_cols(w.xs, w.ys, mm, x, y, dy, w.c, w.d);
}

float biliin(const float* x1a, const float* x2a, const float* ya, int m, int n, float x1, float x2,
             int& j1, int& j2) {
    j1 = search_detail::bracket<false>(x1a, m, x1, j1);
    j2 = search_detail::bracket<false>(x2a, n, x2, j2);
    const int j = clamp_interval(j1, m);
    const int k = clamp_interval(j2, n);
    const float t = (x1 - x1a[j - 1]) / (x1a[j] - x1a[j - 1]);
    const float u = (x2 - x2a[k - 1]) / (x2a[k] - x2a[k - 1]);
    // ya(j,k), first index fastest, 1-based.
    auto at = [ya, m](int a, int b) { return ya[(a - 1) + static_cast<long>(b - 1) * m]; };
    return (1.0f - t) * ((1.0f - u) * at(j, k) + u * at(j, k + 1)) +
           t * ((1.0f - u) * at(j + 1, k) + u * at(j + 1, k + 1));
}

}  // namespace qv
