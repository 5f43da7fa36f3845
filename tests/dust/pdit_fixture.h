// A run with the diffuse grain mixture, the PAH band grid, a dust frequency grid
// built as the dust preparation builds it, and a diluted stellar radiation field
// on it: the setting in which the cirrus calls the small-grain distributions and
// the PAH bands.
#pragma once

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "core/parameters.h"
#include "core/run.h"
#include "dust/grain_fixture.h"
#include "dust/grain_mix.h"
#include "support/test_support.h"

namespace qv::test {

// log10 nu of the dust grid with n0 equally spaced points from 10^10.7 to
// 10^16.25 Hz (or up to 10^fhi), the 18 feature points and, with pah, five points
// per PAH band; sorted ascending.
inline std::vector<float> dust_grid_lfarr(const PahBands& g, int n0, bool pah, float fhi = 16.25f) {
    std::vector<float> lf;
    const float flo = 10.7f;
    for (int i = 1; i <= n0; ++i)
        lf.push_back(flo + static_cast<float>(i - 1) * (fhi - flo) / static_cast<float>(n0 - 1));
    for (float lam : RunParameters::lam_fea) lf.push_back(std::log10(3e14f / lam));
    if (pah)
        for (int k = 1; k <= kPahBands; ++k) {
            const float nu = g.nui(k), dnu = g.dnui(k);
            lf.push_back(std::log10(nu - 0.0265f * dnu));
            lf.push_back(std::log10(nu - 0.025f * dnu));
            lf.push_back(g.lnui(k));
            lf.push_back(std::log10(nu + 0.025f * dnu));
            lf.push_back(std::log10(nu + 0.0265f * dnu));
        }
    std::sort(lf.begin(), lf.end());
    return lf;
}

// The PAH band grid of the dust preparation.
inline void set_band_grid(PahBands& g) {
    for (int k = 1; k <= kPahBands; ++k) {
        const float lam = g.lami(k), dlam = g.dlami(k);
        g.nui(k) = 3e14f / lam;
        g.dnui(k) = 3e14f * (1.0f / (lam - dlam / 2.0f) - 1.0f / (lam + dlam / 2.0f));
        g.lnui(k) = std::log10(g.nui(k));
    }
}

inline void set_dust_grid(Run& run, const std::vector<float>& lf) {
    CloudSetup& c = run.glopalla;
    const int n = static_cast<int>(lf.size());
    c.nlf = n;
    c.lfarr.resize(n);
    c.farr.resize(n);
    c.ws.resize(n);
    for (int i = 1; i <= n; ++i) {
        c.lfarr(i) = lf[i - 1];
        c.farr(i) = std::pow(10.0f, c.lfarr(i));
    }
    for (int i = 1; i <= n; ++i) c.ws(n + 1 - i) = 3e18f / c.farr(i);
    run.glopdit.ix.resize(n);
    run.glopdit.yarr.resize(n);
}

// B_lambda(T) in erg s^-1 cm^-2 A^-1 sr^-1 at lambda in Angstrom.
inline double planck_lambda(double lam_a, double t) {
    const double lam = lam_a * 1e-8;
    const double x = 1.4387769 / (lam * t);
    if (x > 700.0) return 0.0;
    return 2.0 * 6.62607e-27 * 2.99792458e10 * 2.99792458e10 / std::pow(lam, 5.0) / std::expm1(x) *
           1e-8;
}

// The shape of a diluted stellar field: two blackbodies, 10^4 K and 4000 K.
inline double field_shape(double lam_a) {
    return planck_lambda(lam_a, 1e4) + 40.0 * planck_lambda(lam_a, 4000.0);
}

// glopdit::ix = a diluted stellar field whose strength CHI (its wavelength
// integral over that of the solar-neighbourhood field, 0.001776893) is chi.
inline void set_field(Run& run, double chi, double (*shape)(double) = field_shape) {
    const CloudSetup& c = run.glopalla;
    const int n = c.nlf;
    std::vector<double> v(n + 1);
    for (int i = 1; i <= n; ++i) v[i] = shape(c.ws(i));
    double s = 0.0;
    for (int i = 1; i < n; ++i)
        s += 0.5 * (v[i] + v[i + 1]) * static_cast<double>(c.ws(i + 1) - c.ws(i));
    const double k = chi * 0.001776893 / s;
    for (int i = 1; i <= n; ++i) run.glopdit.ix(i) = static_cast<float>(v[i] * k);
}

// The field strength CHI of glopdit::ix, as the cirrus reports it.
inline double field_chi(const Run& run) {
    const CloudSetup& c = run.glopalla;
    double s = 0.0;
    for (int i = 1; i < c.nlf; ++i)
        s += 0.5 * (static_cast<double>(run.glopdit.ix(i)) + static_cast<double>(run.glopdit.ix(i + 1))) *
             static_cast<double>(c.ws(i + 1) - c.ws(i));
    return s / 0.001776893;
}

// A diffuse mixture with small grains: graphite from 10 Angstrom and silicate
// from 15 Angstrom, eight and seven bins of them up to 0.01 micron.
inline MixKeys small_grain_keys() { return MixKeys().set("amin_gr", "1.0e-7").set("amin_si", "1.5e-7"); }

// A run in a fresh folder with the diffuse mixture built from a MIXDIF section
// (and the clouds' mixture from MIXMOL), the example grain tables, the PAH band
// grid and the dust grid of 100 + 18 + 120 points.
struct GrainRun {
    TempDir tmp;
    CapturedConsole cc;
    Run run{cc.con};
    explicit GrainRun(const MixKeys& dif = small_grain_keys(), const std::string& dir = example_grain_dir(),
                      int n0 = 100, bool pah = true) {
        write_text(tmp.file("m.par"), dif.text("MIXDIF") + small_grain_keys().text("MIXMOL"));
        run.modname.name = "m";
        run.modname.name_dir = dir;
        run.mix.dsug = SolverGrainMix::dsugst;
        mix::genmix(run);
        set_band_grid(run.glopah);
        set_dust_grid(run, dust_grid_lfarr(run.glopah, n0, pah));
    }
    std::vector<std::string> lines() const { return cc.out_lines(); }
};

// The small graphite bins (radius at most 0.01 micron) of the diffuse mixture;
// bin k + 20 is the silicate bin of the same rank.
inline std::vector<int> small_bins(const Run& run) {
    std::vector<int> b;
    for (int k = 1; k <= 20; ++k)
        if (run.mix.agra(k) <= 0.01f) b.push_back(k);
    return b;
}

}  // namespace qv::test
