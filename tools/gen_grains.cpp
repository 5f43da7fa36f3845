// The grain part of the example data set: the efficiency tables "SIL_81" and
// "GRA_81" (81 grain radii by 241 wavelengths) and the PAH band cross-sections
// "sigmapah_07.dat".
//
// The example tables list the wavelengths in descending order, the test tables
// in ascending order. The example tables use a simple small-particle approximation: absorption
// Qabs = 4 x K(lambda) with x = 2 pi a / lambda, saturating at 1 for large x;
// Rayleigh scattering Qsca = (8/3) x^4 R^2, saturating at 1. K (the imaginary part
// of the polarisability factor) carries the silicate bands at 9.7 and 18 micron,
// the graphite bump at 0.2175 micron, an ultraviolet rise and a far-infrared
// fall as 1/lambda (so Qabs goes as lambda^-2 there).
//
// The test tables (plane = true) hold efficiencies whose base-10 logarithms are
// planes in log10 radius and log10 wavelength (micron):
//   silicate: log Qabs = 0.3 log a - 0.7 log lambda - 0.5, log Qsca = 0.8 log a - 1.1 log lambda - 1.2
//   graphite: log Qabs = 0.4 log a - 0.6 log lambda - 0.3, log Qsca = 0.9 log a - 1.2 log lambda - 1.0
// computed from the radii and wavelengths exactly as they are written, so that
// every bilinear interpolation in log-log is known exactly.
//
// The grey tables (grey = true) hold Qabs = 1 and Qsca = 1e-6 at every radius and
// wavelength (the tables hold logarithms, so a zero scattering efficiency cannot
// be written): grains that absorb like black spheres and hardly scatter, for
// tests with analytic answers. The absorption tail beyond the run's lam_trucco
// still applies to them.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "generators.h"

namespace qvgen {

namespace {

constexpr int kRad = 81;
constexpr int kWav = 241;
constexpr double kPi = 3.14159265358979323846;

std::string fmt(const char* f, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, f, v);
    return buf;
}

// The value a reader gets back from the text written for v.
double written(const char* f, double v) { return std::strtod(fmt(f, v).c_str(), nullptr); }

double gauss(double x, double x0, double s) {
    const double t = (x - x0) / s;
    return std::exp(-0.5 * t * t);
}

// Imaginary part of the polarisability factor, silicate.
double k_sil(double lam) {
    return 0.4 / (1.0 + std::pow(lam / 0.12, 4.0))            // ultraviolet rise
           + 0.03 / (1.0 + std::pow(lam / 8.0, 2.0))          // weak optical/near-infrared continuum
           + 0.9 * gauss(lam, 9.7, 1.0) + 0.4 * gauss(lam, 18.0, 2.5)  // Si-O stretch and bend
           + 5.0 / lam * std::pow(lam, 4.0) / (std::pow(lam, 4.0) + std::pow(20.0, 4.0));  // far infrared
}

// Imaginary part of the polarisability factor, graphite.
double k_gra(double lam) {
    return 0.3 / (1.0 + lam / 20.0)                             // absorbing continuum, 1/lambda beyond 20 micron
           + 0.6 * gauss(1.0 / lam, 4.6, 0.45)                  // the 0.2175 micron bump
           + 0.2 / (1.0 + std::pow(lam / 0.08, 4.0));           // far-ultraviolet rise
}

struct Planes {
    double abs_a, abs_l, abs_c, sca_a, sca_l, sca_c;
};

constexpr Planes kSilPlane{0.3, -0.7, -0.5, 0.8, -1.1, -1.2};
constexpr Planes kGraPlane{0.4, -0.6, -0.3, 0.9, -1.2, -1.0};

void write_table(const std::string& path, bool silicate, bool plane, bool grey) {
    const char* rfmt = "%10.4E";  // the radius field, columns 1-10
    const char* vfmt = "%.6E";
    std::vector<double> lam(kWav);
    for (int k = 0; k < kWav; ++k) lam[k] = written(vfmt, std::pow(10.0, -2.0 + 6.0 * k / (kWav - 1)));

    std::string out;
    out.reserve(static_cast<std::size_t>(kRad) * kWav * 45);
    out += silicate ? " Synthetic grain efficiencies: silicate spheres\n"
                    : " Synthetic grain efficiencies: graphite spheres\n";
    out += grey    ? " Test table: grey grains, Qabs 1 and Qsca 1e-6\n"
           : plane ? " Test table: log10 Qabs and log10 Qsca are planes in log10 a and log10 lambda\n"
                   : " Small-particle absorption and Rayleigh scattering, saturating at 1\n";
    out += "  81 grain radii (micron), 241 wavelengths (micron) per radius\n";
    out += " Columns: wavelength, Qabs, Qsca\n";
    out += " Written by qvgen\n";
    const Planes& pl = silicate ? kSilPlane : kGraPlane;
    const double r2 = silicate ? 0.15 : 0.25;  // |(m^2-1)/(m^2+2)|^2 of the Rayleigh term
    for (int j = 0; j < kRad; ++j) {
        const double a = written(rfmt, std::pow(10.0, -3.0 + 4.0 * j / (kRad - 1)));
        out += " ---- grain " + std::to_string(j + 1) + "\n";
        out += fmt(rfmt, a) + " = radius (micron)\n";
        out += "   lambda(um)      Q_abs         Q_sca\n";
        for (int kk = 0; kk < kWav; ++kk) {
            // The example tables list the wavelengths from the longest down, the
            // test tables from the shortest up.
            const double l = lam[plane ? kk : kWav - 1 - kk];
            double qa, qs;
            if (grey) {
                qa = 1.0;
                qs = 1.0e-6;
            } else if (plane) {
                const double la = std::log10(a), ll = std::log10(l);
                qa = std::pow(10.0, pl.abs_a * la + pl.abs_l * ll + pl.abs_c);
                qs = std::pow(10.0, pl.sca_a * la + pl.sca_l * ll + pl.sca_c);
            } else {
                const double x = 2.0 * kPi * a / l;
                const double sa = 4.0 * x * (silicate ? k_sil(l) : k_gra(l));
                const double ss = 8.0 / 3.0 * std::pow(x, 4.0) * r2;
                qa = sa / (1.0 + sa);
                qs = ss / (1.0 + ss);
            }
            out += fmt(vfmt, l) + " " + fmt(vfmt, qa) + " " + fmt(vfmt, qs) + "\n";
        }
    }
    std::ofstream f(path, std::ios::binary);
    if (!f) throw std::runtime_error("cannot write " + path);
    f << out;
    if (!f) throw std::runtime_error("cannot write " + path);
}

// Relative band strengths, neutral and ionised, in the band order of the PAH record.
struct Band {
    double lam, neu, ion;
};
constexpr Band kBands[24] = {
    {3.3, 3.9, 0.4},    {5.27, 0.25, 0.3},  {5.7, 0.4, 0.5},   {6.22, 3.0, 12.0},
    {6.69, 0.5, 1.0},   {7.417, 2.0, 8.0},  {7.598, 4.0, 14.0}, {7.85, 3.0, 10.0},
    {8.33, 0.8, 2.0},   {8.61, 3.0, 7.0},   {10.68, 0.3, 0.2}, {11.23, 3.5, 1.0},
    {11.33, 3.0, 1.0},  {11.99, 1.2, 0.6},  {12.62, 2.0, 0.8}, {12.69, 0.8, 0.3},
    {13.48, 0.8, 0.3},  {14.19, 0.2, 0.1},  {15.9, 0.1, 0.05}, {16.45, 0.3, 0.2},
    {17.04, 0.5, 0.3},  {17.375, 0.15, 0.1}, {17.87, 0.1, 0.08}, {18.92, 0.2, 0.1}};

void write_sigmapah(const std::string& path) {
    std::string out = " Synthetic PAH band cross-sections (relative strengths), 24 bands\n";
    out += "  lambda(um)   sigma_neutral   sigma_ionised\n";
    for (const Band& b : kBands)
        out += fmt("%9.3f", b.lam) + " " + fmt("%12.4E", b.neu) + " " + fmt("%12.4E", b.ion) + "\n";
    std::ofstream f(path, std::ios::binary);
    if (!f) throw std::runtime_error("cannot write " + path);
    f << out;
    if (!f) throw std::runtime_error("cannot write " + path);
}

}  // namespace

void write_grain_tables(const std::string& data_dir, bool plane) {
    write_grain_tables(data_dir, plane ? GrainTables::plane : GrainTables::example);
}

void write_grain_tables(const std::string& data_dir, GrainTables kind) {
    std::filesystem::create_directories(data_dir);
    const std::filesystem::path d(data_dir);
    const bool plane = kind == GrainTables::plane, grey = kind == GrainTables::grey;
    write_table((d / "SIL_81").string(), true, plane, grey);
    write_table((d / "GRA_81").string(), false, plane, grey);
    write_sigmapah((d / "sigmapah_07.dat").string());
}

}  // namespace qvgen
