// The pair columns of one target in vector lanes (x86-64, chosen at run time:
// eight doubles per register with AVX-512, four with AVX2): several rays march
// at once, one per lane, and a lane takes the next pair as soon as its ray
// ends. Every operation of the scalar march (intrho_sc) is done in the same
// precision and order, so every column has the same bits:
//  - sqrt, +, -, *, / are exact-rounded in lanes as in scalar code;
//  - the arc cosine of the polar angle comes from a polynomial approximation
//    accurate to a few 1e-16 (relative); where a window of 2^-42 around it
//    holds a float rounding boundary, the lane takes std::acos instead, so the
//    float is the one std::acos rounds to;
//  - the hunt searches keep each ray's own guesses: a lane takes a bracket
//    without searching only where the search provably gives it whatever the
//    guess (the point strictly inside a neighbouring cell), where it is the
//    guess's own cell (what the search returns at once), or where the same
//    search was made before (the density's radial search of the last step had
//    the same point and guess as this step's radial search); other lanes (a
//    point on a node, a jump over several cells) search by the scalar rules.
#include "dust/column_density.h"

#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "dust/column_ray.h"

#if defined(__x86_64__)
// GCC 12's AVX-512 header leaves the unused half of some registers undefined on
// purpose, and warns of it wherever those intrinsics are inlined.
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#endif

namespace qv::protrco {

#if defined(__x86_64__)

namespace {

using namespace ray;

#define QV_AVX2 __attribute__((target("avx2")))

constexpr int kWidth = 4;   // lanes of one vector: four doubles in an AVX2 register
constexpr int kGroups = 6;  // vectors in flight (their steps are independent)
constexpr int kLanes = kWidth * kGroups;
constexpr int kWidth8 = 8;  // with AVX-512: eight doubles in a register
constexpr int kGroups8 = kLanes / kWidth8;

// Relative half width of the rounding check of the lanes' arc cosine.
constexpr double kAcosWindow = 0x1p-42;

// The state of the rays in flight, lane by lane.
struct Lanes {
    alignas(64) double b[kLanes], c[kLanes], kz[kLanes], z0[kLanes];  // RayPoints
    alignas(64) float d[kLanes], s[kLanes], col[kLanes], r[kLanes];
    alignas(64) std::int32_t jr[kLanes], j1[kLanes], j2[kLanes];  // search guesses
    alignas(64) std::int32_t h1[kLanes], h2[kLanes];               // where the lanes' tests look for them
    alignas(64) std::int32_t first[kLanes];                        // -1: the ray's first step
    alignas(64) std::int32_t next_known[kLanes];  // -1: the next radial cell is the density's
    alignas(64) std::int32_t live[kLanes];                         // -1: a ray in the lane
    std::size_t q[kLanes];                                          // its pair
};

// A node table padded for the lanes' searches: xx(i) = v[i + 1] for i = -1..n+2,
// with xx(-1) = xx(0) = -inf and xx(n+1) = xx(n+2) = +inf.
struct Padded {
    std::vector<float> v;
    Padded(const float* xx, int n) : v(static_cast<std::size_t>(n) + 4) {
        const float inf = std::numeric_limits<float>::infinity();
        v[0] = v[1] = -inf;
        for (int i = 0; i < n; ++i) v[static_cast<std::size_t>(i) + 2] = xx[i];
        v[static_cast<std::size_t>(n) + 2] = v[static_cast<std::size_t>(n) + 3] = inf;
    }
    const float* at0() const { return v.data() + 1; }  // at0()[i] = xx(i)
};

// The rays of four pairs, as set_direction and RayPoints make them.
struct Prepared {
    alignas(32) double b[4], c[4], kz[4], z0[4];
    alignas(16) float d[4], rs[4];
    std::int32_t jr0[4], js0[4];
    std::size_t q[4];
};

// set_direction and RayPoints of four pairs at once, lane by lane the same
// operations (rs, the source angles and the azimuths per lane).
QV_AVX2 __attribute__((noinline)) void prepare4(Prepared& pr, float rt, double sin_tt, double cos_tt,
                                                const double* st4, const double* ct4, const double* sp4,
                                                const double* cp4) {
    const __m256d one = _mm256_set1_pd(1.0), zero = _mm256_setzero_pd();
    const __m256d rsd = _mm256_cvtps_pd(_mm_load_ps(pr.rs));
    const __m256d st = _mm256_loadu_pd(st4), ct = _mm256_loadu_pd(ct4);
    const __m256d rts = _mm256_set1_pd(static_cast<double>(rt) * sin_tt);
    const __m256d x = _mm256_mul_pd(rts, _mm256_loadu_pd(cp4));
    const __m256d y = _mm256_mul_pd(rts, _mm256_loadu_pd(sp4));
    const __m256d z = _mm256_set1_pd(static_cast<double>(rt) * cos_tt);
    const __m256d t = _mm256_sub_pd(_mm256_mul_pd(ct, x), _mm256_mul_pd(st, z));
    const __m256d m = _mm256_sub_pd(_mm256_add_pd(_mm256_mul_pd(st, x), _mm256_mul_pd(ct, z)), rsd);
    const __m256d h = _mm256_xor_pd(y, _mm256_set1_pd(-0.0));
    __m256d d = _mm256_sqrt_pd(_mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(t, t), _mm256_mul_pd(h, h)), _mm256_mul_pd(m, m)));
    const __m256d tiny = _mm256_cmp_pd(
        d, _mm256_mul_pd(_mm256_set1_pd(1e-12), _mm256_add_pd(_mm256_set1_pd(static_cast<double>(rt)), rsd)),
        _CMP_LE_OQ);
    d = _mm256_andnot_pd(tiny, d);
    const __m256d pos = _mm256_cmp_pd(d, zero, _CMP_GT_OQ);
    const __m256d c = _mm256_min_pd(_mm256_max_pd(_mm256_div_pd(m, d), _mm256_set1_pd(-1.0)), one);
    const __m256d costhe = _mm256_blendv_pd(one, c, pos);
    const __m256d sinthe = _mm256_and_pd(pos, _mm256_sqrt_pd(_mm256_sub_pd(one, _mm256_mul_pd(c, c))));
    const __m256d tilted = _mm256_and_pd(pos, _mm256_cmp_pd(sinthe, _mm256_set1_pd(0.001), _CMP_GT_OQ));
    const __m256d q = _mm256_div_pd(t, _mm256_mul_pd(d, sinthe));
    const __m256d below = _mm256_and_pd(tilted, _mm256_cmp_pd(q, _mm256_set1_pd(-1.0), _CMP_LT_OQ));
    const __m256d within = _mm256_andnot_pd(below, _mm256_and_pd(tilted, _mm256_cmp_pd(q, one, _CMP_LE_OQ)));
    const __m256d cosphi = _mm256_blendv_pd(_mm256_blendv_pd(one, _mm256_set1_pd(-1.0), below), q, within);
    const __m256d sinphi = _mm256_and_pd(within, _mm256_sqrt_pd(_mm256_sub_pd(one, _mm256_mul_pd(q, q))));
    (void)sinphi;  // the points along the ray need only the cosine
    const __m256d ax = _mm256_mul_pd(sinthe, cosphi), az = costhe;
    _mm256_store_pd(pr.b, _mm256_mul_pd(_mm256_mul_pd(_mm256_set1_pd(2.0), rsd), az));
    _mm256_store_pd(pr.c, _mm256_mul_pd(rsd, rsd));
    _mm256_store_pd(pr.kz, _mm256_sub_pd(_mm256_mul_pd(ct, az), _mm256_mul_pd(st, ax)));
    _mm256_store_pd(pr.z0, _mm256_mul_pd(ct, rsd));
    _mm_store_ps(pr.d, _mm256_cvtpd_ps(d));
}

// The pairs not yet started, in the visiting order, prepared four at a time.
struct Feed {
    const PairSources& src;
    float rt;
    double sin_tt, cos_tt;
    float* out;
    float r_parked;
    std::size_t qn, n;
    int ir = 0, ip = 0, ith = 0;  // the source cell of pair qn
    int nthe;
    std::vector<std::int32_t> jr_first;  // the radial cell of each source radius
    Prepared pr;
    int pn = 0, pi = 0;  // pairs prepared, and taken

    Feed(const ColumnGrid& g, const PairSources& s, float rt_, double st, double ct, float* o, std::size_t first)
        : src(s), rt(rt_), sin_tt(st), cos_tt(ct), out(o), r_parked(g.rarr[0]), qn(first), n(s.pairs()),
          nthe(g.nthe), jr_first(static_cast<std::size_t>(s.nr)) {
        // The first step's radial search, from the start point with no guess
        // (the same for every ray from one radius).
        for (int k = 0; k < src.nr; ++k) jr_first[k] = clamp_cell(hunt_up(g.rarr, g.ndr, src.rs[k], 0), g.ndr);
        const std::size_t per_r = static_cast<std::size_t>(src.np) * src.nt;
        if (qn < n) {
            ir = static_cast<int>(qn / per_r);
            const std::size_t rem = qn % per_r;
            ip = static_cast<int>(rem / src.nt);
            ith = static_cast<int>(rem % src.nt);
        }
    }

    // The rays of the next (up to) four pairs; false when none is left.
    bool prepare() {
        if (qn >= n) return false;
        double st[4], ct[4], sp[4], cp[4];
        pn = 0;
        for (int k = 0; k < 4; ++k) {
            if (qn < n) {
                pr.q[k] = qn++;
                pr.rs[k] = src.rs[ir];
                pr.jr0[k] = jr_first[ir];
                pr.js0[k] = ith + 1 < nthe ? ith + 1 : nthe;
                st[k] = src.sin_the[ith];
                ct[k] = src.cos_the[ith];
                sp[k] = src.sin_phi[ip];
                cp[k] = src.cos_phi[ip];
                ++pn;
                if (++ith == src.nt) {
                    ith = 0;
                    if (++ip == src.np) {
                        ip = 0;
                        ++ir;
                    }
                }
            } else {  // the last pair again, unused
                pr.rs[k] = pr.rs[k - 1];
                st[k] = st[k - 1];
                ct[k] = ct[k - 1];
                sp[k] = sp[k - 1];
                cp[k] = cp[k - 1];
            }
        }
        prepare4(pr, rt, sin_tt, cos_tt, st, ct, sp, cp);
        pi = 0;
        return true;
    }

    // Puts the next pair whose segment has a length into lane i (the pairs of
    // length 0 on the way get their column 0); false, and the lane parked, when
    // no pair is left.
    bool next(Lanes& L, int i) {
        for (;;) {
            if (pi == pn && !prepare()) break;
            const int k = pi++;
            if (!(pr.d[k] > 0.0f)) {
                out[pr.q[k]] = 0.0f;
                continue;
            }
            L.b[i] = pr.b[k];
            L.c[i] = pr.c[k];
            L.kz[i] = pr.kz[k];
            L.z0[i] = pr.z0[k];
            L.d[i] = pr.d[k];
            L.s[i] = 0.0f;
            L.col[i] = 0.0f;
            L.r[i] = pr.rs[k];
            // The searches of the first step have no guess; the lanes find the
            // radial cell known, and test the density's cells around the start
            // point's radial cell and the source's polar cell.
            L.jr[i] = pr.jr0[k];
            L.j1[i] = L.j2[i] = 0;
            L.h1[i] = pr.jr0[k];
            L.h2[i] = pr.js0[k];
            L.first[i] = -1;
            L.next_known[i] = 0;
            L.live[i] = -1;
            L.q[i] = pr.q[k];
            return true;
        }
        // A parked lane keeps stepping harmlessly: no length, points at radius 1.
        L.b[i] = 0.0;
        L.c[i] = 1.0;
        L.kz[i] = L.z0[i] = 0.0;
        L.d[i] = L.s[i] = L.col[i] = 0.0f;
        L.r[i] = r_parked;
        L.jr[i] = L.j1[i] = L.j2[i] = L.h1[i] = L.h2[i] = 1;
        L.first[i] = L.next_known[i] = 0;
        L.live[i] = 0;
        return false;
    }
};

struct Tables {
    const float* r0;  // radial nodes, r0[i] = xx(i) for i = -1..ndr+2
    const float* t0;  // polar nodes, likewise
    const float* rho;
    int ndr, nthe;
};

#define QV_LANE QV_AVX2 __attribute__((always_inline)) inline

// Rows i of a 4 by 4 block, one row per lane, into its columns.
QV_LANE void transpose(__m128& a, __m128& b, __m128& c, __m128& d) {
    const __m128 t0 = _mm_unpacklo_ps(a, b), t1 = _mm_unpacklo_ps(c, d);
    const __m128 t2 = _mm_unpackhi_ps(a, b), t3 = _mm_unpackhi_ps(c, d);
    a = _mm_movelh_ps(t0, t1);
    b = _mm_movehl_ps(t1, t0);
    c = _mm_movelh_ps(t2, t3);
    d = _mm_movehl_ps(t3, t2);
}

// The hunt search of x, lane by lane, and the nodes xx(j), xx(j+1) of the cell
// found. The cells around g are tested: where g is the search's guess, its own
// cell xx(g) <= x < xx(g+1) is what the search returns at once; x strictly
// inside g's cell (lanes in `strict`, whose g is only a hint) or the cell
// below or above has that cell whatever the guess; lanes in `known` have the
// result g already. The live lanes that meet none of them, or whose cell is
// not one of 1..n-1 (so that the density's cell differs from the search's),
// are returned as bits: they search by the scalar rules (settle_search).
QV_LANE int search(const float* x0, int n, __m128 x, __m128i g, __m128 known, __m128 strict, __m128i& res,
                   __m128& lo, __m128& hi, int live) {
    alignas(16) std::int32_t gi[kWidth];
    _mm_store_si128(reinterpret_cast<__m128i*>(gi), g);
    __m128 a = _mm_loadu_ps(x0 - 1 + gi[0]);  // xx(g-1) .. xx(g+2) of each lane
    __m128 b0 = _mm_loadu_ps(x0 - 1 + gi[1]);
    __m128 b1 = _mm_loadu_ps(x0 - 1 + gi[2]);
    __m128 c = _mm_loadu_ps(x0 - 1 + gi[3]);
    transpose(a, b0, b1, c);
    const __m128 own = _mm_or_ps(
        known, _mm_andnot_ps(_mm_and_ps(strict, _mm_cmp_ps(b0, x, _CMP_EQ_OQ)),
                             _mm_and_ps(_mm_cmp_ps(b0, x, _CMP_LE_OQ), _mm_cmp_ps(x, b1, _CMP_LT_OQ))));
    const __m128 up = _mm_andnot_ps(known, _mm_and_ps(_mm_cmp_ps(b1, x, _CMP_LT_OQ), _mm_cmp_ps(x, c, _CMP_LT_OQ)));
    const __m128 down = _mm_andnot_ps(known, _mm_and_ps(_mm_cmp_ps(a, x, _CMP_LT_OQ), _mm_cmp_ps(x, b0, _CMP_LT_OQ)));
    res = _mm_sub_epi32(_mm_add_epi32(g, _mm_castps_si128(down)), _mm_castps_si128(up));
    lo = _mm_blendv_ps(_mm_blendv_ps(b0, b1, up), a, down);
    hi = _mm_blendv_ps(_mm_blendv_ps(b1, c, up), b0, down);
    const __m128i inside = _mm_and_si128(_mm_cmpgt_epi32(res, _mm_setzero_si128()),
                                         _mm_cmpgt_epi32(_mm_set1_epi32(n), res));
    const __m128 ok = _mm_and_ps(_mm_or_ps(own, _mm_or_ps(up, down)), _mm_castsi128_ps(inside));
    return ~_mm_movemask_ps(ok) & live;
}

// The scalar search of lane i: the bracket (kept as the next guess) and the
// nodes of the cell (clamped to 1..n-1).
inline void settle_search(const float* x0, int n, float x, std::int32_t guess, std::int32_t& res, float& lo,
                          float& hi) {
    res = hunt_up(x0 + 1, n, x, guess);
    const int j = clamp_cell(res, n);
    lo = x0[j];
    hi = x0[j + 1];
}

// Arc cosine of x in [-1, 1]: pi/2 - asin(x) for |x| <= 0.5, and
// 2 asin(sqrt((1 - |x|) / 2)) (from pi below -0.5) beyond, with asin(y) =
// y + y z P(z), z = y^2 <= 1/4, P a polynomial of degree 11 fitted to
// (asin(y) - y) / (y z) on [0, 1/4] (error 2.3e-16 of its value 1/6), in even
// and odd halves. The relative error is below 3e-16 everywhere (checked
// against std::acos on 2e8 points, most near -1, -0.5, 0.5 and 1), and the
// value exactly 0 at x = 1.
QV_LANE __m256d acos4(__m256d x) {
    const __m256d sign = _mm256_set1_pd(-0.0);
    const __m256d ax = _mm256_andnot_pd(sign, x);
    const __m256d big = _mm256_cmp_pd(ax, _mm256_set1_pd(0.5), _CMP_GT_OQ);
    const __m256d zb = _mm256_mul_pd(_mm256_sub_pd(_mm256_set1_pd(1.0), ax), _mm256_set1_pd(0.5));
    const __m256d z = _mm256_blendv_pd(_mm256_mul_pd(x, x), zb, big);
    const __m256d y = _mm256_blendv_pd(ax, _mm256_sqrt_pd(zb), big);
    const __m256d w = _mm256_mul_pd(z, z);
    // Even powers of z (a) and odd ones (b), highest first.
    __m256d a = _mm256_set1_pd(-0.010749050339697808);
    a = _mm256_add_pd(_mm256_set1_pd(0.0078029494773533175), _mm256_mul_pd(w, a));
    a = _mm256_add_pd(_mm256_set1_pd(0.013929652902326633), _mm256_mul_pd(w, a));
    a = _mm256_add_pd(_mm256_set1_pd(0.02237204763174451), _mm256_mul_pd(w, a));
    a = _mm256_add_pd(_mm256_set1_pd(0.044642857103423646), _mm256_mul_pd(w, a));
    a = _mm256_add_pd(_mm256_set1_pd(0.1666666666666665), _mm256_mul_pd(w, a));
    __m256d b = _mm256_set1_pd(0.028169218060881414);
    b = _mm256_add_pd(_mm256_set1_pd(0.01603551434914882), _mm256_mul_pd(w, b));
    b = _mm256_add_pd(_mm256_set1_pd(0.011875494382636922), _mm256_mul_pd(w, b));
    b = _mm256_add_pd(_mm256_set1_pd(0.017355259955786323), _mm256_mul_pd(w, b));
    b = _mm256_add_pd(_mm256_set1_pd(0.03038194736709848), _mm256_mul_pd(w, b));
    b = _mm256_add_pd(_mm256_set1_pd(0.07500000000020764), _mm256_mul_pd(w, b));
    const __m256d pz = _mm256_mul_pd(z, _mm256_add_pd(a, _mm256_mul_pd(z, b)));
    const __m256d as = _mm256_add_pd(y, _mm256_mul_pd(y, pz));  // asin(y)
    const __m256d two = _mm256_add_pd(as, as);
    const __m256d far = _mm256_blendv_pd(two, _mm256_sub_pd(_mm256_set1_pd(3.141592653589793116), two), x);
    const __m256d near =
        _mm256_sub_pd(_mm256_set1_pd(1.5707963267948966192), _mm256_xor_pd(as, _mm256_and_pd(sign, x)));
    return _mm256_blendv_pd(near, far, big);
}

// The float of the arc cosine where rho > 0 (pos), 0 elsewhere; unsure gets
// the lanes whose value lies within the check window of a float rounding
// boundary, which must take std::acos instead.
QV_LANE __m128 rounded_acos4(__m256d arg, __m256d pos, int& unsure) {
    const __m256d ac = _mm256_and_pd(acos4(arg), pos);
    const __m256d wd = _mm256_mul_pd(ac, _mm256_set1_pd(kAcosWindow));
    const __m128 th = _mm256_cvtpd_ps(_mm256_sub_pd(ac, wd));
    unsure = ~_mm_movemask_ps(_mm_cmp_ps(th, _mm256_cvtpd_ps(_mm256_add_pd(ac, wd)), _CMP_EQ_OQ)) & 15;
    return th;
}

// What a step carries from one stage to the next, lane by lane.
struct Scratch {
    alignas(64) double arg[kLanes];
    alignas(64) float lo[kLanes], hi[kLanes], lo2[kLanes], hi2[kLanes], th[kLanes], delta[kLanes];
    alignas(64) std::int32_t guess[kLanes], guess2[kLanes];
    int miss[kGroups], miss2[kGroups];
};

QV_LANE int live_bits(const Lanes& L, int o) {
    return _mm_movemask_ps(_mm_load_ps(reinterpret_cast<const float*>(L.live + o)));
}
QV_LANE __m128i load_i(const std::int32_t* p) { return _mm_load_si128(reinterpret_cast<const __m128i*>(p)); }
QV_LANE void store_i(std::int32_t* p, __m128i v) { _mm_store_si128(reinterpret_cast<__m128i*>(p), v); }
QV_LANE __m128i clamp_cells(__m128i j, int n) {
    return _mm_min_epi32(_mm_max_epi32(j, _mm_set1_epi32(1)), _mm_set1_epi32(n - 1));
}

// One step of every ray in flight, as intrho_sc's loop body, in stages over
// the groups of lanes (the groups' chains of operations are independent and
// overlap); each stage's scalar leftovers come after it. Returns per group the
// lanes whose ray ended (s >= d).
QV_AVX2 __attribute__((noinline)) void step4(const Tables& t, Lanes& L, Scratch& w, int* ended) {
    // The radial cell of the step. Where the last step's density search had
    // the same point and the same guess, its bracket is this one (w.lo, w.hi
    // still hold its nodes).
    for (int gi = 0; gi < kGroups; ++gi) {
        const int o = gi * kWidth;
        const int live = live_bits(L, o);
        const __m128 known = _mm_load_ps(reinterpret_cast<const float*>(L.next_known + o));
        const int known_bits = _mm_movemask_ps(known);
        const __m128i from_density = clamp_cells(load_i(L.j1 + o), t.ndr);
        if ((known_bits & live) == live) {
            store_i(L.jr + o, from_density);
            w.miss[gi] = 0;
            continue;
        }
        const __m128i g = load_i(L.jr + o);
        __m128i res;
        __m128 lo, hi;
        const __m128 first = _mm_load_ps(reinterpret_cast<const float*>(L.first + o));
        w.miss[gi] = search(t.r0, t.ndr, _mm_load_ps(L.r + o), g, first, _mm_setzero_ps(), res, lo, hi, live) &
                     ~known_bits;
        store_i(w.guess + o, g);
        store_i(L.jr + o, _mm_castps_si128(_mm_blendv_ps(_mm_castsi128_ps(res), _mm_castsi128_ps(from_density), known)));
        _mm_store_ps(w.lo + o, _mm_blendv_ps(lo, _mm_load_ps(w.lo + o), known));
        _mm_store_ps(w.hi + o, _mm_blendv_ps(hi, _mm_load_ps(w.hi + o), known));
    }
    for (int gi = 0; gi < kGroups; ++gi)
        for (int m = w.miss[gi]; m != 0; m &= m - 1) {
            const int i = gi * kWidth + __builtin_ctz(static_cast<unsigned>(m));
            settle_search(t.r0, t.ndr, L.r[i], w.guess[i], L.jr[i], w.lo[i], w.hi[i]);
            L.jr[i] = clamp_cell(L.jr[i], t.ndr);
        }

    // The step and its end point.
    int unsure[kGroups];
    for (int gi = 0; gi < kGroups; ++gi) {
        const int o = gi * kWidth;
        const __m128 cell = _mm_sub_ps(_mm_load_ps(w.hi + o), _mm_load_ps(w.lo + o));
        const __m128 s0 = _mm_load_ps(L.s + o);
        // std::min(cell, d - s): d - s when it is the smaller.
        const __m128 delta = _mm_min_ps(_mm_sub_ps(_mm_load_ps(L.d + o), s0), cell);
        const __m128 s = _mm_add_ps(s0, delta);
        _mm_store_ps(L.s + o, s);
        _mm_store_ps(w.delta + o, delta);
        // RayPoints::at in doubles.
        const __m256d zero = _mm256_setzero_pd();
        const __m256d sd = _mm256_cvtps_pd(s);
        const __m256d v = _mm256_add_pd(_mm256_mul_pd(sd, _mm256_add_pd(sd, _mm256_load_pd(L.b + o))),
                                        _mm256_load_pd(L.c + o));
        const __m256d rho = _mm256_sqrt_pd(_mm256_max_pd(v, zero));
        const __m256d z = _mm256_add_pd(_mm256_mul_pd(_mm256_load_pd(L.kz + o), sd), _mm256_load_pd(L.z0 + o));
        _mm_store_ps(L.r + o, _mm256_cvtpd_ps(rho));
        const __m256d pos = _mm256_cmp_pd(rho, zero, _CMP_GT_OQ);
        const __m256d arg = _mm256_min_pd(_mm256_max_pd(_mm256_div_pd(z, rho), _mm256_set1_pd(-1.0)),
                                          _mm256_set1_pd(1.0));
        const __m128 th = rounded_acos4(arg, pos, unsure[gi]);
        unsure[gi] &= live_bits(L, o);
        _mm_store_ps(w.th + o, th);
        _mm256_store_pd(w.arg + o, arg);
    }
    for (int gi = 0; gi < kGroups; ++gi)
        for (int m = unsure[gi]; m != 0; m &= m - 1) {
            const int i = gi * kWidth + __builtin_ctz(static_cast<unsigned>(m));
            w.th[i] = static_cast<float>(std::acos(w.arg[i]));
        }

    // The cells of the density.
    for (int gi = 0; gi < kGroups; ++gi) {
        const int o = gi * kWidth;
        const int live = live_bits(L, o);
        const __m128 first = _mm_load_ps(reinterpret_cast<const float*>(L.first + o));
        const __m128 none = _mm_setzero_ps();
        __m128i res1, res2;
        __m128 lo1, hi1, lo2, hi2;
        w.miss[gi] = search(t.r0, t.ndr, _mm_load_ps(L.r + o), load_i(L.h1 + o), none, first, res1, lo1, hi1, live);
        w.miss2[gi] = search(t.t0, t.nthe, _mm_load_ps(w.th + o), load_i(L.h2 + o), none, first, res2, lo2, hi2, live);
        const __m128i guess1 = load_i(L.j1 + o);
        store_i(w.guess + o, guess1);
        store_i(w.guess2 + o, load_i(L.j2 + o));
        // The next step searches the same point from the guess L.jr.
        store_i(L.next_known + o, _mm_andnot_si128(_mm_castps_si128(first), _mm_cmpeq_epi32(guess1, load_i(L.jr + o))));
        store_i(L.j1 + o, res1);
        store_i(L.j2 + o, res2);
        store_i(L.first + o, _mm_setzero_si128());
        _mm_store_ps(w.lo + o, lo1);
        _mm_store_ps(w.hi + o, hi1);
        _mm_store_ps(w.lo2 + o, lo2);
        _mm_store_ps(w.hi2 + o, hi2);
    }
    for (int gi = 0; gi < kGroups; ++gi) {
        for (int m = w.miss[gi]; m != 0; m &= m - 1) {
            const int i = gi * kWidth + __builtin_ctz(static_cast<unsigned>(m));
            settle_search(t.r0, t.ndr, L.r[i], w.guess[i], L.j1[i], w.lo[i], w.hi[i]);
        }
        std::memcpy(L.h1 + gi * kWidth, L.j1 + gi * kWidth, sizeof(std::int32_t) * kWidth);
        for (int m = w.miss2[gi]; m != 0; m &= m - 1) {
            const int i = gi * kWidth + __builtin_ctz(static_cast<unsigned>(m));
            settle_search(t.t0, t.nthe, w.th[i], w.guess2[i], L.j2[i], w.lo2[i], w.hi2[i]);
        }
        std::memcpy(L.h2 + gi * kWidth, L.j2 + gi * kWidth, sizeof(std::int32_t) * kWidth);
    }

    // The density, bilinear in the node table, and the column.
    for (int gi = 0; gi < kGroups; ++gi) {
        const int o = gi * kWidth;
        const __m128i one = _mm_set1_epi32(1);
        const __m128i j = clamp_cells(load_i(L.j1 + o), t.ndr);
        const __m128i k = clamp_cells(load_i(L.j2 + o), t.nthe);
        alignas(16) std::int32_t at[kWidth];
        store_i(at, _mm_add_epi32(_mm_mullo_epi32(_mm_sub_epi32(k, one), _mm_set1_epi32(t.ndr)), _mm_sub_epi32(j, one)));
        // Per lane c0[j-1], c0[j], c1[j-1], c1[j]; then per corner.
        __m128 c00, c01, c10, c11;
        {
            const __m128 z = _mm_setzero_ps();
            auto corners = [&](int i) QV_AVX2 {
                const float* p = t.rho + at[i];
                return _mm_loadh_pi(_mm_loadl_pi(z, reinterpret_cast<const __m64*>(p)),
                                    reinterpret_cast<const __m64*>(p + t.ndr));
            };
            c00 = corners(0);
            c01 = corners(1);
            c10 = corners(2);
            c11 = corners(3);
            transpose(c00, c01, c10, c11);
        }
        const __m128 r = _mm_load_ps(L.r + o), th = _mm_load_ps(w.th + o);
        const __m128 x1lo = _mm_load_ps(w.lo + o), x1hi = _mm_load_ps(w.hi + o);
        const __m128 x2lo = _mm_load_ps(w.lo2 + o), x2hi = _mm_load_ps(w.hi2 + o);
        const __m128 tf = _mm_div_ps(_mm_sub_ps(r, x1lo), _mm_sub_ps(x1hi, x1lo));
        const __m128 uf = _mm_div_ps(_mm_sub_ps(th, x2lo), _mm_sub_ps(x2hi, x2lo));
        const __m128 onef = _mm_set1_ps(1.0f);
        const __m128 omu = _mm_sub_ps(onef, uf), omt = _mm_sub_ps(onef, tf);
        const __m128 dens = _mm_add_ps(_mm_mul_ps(omt, _mm_add_ps(_mm_mul_ps(omu, c00), _mm_mul_ps(uf, c10))),
                                       _mm_mul_ps(tf, _mm_add_ps(_mm_mul_ps(omu, c01), _mm_mul_ps(uf, c11))));
        _mm_store_ps(L.col + o, _mm_add_ps(_mm_load_ps(L.col + o), _mm_mul_ps(dens, _mm_load_ps(w.delta + o))));
        ended[gi] = ~_mm_movemask_ps(_mm_cmp_ps(_mm_load_ps(L.s + o), _mm_load_ps(L.d + o), _CMP_LT_OQ)) &
                    live_bits(L, o);
    }
}

// ---------------------------------------------------------------------------
// The same step with AVX-512: eight lanes per register of doubles, and the
// floats and indices of the eight lanes in one AVX register. Each operation is
// that of step4, lane by lane.

#define QV_AVX512 __attribute__((target("avx2,avx512f")))
#define QV_LANE8 QV_AVX512 __attribute__((always_inline)) inline

// Rows of two 4 by 4 blocks (lanes 0-3 in the low halves, 4-7 in the high
// halves) into their columns.
QV_LANE8 void transpose8(__m256& a, __m256& b, __m256& c, __m256& d) {
    const __m256 t0 = _mm256_unpacklo_ps(a, b), t1 = _mm256_unpacklo_ps(c, d);
    const __m256 t2 = _mm256_unpackhi_ps(a, b), t3 = _mm256_unpackhi_ps(c, d);
    a = _mm256_shuffle_ps(t0, t1, 0x44);
    b = _mm256_shuffle_ps(t0, t1, 0xEE);
    c = _mm256_shuffle_ps(t2, t3, 0x44);
    d = _mm256_shuffle_ps(t2, t3, 0xEE);
}

QV_LANE8 __m256 rows(const float* p, const float* q) {
    return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(p)), _mm_loadu_ps(q), 1);
}

QV_LANE8 __m256 as_ps(const std::int32_t* p) { return _mm256_load_ps(reinterpret_cast<const float*>(p)); }
QV_LANE8 __m256i load8(const std::int32_t* p) { return _mm256_load_si256(reinterpret_cast<const __m256i*>(p)); }
QV_LANE8 void store8(std::int32_t* p, __m256i v) { _mm256_store_si256(reinterpret_cast<__m256i*>(p), v); }
QV_LANE8 __m256i clamp8(__m256i j, int n) {
    return _mm256_min_epi32(_mm256_max_epi32(j, _mm256_set1_epi32(1)), _mm256_set1_epi32(n - 1));
}

// search, eight lanes.
QV_LANE8 int search8(const float* x0, int n, __m256 x, __m256i g, __m256 known, __m256 strict, __m256i& res,
                     __m256& lo, __m256& hi, int live) {
    alignas(32) std::int32_t gi[kWidth8];
    store8(gi, g);
    const float* p = x0 - 1;
    __m256 a = rows(p + gi[0], p + gi[4]);  // xx(g-1) .. xx(g+2) of each lane
    __m256 b0 = rows(p + gi[1], p + gi[5]);
    __m256 b1 = rows(p + gi[2], p + gi[6]);
    __m256 c = rows(p + gi[3], p + gi[7]);
    transpose8(a, b0, b1, c);
    const __m256 own = _mm256_or_ps(
        known, _mm256_andnot_ps(_mm256_and_ps(strict, _mm256_cmp_ps(b0, x, _CMP_EQ_OQ)),
                                _mm256_and_ps(_mm256_cmp_ps(b0, x, _CMP_LE_OQ), _mm256_cmp_ps(x, b1, _CMP_LT_OQ))));
    const __m256 up =
        _mm256_andnot_ps(known, _mm256_and_ps(_mm256_cmp_ps(b1, x, _CMP_LT_OQ), _mm256_cmp_ps(x, c, _CMP_LT_OQ)));
    const __m256 down =
        _mm256_andnot_ps(known, _mm256_and_ps(_mm256_cmp_ps(a, x, _CMP_LT_OQ), _mm256_cmp_ps(x, b0, _CMP_LT_OQ)));
    res = _mm256_sub_epi32(_mm256_add_epi32(g, _mm256_castps_si256(down)), _mm256_castps_si256(up));
    lo = _mm256_blendv_ps(_mm256_blendv_ps(b0, b1, up), a, down);
    hi = _mm256_blendv_ps(_mm256_blendv_ps(b1, c, up), b0, down);
    const __m256i inside = _mm256_and_si256(_mm256_cmpgt_epi32(res, _mm256_setzero_si256()),
                                            _mm256_cmpgt_epi32(_mm256_set1_epi32(n), res));
    const __m256 ok = _mm256_and_ps(_mm256_or_ps(own, _mm256_or_ps(up, down)), _mm256_castsi256_ps(inside));
    return ~_mm256_movemask_ps(ok) & live;
}

// acos4, eight lanes.
QV_LANE8 __m512d acos8(__m512d x) {
    const __m512d zero = _mm512_setzero_pd();
    const __m512d ax = _mm512_abs_pd(x);
    const __mmask8 big = _mm512_cmp_pd_mask(ax, _mm512_set1_pd(0.5), _CMP_GT_OQ);
    const __mmask8 neg = _mm512_cmp_pd_mask(x, zero, _CMP_LT_OQ);
    const __m512d zb = _mm512_mul_pd(_mm512_sub_pd(_mm512_set1_pd(1.0), ax), _mm512_set1_pd(0.5));
    const __m512d z = _mm512_mask_blend_pd(big, _mm512_mul_pd(x, x), zb);
    const __m512d y = _mm512_mask_blend_pd(big, ax, _mm512_sqrt_pd(zb));
    const __m512d w = _mm512_mul_pd(z, z);
    __m512d a = _mm512_set1_pd(-0.010749050339697808);
    a = _mm512_add_pd(_mm512_set1_pd(0.0078029494773533175), _mm512_mul_pd(w, a));
    a = _mm512_add_pd(_mm512_set1_pd(0.013929652902326633), _mm512_mul_pd(w, a));
    a = _mm512_add_pd(_mm512_set1_pd(0.02237204763174451), _mm512_mul_pd(w, a));
    a = _mm512_add_pd(_mm512_set1_pd(0.044642857103423646), _mm512_mul_pd(w, a));
    a = _mm512_add_pd(_mm512_set1_pd(0.1666666666666665), _mm512_mul_pd(w, a));
    __m512d b = _mm512_set1_pd(0.028169218060881414);
    b = _mm512_add_pd(_mm512_set1_pd(0.01603551434914882), _mm512_mul_pd(w, b));
    b = _mm512_add_pd(_mm512_set1_pd(0.011875494382636922), _mm512_mul_pd(w, b));
    b = _mm512_add_pd(_mm512_set1_pd(0.017355259955786323), _mm512_mul_pd(w, b));
    b = _mm512_add_pd(_mm512_set1_pd(0.03038194736709848), _mm512_mul_pd(w, b));
    b = _mm512_add_pd(_mm512_set1_pd(0.07500000000020764), _mm512_mul_pd(w, b));
    const __m512d pz = _mm512_mul_pd(z, _mm512_add_pd(a, _mm512_mul_pd(z, b)));
    const __m512d as = _mm512_add_pd(y, _mm512_mul_pd(y, pz));  // asin(y)
    const __m512d two = _mm512_add_pd(as, as);
    const __m512d far = _mm512_mask_blend_pd(neg, two, _mm512_sub_pd(_mm512_set1_pd(3.141592653589793116), two));
    const __m512d near = _mm512_sub_pd(_mm512_set1_pd(1.5707963267948966192),
                                       _mm512_mask_blend_pd(neg, as, _mm512_sub_pd(zero, as)));
    return _mm512_mask_blend_pd(big, near, far);
}

// rounded_acos4, eight lanes.
QV_LANE8 __m256 rounded_acos8(__m512d arg, __mmask8 pos, int& unsure) {
    const __m512d ac = _mm512_maskz_mov_pd(pos, acos8(arg));
    const __m512d wd = _mm512_mul_pd(ac, _mm512_set1_pd(kAcosWindow));
    const __m256 th = _mm512_cvtpd_ps(_mm512_sub_pd(ac, wd));
    unsure = ~_mm256_movemask_ps(_mm256_cmp_ps(th, _mm512_cvtpd_ps(_mm512_add_pd(ac, wd)), _CMP_EQ_OQ)) & 255;
    return th;
}

// step4, eight lanes per group.
QV_AVX512 __attribute__((noinline)) void step8(const Tables& t, Lanes& L, Scratch& w, int* ended) {
    constexpr int W = kWidth8;
    // The radial cell of the step.
    for (int gi = 0; gi < kGroups8; ++gi) {
        const int o = gi * W;
        const int live = _mm256_movemask_ps(as_ps(L.live + o));
        const __m256 known = as_ps(L.next_known + o);
        const int known_bits = _mm256_movemask_ps(known);
        const __m256i from_density = clamp8(load8(L.j1 + o), t.ndr);
        if ((known_bits & live) == live) {
            store8(L.jr + o, from_density);
            w.miss[gi] = 0;
            continue;
        }
        const __m256i g = load8(L.jr + o);
        __m256i res;
        __m256 lo, hi;
        w.miss[gi] = search8(t.r0, t.ndr, _mm256_load_ps(L.r + o), g, as_ps(L.first + o), _mm256_setzero_ps(), res,
                             lo, hi, live) &
                     ~known_bits;
        store8(w.guess + o, g);
        store8(L.jr + o, _mm256_castps_si256(
                             _mm256_blendv_ps(_mm256_castsi256_ps(res), _mm256_castsi256_ps(from_density), known)));
        _mm256_store_ps(w.lo + o, _mm256_blendv_ps(lo, _mm256_load_ps(w.lo + o), known));
        _mm256_store_ps(w.hi + o, _mm256_blendv_ps(hi, _mm256_load_ps(w.hi + o), known));
    }
    for (int gi = 0; gi < kGroups8; ++gi)
        for (int m = w.miss[gi]; m != 0; m &= m - 1) {
            const int i = gi * W + __builtin_ctz(static_cast<unsigned>(m));
            settle_search(t.r0, t.ndr, L.r[i], w.guess[i], L.jr[i], w.lo[i], w.hi[i]);
            L.jr[i] = clamp_cell(L.jr[i], t.ndr);
        }

    // The step and its end point.
    int unsure[kGroups8];
    for (int gi = 0; gi < kGroups8; ++gi) {
        const int o = gi * W;
        const __m256 cell = _mm256_sub_ps(_mm256_load_ps(w.hi + o), _mm256_load_ps(w.lo + o));
        const __m256 s0 = _mm256_load_ps(L.s + o);
        const __m256 delta = _mm256_min_ps(_mm256_sub_ps(_mm256_load_ps(L.d + o), s0), cell);
        const __m256 s = _mm256_add_ps(s0, delta);
        _mm256_store_ps(L.s + o, s);
        _mm256_store_ps(w.delta + o, delta);
        const __m512d zero = _mm512_setzero_pd();
        const __m512d sd = _mm512_cvtps_pd(s);
        const __m512d v = _mm512_add_pd(_mm512_mul_pd(sd, _mm512_add_pd(sd, _mm512_load_pd(L.b + o))),
                                        _mm512_load_pd(L.c + o));
        const __m512d rho = _mm512_sqrt_pd(_mm512_max_pd(v, zero));
        const __m512d z = _mm512_add_pd(_mm512_mul_pd(_mm512_load_pd(L.kz + o), sd), _mm512_load_pd(L.z0 + o));
        _mm256_store_ps(L.r + o, _mm512_cvtpd_ps(rho));
        const __mmask8 pos = _mm512_cmp_pd_mask(rho, zero, _CMP_GT_OQ);
        const __m512d arg = _mm512_min_pd(_mm512_max_pd(_mm512_div_pd(z, rho), _mm512_set1_pd(-1.0)),
                                          _mm512_set1_pd(1.0));
        const __m256 th = rounded_acos8(arg, pos, unsure[gi]);
        unsure[gi] &= _mm256_movemask_ps(as_ps(L.live + o));
        _mm256_store_ps(w.th + o, th);
        _mm512_store_pd(w.arg + o, arg);
    }
    for (int gi = 0; gi < kGroups8; ++gi)
        for (int m = unsure[gi]; m != 0; m &= m - 1) {
            const int i = gi * W + __builtin_ctz(static_cast<unsigned>(m));
            w.th[i] = static_cast<float>(std::acos(w.arg[i]));
        }

    // The cells of the density.
    for (int gi = 0; gi < kGroups8; ++gi) {
        const int o = gi * W;
        const int live = _mm256_movemask_ps(as_ps(L.live + o));
        const __m256 first = as_ps(L.first + o);
        const __m256 none = _mm256_setzero_ps();
        __m256i res1, res2;
        __m256 lo1, hi1, lo2, hi2;
        w.miss[gi] = search8(t.r0, t.ndr, _mm256_load_ps(L.r + o), load8(L.h1 + o), none, first, res1, lo1, hi1, live);
        w.miss2[gi] =
            search8(t.t0, t.nthe, _mm256_load_ps(w.th + o), load8(L.h2 + o), none, first, res2, lo2, hi2, live);
        const __m256i guess1 = load8(L.j1 + o);
        store8(w.guess + o, guess1);
        store8(w.guess2 + o, load8(L.j2 + o));
        store8(L.next_known + o,
               _mm256_andnot_si256(_mm256_castps_si256(first), _mm256_cmpeq_epi32(guess1, load8(L.jr + o))));
        store8(L.j1 + o, res1);
        store8(L.j2 + o, res2);
        store8(L.first + o, _mm256_setzero_si256());
        _mm256_store_ps(w.lo + o, lo1);
        _mm256_store_ps(w.hi + o, hi1);
        _mm256_store_ps(w.lo2 + o, lo2);
        _mm256_store_ps(w.hi2 + o, hi2);
    }
    for (int gi = 0; gi < kGroups8; ++gi) {
        for (int m = w.miss[gi]; m != 0; m &= m - 1) {
            const int i = gi * W + __builtin_ctz(static_cast<unsigned>(m));
            settle_search(t.r0, t.ndr, L.r[i], w.guess[i], L.j1[i], w.lo[i], w.hi[i]);
        }
        std::memcpy(L.h1 + gi * W, L.j1 + gi * W, sizeof(std::int32_t) * W);
        for (int m = w.miss2[gi]; m != 0; m &= m - 1) {
            const int i = gi * W + __builtin_ctz(static_cast<unsigned>(m));
            settle_search(t.t0, t.nthe, w.th[i], w.guess2[i], L.j2[i], w.lo2[i], w.hi2[i]);
        }
        std::memcpy(L.h2 + gi * W, L.j2 + gi * W, sizeof(std::int32_t) * W);
    }

    // The density and the column.
    for (int gi = 0; gi < kGroups8; ++gi) {
        const int o = gi * W;
        const __m256i one = _mm256_set1_epi32(1);
        const __m256i j = clamp8(load8(L.j1 + o), t.ndr);
        const __m256i k = clamp8(load8(L.j2 + o), t.nthe);
        alignas(32) std::int32_t at[W];
        store8(at, _mm256_add_epi32(_mm256_mullo_epi32(_mm256_sub_epi32(k, one), _mm256_set1_epi32(t.ndr)),
                                    _mm256_sub_epi32(j, one)));
        __m256 c00, c01, c10, c11;
        {
            const __m128 zf = _mm_setzero_ps();
            auto corners = [&](int i) QV_AVX512 {
                const float* p = t.rho + at[i];
                return _mm_loadh_pi(_mm_loadl_pi(zf, reinterpret_cast<const __m64*>(p)),
                                    reinterpret_cast<const __m64*>(p + t.ndr));
            };
            auto two_rows = [&](int i) QV_AVX512 {
                return _mm256_insertf128_ps(_mm256_castps128_ps256(corners(i)), corners(i + 4), 1);
            };
            c00 = two_rows(0);
            c01 = two_rows(1);
            c10 = two_rows(2);
            c11 = two_rows(3);
            transpose8(c00, c01, c10, c11);
        }
        const __m256 r = _mm256_load_ps(L.r + o), th = _mm256_load_ps(w.th + o);
        const __m256 x1lo = _mm256_load_ps(w.lo + o), x1hi = _mm256_load_ps(w.hi + o);
        const __m256 x2lo = _mm256_load_ps(w.lo2 + o), x2hi = _mm256_load_ps(w.hi2 + o);
        const __m256 tf = _mm256_div_ps(_mm256_sub_ps(r, x1lo), _mm256_sub_ps(x1hi, x1lo));
        const __m256 uf = _mm256_div_ps(_mm256_sub_ps(th, x2lo), _mm256_sub_ps(x2hi, x2lo));
        const __m256 onef = _mm256_set1_ps(1.0f);
        const __m256 omu = _mm256_sub_ps(onef, uf), omt = _mm256_sub_ps(onef, tf);
        const __m256 dens =
            _mm256_add_ps(_mm256_mul_ps(omt, _mm256_add_ps(_mm256_mul_ps(omu, c00), _mm256_mul_ps(uf, c10))),
                          _mm256_mul_ps(tf, _mm256_add_ps(_mm256_mul_ps(omu, c01), _mm256_mul_ps(uf, c11))));
        _mm256_store_ps(L.col + o,
                        _mm256_add_ps(_mm256_load_ps(L.col + o), _mm256_mul_ps(dens, _mm256_load_ps(w.delta + o))));
        ended[gi] = ~_mm256_movemask_ps(_mm256_cmp_ps(_mm256_load_ps(L.s + o), _mm256_load_ps(L.d + o), _CMP_LT_OQ)) &
                    _mm256_movemask_ps(as_ps(L.live + o));
    }
}

// The march of all pairs: a step of every ray in flight, then the lanes whose
// ray ended store its column and take the next pair.
template <int W>
void march(const Tables& t, Feed& feed, Lanes& L) {
    constexpr int groups = kLanes / W;
    Scratch w;
    int live = 0;
    for (int i = 0; i < kLanes; ++i) live += feed.next(L, i) ? 1 : 0;
    while (live > 0) {
        int ended[groups];
        if constexpr (W == kWidth8)
            step8(t, L, w, ended);
        else
            step4(t, L, w, ended);
        for (int gi = 0; gi < groups; ++gi)
            for (int m = ended[gi]; m != 0; m &= m - 1) {
                const int i = gi * W + __builtin_ctz(static_cast<unsigned>(m));
                feed.out[L.q[i]] = L.col[i] * 1000.0f;
                if (!feed.next(L, i)) --live;
            }
    }
}

// The lanes' arc cosine with its rounding check, four or eight at a time: the
// march's own rounded_acos4 and rounded_acos8.
QV_AVX2 __attribute__((noinline)) void polar_angles4(const double* arg, float* th, std::size_t n) {
    for (std::size_t i = 0; i < n; i += 4) {
        alignas(32) double a[4] = {1.0, 1.0, 1.0, 1.0};
        for (std::size_t k = 0; k < 4 && i + k < n; ++k) a[k] = arg[i + k];
        int unsure = 0;
        alignas(16) float t[4];
        _mm_store_ps(t, rounded_acos4(_mm256_load_pd(a), _mm256_castsi256_pd(_mm256_set1_epi64x(-1)), unsure));
        for (std::size_t k = 0; k < 4 && i + k < n; ++k)
            th[i + k] = (unsure >> k) & 1 ? static_cast<float>(std::acos(a[k])) : t[k];
    }
}

QV_AVX512 __attribute__((noinline)) void polar_angles8(const double* arg, float* th, std::size_t n) {
    for (std::size_t i = 0; i < n; i += 8) {
        alignas(64) double a[8] = {1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1.0};
        for (std::size_t k = 0; k < 8 && i + k < n; ++k) a[k] = arg[i + k];
        int unsure = 0;
        alignas(32) float t[8];
        _mm256_store_ps(t, rounded_acos8(_mm512_load_pd(a), static_cast<__mmask8>(0xff), unsure));
        for (std::size_t k = 0; k < 8 && i + k < n; ++k)
            th[i + k] = (unsure >> k) & 1 ? static_cast<float>(std::acos(a[k])) : t[k];
    }
}

}  // namespace

std::size_t polar_angles_lanes(const double* arg, float* th, std::size_t n, int width) {
    if (width <= 0 || width > column_lanes_width()) width = column_lanes_width();
    if (width >= kWidth8)
        polar_angles8(arg, th, n);
    else if (width >= kWidth)
        polar_angles4(arg, th, n);
    else
        for (std::size_t i = 0; i < n; ++i) th[i] = static_cast<float>(std::acos(arg[i]));
    return static_cast<std::size_t>(width);
}

int column_lanes_width() {
    static const int width = !__builtin_cpu_supports("avx2")      ? 0
                             : __builtin_cpu_supports("avx512f") ? kWidth8
                                                                 : kWidth;
    return width;
}

bool column_lanes_available() { return column_lanes_width() > 0; }

void target_columns_lanes(const ColumnGrid& g, const PairSources& src, float rt, double sin_tt,
                          double cos_tt, std::size_t first, float* out, RayDirection& ray, int width) {
    const std::size_t n = src.pairs();
    // The lanes' indices are 4-byte: grids far beyond any the program builds
    // take the scalar path, as do grids without a cell in both directions.
    const bool fits = g.ndr >= 2 && g.nthe >= 2 && static_cast<long long>(g.ndr) * g.nthe < (1LL << 30);
    if (!column_lanes_available() || !fits || first >= n) {
        target_columns_scalar(g, src, rt, sin_tt, cos_tt, first, out, ray);
        return;
    }
    const Padded rp(g.rarr, g.ndr), tp(g.thearr, g.nthe);
    const Tables t{rp.at0(), tp.at0(), g.rho, g.ndr, g.nthe};
    Feed feed(g, src, rt, sin_tt, cos_tt, out, first);
    Lanes lanes;
    if (width <= 0 || width > column_lanes_width()) width = column_lanes_width();
    if (width >= kWidth8)
        march<kWidth8>(t, feed, lanes);
    else
        march<kWidth>(t, feed, lanes);
    // The direction of the last pair, as the scalar loop leaves it.
    const std::size_t per_r = static_cast<std::size_t>(src.np) * src.nt;
    const std::size_t last = n - 1, rem = last % per_r;
    const std::size_t ir = last / per_r, ip = rem / src.nt, ith = rem % src.nt;
    set_direction(ray, rt, sin_tt, cos_tt, src.rs[ir], src.sin_the[ith], src.cos_the[ith], src.sin_phi[ip],
                  src.cos_phi[ip]);
}

#else  // not x86-64: the scalar path

std::size_t polar_angles_lanes(const double* arg, float* th, std::size_t n, int) {
    for (std::size_t i = 0; i < n; ++i) th[i] = static_cast<float>(std::acos(arg[i]));
    return 0;
}

int column_lanes_width() { return 0; }
bool column_lanes_available() { return false; }

void target_columns_lanes(const ColumnGrid& g, const PairSources& src, float rt, double sin_tt,
                          double cos_tt, std::size_t first, float* out, RayDirection& ray, int) {
    target_columns_scalar(g, src, rt, sin_tt, cos_tt, first, out, ray);
}

#endif

}  // namespace qv::protrco
