// The pair columns of one target in vector lanes against the scalar march:
// every column and the final ray direction bit for bit.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "core/run.h"
#include "dust/cirrus_fixture.h"
#include "dust/column_density.h"
#include "support/test_support.h"

namespace qv {
namespace {

// The source cells of the pair loop of a grid (cell centres, as the radiation
// field takes them).
struct Sources {
    std::vector<float> rs;
    std::vector<double> sp, cp, st, ct;
    protrco::PairSources src;
    void bind() {
        src.nr = static_cast<int>(rs.size());
        src.np = static_cast<int>(sp.size());
        src.nt = static_cast<int>(st.size());
        src.rs = rs.data();
        src.sin_phi = sp.data();
        src.cos_phi = cp.data();
        src.sin_the = st.data();
        src.cos_the = ct.data();
    }
};

Sources grid_sources(const Run& run) {
    const CirrusGrid& g = run.glocold;
    Sources s;
    for (int is = 2; is <= run.remind.ndr; ++is) s.rs.push_back(0.5f * (g.rarr(is) + g.rarr(is - 1)));
    for (int ks = 2; ks <= g.nphiarr; ++ks) {
        s.sp.push_back(g.sin_phic(ks));
        s.cp.push_back(g.cos_phic(ks));
    }
    for (int js = 2; js <= g.nthearr; ++js) {
        s.st.push_back(g.sin_thec(js));
        s.ct.push_back(g.cos_thec(js));
    }
    s.bind();
    return s;
}

struct Target {
    float rt;
    double st, ct;
};

std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

void expect_same_ray(const RayDirection& a, const RayDirection& b, const std::string& what) {
    EXPECT_EQ(bits(a.costhe), bits(b.costhe)) << what;
    EXPECT_EQ(bits(a.sinthe), bits(b.sinthe)) << what;
    EXPECT_EQ(bits(a.cosphi), bits(b.cosphi)) << what;
    EXPECT_EQ(bits(a.sinphi), bits(b.sinphi)) << what;
    EXPECT_EQ(bits(a.cosct), bits(b.cosct)) << what;
    EXPECT_EQ(bits(a.sinct), bits(b.sinct)) << what;
}

// The lane widths this machine has (4: AVX2, 8: AVX-512).
std::vector<int> widths() {
    std::vector<int> w;
    for (int k : {4, 8})
        if (protrco::column_lanes_width() >= k) w.push_back(k);
    return w;
}

// Runs the scalar path and the lanes of every width from `first` and compares
// every column (the entries before first stay as they were) and the final
// direction. Returns the number of columns that differ.
int compare_paths(const protrco::ColumnGrid& g, const protrco::PairSources& src, const Target& t,
                  std::size_t first, const std::string& what) {
    const std::size_t n = src.pairs();
    std::vector<float> a(n, -7.0f);
    RayDirection ra;
    ra.costhe = 0.25;  // a direction left by an earlier call
    protrco::target_columns_scalar(g, src, t.rt, t.st, t.ct, first, a.data(), ra);
    int bad = 0;
    for (int width : widths()) {
        std::vector<float> b(n, -7.0f);
        RayDirection rb;
        rb.costhe = 0.25;
        protrco::target_columns_lanes(g, src, t.rt, t.st, t.ct, first, b.data(), rb, width);
        const std::string tag = what + " width " + std::to_string(width);
        for (std::size_t q = 0; q < n; ++q) {
            if (std::bit_cast<std::uint32_t>(a[q]) != std::bit_cast<std::uint32_t>(b[q])) {
                if (++bad <= 5)
                    ADD_FAILURE() << tag << " pair " << q << ": scalar " << a[q] << " lanes " << b[q];
            }
        }
        expect_same_ray(ra, rb, tag);
    }
    return bad;
}

#define SKIP_WITHOUT_LANES() \
    if (!protrco::column_lanes_available()) GTEST_SKIP() << "no vector lanes on this machine"

// Every geometry with columns: targets at cell centres over the whole grid
// (one of them is each time a source cell too: a segment of length 0), at the
// centre, on the polar axis and on the last node, to all source cells.
TEST(ColumnLanes, EveryColumnOfEveryGeometryIsTheScalarOne) {
    SKIP_WITHOUT_LANES();
    for (int igeo : {-1, 1, 2, 3, 4, 5}) {
        test::CapturedConsole cc;
        qv::Run run{cc.con};
        test::set_geometry(run, igeo);
        test::build_grid(run);
        const CirrusGrid& g = run.glocold;
        const int ndr = run.remind.ndr, nthe = g.nthearr;
        const protrco::ColumnGrid cg = protrco::column_grid(run);
        Sources s = grid_sources(run);
        std::vector<Target> targets;
        for (int it : {2, ndr / 2, ndr})
            for (int jt = 2; jt <= nthe; jt += (it == ndr / 2 ? 1 : 3)) {
                const float tt = 0.5f * (g.thearr(jt - 1) + g.thearr(jt));
                targets.push_back({0.5f * (g.rarr(it) + g.rarr(it - 1)), std::sin(double(tt)), std::cos(double(tt))});
            }
        targets.push_back({0.0f, 0.0, 1.0});
        targets.push_back({g.rarr(ndr), 0.0, 1.0});
        targets.push_back({g.rarr(ndr), 0.0, -1.0});
        targets.push_back({g.rarr(ndr / 2), 1.0, 0.0});
        int bad = 0;
        for (std::size_t k = 0; k < targets.size(); ++k)
            bad += compare_paths(cg, s.src, targets[k], 0,
                                 "igeo " + std::to_string(igeo) + " target " + std::to_string(k));
        EXPECT_EQ(bad, 0) << "igeo " << igeo << ", " << targets.size() << " targets of " << s.src.pairs()
                          << " pairs";
    }
}

// The loop may start anywhere (the pairs before `first` come from the cache):
// only the columns from first on are written, each the same as from 0, and the
// direction is that of the last pair; with nothing left it is untouched.
TEST(ColumnLanes, StartingPastTheFirstPair) {
    SKIP_WITHOUT_LANES();
    test::CapturedConsole cc;
    qv::Run run{cc.con};
    test::set_geometry(run, 2);
    test::build_grid(run);
    const protrco::ColumnGrid cg = protrco::column_grid(run);
    Sources s = grid_sources(run);
    const std::size_t n = s.src.pairs(), per_r = static_cast<std::size_t>(s.src.np) * s.src.nt;
    const Target t{0.5f * (run.glocold.rarr(5) + run.glocold.rarr(4)), std::sin(1.2), std::cos(1.2)};
    std::vector<float> from0(n);
    RayDirection r0;
    protrco::target_columns_scalar(cg, s.src, t.rt, t.st, t.ct, 0, from0.data(), r0);
    for (std::size_t first : {std::size_t(1), std::size_t(s.src.nt + 2), per_r + 3, n / 2, n - 1}) {
        EXPECT_EQ(compare_paths(cg, s.src, t, first, "first " + std::to_string(first)), 0);
        for (int width : widths()) {
            std::vector<float> c(n, -7.0f);
            RayDirection r;
            protrco::target_columns_lanes(cg, s.src, t.rt, t.st, t.ct, first, c.data(), r, width);
            for (std::size_t q = 0; q < n; ++q)
                ASSERT_EQ(std::bit_cast<std::uint32_t>(c[q]),
                          std::bit_cast<std::uint32_t>(q < first ? -7.0f : from0[q]))
                    << "width " << width << " first " << first << " pair " << q;
            expect_same_ray(r, r0, "first " + std::to_string(first));
        }
    }
    for (int width : widths()) {
        std::vector<float> c(n, -7.0f);
        RayDirection r;
        r.costhe = 0.25;
        protrco::target_columns_lanes(cg, s.src, t.rt, t.st, t.ct, n, c.data(), r, width);
        EXPECT_EQ(r.costhe, 0.25);
        EXPECT_EQ(c[n - 1], -7.0f);
    }
}

// Rays that meet the nodes exactly, where the searches' brackets depend on
// each ray's guesses: radial nodes at whole numbers of uneven spacing (so
// that a bracket on the wrong side of a node takes a step of another length),
// sources on nodes, on the polar axis, in the plane and at the centre,
// targets on the axis and opposite; the arc cosine's argument is exactly +-1
// along the axis and the radius exactly 0 where a ray crosses the centre. A
// source equal to the target makes a segment of length 0.
TEST(ColumnLanes, RaysAlongTheAxisAndThroughNodesAndTheCentre) {
    SKIP_WITHOUT_LANES();
    test::CapturedConsole cc;
    qv::Run run{cc.con};
    CirrusGrid& g = run.glocold;
    const int ndr = 11, nthe = 13;
    run.remind.ndr = ndr;
    g.nthearr = nthe;
    g.rarr.resize(ndr);
    for (int i = 1; i <= ndr; ++i) g.rarr(i) = float((i - 1) * i / 2);  // 0, 1, 3, 6, .. 55
    g.thearr.resize(nthe);
    for (int j = 1; j <= nthe; ++j) g.thearr(j) = 3.141593f * float(j - 1) / float(nthe - 1);
    g.rhodiffarr2d.resize(ndr, nthe);
    for (int j = 1; j <= nthe; ++j)
        for (int i = 1; i <= ndr; ++i) g.rhodiffarr2d(i, j) = 1.0f + 0.1f * float(i) + 0.37f * float(j * j);
    const protrco::ColumnGrid cg = protrco::column_grid(run);

    Sources s;
    s.rs = {0.0f, 1.0f, 2.5f, 3.0f, 6.0f, 10.0f, 28.0f, 55.0f};
    for (double ph : {0.0, 1.0, 3.141592653589793}) {
        s.sp.push_back(std::sin(ph));
        s.cp.push_back(std::cos(ph));
    }
    // On the axis both ways, through the nodes' angles, in the plane.
    s.st = {0.0, 0.0, std::sin(double(g.thearr(4))), 1.0, std::sin(0.3)};
    s.ct = {1.0, -1.0, std::cos(double(g.thearr(4))), 0.0, std::cos(0.3)};
    s.bind();
    const Target targets[] = {
        {55.0f, 0.0, 1.0},   // on the axis: rays along it from the axis sources
        {55.0f, 0.0, -1.0},  // the other end: rays through the centre
        {36.0f, 0.0, -1.0},
        {3.0f, 0.0, 1.0},    // equal to a source (length 0)
        {0.0f, 0.0, 1.0},    // the centre
        {21.0f, 1.0, 0.0},   // in the plane
        {2.5f, std::sin(0.3), std::cos(0.3)},
    };
    for (std::size_t k = 0; k < std::size(targets); ++k)
        EXPECT_EQ(compare_paths(cg, s.src, targets[k], 0, "target " + std::to_string(k)), 0);

    // The length-0 pair has no column; the ray down the axis through the nodes
    // has the column of the scalar march.
    std::vector<float> c(s.src.pairs());
    RayDirection r;
    protrco::target_columns_lanes(cg, s.src, 3.0f, 0.0, 1.0, 0, c.data(), r, 4);
    EXPECT_EQ(c[(3 * 3 + 0) * 5 + 0], 0.0f);  // rs 3 on the axis, phi 0
    EXPECT_GT(c[(4 * 3 + 0) * 5 + 0], 0.0f);  // rs 6 on the axis
}

// The program's entry point takes the lanes when they are there: the same
// columns as the scalar path, on the example-size disk grid.
// The lanes' polar angles are the floats std::acos rounds to: across [-1, 1],
// next to both ends, and where the arc cosine lies next to a point halfway
// between two floats, which only the fallback to std::acos can decide.
TEST(ColumnLanes, PolarAnglesAreTheFloatsOfStdAcos) {
    if (!protrco::column_lanes_available()) GTEST_SKIP() << "no vector lanes on this machine";
    std::vector<double> args;
    for (int k = 0; k <= 20000; ++k) args.push_back(-1.0 + 2.0 * k / 20000.0);
    for (int k = 1; k <= 60; ++k) {
        args.push_back(1.0 - std::ldexp(1.0, -k));
        args.push_back(-1.0 + std::ldexp(1.0, -k));
    }
    std::mt19937 rng(12345);
    std::uniform_real_distribution<float> angle(1e-6f, 3.1415f);
    int halfway = 0;
    for (int k = 0; k < 20000; ++k) {
        const float f = angle(rng);
        const double m = 0.5 * (static_cast<double>(f) + static_cast<double>(std::nextafter(f, 4.0f)));
        const double x = std::cos(m);
        for (double v : {std::nextafter(x, -2.0), x, std::nextafter(x, 2.0)}) {
            args.push_back(v);
            // An argument whose arc cosine is this close to the midpoint.
            if (std::fabs(std::acos(v) - m) < 1e-12 * m) ++halfway;
        }
    }
    ASSERT_GT(halfway, 10000);
    std::vector<float> th(args.size());
    for (int width : widths()) {
        SCOPED_TRACE(width);
        ASSERT_EQ(protrco::polar_angles_lanes(args.data(), th.data(), args.size(), width),
                  static_cast<std::size_t>(width));
        for (std::size_t i = 0; i < args.size(); ++i)
            ASSERT_EQ(std::bit_cast<std::uint32_t>(th[i]),
                      std::bit_cast<std::uint32_t>(static_cast<float>(std::acos(args[i]))))
                << "acos(" << args[i] << ")";
    }
}

TEST(ColumnLanes, DispatchGivesTheScalarColumns) {
    test::CapturedConsole cc;
    qv::Run run{cc.con};
    test::set_geometry(run, -1);
    test::build_grid(run);
    const protrco::ColumnGrid cg = protrco::column_grid(run);
    Sources s = grid_sources(run);
    const std::size_t n = s.src.pairs();
    std::vector<float> a(n), b(n);
    RayDirection ra, rb;
    const float rt = 0.5f * (run.glocold.rarr(3) + run.glocold.rarr(2));
    protrco::target_columns_scalar(cg, s.src, rt, std::sin(0.7), std::cos(0.7), 0, a.data(), ra);
    protrco::target_columns(cg, s.src, rt, std::sin(0.7), std::cos(0.7), 0, b.data(), rb);
    for (std::size_t q = 0; q < n; ++q) ASSERT_EQ(std::bit_cast<std::uint32_t>(a[q]), std::bit_cast<std::uint32_t>(b[q])) << q;
    expect_same_ray(ra, rb, "dispatch");
}

}  // namespace
}  // namespace qv
