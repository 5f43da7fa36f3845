#include "clouds/hii_lines.h"

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "core/console.h"
#include "core/stop.h"
#include "io/format.h"

namespace qv {

namespace modrighe {

const std::array<const char*, kHiiLines> etic = {
    "Ly_a   1216",
    "Ly_b   1025",
    "Ly_g    972",
    "Ly_d    949",
    "Ly      937",
    "Ly      930",
    "Ly      926",
    "Ly      922",
    "H_a    6563",
    "H_b    4861",
    "H_g    4340",
    "H_d    4102",
    "H      3970",
    "H      3889",
    "H      3835",
    "H      3798",
    "Pa_a  18752",
    "Pa_b  12819",
    "Pa_g  10939",
    "Pa_d  10050",
    "Pa     9546",
    "Pa     9229",
    "Pa     9015",
    "Pa     8863",
    "Br_a  40515",
    "Br_b  26254",
    "Br_g  21657",
    "Br_d  19447",
    "Br    18175",
    "Br    17363",
    "Br    16808",
    "Br    16408",
    "Pf_a  74585",
    "Pf_b  46529",
    "Pf_g  37398",
    "Pf_d  32964",
    "Pf    30386",
    "Pf    28724",
    "Pf    27577",
    "Pf    26746",
    "Hu_a 123690",
    "Hu_b  75011",
    "Hu_g  59071",
    "Hu_d  51277",
    "Hu    46716",
    "Hu    43756",
    "Hu    41700",
    "Hu    40201",
    "HeI    4471",
    "HeI    5876",
    "HeI    6678",
    "HeI   10830",
    "HeI    3889",
    "HeI    7065",
    "[CI]9850   ",
    "[CI]8727   ",
    "[CI]4621   ",
    "[CI]609    ",
    "[CI]369    ",
    "[CII]157.7 ",
    "CII]2326   ",
    "[NI]5199   ",
    "[NI]3466   ",
    "[NI]10400  ",
    "[NII]6584  ",
    "[NII]6548  ",
    "[NII]5755  ",
    "[NII]122   ",
    "[NII]205   ",
    "NII]2141   ",
    "[NIII]57   ",
    "[OI]6300   ",
    "[OI]6363   ",
    "[OI]5577   ",
    "[OI]63     ",
    "[OI]145    ",
    "[OII]3727  ",
    "[OII]7325  ",
    "[OII]2471  ",
    "OIII]1663  ",
    "[OIII]5007 ",
    "[OIII]4959 ",
    "[OIII]4363 ",
    "[OIII]2321 ",
    "[OIII]88   ",
    "[OIII]52   ",
    "[NeII]13   ",
    "[NeIII]15.5",
    "[NeIII]36  ",
    "[NeIII]3869",
    "[NeIII]3967",
    "[NeIII]3343",
    "[NeIII]1815",
    "MgII2800   ",
    "[SiII]35   ",
    "[SII]10330 ",
    "[SII]6731  ",
    "[SII]6717  ",
    "[SII]4070  ",
    "[SII]4078  ",
    "[SIII]19   ",
    "[SIII]33.5 ",
    "[SIII]9532 ",
    "[SIII]9069 ",
    "[SIII]6312 ",
    "[SIII]3722 ",
    "[SIV]10.5  ",
    "[ArII]69850",
    "[ArIII]7135",
    "[ArIII]7751",
    "[ArIII]5192",
    "[ArIII]3109",
    "[ArIII]22  ",
    "[ArIII]9   ",
};

const std::array<float, kHiiLines> lam_righe = {
    1215.67f, 1025.72f, 972.54f, 949.74f, 937.8f, 930.74f, 926.23f, 923.15f, 6564.61f, 4862.683f,
    4341.684f, 4102.892f, 3971.195f, 3890.151f, 3836.472f, 3798.976f, 18756.131f, 12821.59f,
    10941.09f, 10052.13f, 9548.59f, 9231.55f, 9017.39f, 8865.22f, 40522.621f, 26258.67f, 21661.199f,
    19450.869f, 18179.08f, 17366.85f, 16811.109f, 16411.67f, 74598.602f, 46537.801f, 37405.602f,
    32969.898f, 30392.0f, 28730.0f, 27582.699f, 26751.301f, 123719.0f, 75024.898f, 59082.102f,
    51286.602f, 46725.102f, 43764.5f, 41707.898f, 40208.699f, 4472.75f, 5877.3f, 6680.0f, 10833.0f,
    3889.74f, 7067.3f, 9852.96f, 8729.52f, 4622.864f, 6100000.0f, 3704000.0f, 1576800.0f, 2326.0f,
    5200.35f, 3467.51f, 10405.51f, 6585.28f, 6549.85f, 5756.24f, 1217600.0f, 2055000.0f, 2141.0f,
    573400.0f, 6302.046f, 6365.536f, 5578.887f, 631850.0f, 1455350.0f, 3728.5f, 7326.845f, 2471.0f,
    1663.0f, 5008.24f, 4960.295f, 4364.436f, 2321.664f, 883560.0f, 518145.0f, 128135.477f,
    155550.5f, 360135.0f, 3870.16f, 3968.91f, 3343.5f, 1814.73f, 2800.0f, 348152.0f, 10331.4f,
    6732.67f, 6718.29f, 4070.0f, 4078.0f, 187130.297f, 334810.0f, 9533.2f, 9071.1f, 6313.8f,
    3722.69f, 105104.898f, 69852.742f, 7137.8f, 7753.2f, 5193.27f, 3110.08f, 218291.0f, 89913.797f,
};

}  // namespace modrighe

HiiPoint hii_coordinates(float qh, float qhe, float qo) {
    HiiPoint p;
    p.x = std::log10(qh);
    p.y = qh > 0.0f ? qhe / qh : 0.0f;
    p.z = qhe > 0.0f ? qo / qhe : 0.0f;
    return p;
}

namespace {

struct Extremes {
    float lo = std::numeric_limits<float>::max();
    float hi = std::numeric_limits<float>::lowest();
};

Extremes extremes(int m, const float* v) {
    Extremes e;
    for (int i = 0; i < m; ++i) {
        if (v[i] < e.lo) e.lo = v[i];
        if (v[i] > e.hi) e.hi = v[i];
    }
    return e;
}

const char* const kOut = "CHECKINT: sono fuori dalla griglia. ";

}  // namespace

float checkint(const Console& con, int m, const float* x, const float* y, const float* z, float x0, float y0,
               float z0) {
    const Extremes ex = extremes(m, x), ey = extremes(m, y), ez = extremes(m, z);
    const std::string out = kOut;
    if (x0 < ex.lo) {
        con.line(fio::list_line({out + "Q_H troppo piccolo! Log(Q_H)=", x0 + 50.0f}));
        con.line(fio::list_line({"La griglia ha un limite inferiore di Log(Q_H)_grid=", ex.lo + 50.0f}));
        con.line(fio::list_line({"L'emissione delle righe per questa popolazione viene posta a 0!"}));
        return 1.0f;
    }
    if (x0 >= ex.hi)
        throw Stop(std::vector<std::string>{
            fio::list_line({out + "Q_H troppo grande! Log(Q_H)=", x0 + 50.0f}),
            fio::list_line({"La griglia ha un limite superiore di Log(Q_H)_grid=", ex.hi + 50.0f}),
            fio::list_line({"Provare a usare una massa stellare delle regioni HII piu' bassa nel file .lin"})});
    auto stop = [&](const char* what, const char* label, float v0, const char* grid, float g) {
        throw Stop(std::vector<std::string>{fio::list_line({out + what}), fio::list_line({label, v0, grid, g})});
    };
    if (y0 < ey.lo) stop("Q_He/Q_H troppo piccolo!", "Q_He/Q_H=", y0, "(Q_He/Q_H)_gridmin=", ey.lo);
    if (y0 >= ey.hi) stop("Q_He/Q_H troppo grande!", "Q_He/Q_H=", y0, "(Q_He/Q_H)_gridmax=", ey.hi);
    if (z0 < ez.lo) stop("Q_O/Q_He troppo piccolo!", "Q_O/Q_He=", z0, "(Q_O/Q_He)_gridmin=", ez.lo);
    if (z0 >= ez.hi) stop("Q_O/Q_He troppo grande!", "Q_O/Q_He=", z0, "(Q_O/Q_He)_gridmax=", ez.hi);
    return 0.0f;
}

namespace {

// The largest entry <= v0, or the smallest entry when none is.
float lower_bracket(int m, const float* v, float v0) {
    bool found = false;
    float best = 0.0f;
    for (int i = 0; i < m; ++i)
        if (v[i] <= v0 && (!found || v[i] > best)) {
            best = v[i];
            found = true;
        }
    return found || m == 0 ? best : extremes(m, v).lo;
}

// The smallest entry > v0 (with gap: among those with 0.95 v > lo), or the
// largest entry when none is.
float upper_bracket(int m, const float* v, float v0, float lo, bool gap) {
    bool found = false;
    float best = 0.0f;
    for (int i = 0; i < m; ++i)
        if (v[i] > v0 && (!gap || 0.95f * v[i] > lo) && (!found || v[i] < best)) {
            best = v[i];
            found = true;
        }
    return found || m == 0 ? best : extremes(m, v).hi;
}

// 0 when v matches the lower bracket, 1 the upper one, -1 neither.
int side(float v, float lo, float up, float range) {
    if (!(range > 0.0f)) return -1;
    if (std::fabs(v - lo) / range < 0.01f) return 0;
    if (std::fabs(v - up) / range < 0.01f) return 1;
    return -1;
}

std::string values_line(const char* label, const std::array<float, 8>& v) {
    std::vector<fio::Item> items{label};
    for (float e : v) items.emplace_back(e);
    return fio::list_line(items);
}

}  // namespace

Corners ridxyz(int m, const float* x, const float* y, const float* z, float x0, float y0, float z0) {
    const float xlo = lower_bracket(m, x, x0), ylo = lower_bracket(m, y, y0), zlo = lower_bracket(m, z, z0);
    const float xup = upper_bracket(m, x, x0, xlo, false);
    const float yup = upper_bracket(m, y, y0, ylo, true);
    const float zup = upper_bracket(m, z, z0, zlo, true);
    const float dx = xup - xlo, dy = yup - ylo, dz = zup - zlo;

    // Every slot is filled afresh: a slot that no model fills is a missing corner,
    // never a value left from another population; a duplicated model overwrites.
    Corners c;
    std::array<bool, 8> filled{};
    bool helium_free_edge[2] = {false, false};
    auto put = [&](int slot, int i) {
        c.x[slot] = x[i];
        c.y[slot] = y[i];
        c.z[slot] = z[i];
        c.index[slot] = i + 1;
        filled[slot] = true;
    };
    for (int i = 0; i < m; ++i) {
        const int sx = side(x[i], xlo, xup, dx);
        if (sx < 0) continue;
        const int sy = side(y[i], ylo, yup, dy);
        if (sy < 0) continue;
        if (sy == 0 && ylo <= 0.0f) {
            // Models without helium-ionising photons have no z of their own: the
            // first one on this x edge stands for both z corners.
            if (helium_free_edge[sx]) continue;
            helium_free_edge[sx] = true;
            put(4 * sx, i);
            put(4 * sx + 1, i);
            continue;
        }
        const int sz = side(z[i], zlo, zup, dz);
        if (sz < 0) continue;
        put(4 * sx + 2 * sy + sz, i);
    }
    int icheck = 0;
    for (bool f : filled) icheck += f ? 1 : 0;
    if (icheck != 8)
        throw Stop(std::vector<std::string>{
            fio::list_line({"Errore in RIDXYZ. icheck=", icheck}), values_line("xrid=", c.x),
            values_line("yrid=", c.y), values_line("zrid=", c.z), fio::list_line({"xlo=", xlo, "xup=", xup}),
            fio::list_line({"ylo=", ylo, yup}), fio::list_line({"zlo=", zlo, "zup=", zup}),
            fio::list_line({"x0=", x0, "y0=", y0, "z0=", z0})});
    return c;
}

float int3d(const Corners& c, float x0, float y0, float z0, const std::array<float, 8>& f) {
    const auto& X = c.x;
    const auto& Y = c.y;
    const auto& Z = c.z;
    const float f15 = ((x0 - X[0]) * f[4] + (X[4] - x0) * f[0]) / (X[4] - X[0]);
    const float f37 = ((x0 - X[2]) * f[6] + (X[6] - x0) * f[2]) / (X[6] - X[2]);
    const float f26 = ((x0 - X[1]) * f[5] + (X[5] - x0) * f[1]) / (X[5] - X[1]);
    const float f48 = ((x0 - X[3]) * f[7] + (X[7] - x0) * f[3]) / (X[7] - X[3]);
    const float glo = (f15 * (Y[2] - y0) + f37 * (y0 - Y[0])) / (Y[2] - Y[0]);
    const float ghi = (f26 * (Y[3] - y0) + f48 * (y0 - Y[1])) / (Y[3] - Y[1]);
    return (glo * (Z[7] - z0) + ghi * (z0 - Z[6])) / (Z[7] - Z[6]);
}

namespace {

// The lines of one metallicity set (selection entries first..last) on sub-grid g.
void one_set(const HiiLibrary& lib, const Console& con, int first, int last, int g, const HiiPoint& p, int n,
             std::vector<float>& out) {
    std::vector<float> x, y, z;
    std::vector<int> pos;
    for (int r = first; r <= last; ++r) {
        if (lib.gridn_rid(r) != g) continue;
        const HiiPoint q = hii_coordinates(lib.qhi_rid(r), lib.qhei_rid(r), lib.qo_rid(r));
        x.push_back(q.x);
        y.push_back(q.y);
        z.push_back(q.z);
        pos.push_back(r);
    }
    const int m = static_cast<int>(pos.size());
    out.assign(static_cast<std::size_t>(n), 0.0f);
    if (checkint(con, m, x.data(), y.data(), z.data(), p.x, p.y, p.z) != 0.0f) return;
    const Corners c = ridxyz(m, x.data(), y.data(), z.data(), p.x, p.y, p.z);
    std::array<int, 8> at{};  // the corners' entries in the selection
    for (std::size_t s = 0; s < 8; ++s) at[s] = pos[static_cast<std::size_t>(c.index[s] - 1)];
    std::array<float, 8> f{};
    for (int k = 1; k <= n; ++k) {
        for (std::size_t s = 0; s < 8; ++s) f[s] = lib.righe_rid(k, at[s]);
        out[static_cast<std::size_t>(k - 1)] = int3d(c, p.x, p.y, p.z, f);
    }
}

}  // namespace

void interrighe(const HiiLibrary& lib, const Console& con, float qh, float qhe, float qo, int n, float* out,
                float z) {
    const HiiPoint p = hii_coordinates(qh, qhe, qo);
    const int g = p.y >= 0.05f ? 1 : 2;
    std::vector<float> out1, out2;
    one_set(lib, con, 1, lib.kk1, g, p, n, out1);
    if (lib.diz == 0) {
        for (int k = 0; k < n; ++k) out[k] = out1[static_cast<std::size_t>(k)];
        return;
    }
    one_set(lib, con, lib.kk1 + 1, lib.kk1 + lib.kk2, g, p, n, out2);
    const float lz = std::log10(z), lu = std::log10(lib.zup), ll = std::log10(lib.zlow);
    for (int k = 0; k < n; ++k) {
        const auto i = static_cast<std::size_t>(k);
        out[k] = (out2[i] * (lu - lz) + out1[i] * (lz - ll)) / (lu - ll);
    }
}

}  // namespace qv
