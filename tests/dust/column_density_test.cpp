// Column densities along rays through the cirrus grid, and the optical-depth
// report of the cirrus.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "core/run.h"
#include "dust/cirrus_fixture.h"
#include "dust/column_density.h"
#include "io/format.h"
#include "numerics/search.h"
#include "support/test_support.h"

namespace qv {
namespace {

constexpr double kPi = 3.14159265358979323846;

// A grid set by hand: radial nodes r, polar nodes 0..pi, density rho(r, theta).
struct HandGrid {
    test::CapturedConsole cc;
    Run run{cc.con};
    HandGrid(const std::vector<float>& r, int nthe, const std::function<float(float, float)>& rho) {
        CirrusGrid& g = run.glocold;
        run.remind.ndr = static_cast<int>(r.size());
        g.nthearr = nthe;
        g.rarr.resize(run.remind.ndr);
        for (int i = 1; i <= run.remind.ndr; ++i) g.rarr(i) = r[i - 1];
        g.thearr.resize(nthe);
        for (int j = 1; j <= nthe; ++j) g.thearr(j) = 3.141593f * static_cast<float>(j - 1) / static_cast<float>(nthe - 1);
        g.rhodiffarr2d.resize(run.remind.ndr, nthe);
        for (int j = 1; j <= nthe; ++j)
            for (int i = 1; i <= run.remind.ndr; ++i) g.rhodiffarr2d(i, j) = rho(g.rarr(i), g.thearr(j));
    }
};

std::vector<float> nodes(int n, float step) {
    std::vector<float> r(n);
    for (int i = 0; i < n; ++i) r[i] = step * static_cast<float>(i);
    return r;
}

// The column as the ray procedure is described: the direction from acos, the
// point from the rotated frame, the radial bracket and the density by the shared
// hunt and biliin, all in the plain order. ext: the outward variant.
double reference_column(Run& run, bool ext, float rmax, float rt_, float tt_, float rs_, float ts_, float phi_) {
    const CirrusGrid& g = run.glocold;
    const int ndr = run.remind.ndr, nthe = g.nthearr;
    const double rt = rt_, tt = tt_, rs = rs_, ts = ts_, phi = phi_;
    const double x = rt * std::sin(tt) * std::cos(phi);
    const double y = rt * std::sin(tt) * std::sin(phi);
    const double z = rt * std::cos(tt);
    const double t = std::cos(ts) * x - std::sin(ts) * z;
    const double m = std::sin(ts) * x + std::cos(ts) * z - rs;
    const double h = -y;
    const double d = std::sqrt(t * t + h * h + m * m);
    double thr = 0.0, phr = 0.0;
    if (d > 0.0) {
        thr = std::acos(std::max(-1.0, std::min(1.0, m / d)));
        if (std::fabs(std::sin(thr)) > 0.001) {
            const double q = t / (d * std::sin(thr));
            phr = q < -1.0 ? kPi : (q > 1.0 ? 0.0 : std::acos(q));
        }
    }
    const double cth = std::cos(thr), sth = std::sin(thr), cph = std::cos(phr), sph = std::sin(phr);
    const double cct = std::cos(ts), sct = std::sin(ts);
    auto point = [&](float sf, float& rho, float& th) {
        const double s = sf;
        const double xx = sth * s * cph, yy = sth * s * sph, zz = cth * s + rs;
        const double X = sct * zz + cct * xx, Z = cct * zz - sct * xx;
        const double r = std::sqrt(yy * yy + X * X + Z * Z);
        rho = float(r);
        th = r > 0 ? float(std::acos(std::max(-1.0, std::min(1.0, Z / r)))) : 0.0f;
    };
    if (!ext && !(float(d) > 0.0f)) return 0.0;
    if (ext && rmax <= rs_) return 0.0;
    const float df = float(d);
    float s = 0.0f, rho = rs_, th = 0.0f, col = 0.0f;
    int j = 0, j1 = 0, j2 = 0;
    for (;;) {
        hunt(g.rarr.data(), ndr, rho, j);
        j = std::max(1, std::min(j, ndr - 1));
        const float cell = g.rarr(j + 1) - g.rarr(j);
        const float delta = ext ? 0.5f * cell : std::min(cell, df - s);
        s += delta;
        point(s, rho, th);
        col += biliin(g.rarr.data(), g.thearr.data(), g.rhodiffarr2d.data(), ndr, nthe, rho, th, j1, j2) * delta;
        if (ext ? rho >= rmax : s >= df) break;
    }
    return double(col * 1000.0f);
}

// Distance between the two end points of a segment (kpc).
double distance(float rt_, float tt_, float rs_, float ts_, float phi_) {
    const double rt = rt_, tt = tt_, rs = rs_, ts = ts_, phi = phi_;
    const double x1 = rt * std::sin(tt) * std::cos(phi), y1 = rt * std::sin(tt) * std::sin(phi), z1 = rt * std::cos(tt);
    const double x2 = rs * std::sin(ts), z2 = rs * std::cos(ts);
    return std::sqrt((x1 - x2) * (x1 - x2) + y1 * y1 + (z1 - z2) * (z1 - z2));
}

// ---------------------------------------------------------------------------

struct Chord {
    const char* what;
    float rt, tt, rs, ts, phi;
};

TEST(ColumnDensity, UniformDensityAlongAChordIsDensityTimesLength) {
    // Unevenly spaced radial nodes: the steps end on no particular node.
    const std::vector<float> r = {0.0f, 0.3f, 1.0f, 1.8f, 3.0f, 4.1f, 5.5f, 7.0f, 8.2f, 10.0f};
    HandGrid hg(r, 13, [](float, float) { return 0.37f; });
    const Chord cases[] = {
        {"through the centre", 6.0f, 0.4f, 5.0f, 2.6f, 3.0f},
        {"in the equatorial plane", 8.0f, 1.5707964f, 2.0f, 1.5707964f, 1.2f},
        {"along the polar axis", 9.0f, 0.0f, 1.0f, 0.0f, 0.0f},
        {"from the centre", 7.5f, 1.1f, 0.0f, 0.0f, 0.7f},
        {"to the centre", 0.0f, 0.0f, 6.2f, 0.9f, 0.0f},
        {"short chord in one cell", 4.3f, 0.8f, 4.5f, 0.85f, 0.05f},
        {"across the whole galaxy", 9.9f, 0.3f, 9.9f, 2.9f, 3.1f},
        {"below the plane", 5.0f, 2.5f, 3.0f, 2.0f, 2.0f},
    };
    for (const Chord& c : cases) {
        float col = -1.0f;
        protrco::intrho(hg.run, c.rt, c.tt, c.rs, c.ts, c.phi, col);
        const double len = distance(c.rt, c.tt, c.rs, c.ts, c.phi);
        EXPECT_NEAR(double(col) / (0.37 * len * 1000.0), 1.0, 2e-6) << c.what;
        // The outward ray from the same start, stopped at P1's radius when the
        // segment runs straight outwards, gives the same column.
    }
}

TEST(ColumnDensity, SegmentOfLengthZeroHasNoColumn) {
    HandGrid hg(nodes(11, 1.0f), 13, [](float, float) { return 2.0f; });
    float col = -1.0f;
    protrco::intrho(hg.run, 3.0f, 0.7f, 3.0f, 0.7f, 0.0f, col);
    EXPECT_EQ(col, 0.0f);
    protrco::intrho(hg.run, 0.0f, 0.0f, 0.0f, 1.0f, 2.0f, col);
    EXPECT_EQ(col, 0.0f);
}

TEST(ColumnDensity, OutwardRayFromTheCentreTakesTwentyHalfCellSteps) {
    // Nodes every kpc to 10 kpc, uniform rho0: 20 steps of 0.5 kpc reach Rmax.
    HandGrid hg(nodes(11, 1.0f), 13, [](float, float) { return 0.25f; });
    float col = 0.0f;
    protrco::intrhoext(hg.run, 10.0f, 100.0f, 0.0f, 0.0f, 0.0f, 0.0f, col);
    EXPECT_FLOAT_EQ(col, 1000.0f * 10.0f * 0.25f);
    // A density growing with radius shows the step rule: the density at the end
    // of each of the 20 steps, 0.5 k for k = 1..20.
    HandGrid lin(nodes(11, 1.0f), 13, [](float r, float) { return r; });
    protrco::intrhoext(lin.run, 10.0f, 100.0f, 0.0f, 0.0f, 0.0f, 0.0f, col);
    EXPECT_FLOAT_EQ(col, 1000.0f * 0.5f * 0.5f * 210.0f);
    // The inward segment of the same ray ends exactly at P1: one-cell steps.
    protrco::intrho(lin.run, 10.0f, 0.0f, 0.0f, 0.0f, 0.0f, col);
    EXPECT_FLOAT_EQ(col, 1000.0f * 55.0f);
}

TEST(ColumnDensity, OutwardRayStartingAtOrBeyondRmaxHasNoColumn) {
    HandGrid hg(nodes(11, 1.0f), 13, [](float, float) { return 1.0f; });
    float col = -1.0f;
    protrco::intrhoext(hg.run, 10.0f, 100.0f, 0.3f, 10.0f, 0.5f, 0.0f, col);
    EXPECT_EQ(col, 0.0f);
    col = -1.0f;
    protrco::intrhoext(hg.run, 10.0f, 100.0f, 0.3f, 12.0f, 0.5f, 0.0f, col);
    EXPECT_EQ(col, 0.0f);
}

TEST(ColumnDensity, OutwardRayThroughAUniformSphereLeavesAtItsEdge) {
    // From a point inside towards a far point: the chord to the sphere's edge,
    // rounded up to the half-cell step that crosses it.
    HandGrid hg(nodes(21, 0.5f), 13, [](float, float) { return 1.0f; });
    const double rs = 3.0, ts = 1.0;
    float col = 0.0f;
    protrco::intrhoext(hg.run, 10.0f, 100.0f, 0.2f, 3.0f, 1.0f, 0.4f, col);
    const double cosang = [&] {
        // Angle at P2 between the outward ray and the radius vector of P2.
        const double px = 100.0 * std::sin(0.2) * std::cos(0.4), py = 100.0 * std::sin(0.2) * std::sin(0.4), pz = 100.0 * std::cos(0.2);
        const double qx = rs * std::sin(ts), qz = rs * std::cos(ts);
        const double dx = px - qx, dy = py, dz = pz - qz, dn = std::sqrt(dx * dx + dy * dy + dz * dz);
        return (dx * qx + dz * qz) / (dn * rs);
    }();
    const double chord = -rs * cosang + std::sqrt(100.0 - rs * rs * (1.0 - cosang * cosang));
    EXPECT_GE(double(col) / 1000.0, chord);
    EXPECT_LT(double(col) / 1000.0, chord + 0.25 + 1e-5);
}

TEST(ColumnDensity, MatchesTheStepByStepIntegrationOnADiskGrid) {
    // An exponential disk on unevenly spaced nodes and a polar grid crowded at
    // the equator: the fast path (direction from its cosines, inlined search
    // and interpolation) against the plain procedure.
    test::CapturedConsole cc;
    qv::Run run{cc.con};
    test::set_geometry(run, 2);
    test::build_grid(run);
    const CirrusGrid& g = run.glocold;
    const int ndr = run.remind.ndr, nthe = g.nthearr, nphi = g.nphiarr;
    std::mt19937 gen(7);
    std::uniform_int_distribution<int> ir(2, ndr), ith(2, nthe), iph(2, nphi);
    int n = 0;
    for (int trial = 0; trial < 3000; ++trial) {
        const int it = ir(gen), jt = ith(gen), is = ir(gen), js = ith(gen), ks = iph(gen);
        const float rt = 0.5f * (g.rarr(it) + g.rarr(it - 1)), tt = 0.5f * (g.thearr(jt - 1) + g.thearr(jt));
        const float rs = 0.5f * (g.rarr(is) + g.rarr(is - 1)), ts = 0.5f * (g.thearr(js) + g.thearr(js - 1));
        const float ps = 0.5f * (g.phiarr(ks) + g.phiarr(ks - 1));
        float col = 0.0f;
        protrco::intrho(run, rt, tt, rs, ts, ps, col);
        const double ref = reference_column(run, false, 0.0f, rt, tt, rs, ts, ps);
        ASSERT_NEAR(double(col), ref, 1e-5 * std::fabs(ref) + 1e-30) << it << " " << jt << " " << is << " " << js << " " << ks;
        // The sines and cosines from the grid's tables give the same bits.
        const float col2 = protrco::intrho_sc(protrco::column_grid(run), run.protrco, rt, std::sin(double(tt)),
                                              std::cos(double(tt)), rs, g.sin_thec(js), g.cos_thec(js), g.sin_phic(ks),
                                              g.cos_phic(ks));
        ASSERT_EQ(col, col2);
        // Outward rays towards the viewing directions of the extinction.
        const float inc = 0.017453294f * static_cast<float>(trial % 91);
        float ext = 0.0f;
        protrco::intrhoext(run, g.rarr(ndr), 10.0f * g.rarr(ndr), inc, rs, ts, ps, ext);
        const double eref = reference_column(run, true, g.rarr(ndr), 10.0f * g.rarr(ndr), inc, rs, ts, ps);
        ASSERT_NEAR(double(ext), eref, 1e-5 * std::fabs(eref) + 1e-30);
        ++n;
    }
    EXPECT_EQ(n, 3000);
}

TEST(ColumnDensity, RaysThatMeetTheNodesExactlySearchLikeTheSharedHunt) {
    // From the centre along the axis and in the plane of an unevenly spaced
    // grid: the step ends fall on the radial nodes, where the side of the
    // bracket depends on the search's guess.
    test::CapturedConsole cc;
    qv::Run run{cc.con};
    test::set_geometry(run, -1);
    test::build_grid(run);
    const CirrusGrid& g = run.glocold;
    const float rmax = g.rarr(run.remind.ndr);
    for (float th : {0.0f, 1.5707965f, 3.141593f}) {
        float col = 0.0f;
        protrco::intrho(run, rmax, th, 0.0f, 0.0f, 0.0f, col);
        EXPECT_EQ(double(col), reference_column(run, false, 0.0f, rmax, th, 0.0f, 0.0f, 0.0f)) << th;
        protrco::intrhoext(run, rmax, 10.0f * rmax, th, 0.0f, 0.0f, 0.0f, col);
        EXPECT_EQ(double(col), reference_column(run, true, rmax, 10.0f * rmax, th, 0.0f, 0.0f, 0.0f)) << th;
    }
}

TEST(ColumnDensity, RayDirectionHoldsUnitCosines) {
    HandGrid hg(nodes(11, 1.0f), 13, [](float, float) { return 1.0f; });
    float col = 0.0f;
    // Along the polar axis: the direction is the rotated frame's axis.
    protrco::intrhoext(hg.run, 10.0f, 100.0f, 0.0f, 0.0f, 0.0f, 0.0f, col);
    EXPECT_EQ(hg.run.protrco.costhe, 1.0);
    EXPECT_EQ(hg.run.protrco.sinthe, 0.0);
    EXPECT_EQ(hg.run.protrco.cosphi, 1.0);
    EXPECT_EQ(hg.run.protrco.cosct, 1.0);
    // A general segment: cosines of real angles, the rotation that of P2.
    protrco::intrho(hg.run, 6.0f, 1.0f, 4.0f, 0.6f, 2.0f, col);
    const RayDirection& d = hg.run.protrco;
    EXPECT_NEAR(d.costhe * d.costhe + d.sinthe * d.sinthe, 1.0, 1e-15);
    EXPECT_NEAR(d.cosphi * d.cosphi + d.sinphi * d.sinphi, 1.0, 1e-15);
    EXPECT_GE(d.sinthe, 0.0);
    EXPECT_GE(d.sinphi, 0.0);
    EXPECT_DOUBLE_EQ(d.cosct, std::cos(double(0.6f)));
    EXPECT_DOUBLE_EQ(d.sinct, std::sin(double(0.6f)));
}

// ---------------------------------------------------------------------------
// The optical-depth report.

TEST(OpticalDepthReport, LinesAndDepthsOfAUniformSphere) {
    test::CirrusModel m;
    qv::Run& run = m.run;
    test::set_geometry(run, 0);
    test::build_grid(run, 0.02f);
    std::vector<std::string> lines;
    cirrus::optical_depth_report(run, lines);

    const CirrusRun& cr = run.cirrus;
    const float rho = run.glocold.rhodiffarr2d(1, 1);
    const float rg = run.glocold.rarr(run.remind.ndr);
    // The polar and equatorial columns: outward rays from the centre to the
    // edge, rho0 times the radius up to the half-cell step that crosses it.
    float cp = 0.0f, ce = 0.0f;
    protrco::intrhoext(run, rg, 10.0f * rg, 0.0f, 0.0f, 0.0f, 0.0f, cp);
    protrco::intrhoext(run, rg, 10.0f * rg, 1.5707964f, 0.0f, 0.0f, 0.0f, ce);
    const double half_cell = 0.5 / (run.remind.ndr - 1);
    const double exact = 1000.0 * double(rho) * double(rg);
    for (float c : {cp, ce}) {
        EXPECT_GE(double(c) / exact, 1.0 - 1e-5);
        EXPECT_LE(double(c) / exact, 1.0 + half_cell + 1e-5);
    }
    const float kl = run.glopalla.klama;
    EXPECT_EQ(cr.taup1, kl / 1.673e-24f * 2.0f * cp * 0.0002222f);
    EXPECT_EQ(cr.taup044, mix::mixcold(run, 0.44f) / 1.673e-24f * 2.0f * cp * 0.0002222f);
    EXPECT_EQ(cr.taue, kl / 1.673e-24f * 2.0f * ce * 0.0002222f);
    // The homogeneous sphere of the same mass and radius: the same central depth
    // but for the two parsec values (3.086e18 and 3e18 cm) of the conversions.
    EXPECT_NEAR(double(cr.tauh / cr.taup1) * (double(cp) / exact), (3.0 * 3.0) / (3.086 * 3.086), 2e-4);

    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "");
    EXPECT_EQ(lines[1], fio::write_line("(' Polar tau cirrus at 1 and 0.44 micron =',G12.4,G12.4)", {cr.taup1, cr.taup044}));
    EXPECT_EQ(lines[2], fio::write_line("(' Equatorial tau cirrus at 1 micron =',G12.4)", {cr.taue}));
    EXPECT_EQ(lines[3], fio::write_line("(' Tau cirrus at 1 micron if it were homogeneous =',G12.4)", {cr.tauh}));
    EXPECT_EQ(lines[4], fio::write_line("(' Conversion factor to tau_extinction =',G12.4)",
                                        {run.glopalla.klam / run.glopalla.klama}));
    // Every line also goes to standard output, in the same order.
    const auto out = m.out();
    ASSERT_GE(out.size(), 5u);
    for (int k = 0; k < 5; ++k) EXPECT_EQ(out[out.size() - 5 + k], lines[k]);
}

TEST(OpticalDepthReport, EdgeOnDiskIsThickerThanFaceOn) {
    test::CirrusModel m;
    test::set_geometry(m.run, 2);
    test::build_grid(m.run, 0.02f);
    std::vector<std::string> lines;
    cirrus::optical_depth_report(m.run, lines);
    const CirrusRun& cr = m.run.cirrus;
    EXPECT_GT(cr.taup1, 0.0f);
    EXPECT_GT(cr.taue, 5.0f * cr.taup1);
    EXPECT_GT(cr.taup044, cr.taup1);
}

}  // namespace
}  // namespace qv
