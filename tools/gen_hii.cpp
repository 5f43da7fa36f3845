// The HII-region part of the synthetic example data set: an HII library file
// (data folder) and the example model's HII model list (model folder). A set
// for trying the program, not for science.
//
// Library qv_hii.dat: one model per line in the library's fixed columns, on a
// regular grid at each of the eight grid metallicities 0.0008 ... 0.05:
//   - log Q(H) = 47 ... 53 in steps of 0.25 (photons per second), so that the
//     populations of the example (about 1e50 per 1e4 solar masses) lie well
//     inside and a line that grows with Q(H) is interpolated (linearly in
//     log Q(H)) to a few percent;
//   - sub-grid 1 (hard spectra): Q(He)/Q(H) = 0.05, 0.1, 0.2, 0.4, 0.8;
//     sub-grid 2 (soft spectra): Q(He)/Q(H) = 0 (no helium-ionising photons,
//     written -33.0000, one model per Q(H)), 0.003, 0.01, 0.03, 0.06;
//   - Q(O)/Q(He) = 0 (written -33.0000), 0.02, 0.1, 0.3, 1.05 wherever there
//     are helium-ionising photons.
// The line luminosities scale with the photon numbers: the hydrogen lines with
// Q(H), H beta = 4.79e-3 Q(H) (1e40 erg/s per 1e50 photons/s, case B) and the
// others by rough case-B ratios to it; the helium lines with Q(He); the metal
// lines with Q(H) and the metallicity, those of doubly ionised species with
// Q(O) instead of Q(H). A line is stored as the code i = 1000 (ln L + 50), L in
// 1e30 erg/s (the program reads exp(i/1000 - 50) and scales by 1e-10), and a
// line without emission as code 0.
//
// Model list example.lin: one library set; every cloud type and the stars that
// have left the clouds use qv_hii, computed for 1e4 solar masses of stars.
#include <algorithm>
#include <array>
#include <cmath>
#include <string>

#include "generators.h"
#include "io/format.h"
#include "io/textfile.h"

namespace qvgen {

namespace {

enum class Scale { H, He, Metal, MetalHigh };

struct LineRatio {
    float ratio;  // to H beta at Q(He)/Q(H) = 0.1, Q(O)/Q(He) = 0.1, Z = 0.02
    Scale scale;
};

constexpr std::array<LineRatio, 114> kLines = {{
    // Lyman (case B: Ly alpha takes most of the recombinations)
    {23.3f, Scale::H}, {0.05f, Scale::H}, {0.02f, Scale::H}, {0.01f, Scale::H},
    {0.006f, Scale::H}, {0.004f, Scale::H}, {0.003f, Scale::H}, {0.002f, Scale::H},
    // Balmer
    {2.86f, Scale::H}, {1.0f, Scale::H}, {0.468f, Scale::H}, {0.259f, Scale::H},
    {0.159f, Scale::H}, {0.105f, Scale::H}, {0.0731f, Scale::H}, {0.053f, Scale::H},
    // Paschen
    {0.332f, Scale::H}, {0.162f, Scale::H}, {0.0901f, Scale::H}, {0.0554f, Scale::H},
    {0.0366f, Scale::H}, {0.0254f, Scale::H}, {0.0184f, Scale::H}, {0.0137f, Scale::H},
    // Brackett
    {0.0778f, Scale::H}, {0.0447f, Scale::H}, {0.0275f, Scale::H}, {0.0181f, Scale::H},
    {0.0126f, Scale::H}, {0.009f, Scale::H}, {0.0067f, Scale::H}, {0.0051f, Scale::H},
    // Pfund
    {0.0241f, Scale::H}, {0.0151f, Scale::H}, {0.0099f, Scale::H}, {0.0068f, Scale::H},
    {0.0048f, Scale::H}, {0.0035f, Scale::H}, {0.0026f, Scale::H}, {0.002f, Scale::H},
    // Humphreys
    {0.0091f, Scale::H}, {0.0061f, Scale::H}, {0.0042f, Scale::H}, {0.003f, Scale::H},
    {0.0022f, Scale::H}, {0.0017f, Scale::H}, {0.0013f, Scale::H}, {0.001f, Scale::H},
    // He I 4471, 5876, 6678, 10830, 3889, 7065
    {0.04f, Scale::He}, {0.11f, Scale::He}, {0.03f, Scale::He}, {0.3f, Scale::He},
    {0.1f, Scale::He}, {0.03f, Scale::He},
    // [CI] 9850, 8727, 4621, 609, 369; [CII] 157.7; CII] 2326
    {0.002f, Scale::Metal}, {0.0003f, Scale::Metal}, {0.0001f, Scale::Metal}, {0.005f, Scale::Metal},
    {0.008f, Scale::Metal}, {0.3f, Scale::Metal}, {0.1f, Scale::Metal},
    // [NI] 5199, 3466, 10400; [NII] 6584, 6548, 5755, 122, 205; NII] 2141; [NIII] 57
    {0.01f, Scale::Metal}, {0.001f, Scale::Metal}, {0.003f, Scale::Metal}, {0.6f, Scale::Metal},
    {0.2f, Scale::Metal}, {0.01f, Scale::Metal}, {0.1f, Scale::Metal}, {0.03f, Scale::Metal},
    {0.005f, Scale::Metal}, {0.2f, Scale::MetalHigh},
    // [OI] 6300, 6363, 5577, 63, 145; [OII] 3727, 7325, 2471
    {0.02f, Scale::Metal}, {0.007f, Scale::Metal}, {0.001f, Scale::Metal}, {0.1f, Scale::Metal},
    {0.01f, Scale::Metal}, {2.0f, Scale::Metal}, {0.05f, Scale::Metal}, {0.02f, Scale::Metal},
    // OIII] 1663; [OIII] 5007, 4959, 4363, 2321, 88, 52
    {0.05f, Scale::MetalHigh}, {3.0f, Scale::MetalHigh}, {1.0f, Scale::MetalHigh},
    {0.02f, Scale::MetalHigh}, {0.01f, Scale::MetalHigh}, {0.5f, Scale::MetalHigh},
    {0.6f, Scale::MetalHigh},
    // [NeII] 13; [NeIII] 15.5, 36, 3869, 3967, 3343, 1815
    {0.5f, Scale::Metal}, {0.5f, Scale::MetalHigh}, {0.04f, Scale::MetalHigh}, {0.3f, Scale::MetalHigh},
    {0.09f, Scale::MetalHigh}, {0.002f, Scale::MetalHigh}, {0.001f, Scale::MetalHigh},
    // MgII 2800; [SiII] 35
    {0.1f, Scale::Metal}, {0.15f, Scale::Metal},
    // [SII] 10330, 6731, 6717, 4070, 4078
    {0.03f, Scale::Metal}, {0.2f, Scale::Metal}, {0.3f, Scale::Metal}, {0.01f, Scale::Metal},
    {0.004f, Scale::Metal},
    // [SIII] 19, 33.5, 9532, 9069, 6312, 3722
    {0.3f, Scale::Metal}, {0.5f, Scale::Metal}, {0.5f, Scale::Metal}, {0.2f, Scale::Metal},
    {0.015f, Scale::Metal}, {0.01f, Scale::Metal},
    // [SIV] 10.5; [ArII] 6.985
    {0.3f, Scale::MetalHigh}, {0.1f, Scale::Metal},
    // [ArIII] 7135, 7751, 5192, 3109, 22, 9
    {0.1f, Scale::MetalHigh}, {0.025f, Scale::MetalHigh}, {0.001f, Scale::MetalHigh},
    {0.002f, Scale::MetalHigh}, {0.01f, Scale::MetalHigh}, {0.1f, Scale::MetalHigh},
}};

constexpr double kHbetaPerQ = 4.79e-3;  // 1e40 erg/s per 1e50 photons/s

// The code of a line luminosity L (1e40 erg/s): 1000 (ln(L 1e10) + 50), 0 for none.
int line_code(double l) {
    if (!(l > 0.0)) return 0;
    const double code = std::round(1000.0 * (std::log(l * 1.0e10) + 50.0));
    return static_cast<int>(std::clamp(code, 1.0, 99999.0));
}

// One model line. lqh = log10 Q(H) - 50; y = Q(He)/Q(H); zo = Q(O)/Q(He).
std::string model_line(int id, int grid, double zgas, double lqh, double y, double zo) {
    const double qh = std::pow(10.0, lqh);
    const double qhe = y * qh;
    const double qo = zo * qhe;
    auto logq = [](double q) { return q > 0.0 ? std::log10(q) : -33.0; };
    std::string s = qv::fio::edit_a("qvhii" + std::to_string(id), 14);
    s.resize(14, ' ');
    s += qv::fio::edit_i(grid, 1) + " " + qv::fio::edit_f(zgas, 5, 4);
    s += "  2.0000";  // columns 22-29, not read: log10 of the gas density
    s += qv::fio::edit_f(logq(qh), 8, 4) + " " + qv::fio::edit_f(qhe > 0.0 ? logq(qhe) - 2.0 : -33.0, 8, 4);
    s += " " + qv::fio::edit_f(logq(qhe), 8, 4) + " " + qv::fio::edit_f(logq(qo), 8, 4) + " ";
    const double hb = kHbetaPerQ * qh;
    for (const LineRatio& r : kLines) {
        const double ratio = static_cast<double>(r.ratio);
        double l = 0.0;
        switch (r.scale) {
            case Scale::H: l = ratio * hb; break;
            case Scale::He: l = ratio * kHbetaPerQ * qhe / 0.1; break;
            case Scale::Metal: l = ratio * hb * zgas / 0.02; break;
            case Scale::MetalHigh: l = ratio * kHbetaPerQ * qo / 0.01 * zgas / 0.02; break;
        }
        s += qv::fio::edit_i(line_code(l), 5);
    }
    return s + "\n";
}

void write(const std::string& dir, const std::string& name, const std::string& text) {
    std::string path = dir;
    if (!path.empty() && path.back() != '/') path += '/';
    qv::write_file_atomic(path + name, text);
}

}  // namespace

void write_hii_library(const std::string& data_dir) {
    constexpr double zgrid[] = {0.0008, 0.004, 0.008, 0.015, 0.02, 0.03, 0.04, 0.05};
    constexpr double yhard[] = {0.05, 0.1, 0.2, 0.4, 0.8};
    constexpr double ysoft[] = {0.003, 0.01, 0.03, 0.06};
    constexpr double zos[] = {0.0, 0.02, 0.1, 0.3, 1.05};
    std::string out =
        "# qvgen synthetic HII library (not for science): id, sub-grid, Z, log n, log Q(H)-50, "
        "log Q(He+)-50, log Q(He)-50, log Q(O)-50, 114 line codes\n";
    int id = 0;
    for (double zg : zgrid)
        for (int lq = -12; lq <= 12; ++lq) {
            const double x = 0.25 * static_cast<double>(lq);
            for (double y : yhard)
                for (double zo : zos) out += model_line(++id, 1, zg, x, y, zo);
            out += model_line(++id, 2, zg, x, 0.0, 0.0);
            for (double y : ysoft)
                for (double zo : zos) out += model_line(++id, 2, zg, x, y, zo);
        }
    write(data_dir, "qv_hii.dat", out);
}

void write_hii_model_list(const std::string& model_dir) {
    // nnh_hii, then per row (two cloud types, then the stars that have left) the
    // stellar mass and the library model of each set.
    write(model_dir, "example.lin", "1\n1.0e4  'qv_hii'\n1.0e4  'qv_hii'\n1.0e4  qv_hii\n");
}

}  // namespace qvgen
