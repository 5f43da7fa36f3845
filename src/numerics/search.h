// Table search and interpolation. Tables are passed as a pointer to their first
// entry (entry 1) and their length n; positions are 1-based, 0 meaning before the
// first entry and n beyond the last.
//
// Two rules of search:
//  - the hunt rules (hunt, liin_s, biliin): a constant table counts as
//    descending; an exact hit may land on either side of the entry depending on
//    the caller's guess;
//  - the hunt90 rules (hunt90, liin, poinh): the result does not depend on the
//    guess; x equal to the first entry gives 1, equal to the last gives n-1.
#pragma once

namespace qv {

// Most points that Neville's scheme (and so poinh) takes.
inline constexpr int kNevilleMax = 10;

// Saved state of the interpolators: each of liin and liin_s keeps the position
// of its last search, shared by every call that passes no guess.
struct NrKelu {
    int liin_pos = 0;
    int liin_s_pos = 0;
    // A cell computed ahead of its turn (the cirrus cell loop in threads) starts
    // with liin_s_pos unknown. A search whose result could depend on it (its
    // value lies exactly on a table entry) sets used_unknown: the cell is then
    // done again from the position its predecessor left.
    static constexpr int kUnknownPos = -2147483647 - 1;
    bool used_unknown = false;
};

// Work arrays of poinh (window abscissas and ordinates, the two columns of
// Neville's scheme); refilled on every call.
struct PoinhWork {
    float xs[kNevilleMax] = {};
    float ys[kNevilleMax] = {};
    float c[kNevilleMax] = {};
    float d[kNevilleMax] = {};
};

namespace search_detail {

// The bracketing search shared by both rule families. xx points to entry 1;
// the result is 0..n. Rules: H90 false = hunt rules, true = hunt90 rules.
// Ascending true: the caller knows the table ascends (strictly), which spares
// the direction test in the hottest loops; the result is the same.
template <bool H90, bool Ascending = false>
inline int bracket(const float* xx, int n, float x, int jlo) {
    // Entry i of the table (1-based).
    auto at = [xx](int i) { return xx[i - 1]; };
    const bool ascnd = Ascending || (H90 ? at(n) >= at(1) : at(n) > at(1));
    // x passes entry i: x >= xx(i) ascending, x < xx(i) descending.
    auto passes = [&](int i) { return ascnd ? x >= at(i) : x < at(i); };

    int jhi;
    if (jlo < 1 || jlo > n) {
        jlo = 0;
        jhi = n + 1;
    } else {
        int inc = 1;
        if (passes(jlo)) {
            for (;;) {
                jhi = jlo + inc;
                if (jhi > n) {
                    jhi = n + 1;
                    break;
                }
                if (!passes(jhi)) break;
                jlo = jhi;
                inc += inc;
            }
        } else {
            jhi = jlo;
            for (;;) {
                jlo = jhi - inc;
                if (jlo < 1) {
                    jlo = 0;
                    break;
                }
                if (passes(jlo)) break;
                jhi = jlo;
                inc += inc;
            }
        }
    }

    while (jhi - jlo > 1) {
        const int jm = (jhi + jlo) / 2;
        bool up;
        if constexpr (H90)
            up = passes(jm);
        else
            up = ascnd ? x > at(jm) : x <= at(jm);
        if (up)
            jlo = jm;
        else
            jhi = jm;
    }

    if constexpr (H90) {
        // Hits on the end entries land inside the table.
        if (x == at(n)) jlo = n - 1;
        if (x == at(1)) jlo = 1;
    }
    return jlo;
}

}  // namespace search_detail

// Bracketing search by the hunt rules; jlo is the in/out guess (outside 1..n: none).
void hunt(const float* xx, int n, float x, int& jlo);

namespace nr_kelu {

// Bracketing search by the hunt90 rules.
void hunt90(const float* xx, int n, float x, int& jlo);

// Linear interpolation (hunt90 rules) with linear extrapolation beyond both ends.
// ii: optional in/out guess; the routine's saved position is used when it is null.
float liin(NrKelu& st, const float* xa, int n, const float* ya, float x, int* ii = nullptr);

// Linear interpolation by the hunt rules over xa(1..n).
float liin_s(NrKelu& st, const float* xa, const float* ya, int n, float x, int* ii = nullptr);

// Trapezoid integral of ya over xa; tables of different lengths stop the run
// ("arrays xa and ya must have same dim in function arrint" on standard error).
float arrint(const float* xa, int na, const float* ya, int nb);

}  // namespace nr_kelu

// Neville's scheme over the m points xs(1..m), ys(1..m) at x (1 <= m <= 10);
// returns y and the last correction dy (not written when m is 1). Two equal
// abscissas stop the run ("stop in polint").
void neville(const float* xs, const float* ys, int m, float x, float& y, float& dy);

// The first of the m points (m <= n) that poinh takes around the bracket jlo.
int poinh_window(int jlo, int n, int m);

// Local polynomial interpolation of min(m, n, 10) points around the bracket
// (hunt90 rules; jlo receives the search result). With m = 2 it is linear
// interpolation, and linear extrapolation beyond the table.
void poinh(PoinhWork& w, const float* xa, const float* ya, int n, int m, float x, float& y,
           float& dy, int& jlo);

// Bilinear interpolation on x1a(1..m) by x2a(1..n); ya is m by n, first index
// fastest. j1, j2: in/out guesses (hunt rules).
float biliin(const float* x1a, const float* x2a, const float* ya, int m, int n, float x1, float x2,
             int& j1, int& j2);

}  // namespace qv
