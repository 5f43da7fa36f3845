// The interpolation of the nebular lines of a stellar population in the HII
// library: the out-of-grid rules, the eight bracketing models, the trilinear
// interpolation, the sub-grids and the mix of two metallicities in log Z.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "clouds/hii_library.h"
#include "clouds/hii_lines.h"
#include "core/stop.h"
#include "support/test_support.h"

namespace qv {
namespace {

using test::CapturedConsole;

// A library model by its coordinates: Q(H) = 10^x, Q(He) = y Q(H), Q(O) = z Q(He);
// line k has the value v + k.
struct Node {
    int grid;
    float x, y, z, v;
};

void put(HiiLibrary& lib, int r, const Node& n) {
    lib.gridn_rid(r) = n.grid;
    lib.qhi_rid(r) = std::pow(10.0f, n.x);
    lib.qhei_rid(r) = n.y * lib.qhi_rid(r);
    lib.qo_rid(r) = n.z * lib.qhei_rid(r);
    lib.qx_rid(r) = 0.0f;
    for (int k = 1; k <= kHiiLines; ++k) lib.righe_rid(k, r) = n.v + static_cast<float>(k);
}

// A selection as inpila leaves it: the upper set, then the lower one.
HiiLibrary selection(const std::vector<Node>& up, const std::vector<Node>& low = {}, float zup = 0.02f,
                     float zlow = 0.015f) {
    HiiLibrary lib;
    lib.diz = low.empty() ? 0 : 1;
    lib.zup = zup;
    lib.zlow = low.empty() ? zup : zlow;
    const std::vector<Node>& second = low.empty() ? up : low;
    lib.kk1 = static_cast<int>(up.size());
    lib.kk2 = static_cast<int>(second.size());
    const int n = lib.kk1 + lib.kk2;
    lib.gridn_rid.resize(n);
    for (Vec<float>* v : {&lib.qhi_rid, &lib.qx_rid, &lib.qhei_rid, &lib.qo_rid}) v->resize(n);
    lib.righe_rid.resize(kHiiLines, n);
    int r = 0;
    for (const Node& m : up) put(lib, ++r, m);
    for (const Node& m : second) put(lib, ++r, m);
    return lib;
}

float linear(float x, float y, float z) { return 1.0f + 2.0f * x + 3.0f * y + 4.0f * z; }

// A grid on sub-grid 1, irregular in y and z, with line values linear in the
// coordinates, in a shuffled order.
std::vector<Node> regular_grid(unsigned seed = 7) {
    std::vector<Node> g;
    for (float x : {-1.0f, 0.0f, 1.0f, 2.0f})
        for (float y : {0.05f, 0.1f, 0.2f, 0.4f})
            for (float z : {0.1f, 0.3f, 0.6f}) g.push_back({1, x, y, z, linear(x, y, z)});
    std::mt19937 rng(seed);
    std::shuffle(g.begin(), g.end(), rng);
    return g;
}

std::vector<float> lines(const HiiLibrary& lib, const CapturedConsole& cc, float qh, float qhe, float qo,
                         float z = 0.02f) {
    std::vector<float> out(kHiiLines, -1.0f);
    interrighe(lib, cc.con, qh, qhe, qo, kHiiLines, out.data(), z);
    return out;
}

void expect_lines(const std::vector<float>& out, float v, float tol, const std::string& what) {
    for (int k = 1; k <= kHiiLines; ++k) {
        const float want = v + static_cast<float>(k);
        EXPECT_NEAR(out[static_cast<std::size_t>(k - 1)], want, tol * std::max(1.0f, std::fabs(want)))
            << what << " line " << k;
    }
}

TEST(HiiInterpolation, ALinearFunctionIsReturnedAtRandomInteriorPoints) {
    CapturedConsole cc;
    const HiiLibrary lib = selection(regular_grid());
    std::mt19937 rng(12345);
    std::uniform_real_distribution<float> ux(-1.0f, 1.999f), uy(0.05f, 0.399f), uz(0.1f, 0.599f);
    for (int t = 0; t < 300; ++t) {
        const float qh = std::pow(10.0f, ux(rng));
        const float qhe = uy(rng) * qh;
        const float qo = uz(rng) * qhe;
        const HiiPoint p = hii_coordinates(qh, qhe, qo);
        expect_lines(lines(lib, cc, qh, qhe, qo), linear(p.x, p.y, p.z), 1e-5f,
                     "point " + std::to_string(t));
    }
    EXPECT_TRUE(cc.out_lines().empty());
}

TEST(HiiInterpolation, AGridNodeReturnsItsModel) {
    CapturedConsole cc;
    std::vector<Node> g = regular_grid();
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> u(0.0f, 50.0f);
    for (Node& n : g) n.v = u(rng);  // values that no plane joins
    const HiiLibrary lib = selection(g);
    for (const Node& n : g) {
        if (n.x == 2.0f || n.y == 0.4f || n.z == 0.6f) continue;  // the upper bounds are outside
        const float qh = std::pow(10.0f, n.x), qhe = n.y * qh;
        expect_lines(lines(lib, cc, qh, qhe, n.z * qhe), n.v, 1e-5f, "node");
    }
}

TEST(HiiInterpolation, TwoMetallicitiesMixLinearlyInLogZ) {
    CapturedConsole cc;
    std::vector<Node> up = regular_grid(), low = regular_grid(9);
    for (Node& n : up) n.v = 10.0f;
    for (Node& n : low) n.v = 20.0f;
    const HiiLibrary lib = selection(up, low, 0.02f, 0.015f);
    const float qh = 5.0f, qhe = 1.0f, qo = 0.2f;
    expect_lines(lines(lib, cc, qh, qhe, qo, 0.02f), 10.0f, 1e-5f, "Z = zup");
    expect_lines(lines(lib, cc, qh, qhe, qo, 0.015f), 20.0f, 1e-5f, "Z = zlow");
    // At the geometric mean the two sets weigh the same.
    expect_lines(lines(lib, cc, qh, qhe, qo, std::sqrt(0.02f * 0.015f)), 15.0f, 1e-5f, "geometric mean");

    // One metallicity: Z does not enter.
    const HiiLibrary one = selection(up);
    expect_lines(lines(one, cc, qh, qhe, qo, 0.9f), 10.0f, 1e-5f, "diz 0");
}

// ---------------------------------------------------------------------------
// Out-of-grid rules.

TEST(HiiCheckint, LowerBoundsInclusiveUpperExclusiveFirstFailingTestDecides) {
    const std::vector<float> x = {-1.0f, 2.0f, 0.0f}, y = {0.05f, 0.4f, 0.2f}, z = {0.1f, 0.6f, 0.3f};
    const float below_x = std::nextafter(-1.0f, -2.0f);
    const std::string out = " CHECKINT: sono fuori dalla griglia. ";
    struct C {
        float x0, y0, z0;
        float flag;          // when no stop
        std::string stop;    // the first line of the stop, or empty
        std::size_t lines;   // stop lines
    } cases[] = {
        {-1.0f, 0.05f, 0.1f, 0.0f, "", 0},
        {1.9999f, 0.3999f, 0.5999f, 0.0f, "", 0},
        {below_x, 0.2f, 0.3f, 1.0f, "", 0},
        {-2.0f, 0.9f, 0.9f, 1.0f, "", 0},  // Q(H) below the grid decides first
        {2.0f, 0.2f, 0.3f, 0.0f, out + "Q_H troppo grande! Log(Q_H)=", 3},
        {2.0f, 0.01f, 0.9f, 0.0f, out + "Q_H troppo grande! Log(Q_H)=", 3},
        {0.0f, 0.0499f, 0.3f, 0.0f, out + "Q_He/Q_H troppo piccolo!", 2},
        {0.0f, 0.01f, 0.9f, 0.0f, out + "Q_He/Q_H troppo piccolo!", 2},
        {0.0f, 0.4f, 0.3f, 0.0f, out + "Q_He/Q_H troppo grande!", 2},
        {0.0f, 0.2f, 0.0999f, 0.0f, out + "Q_O/Q_He troppo piccolo!", 2},
        {0.0f, 0.2f, 0.6f, 0.0f, out + "Q_O/Q_He troppo grande!", 2},
    };
    for (const C& c : cases) {
        SCOPED_TRACE(std::to_string(c.x0) + " " + std::to_string(c.y0) + " " + std::to_string(c.z0));
        CapturedConsole cc;
        try {
            const float f = checkint(cc.con, 3, x.data(), y.data(), z.data(), c.x0, c.y0, c.z0);
            EXPECT_TRUE(c.stop.empty()) << "no stop";
            EXPECT_EQ(f, c.flag);
            if (f == 1.0f) {
                const auto l = cc.out_lines();
                ASSERT_EQ(l.size(), 3u);
                EXPECT_EQ(l[0].rfind(out + "Q_H troppo piccolo! Log(Q_H)=", 0), 0u) << l[0];
                EXPECT_EQ(l[1].rfind(" La griglia ha un limite inferiore di Log(Q_H)_grid=", 0), 0u);
                EXPECT_FLOAT_EQ(std::stof(l[1].substr(l[1].find('=') + 1)), 49.0f);
                EXPECT_EQ(l[2], " L'emissione delle righe per questa popolazione viene posta a 0!");
            } else {
                EXPECT_TRUE(cc.out_lines().empty());
            }
        } catch (const Stop& s) {
            ASSERT_FALSE(c.stop.empty()) << s.lines[0];
            ASSERT_EQ(s.lines.size(), c.lines);
            EXPECT_EQ(s.lines[0].rfind(c.stop, 0), 0u) << s.lines[0];
        }
    }
}

TEST(HiiCheckint, TheStopsCarryTheirValues) {
    const std::vector<float> x = {-1.0f, 2.0f}, y = {0.05f, 0.4f}, z = {0.1f, 0.6f};
    CapturedConsole cc;
    try {
        checkint(cc.con, 2, x.data(), y.data(), z.data(), 3.0f, 0.2f, 0.3f);
        FAIL();
    } catch (const Stop& s) {
        EXPECT_FLOAT_EQ(std::stof(s.lines[0].substr(s.lines[0].find("Log(Q_H)=") + 9)), 53.0f);
        EXPECT_EQ(s.lines[1].rfind(" La griglia ha un limite superiore di Log(Q_H)_grid=", 0), 0u);
        EXPECT_EQ(s.lines[2], " Provare a usare una massa stellare delle regioni HII piu' bassa nel file .lin");
    }
    try {
        checkint(cc.con, 2, x.data(), y.data(), z.data(), 0.0f, 0.2f, 0.7f);
        FAIL();
    } catch (const Stop& s) {
        const std::string& l = s.lines[1];
        EXPECT_EQ(l.rfind(" Q_O/Q_He=", 0), 0u) << l;
        EXPECT_NE(l.find("(Q_O/Q_He)_gridmax="), std::string::npos) << l;
    }
    // No model at all: the population's lines are 0.
    EXPECT_EQ(checkint(cc.con, 0, nullptr, nullptr, nullptr, 0.0f, 0.1f, 0.1f), 1.0f);
}

TEST(HiiInterpolation, BelowTheGridTheLinesAre0AndTheRunGoesOn) {
    CapturedConsole cc;
    std::vector<Node> up = regular_grid(), low;
    for (Node& n : up) n.v = 10.0f;
    // The lower metallicity reaches one decade further down in Q(H).
    for (float x : {-2.0f, 0.0f, 2.0f})
        for (float y : {0.05f, 0.4f})
            for (float z : {0.1f, 0.6f}) low.push_back({1, x, y, z, 20.0f});
    const HiiLibrary lib = selection(up, low, 0.02f, 0.015f);
    const float qh = 0.05f, qhe = 0.01f, qo = 0.003f;  // log Q(H) = 48.7
    // Zero for the upper set: at the geometric mean, half of the lower set's lines.
    const std::vector<float> out = lines(lib, cc, qh, qhe, qo, std::sqrt(0.02f * 0.015f));
    for (int k = 1; k <= kHiiLines; ++k)
        EXPECT_NEAR(out[static_cast<std::size_t>(k - 1)], 0.5f * (20.0f + static_cast<float>(k)),
                    1e-5f * (20.0f + static_cast<float>(k)))
            << k;
    EXPECT_EQ(cc.out_lines().size(), 3u);

    // Below both sets, and without hydrogen-ionising photons at all: zeros, no NaN.
    for (float q : {0.001f, 0.0f}) {
        CapturedConsole c2;
        for (float v : lines(lib, c2, q, 0.0f, 0.0f)) EXPECT_EQ(v, 0.0f) << q;
        EXPECT_EQ(c2.out_lines().size(), 6u);
    }
}

TEST(HiiInterpolation, SubGridOneFromQHeOverQH005) {
    CapturedConsole cc;
    std::vector<Node> g;
    for (float x : {0.0f, 1.0f})
        for (float z : {0.1f, 0.6f}) {
            for (float y : {0.05f, 0.1f}) g.push_back({1, x, y, z, 1.0f});
            for (float y : {0.01f, 0.06f}) g.push_back({2, x, y, z, 2.0f});
        }
    const HiiLibrary lib = selection(g);
    expect_lines(lines(lib, cc, 2.0f, 2.0f * 0.05f, 0.03f), 1.0f, 1e-6f, "y0 = 0.05");
    expect_lines(lines(lib, cc, 1.0f, 0.0499f, 0.0150f), 2.0f, 1e-6f, "y0 = 0.0499");

    // A metallicity set without a model of the population's sub-grid gives zeros.
    std::vector<Node> hard_only;
    for (const Node& n : g)
        if (n.grid == 1) hard_only.push_back(n);
    CapturedConsole c2;
    for (float v : lines(selection(hard_only), c2, 1.0f, 0.03f, 0.01f)) EXPECT_EQ(v, 0.0f);
    ASSERT_EQ(c2.out_lines().size(), 3u);
}

TEST(HiiInterpolation, WithoutHeliumPhotonsTheFirstModelOnEachEdgeStandsForBothZCorners) {
    CapturedConsole cc;
    const std::vector<Node> g = {
        {2, 0.0f, 0.0f, 0.0f, 10.0f},  {2, 1.0f, 0.0f, 0.0f, 20.0f},
        {2, 0.0f, 0.03f, 0.0f, 20.0f}, {2, 0.0f, 0.03f, 0.5f, 70.0f},
        {2, 1.0f, 0.03f, 0.0f, 30.0f}, {2, 1.0f, 0.03f, 0.5f, 80.0f},
        {2, 0.0f, 0.0f, 0.0f, 77.0f},  // a later helium-free model on the same edge: not used
    };
    const HiiLibrary lib = selection(g);
    const float qh = std::pow(10.0f, 0.5f);
    // Q(He) = 0: y0 = 0 and z0 = 0, the helium-free models alone.
    expect_lines(lines(lib, cc, qh, 0.0f, 0.0f), 15.0f, 1e-5f, "Q(He) = 0");
    // Half way up in y and z: the helium-free edge enters both z faces.
    expect_lines(lines(lib, cc, qh, 0.015f * qh, 0.25f * 0.015f * qh), 32.5f, 1e-5f, "inside");
    EXPECT_TRUE(cc.out_lines().empty());
}

// ---------------------------------------------------------------------------
// The eight corners.

std::vector<Node> cube() {
    std::vector<Node> g;
    for (float x : {0.0f, 1.0f})
        for (float y : {0.1f, 0.2f})
            for (float z : {0.1f, 0.3f}) g.push_back({1, x, y, z, linear(x, y, z)});
    // Outer nodes so that the cube's upper corners lie inside the grid.
    for (float y : {0.1f, 0.4f})
        for (float z : {0.1f, 0.6f}) g.push_back({1, 2.0f, y, z, linear(2.0f, y, z)});
    g.push_back({1, 0.0f, 0.4f, 0.6f, linear(0.0f, 0.4f, 0.6f)});
    return g;
}

TEST(HiiCorners, SlotsInOrderWithTheirPositions) {
    std::vector<float> x, y, z;
    const std::vector<Node> g = cube();
    for (const Node& n : g) {
        x.push_back(n.x);
        y.push_back(n.y);
        z.push_back(n.z);
    }
    const Corners c = ridxyz(static_cast<int>(g.size()), x.data(), y.data(), z.data(), 0.5f, 0.15f, 0.2f);
    // Slot s: x from bit 2, y from bit 1, z from bit 0 (lo = 0).
    for (int s = 0; s < 8; ++s) {
        const Node& n = g[static_cast<std::size_t>(c.index[static_cast<std::size_t>(s)] - 1)];
        EXPECT_EQ(n.x, (s & 4) ? 1.0f : 0.0f) << s;
        EXPECT_EQ(n.y, (s & 2) ? 0.2f : 0.1f) << s;
        EXPECT_EQ(n.z, (s & 1) ? 0.3f : 0.1f) << s;
        EXPECT_EQ(c.x[static_cast<std::size_t>(s)], n.x);
    }
}

TEST(HiiCorners, ADuplicatedModelOverwritesItsCorner) {
    CapturedConsole cc;
    std::vector<Node> g = cube();
    g.push_back({1, 0.0f, 0.1f, 0.1f, 99.0f});  // the node (0, 0.1, 0.1) again
    const HiiLibrary lib = selection(g);
    const float qh = 1.0f, qhe = 0.1f, qo = 0.1f * qhe;
    expect_lines(lines(lib, cc, qh, qhe, qo), 99.0f, 1e-5f, "duplicate");
}

TEST(HiiCorners, AMissingCornerStopsWithTheDiagnosticEvenWhenADuplicateMakesUpTheCount) {
    CapturedConsole cc;
    const HiiLibrary full = selection(cube());
    const float qh = std::pow(10.0f, 0.5f), qhe = 0.15f * qh, qo = 0.2f * qhe;
    expect_lines(lines(full, cc, qh, qhe, qo), linear(0.5f, 0.15f, 0.2f), 1e-5f, "full");

    std::vector<Node> missing = cube();
    missing.erase(missing.begin() + 7);                   // the node (1, 0.2, 0.3)
    std::vector<Node> made_up = missing;
    made_up.push_back(made_up.front());                   // eight assignments, seven corners
    for (const std::vector<Node>* g : {&missing, &made_up}) {
        const HiiLibrary lib = selection(*g);
        try {
            lines(lib, cc, qh, qhe, qo);
            ADD_FAILURE() << "no stop";
        } catch (const Stop& s) {
            ASSERT_EQ(s.lines.size(), 8u);
            EXPECT_EQ(s.lines[0].rfind(" Errore in RIDXYZ. icheck=", 0), 0u) << s.lines[0];
            EXPECT_EQ(std::stoi(s.lines[0].substr(s.lines[0].find('=') + 1)), 7);
            const char* heads[] = {" xrid=", " yrid=", " zrid=", " xlo=", " ylo=", " zlo=", " x0="};
            for (int i = 0; i < 7; ++i) EXPECT_EQ(s.lines[static_cast<std::size_t>(i + 1)].rfind(heads[i], 0), 0u);
            EXPECT_NE(s.lines[4].find("xup="), std::string::npos);
            EXPECT_NE(s.lines[7].find("z0="), std::string::npos);
        }
    }
    // With no model at all the count is 0.
    try {
        ridxyz(0, nullptr, nullptr, nullptr, 0.0f, 0.0f, 0.0f);
        FAIL();
    } catch (const Stop& s) {
        EXPECT_EQ(std::stoi(s.lines[0].substr(s.lines[0].find('=') + 1)), 0);
    }
}

TEST(HiiCorners, Int3dUsesTheCoordinatesOfTheCornersItCombines) {
    // An irregular box: every corner has its own coordinates; a linear function
    // is still returned.
    Corners c;
    const float xs[8] = {0.0f, 0.01f, 0.02f, 0.0f, 1.0f, 1.02f, 0.99f, 1.0f};
    const float ys[8] = {0.1f, 0.1f, 0.2f, 0.21f, 0.1f, 0.1f, 0.2f, 0.2f};
    const float zs[8] = {0.1f, 0.3f, 0.1f, 0.3f, 0.1f, 0.3f, 0.1f, 0.3f};
    std::array<float, 8> f{};
    for (std::size_t s = 0; s < 8; ++s) {
        c.x[s] = xs[s];
        c.y[s] = ys[s];
        c.z[s] = zs[s];
        f[s] = 1.0f + 2.0f * xs[s];  // linear in x only: exact through every step
    }
    EXPECT_NEAR(int3d(c, 0.5f, 0.15f, 0.2f, f), 2.0f, 1e-6f);
}

}  // namespace
}  // namespace qv
