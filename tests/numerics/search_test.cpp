// Table search and interpolation: both search rule families with their tie
// rules, the linear interpolators and their saved positions, poinh windows,
// biliin and arrint.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "core/stop.h"
#include "numerics/search.h"

namespace qv {
namespace {

const std::vector<float> kUp = {1, 2, 3, 4, 5, 6, 7, 8};
const std::vector<float> kDown = {8, 7, 6, 5, 4, 3, 2, 1};
const std::vector<float> kFlat = {3, 3, 3};

struct SearchCase {
    const std::vector<float>* table;
    float x;
    int guess;  // outside 1..n: no guess
    int expected;
};

std::string describe(const SearchCase& c) {
    std::string t = c.table == &kUp ? "up" : c.table == &kDown ? "down" : "flat";
    return t + " x=" + std::to_string(c.x) + " guess=" + std::to_string(c.guess);
}

int run_hunt(const SearchCase& c) {
    int j = c.guess;
    hunt(c.table->data(), static_cast<int>(c.table->size()), c.x, j);
    return j;
}

int run_hunt90(const SearchCase& c) {
    int j = c.guess;
    nr_kelu::hunt90(c.table->data(), static_cast<int>(c.table->size()), c.x, j);
    return j;
}

TEST(Hunt, TieRulesDependOnTheGuess) {
    const SearchCase cases[] = {
        // Ascending: an exact hit gives k when the hunt compared entry k, k-1
        // when the bisection did.
        {&kUp, 2.0f, 0, 1},
        {&kUp, 2.0f, 1, 2},
        {&kUp, 2.0f, 2, 2},
        {&kUp, 2.0f, 3, 2},
        {&kUp, 2.0f, 4, 1},
        {&kUp, 2.0f, 5, 2},
        {&kUp, 2.0f, 6, 1},
        {&kUp, 2.0f, 9, 1},   // out of range: no guess
        {&kUp, 2.0f, -3, 1},  // out of range: no guess
        {&kUp, 1.0f, 0, 0},
        {&kUp, 1.0f, 1, 1},
        {&kUp, 1.0f, 2, 1},
        {&kUp, 1.0f, 3, 0},
        {&kUp, 8.0f, 0, 7},
        {&kUp, 8.0f, 1, 8},
        {&kUp, 8.0f, 7, 8},
        {&kUp, 8.0f, 8, 8},
        // Descending: the reverse, k-1 from the hunt, k from the bisection.
        {&kDown, 8.0f, 0, 1},
        {&kDown, 8.0f, 1, 0},
        {&kDown, 1.0f, 0, 8},
        {&kDown, 1.0f, 1, 7},
        {&kDown, 6.0f, 0, 3},
        {&kDown, 6.0f, 3, 2},
        // A constant table counts as descending.
        {&kFlat, 3.0f, 0, 3},
        {&kFlat, 4.0f, 0, 0},
        {&kFlat, 2.0f, 0, 3},
    };
    for (const auto& c : cases) EXPECT_EQ(run_hunt(c), c.expected) << describe(c);
}

TEST(Hunt, ValuesBetweenEntriesDoNotDependOnTheGuess) {
    for (int g = -1; g <= 10; ++g) {
        EXPECT_EQ(run_hunt({&kUp, 1.5f, g, 1}), 1) << g;
        EXPECT_EQ(run_hunt({&kUp, 0.5f, g, 0}), 0) << g;
        EXPECT_EQ(run_hunt({&kUp, 9.0f, g, 8}), 8) << g;
        EXPECT_EQ(run_hunt({&kUp, 6.25f, g, 6}), 6) << g;
        EXPECT_EQ(run_hunt({&kDown, 1.5f, g, 7}), 7) << g;
        EXPECT_EQ(run_hunt({&kDown, 9.0f, g, 0}), 0) << g;
        EXPECT_EQ(run_hunt({&kDown, 0.5f, g, 8}), 8) << g;
    }
}

TEST(Hunt90, FixedCases) {
    const SearchCase cases[] = {
        {&kUp, 1.0f, 0, 1},   {&kUp, 8.0f, 0, 7},   {&kUp, 0.5f, 0, 0},   {&kUp, 9.0f, 0, 8},
        {&kUp, 8.0f, 8, 7},   {&kUp, 1.0f, 1, 1},   {&kUp, 4.5f, 7, 4},   {&kDown, 2.0f, 0, 6},
        {&kDown, 8.0f, 0, 1}, {&kDown, 1.0f, 0, 7}, {&kDown, 1.0f, 8, 7}, {&kDown, 8.0f, 1, 1},
        {&kDown, 9.0f, 4, 0}, {&kDown, 0.5f, 4, 8}, {&kDown, 6.0f, 3, 2},
        // A constant table counts as ascending; a hit gives 1 (the first-entry
        // fix-up wins over the last-entry one).
        {&kFlat, 3.0f, 0, 1}, {&kFlat, 2.0f, 0, 0}, {&kFlat, 4.0f, 0, 3},
    };
    for (const auto& c : cases) EXPECT_EQ(run_hunt90(c), c.expected) << describe(c);
}

// hunt90: the result is a function of x alone; hunt agrees with it except on
// exact hits, where it is k or k-1.
TEST(Hunt90, DoesNotDependOnTheGuessAndMatchesHuntOffTheEntries) {
    for (const auto* t : {&kUp, &kDown}) {
        const bool up = t == &kUp;
        const int n = static_cast<int>(t->size());
        for (int step = 0; step <= 40; ++step) {
            const float x = 0.25f * static_cast<float>(step);  // 0 .. 10 by quarters
            // Expected by the definition.
            int want = 0;
            for (int i = 1; i <= n; ++i)
                if (up ? x >= (*t)[i - 1] : x < (*t)[i - 1]) want = i;
            if (x == (*t)[n - 1]) want = n - 1;
            if (x == (*t)[0]) want = 1;
            const bool hit = std::floor(x) == x && x >= 1.0f && x <= 8.0f;
            for (int g = -1; g <= n + 1; ++g) {
                const SearchCase c{t, x, g, want};
                EXPECT_EQ(run_hunt90(c), want) << describe(c);
                const int h = run_hunt(c);
                if (!hit) {
                    EXPECT_EQ(h, want) << describe(c);
                } else {
                    const int k = up ? static_cast<int>(x) : 9 - static_cast<int>(x);
                    EXPECT_TRUE(h == k || h == k - 1) << describe(c) << " gave " << h;
                }
            }
        }
    }
}

TEST(Hunt, LongHuntsFromFarGuesses) {
    std::vector<float> t(1000);
    for (int i = 0; i < 1000; ++i) t[i] = static_cast<float>(i + 1);
    for (int g : {1, 2, 500, 999, 1000}) {
        for (float x : {1.5f, 17.5f, 500.5f, 998.5f}) {
            int j = g;
            hunt(t.data(), 1000, x, j);
            EXPECT_EQ(j, static_cast<int>(x)) << g << " " << x;
            j = g;
            nr_kelu::hunt90(t.data(), 1000, x, j);
            EXPECT_EQ(j, static_cast<int>(x)) << g << " " << x;
        }
    }
}

// ---- linear interpolation ----

const float kXa[] = {1, 2, 4};
const float kYa[] = {10, 20, 40};

TEST(Liin, InterpolatesAndExtrapolatesAlongTheEndIntervals) {
    struct Case {
        float x, y;
        int pos;  // unclamped search result
    };
    const Case cases[] = {{0.5f, 5, 0}, {1, 10, 1}, {1.5f, 15, 1}, {3, 30, 2},
                          {4, 40, 2},   {5, 50, 3}, {-1, -10, 0}};
    for (const auto& c : cases) {
        NrKelu st;
        EXPECT_FLOAT_EQ(nr_kelu::liin(st, kXa, 3, kYa, c.x), c.y) << c.x;
        EXPECT_EQ(st.liin_pos, c.pos) << c.x;
        EXPECT_EQ(st.liin_s_pos, 0);
        int ii = 0;
        EXPECT_FLOAT_EQ(nr_kelu::liin(st, kXa, 3, kYa, c.x, &ii), c.y) << c.x;
        EXPECT_EQ(ii, c.pos) << c.x;
    }
}

TEST(Liin, DescendingTable) {
    const float xa[] = {4, 2, 1};
    const float ya[] = {40, 20, 10};
    NrKelu st;
    EXPECT_FLOAT_EQ(nr_kelu::liin(st, xa, 3, ya, 3.0f), 30.0f);
    EXPECT_FLOAT_EQ(nr_kelu::liin(st, xa, 3, ya, 5.0f), 50.0f);
    EXPECT_EQ(st.liin_pos, 0);
    EXPECT_FLOAT_EQ(nr_kelu::liin(st, xa, 3, ya, 0.5f), 5.0f);
    EXPECT_EQ(st.liin_pos, 3);
    EXPECT_FLOAT_EQ(nr_kelu::liin_s(st, xa, ya, 3, 0.5f), 5.0f);
    EXPECT_EQ(st.liin_s_pos, 3);
}

// A search from an unknown position (a cell computed ahead of its turn) is
// marked as depending on it exactly when its value lies on a table entry, in
// either direction of the table; any other value needs no guess.
TEST(LiinS, UnknownPositionIsMarkedOnlyForValuesOnAnEntry) {
    const float desc[] = {4, 2, 1};
    struct Case {
        const float* xa;
        float x;
        bool depends;
    };
    const Case cases[] = {{kXa, 1.0f, true},  {kXa, 2.0f, true},  {kXa, 4.0f, true},  {kXa, 1.5f, false},
                          {kXa, 0.5f, false}, {kXa, 9.0f, false}, {desc, 2.0f, true}, {desc, 4.0f, true},
                          {desc, 3.0f, false}, {desc, 0.5f, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.x);
        NrKelu st;
        st.liin_s_pos = NrKelu::kUnknownPos;
        const float y = nr_kelu::liin_s(st, c.xa, c.xa == kXa ? kYa : desc, 3, c.x);
        EXPECT_EQ(st.used_unknown, c.depends);
        EXPECT_NE(st.liin_s_pos, NrKelu::kUnknownPos);
        // Off an entry the result is that of a search from any position.
        if (!c.depends)
            for (int guess : {0, 1, 2, 3}) {
                NrKelu k;
                k.liin_s_pos = guess;
                EXPECT_EQ(nr_kelu::liin_s(k, c.xa, c.xa == kXa ? kYa : desc, 3, c.x), y);
                EXPECT_EQ(k.liin_s_pos, st.liin_s_pos);
            }
        // A known position is never marked.
        NrKelu known;
        known.liin_s_pos = 2;
        nr_kelu::liin_s(known, c.xa, c.xa == kXa ? kYa : desc, 3, c.x);
        EXPECT_FALSE(known.used_unknown);
    }
}

TEST(LiinS, HuntRulesAndUnclampedSavedPosition) {
    NrKelu st;
    // Without a guess an exact hit on the first entry gives 0; the value is the
    // same through the clamped interval.
    EXPECT_FLOAT_EQ(nr_kelu::liin_s(st, kXa, kYa, 3, 1.0f), 10.0f);
    EXPECT_EQ(st.liin_s_pos, 0);
    EXPECT_EQ(st.liin_pos, 0);
    EXPECT_FLOAT_EQ(nr_kelu::liin_s(st, kXa, kYa, 3, 5.0f), 50.0f);
    EXPECT_EQ(st.liin_s_pos, 3);
    int ii = 1;
    EXPECT_FLOAT_EQ(nr_kelu::liin_s(st, kXa, kYa, 3, 2.0f, &ii), 20.0f);
    EXPECT_EQ(ii, 2);  // the hunt compared entry 2
    EXPECT_EQ(st.liin_s_pos, 2);
    EXPECT_FLOAT_EQ(nr_kelu::liin_s(st, kXa, kYa, 3, 0.0f, &ii), 0.0f);
    EXPECT_EQ(ii, 0);
    EXPECT_EQ(st.liin_s_pos, 0);
}

// Callers that pass no guess share the saved position across tables; the
// values are those of calls with a guess per table.
TEST(Liin, SharedSavedPositionGivesTheSameValues) {
    std::vector<float> xa(50), ya(50), xb(7), yb(7);
    for (int i = 0; i < 50; ++i) {
        xa[i] = 0.5f * static_cast<float>(i);
        ya[i] = std::sin(xa[i]);
    }
    for (int i = 0; i < 7; ++i) {
        xb[i] = 100.0f - 3.0f * static_cast<float>(i * i);
        yb[i] = static_cast<float>(i * 7 % 5);
    }
    NrKelu shared;
    int ga = 0, gb = 0;
    NrKelu own;
    for (int k = 0; k < 60; ++k) {
        const float x1 = -1.0f + 0.45f * static_cast<float>(k);
        const float x2 = 105.0f - 2.0f * static_cast<float>(k);
        EXPECT_EQ(nr_kelu::liin(shared, xa.data(), 50, ya.data(), x1),
                  nr_kelu::liin(own, xa.data(), 50, ya.data(), x1, &ga));
        EXPECT_EQ(nr_kelu::liin(shared, xb.data(), 7, yb.data(), x2),
                  nr_kelu::liin(own, xb.data(), 7, yb.data(), x2, &gb));
        // The hunt rules may land an exact hit on either side: the same value
        // up to rounding.
        EXPECT_FLOAT_EQ(nr_kelu::liin_s(shared, xa.data(), ya.data(), 50, x1),
                        nr_kelu::liin_s(own, xa.data(), ya.data(), 50, x1, &ga));
        EXPECT_FLOAT_EQ(nr_kelu::liin_s(shared, xb.data(), yb.data(), 7, x2),
                        nr_kelu::liin_s(own, xb.data(), yb.data(), 7, x2, &gb));
    }
}

// ---- poinh ----

std::vector<float> iota_table(int n) {
    std::vector<float> t(n);
    for (int i = 0; i < n; ++i) t[i] = static_cast<float>(i + 1);
    return t;
}

TEST(Poinh, TwoPointsIsLinearInterpolationAndExtrapolation) {
    const float xa[] = {1, 2, 4, 7};
    const float ya[] = {3, -1, 5, 2};
    for (float x : {0.0f, 1.0f, 1.3f, 2.0f, 3.9f, 6.0f, 7.0f, 9.5f}) {
        PoinhWork w;
        NrKelu st;
        float y = 0, dy = 0;
        int jlo = 0;
        poinh(w, xa, ya, 4, 2, x, y, dy, jlo);
        EXPECT_NEAR(y, nr_kelu::liin(st, xa, 4, ya, x), 1e-5f) << x;
        EXPECT_EQ(jlo, st.liin_pos) << x;
    }
    PoinhWork w;
    float y = 0, dy = 0;
    int jlo = 3;
    const float xb[] = {2, 3};
    const float yb[] = {20, 30};
    poinh(w, xb, yb, 2, 2, 2.5f, y, dy, jlo);
    EXPECT_FLOAT_EQ(y, 25.0f);
    EXPECT_FLOAT_EQ(dy, 5.0f);  // the last correction
    EXPECT_EQ(jlo, 1);
}

// The window is visible in the work arrays: fill them with a marker first.
std::vector<float> window_after(int n, int m, float x, int* jlo_out = nullptr) {
    const auto xa = iota_table(n);
    std::vector<float> ya(n);
    for (int i = 0; i < n; ++i) ya[i] = xa[i] * xa[i];
    PoinhWork w;
    for (float& v : w.xs) v = -999.0f;
    float y = 0, dy = 0;
    int jlo = 0;
    poinh(w, xa.data(), ya.data(), n, m, x, y, dy, jlo);
    if (jlo_out) *jlo_out = jlo;
    std::vector<float> win;
    for (float v : w.xs)
        if (v != -999.0f) win.push_back(v);
    return win;
}

TEST(Poinh, WindowSizeIsLimitedByTheTableAndByTen) {
    EXPECT_EQ(window_after(3, 5, 2.5f), (std::vector<float>{1, 2, 3}));
    const auto w = window_after(20, 12, 10.5f);
    ASSERT_EQ(w.size(), 10u);
    EXPECT_EQ(w.front(), 6.0f);
    EXPECT_EQ(w.back(), 15.0f);
}

TEST(Poinh, WindowStartFollowsTheBracket) {
    struct Case {
        float x;
        int jlo;
        float start;
    };
    const Case cases[] = {{0.5f, 0, 1}, {1.0f, 1, 1},  {1.5f, 1, 1}, {5.5f, 5, 4},
                          {9.5f, 9, 7}, {10.0f, 9, 7}, {12.f, 10, 7}};
    for (const auto& c : cases) {
        int jlo = -1;
        const auto w = window_after(10, 4, c.x, &jlo);
        EXPECT_EQ(jlo, c.jlo) << c.x;
        ASSERT_EQ(w.size(), 4u) << c.x;
        EXPECT_EQ(w.front(), c.start) << c.x;
    }
}

TEST(Poinh, ThreePointsReproduceAQuadratic) {
    const float xa[] = {1, 2, 3};
    const float ya[] = {1, 4, 9};
    PoinhWork w;
    float y = 0, dy = 0;
    int jlo = 0;
    poinh(w, xa, ya, 3, 5, 2.5f, y, dy, jlo);
    EXPECT_FLOAT_EQ(y, 6.25f);
    poinh(w, xa, ya, 3, 3, 4.0f, y, dy, jlo);
    EXPECT_FLOAT_EQ(y, 16.0f);
}

TEST(Poinh, OnePointLeavesTheErrorEstimateAlone) {
    const float xa[] = {1, 2, 3};
    const float ya[] = {5, 6, 7};
    PoinhWork w;
    float y = 0, dy = -123.0f;
    int jlo = 0;
    poinh(w, xa, ya, 3, 1, 0.2f, y, dy, jlo);
    EXPECT_EQ(y, 5.0f);
    EXPECT_EQ(dy, -123.0f);
}

TEST(Poinh, EqualAbscissasInTheWindowStop) {
    const float xa[] = {1, 2, 2, 3};
    const float ya[] = {1, 2, 3, 4};
    PoinhWork w;
    float y = 0, dy = 0;
    int jlo = 0;
    try {
        poinh(w, xa, ya, 4, 4, 2.5f, y, dy, jlo);
        FAIL() << "no stop";
    } catch (const Stop& s) {
        EXPECT_EQ(s.lines, std::vector<std::string>{" stop in polint"});
        EXPECT_FALSE(s.on_stderr);
    }
    // Outside the window the duplicate does not matter.
    const float xb[] = {1, 1, 2, 3, 4};
    const float yb[] = {0, 0, 2, 3, 4};
    poinh(w, xb, yb, 5, 2, 3.5f, y, dy, jlo);
    EXPECT_FLOAT_EQ(y, 3.5f);
}

TEST(Neville, ExtrapolatesToZero) {
    // The Romberg use: steps h and values s = 1 + h give 1 at h = 0.
    const float h[] = {1.0f, 0.25f, 0.0625f};
    const float s[] = {2.0f, 1.25f, 1.0625f};
    float y = 0, dy = 0;
    neville(h, s, 3, 0.0f, y, dy);
    EXPECT_FLOAT_EQ(y, 1.0f);
    const float hh[] = {1.0f, 1.0f};
    EXPECT_THROW(neville(hh, s, 2, 0.0f, y, dy), Stop);
}

// ---- biliin ----

TEST(Biliin, NodesInteriorAndExtrapolation) {
    const float x1a[] = {1, 2, 3};
    const float x2a[] = {10, 20};
    // ya(j,k), first index fastest.
    const float ya[] = {1, 5, 7, 2, 8, 20};
    auto at = [&](int j, int k) { return ya[(j - 1) + 3 * (k - 1)]; };
    int j1 = 0, j2 = 0;
    for (int j = 1; j <= 3; ++j)
        for (int k = 1; k <= 2; ++k)
            for (int g : {0, 1, 2, 3}) {
                j1 = g;
                j2 = g;
                EXPECT_FLOAT_EQ(biliin(x1a, x2a, ya, 3, 2, x1a[j - 1], x2a[k - 1], j1, j2), at(j, k))
                    << j << " " << k << " guess " << g;
            }
    j1 = j2 = 0;
    EXPECT_FLOAT_EQ(biliin(x1a, x2a, ya, 3, 2, 1.5f, 15.0f, j1, j2), 0.25f * (1 + 5 + 2 + 8));
    EXPECT_EQ(j1, 1);
    EXPECT_EQ(j2, 1);
    // Beyond the last row: from the last cell with t = 2.
    EXPECT_FLOAT_EQ(biliin(x1a, x2a, ya, 3, 2, 4.0f, 10.0f, j1, j2), -5.0f + 2.0f * 7.0f);
    EXPECT_EQ(j1, 3);  // the guesses keep the unclamped result
    // t = 2 and u = 2 in the cell (2..3, 10..20).
    EXPECT_FLOAT_EQ(biliin(x1a, x2a, ya, 3, 2, 4.0f, 30.0f, j1, j2),
                    -1.0f * (-5.0f + 2.0f * 8.0f) + 2.0f * (-7.0f + 2.0f * 20.0f));
    EXPECT_EQ(j1, 3);
    EXPECT_EQ(j2, 2);
    // Before the first row and column.
    j1 = j2 = 0;
    // t = -1 and u = -1 in the first cell.
    EXPECT_FLOAT_EQ(biliin(x1a, x2a, ya, 3, 2, 0.0f, 0.0f, j1, j2),
                    2.0f * (2.0f * 1.0f - 2.0f) - 1.0f * (2.0f * 5.0f - 8.0f));
    EXPECT_EQ(j1, 0);
    EXPECT_EQ(j2, 0);
}

// ---- arrint ----

TEST(Arrint, TrapezoidsOnUnevenAndDescendingGrids) {
    const float one[] = {1, 1, 1};
    const float up[] = {0, 1, 3};
    const float down[] = {3, 1, 0};
    EXPECT_FLOAT_EQ(nr_kelu::arrint(up, 3, one, 3), 3.0f);
    EXPECT_FLOAT_EQ(nr_kelu::arrint(down, 3, one, 3), -3.0f);
    const float lin[] = {0, 2, 6};
    EXPECT_FLOAT_EQ(nr_kelu::arrint(up, 3, lin, 3), 1.0f + 8.0f);
    const float x2[] = {2, 5};
    const float y2[] = {1, 3};
    EXPECT_FLOAT_EQ(nr_kelu::arrint(x2, 2, y2, 2), 6.0f);
}

TEST(Arrint, DifferentLengthsStopOnStandardError) {
    const float xa[] = {0, 1, 3};
    const float ya[] = {1, 1, 1, 1};
    try {
        nr_kelu::arrint(xa, 3, ya, 4);
        FAIL() << "no stop";
    } catch (const Stop& s) {
        EXPECT_EQ(s.lines, std::vector<std::string>{"arrays xa and ya must have same dim in function arrint"});
        EXPECT_TRUE(s.on_stderr);
    }
}

}  // namespace
}  // namespace qv
