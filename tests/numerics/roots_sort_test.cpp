// Brent's root finder, the quicksort family and the pause point that sort2
// uses when its stack of pending ranges is full.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "core/console.h"
#include "core/stop.h"
#include "numerics/roots_sort.h"
#include "support/test_support.h"

namespace qv {
namespace {

std::vector<std::string> stop_lines(const std::function<void()>& f) {
    try {
        f();
    } catch (const Stop& s) {
        return s.lines;
    }
    return {"<no stop>"};
}

// ---- zbrent ----

TEST(Zbrent, SquareRootOfTwo) {
    const float r = zbrent([](float x) { return x * x - 2.0f; }, 0.0f, 2.0f, 1e-6f);
    EXPECT_NEAR(r, std::sqrt(2.0f), 2e-6f);
    const float r2 = zbrent([](float x) { return 2.0f - x * x; }, 2.0f, 0.0f, 1e-6f);
    EXPECT_NEAR(r2, std::sqrt(2.0f), 2e-6f);
}

TEST(Zbrent, NoBracketStops) {
    EXPECT_EQ(stop_lines([] { zbrent([](float x) { return x * x - 2.0f; }, 2.0f, 3.0f, 1e-6f); }),
              std::vector<std::string>{" Root must be bracketed for ZBRENT."});
}

// Two tiny values of one sign are no bracket, although their product
// underflows to 0.
TEST(Zbrent, TinySameSignValuesAreNoBracket) {
    EXPECT_EQ(stop_lines([] { zbrent([](float) { return 1e-30f; }, 0.0f, 1.0f, 1e-6f); }),
              std::vector<std::string>{" Root must be bracketed for ZBRENT."});
    EXPECT_EQ(stop_lines([] { zbrent([](float x) { return -1e-30f - x * 1e-30f; }, 0.0f, 1.0f, 1e-6f); }),
              std::vector<std::string>{" Root must be bracketed for ZBRENT."});
}

// A function so flat that fb*fb underflows: the loop must still see that b
// and c have one sign and keep a real bracket.
TEST(Zbrent, TinyValuesOfOppositeSignFindTheRoot) {
    const float r = zbrent([](float x) { return 1e-30f * (x - 0.3f); }, 0.0f, 1.0f, 1e-6f);
    EXPECT_NEAR(r, 0.3f, 2e-6f);
}

TEST(Zbrent, ZeroAtAnEndIsABracket) {
    int calls = 0;
    const float r = zbrent(
        [&](float x) {
            ++calls;
            return x - 3.0f;
        },
        1.0f, 3.0f, 1e-6f);
    EXPECT_EQ(r, 3.0f);
    EXPECT_EQ(calls, 2);  // returned in the first pass, no further evaluation

    calls = 0;
    const float r1 = zbrent(
        [&](float x) {
            ++calls;
            return x - 1.0f;
        },
        1.0f, 3.0f, 1e-6f);
    EXPECT_EQ(r1, 1.0f);
    EXPECT_EQ(calls, 2);
}

TEST(Zbrent, TooManyIterationsStop) {
    // A jump at 0 with tol 0: the bracket shrinks towards 0 but never meets
    // the relative tolerance, and the function is never 0.
    int calls = 0;
    EXPECT_EQ(stop_lines([&] {
                  zbrent(
                      [&](float x) {
                          ++calls;
                          return x < 0.0f ? -1.0f : 1.0f;
                      },
                      -1.0f, 1.0f, 0.0f);
              }),
              std::vector<std::string>{" ZBRENT exceeding maximum iterations."});
    EXPECT_EQ(calls, 102);
}

// ---- sort, sort2, indexx ----

std::vector<float> sorted_copy(std::vector<float> v) {
    std::sort(v.begin(), v.end());
    return v;
}

// Sorts data with all three members and checks each against std::sort: sort2
// must carry every companion with its key, indexx must be a permutation that
// orders the keys and leaves them alone.
void check_all(const std::vector<float>& data, const std::string& what) {
    const int n = static_cast<int>(data.size());
    const auto want = sorted_copy(data);

    auto a = data;
    sort(n, a.data());
    EXPECT_TRUE(a == want) << "sort " << what;

    test::CapturedConsole cc;
    auto k = data;
    std::vector<float> comp(n);
    for (int i = 0; i < n; ++i) comp[i] = static_cast<float>(i + 1);
    sort2(cc.con, n, k.data(), comp.data());
    EXPECT_TRUE(k == want) << "sort2 " << what;
    std::vector<int> seen(n + 1, 0);
    int bad = 0;
    for (int i = 0; i < n; ++i) {
        const int src = static_cast<int>(comp[i]);
        if (src < 1 || src > n || seen[src]++ != 0 || data[src - 1] != k[i]) ++bad;
    }
    EXPECT_EQ(bad, 0) << "sort2 companions " << what;
    EXPECT_TRUE(cc.out.str().empty());

    std::vector<int> indx(n, -1);
    const auto before = data;
    indexx(n, data.data(), indx.data());
    EXPECT_TRUE(data == before) << "indexx changed the keys " << what;
    std::fill(seen.begin(), seen.end(), 0);
    bad = 0;
    for (int i = 0; i < n; ++i) {
        const int src = indx[i];
        if (src < 1 || src > n || seen[src]++ != 0 || data[src - 1] != want[i]) ++bad;
    }
    EXPECT_EQ(bad, 0) << "indexx " << what;
}

TEST(Sort, SmallArrays) {
    const std::vector<std::vector<float>> cases = {
        {},
        {5},
        {3, 1, 2},
        {2, 1},
        {7, 6, 5, 4, 3, 2, 1},
        {7, 6, 5, 4, 3, 2, 1, 0},
        {1, 2, 3, 4, 5, 6, 7, 8, 9},
        {4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4},
        {-1.5f, 3e30f, -3e30f, 0.0f, 1e-30f, -1e-30f, 2.0f, 2.0f, -7.0f, 100.0f},
    };
    for (const auto& c : cases) check_all(c, std::to_string(c.size()) + " elements");
}

TEST(Sort, LargeArraysMatchStdSort) {
    std::mt19937 gen(12345);
    std::uniform_real_distribution<float> real(-1000.0f, 1000.0f);
    std::uniform_int_distribution<int> few(0, 9);
    for (int n : {50, 1000, 30000}) {
        std::vector<float> r(n), d(n), up(n), down(n), organ(n);
        for (int i = 0; i < n; ++i) {
            r[i] = real(gen);
            d[i] = static_cast<float>(few(gen));
            up[i] = static_cast<float>(i);
            down[i] = static_cast<float>(n - i);
            organ[i] = static_cast<float>(std::min(i, n - i));
        }
        check_all(r, "random " + std::to_string(n));
        check_all(d, "few distinct " + std::to_string(n));
        check_all(up, "ascending " + std::to_string(n));
        check_all(down, "descending " + std::to_string(n));
        check_all(organ, "organ pipe " + std::to_string(n));
    }
}

TEST(Sort2, EqualKeysKeepTheirOrderWithinAnInsertionRange) {
    test::CapturedConsole cc;
    std::vector<float> a = {2, 1, 2, 1};
    std::vector<float> b = {10, 20, 30, 40};
    sort2(cc.con, 4, a.data(), b.data());
    EXPECT_EQ(a, (std::vector<float>{1, 1, 2, 2}));
    EXPECT_EQ(b, (std::vector<float>{20, 40, 10, 30}));

    // Seven elements: insertion alone, so the sort is stable.
    std::vector<float> k7 = {3, 1, 3, 2, 1, 3, 2};
    std::vector<float> c7 = {1, 2, 3, 4, 5, 6, 7};
    sort2(cc.con, 7, k7.data(), c7.data());
    EXPECT_EQ(k7, (std::vector<float>{1, 1, 2, 2, 3, 3, 3}));
    EXPECT_EQ(c7, (std::vector<float>{2, 5, 4, 7, 1, 3, 6}));
}

// Eight elements take one partition (median of three with the pivot at l+1),
// then insertion on both parts: the order of equal keys shows the steps.
TEST(Sort2, EightElementsTakeOnePartition) {
    test::CapturedConsole cc;
    std::vector<float> a = {2, 1, 2, 1, 2, 1, 2, 1};
    std::vector<float> b = {1, 2, 3, 4, 5, 6, 7, 8};
    sort2(cc.con, 8, a.data(), b.data());
    EXPECT_EQ(a, (std::vector<float>{1, 1, 1, 1, 2, 2, 2, 2}));
    EXPECT_EQ(b, (std::vector<float>{8, 6, 4, 2, 5, 3, 7, 1}));

    std::vector<int> indx(8);
    const std::vector<float> keys = {2, 1, 2, 1, 2, 1, 2, 1};
    indexx(8, keys.data(), indx.data());
    EXPECT_EQ(indx, (std::vector<int>{8, 6, 4, 2, 5, 3, 7, 1}));
}

TEST(Indexx, LeavesTheKeysAlone) {
    const std::vector<float> arr = {0.02f, 0.0001f, 0.008f};
    std::vector<int> indx(3);
    indexx(3, arr.data(), indx.data());
    EXPECT_EQ(indx, (std::vector<int>{2, 3, 1}));
    EXPECT_EQ(arr, (std::vector<float>{0.02f, 0.0001f, 0.008f}));
}

// NaN keys are outside the contract, but the scans must stay inside the range.
TEST(Sort, NanKeysDoNotLeaveTheArray) {
    std::vector<float> v(40);
    for (int i = 0; i < 40; ++i) v[i] = (i % 3 == 0) ? std::nanf("") : static_cast<float>(40 - i);
    auto a = v;
    sort(40, a.data());
    test::CapturedConsole cc;
    auto k = v;
    std::vector<float> c(40, 0.0f);
    sort2(cc.con, 40, k.data(), c.data());
    std::vector<int> indx(40);
    indexx(40, v.data(), indx.data());
    std::sort(indx.begin(), indx.end());
    for (int i = 0; i < 40; ++i) EXPECT_EQ(indx[i], i + 1);
    EXPECT_EQ(std::count_if(a.begin(), a.end(), [](float x) { return std::isnan(x); }), 14);
}

// ---- a full stack of pending ranges ----

// Eight elements push exactly one pending range.
TEST(SortStack, OnePendingRangeFitsACapacityOfOne) {
    std::vector<float> a = {8, 3, 5, 1, 7, 2, 6, 4};
    auto b = a;
    sort_detail::sort(8, b.data(), 1);
    EXPECT_EQ(b, sorted_copy(a));
    std::vector<int> indx(8);
    sort_detail::indexx(8, a.data(), indx.data(), 1);

    b = a;
    EXPECT_EQ(stop_lines([&] { sort_detail::sort(8, b.data(), 0); }),
              std::vector<std::string>{" NSTACK too small in sort"});
    EXPECT_EQ(stop_lines([&] { sort_detail::indexx(8, a.data(), indx.data(), 0); }),
              std::vector<std::string>{" NSTACK too small in indexx"});
}

std::vector<float> random_keys(int n) {
    std::mt19937 gen(777);
    std::uniform_real_distribution<float> real(0.0f, 1.0f);
    std::vector<float> v(n);
    for (auto& x : v) x = real(gen);
    return v;
}

TEST(SortStack, SortAndIndexxStopOnAFullStack) {
    auto a = random_keys(500);
    std::vector<int> indx(500);
    EXPECT_EQ(stop_lines([&] { sort_detail::sort(500, a.data(), 2); }),
              std::vector<std::string>{" NSTACK too small in sort"});
    EXPECT_EQ(stop_lines([&] { sort_detail::indexx(500, a.data(), indx.data(), 2); }),
              std::vector<std::string>{" NSTACK too small in indexx"});
}

int count_of(const std::string& hay, const std::string& needle) {
    int c = 0;
    for (auto p = hay.find(needle); p != std::string::npos; p = hay.find(needle, p + 1)) ++c;
    return c;
}

// When the user lets the run go on, sort2 finishes on a larger stack.
TEST(SortStack, Sort2PausesAndGoesOnWithALargerStack) {
    const auto keys = random_keys(500);
    for (const std::string answer : {"\n", "c\n", "continue\n"}) {
        std::string input;
        for (int i = 0; i < 10; ++i) input += answer;
        test::CapturedConsole cc(input);
        auto a = keys;
        std::vector<float> b(500);
        for (int i = 0; i < 500; ++i) b[i] = static_cast<float>(i + 1);
        sort_detail::sort2(cc.con, 500, a.data(), b.data(), 1);
        EXPECT_EQ(a, sorted_copy(keys));
        for (int i = 0; i < 500; ++i) EXPECT_EQ(keys[static_cast<int>(b[i]) - 1], a[i]);
        const std::string out = cc.out.str();
        const int pauses = count_of(out, "NSTACK too small in sort2\nPAUSE prompt> ");
        EXPECT_GE(pauses, 1);
        EXPECT_EQ(count_of(out, "NSTACK"), pauses);
        EXPECT_EQ(out.rfind("NSTACK too small in sort2\nPAUSE prompt> ", 0), 0u) << out;
    }
}

TEST(SortStack, Sort2EndsTheRunWhenTheUserSaysSo) {
    test::CapturedConsole cc("stop\n");
    auto a = random_keys(500);
    std::vector<float> b(500, 0.0f);
    EXPECT_THROW(sort_detail::sort2(cc.con, 500, a.data(), b.data(), 1), Stop);
    EXPECT_EQ(cc.out.str(), "NSTACK too small in sort2\nPAUSE prompt> ");
}

TEST(SortStack, Sort2InTheBackgroundWaitsForTheSignal) {
    test::CapturedConsole cc("", /*interactive=*/false);
    int waits = 0;
    cc.con.wait_for_sigterm = [&] { ++waits; };
    const auto keys = random_keys(500);
    auto a = keys;
    std::vector<float> b(500, 0.0f);
    sort_detail::sort2(cc.con, 500, a.data(), b.data(), 1);
    EXPECT_EQ(a, sorted_copy(keys));
    EXPECT_GE(waits, 1);
    const auto lines = cc.out_lines();
    ASSERT_EQ(lines.size(), 2u * static_cast<std::size_t>(waits));
    EXPECT_EQ(lines[0], "NSTACK too small in sort2");
    EXPECT_EQ(lines[1], "To continue from background, execute 'kill -15 4242'");
}

// ---- the pause point ----

TEST(PausePoint, AnswersThatGoOn) {
    for (const std::string answer : {"", "c", "C", "Cont", "CONTINUE", "continue", "coNTin"}) {
        test::CapturedConsole cc(answer + "\n");
        EXPECT_NO_THROW(pause_point(cc.con, "some message")) << answer;
        EXPECT_EQ(cc.out.str(), "some message\nPAUSE prompt> ") << answer;
    }
}

TEST(PausePoint, OtherAnswersEndTheRun) {
    for (const std::string answer : {"x", "continues", "go", "cx", "no"}) {
        test::CapturedConsole cc(answer + "\n");
        EXPECT_THROW(pause_point(cc.con, "m"), Stop) << answer;
    }
}

TEST(PausePoint, InTheBackgroundAsksForSignal15) {
    test::CapturedConsole cc("x\n", /*interactive=*/false);
    int waits = 0;
    cc.con.wait_for_sigterm = [&] { ++waits; };
    EXPECT_NO_THROW(pause_point(cc.con, "msg"));
    EXPECT_EQ(waits, 1);
    EXPECT_EQ(cc.out_lines(),
              (std::vector<std::string>{"msg", "To continue from background, execute 'kill -15 4242'"}));
}

}  // namespace
}  // namespace qv
