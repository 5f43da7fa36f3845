#include "dust/dust_grid.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/run.h"
#include "core/stop.h"
#include "io/format.h"
#include "numerics/roots_sort.h"
#include "numerics/search.h"

namespace qv {

namespace {

constexpr int kFeaturePoints = 18;   // parametri::lam_fea
constexpr int kPahPoints = 5;        // grid points per PAH band
constexpr float kLogZero = -30.0f;   // log10 taken for a spectrum value of 0 or below

// The five points of PAH band k (log10 Hz, ascending): the centre and two pairs
// at 0.025 and 0.0265 (= 1.06 x 0.5 / 20) band widths on either side.
std::array<float, kPahPoints> pah_points(const PahBands& pah, int k) {
    const float nu = pah.nui(k);
    const float dnu = pah.dnui(k);
    return {std::log10(nu - 0.0265f * dnu), std::log10(nu - 0.025f * dnu), pah.lnui(k),
            std::log10(nu + 0.025f * dnu), std::log10(nu + 0.0265f * dnu)};
}

std::string num(float v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", static_cast<double>(v));
    return buf;
}

// The grid's ends and the rebinning's intervals need two SSP wavelengths.
void require_two_wavelengths(int nlam) {
    if (nlam < 2)
        throw Stop(fio::list_line({"FATAL ERROR: the SSP wavelength grid holds " + std::to_string(nlam) +
                                   " wavelength(s); the dust grid needs at least two"}));
}

float log_or_floor(float v) { return v > 0.0f ? std::log10(v) : kLogZero; }

// The PAH profile step reads band k's peak at row indpah(k) and its continuum at
// rows indpah(k) +- 2, and the bands' spikes sit at indpah(k) and indpah(k) +- 1.
// Any grid point may fall among a band's five points (the spikes and reference
// rows are chosen by row, so they stay consistent), but the rows must exist and
// no band may put a spike on another band's rows: two centres need 4 rows
// between them (a shared reference row is harmless).
void check_pah_rows(const Run& run) {
    const int nlf = run.glopalla.nlf;
    const Vec<int>& ind = run.glopah.indpah;
    auto stop = [&](const std::string& what) {
        throw Stop(std::vector<std::string>{
            fio::list_line({"FATAL ERROR: " + what}),
            fio::list_line({"the PAH profiles need two rows of the dust grid on either side of each band "
                            "centre, apart from the other bands: change the key nlf (now " +
                            std::to_string(dust_grid_key_points(run)) + ")"})});
    };
    for (int k = 1; k <= kPahBands; ++k) {
        if (ind(k) - 2 < 1 || ind(k) + 2 > nlf)
            stop("the centre of PAH band " + std::to_string(k) + " (" + num(run.glopah.lami(k)) +
                 " micron) lies within two rows of the end of the dust frequency grid");
        for (int m = 1; m < k; ++m)
            if (std::abs(ind(k) - ind(m)) < 4)
                stop("the centres of PAH bands " + std::to_string(m) + " (" + num(run.glopah.lami(m)) +
                     " micron) and " + std::to_string(k) + " (" + num(run.glopah.lami(k)) +
                     " micron) lie " + std::to_string(std::abs(ind(k) - ind(m))) +
                     " rows apart on the dust frequency grid");
    }
}

}  // namespace

void pah_band_grid(PahBands& pah) {
    for (int k = 1; k <= kPahBands; ++k) {
        const float lami = pah.lami(k);
        const float dlami = pah.dlami(k);
        pah.nui(k) = 3e14f / lami;
        pah.dnui(k) = 3e14f * (1.0f / (lami - dlami / 2.0f) - 1.0f / (lami + dlami / 2.0f));
        pah.lnui(k) = std::log10(pah.nui(k));
    }
}

int dust_grid_key_points(const Run& run) {
    const int n0 = run.glopalla.nlf - kFeaturePoints - (run.modname.pahflag ? kPahBands * kPahPoints : 0);
    if (n0 < 2)
        throw Stop(fio::list_line({"FATAL ERROR: key nlf = " + std::to_string(n0) +
                                   " is below 2: the dust frequency grid needs at least its two end points"}));
    return n0;
}

void build_dust_grid(Run& run) {
    CloudSetup& gp = run.glopalla;
    const BirthGrid& r = run.remind;
    const PahBands& pah = run.glopah;
    const int nlf = gp.nlf;
    const int n0 = dust_grid_key_points(run);
    require_two_wavelengths(r.nlam);
    for (Vec<float>* v : {&gp.lfarr, &gp.farr, &gp.ws})
        if (v->extent() != nlf) v->resize(nlf);

    float wmax = r.wave(1), wmin = r.wave(1);
    for (int l = 2; l <= r.nlam; ++l) {
        wmax = std::max(wmax, r.wave(l));
        wmin = std::min(wmin, r.wave(l));
    }
    const float f_lo = std::min(std::log10(3e18f / wmax), 10.7f);
    const float f_hi = std::min(std::log10(3e18f / wmin), 16.25f);

    for (int i = 1; i <= n0; ++i)
        gp.lfarr(i) = f_lo + static_cast<float>(i - 1) * (f_hi - f_lo) / static_cast<float>(n0 - 1);
    for (int m = 1; m <= kFeaturePoints; ++m)
        gp.lfarr(n0 + m) = std::log10(3e14f / RunParameters::lam_fea[static_cast<std::size_t>(m - 1)]);
    if (run.modname.pahflag) {
        for (int k = 1; k <= kPahBands; ++k) {
            const std::array<float, kPahPoints> v = pah_points(pah, k);
            for (int m = 0; m < kPahPoints; ++m)
                gp.lfarr(n0 + kFeaturePoints + kPahPoints * (k - 1) + 1 + m) = v[static_cast<std::size_t>(m)];
        }
    }

    sort(nlf, gp.lfarr.data());

    if (run.modname.pahflag) {
        int j = 0;
        for (int k = 1; k <= kPahBands; ++k) {
            hunt(gp.lfarr.data(), nlf, pah.lnui(k), j);
            if (j < 1) j = 1;
            if (gp.lfarr(j) < pah.lnui(k)) j = j + 1;
            run.glopah.indpah(k) = nlf - j + 1;
        }
        check_pah_rows(run);
    }

    for (int i = 1; i <= nlf; ++i) {
        gp.farr(i) = std::pow(10.0f, gp.lfarr(i));
        gp.ws(nlf + 1 - i) = 3e18f / gp.farr(i);
    }
}

void stellar_spectrum(Run& run, float primordial_mass, Mat<float>& l) {
    const BirthGrid& r = run.remind;
    const int nlam = r.nlam;
    const int ncom = r.ncom;
    if (l.extent(0) != nlam || l.extent(1) != ncom) l.resize(nlam, ncom);
    std::vector<float> acc(static_cast<std::size_t>(nlam));
    const float scale = primordial_mass * 1e12f * 0.5f;
    for (int c = 1; c <= ncom; ++c) {
        std::fill(acc.begin(), acc.end(), 0.0f);
        for (int j = 2; j <= r.icall; ++j) {
            const float s0 = r.sfrate(j - 1, c);
            const float s1 = r.sfrate(j, c);
            const float dt = r.tbirth(j) - r.tbirth(j - 1);
            const float* f0 = r.flsspint.col(j - 1, c);
            const float* f1 = r.flsspint.col(j, c);
            for (int k = 0; k < nlam; ++k) acc[k] += (s0 * f0[k] + s1 * f1[k]) * dt;
        }
        float* out = l.col(c);
        for (int k = 0; k < nlam; ++k) out[k] = scale * acc[k];
    }
}

void rebin_to_dust_grid(Run& run, const Mat<float>& l, Mat<float>& lum) {
    CloudSetup& gp = run.glopalla;
    const BirthGrid& r = run.remind;
    const int nlam = r.nlam;
    const int ncom = r.ncom;
    const int nlf = gp.nlf;
    require_two_wavelengths(nlam);
    if (lum.extent(0) != nlf || lum.extent(1) != ncom) lum.resize(nlf, ncom);
    for (Vec<float>* v : {&gp.somcom, &gp.f1com, &gp.f2com, &gp.flscom})
        if (v->extent() != ncom) v->resize(ncom);

    const float* wave = r.wave.data();
    auto wv = [wave](int k) { return wave[k - 1]; };

    // The search guesses start afresh, so that the result depends on nothing
    // but the arguments (an exact hit on an SSP wavelength may land on either
    // side of it depending on the guess).
    gp.klo = 0;
    gp.khi = 0;
    for (int i = 1; i <= nlf; ++i) {
        const float w = gp.ws(i);
        for (int c = 1; c <= ncom; ++c) lum(i, c) = 0.0f;
        gp.wlo = 0.97f * w;
        gp.whi = 1.03f * w;
        hunt(wave, nlam, gp.wlo, gp.klo);
        if (gp.klo < 1) gp.klo = 1;
        hunt(wave, nlam, gp.whi, gp.khi);
        gp.kd = gp.khi - gp.klo;

        if (gp.kd >= 3) {
            // Mean over the window.
            const float width = wv(gp.khi) - wv(gp.klo);
            for (int c = 1; c <= ncom; ++c) {
                const float* lc = l.col(c);
                gp.somcom(c) = 0.0f;
                for (int k = gp.klo; k <= gp.khi - 1; ++k)
                    gp.somcom(c) += (lc[k - 1] + lc[k]) * (wv(k + 1) - wv(k)) * 0.5f;
                lum(i, c) = gp.somcom(c) / width;
            }
        } else {
            // Linear in log L against wavelength, on the interval that starts at
            // the bracket of 0.97 w.
            gp.klo = std::min(gp.klo, nlam - 1);
            const int k = gp.klo;
            // Beyond the ends of the SSP grid the straight line in log L would
            // grow without bound wherever the end interval rises outwards (up to
            // an overflow to infinity over the long reach of the dust grid): there
            // the value is held at most at the spectrum's value at that end, so
            // the light beyond the table is never brighter than its last
            // tabulated value. A falling extrapolation is kept as it is.
            const bool past_last = w > wv(nlam);
            const bool before_first = w < wv(1);
            for (int c = 1; c <= ncom; ++c) {
                const float* lc = l.col(c);
                gp.f1com(c) = log_or_floor(lc[k - 1]);
                gp.f2com(c) = log_or_floor(lc[k]);
                gp.flscom(c) = gp.f1com(c) + (gp.f2com(c) - gp.f1com(c)) * (w - wv(k)) / (wv(k + 1) - wv(k));
                if (past_last) gp.flscom(c) = std::min(gp.flscom(c), log_or_floor(lc[nlam - 1]));
                if (before_first) gp.flscom(c) = std::min(gp.flscom(c), log_or_floor(lc[0]));
                lum(i, c) = std::pow(10.0f, gp.flscom(c));
            }
        }
    }
}

}  // namespace qv
