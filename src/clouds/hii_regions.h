// The HII regions of the young stars: their ionising photons, their nebular
// lines interpolated in the HII library (written to the pan file), and their
// nebular continuum added to the young-star spectra, with the factors on the
// light that leaves the clouds.
//
// Frequencies are in units of 1e14 Hz (nu = 29979 / lambda, lambda in
// Angstrom), spectra on them are L_nu = L_lambda 29979 / nu^2, photon numbers
// in units of 1e50 per second.
#pragma once

#include <string>
#include <vector>

#include "numerics/farray.h"

namespace qv {

struct Run;
struct NrKelu;

// The share of the ionising photons that the gas absorbs: lines and continuum
// are scaled by it, the light at or below 911.8 Angstrom that remains by 1 - F.
inline constexpr float kHiiAbsorbed = 0.99f;

namespace modhii {

// Ionisation thresholds, 1e14 Hz.
inline constexpr float kNuH = 32.880363f;
inline constexpr float kNuHe = 59.47034f;
inline constexpr float kNuHep = 131.54454f;
inline constexpr float kNuO = 85.483315f;

struct PhotonCounts {
    float qh = 0.0f, qhe = 0.0f, qhep = 0.0f, qo = 0.0f;
};

// The photons above threshold t of a spectrum lnu on decreasing frequencies nu:
// the trapezoid integral of lnu / (h nu) from t up to nu(1), the spectrum taken
// as 0 where the grid ends above t; 0 when nu(1) < t.
float photons_above(int n, const float* nu, const float* lnu, float t);

// Q(H), Q(He), Q(He+) and Q(O).
PhotonCounts calcs(int n, const float* nu, const float* lnu);

// Case-B H beta and H alpha (1e40 erg/s) with Q(H).
struct CaseB {
    float hbeta = 0.0f, halpha = 0.0f, qh = 0.0f;
};
CaseB strom(int n, const float* nu, const float* lnu);

// The nebular continuum L_nu (same units as lnu) of the population lnu on nu,
// scaled by f; 0 at and beyond the ends of the coefficient table.
void contneb(NrKelu& st, const float* nu, const float* lnu, float* cont, int n, float f);

// The digit of i, '0' for any i outside 0..9.
char itochar(int i);

}  // namespace modhii

// The pan file of library set v (1-based) of nnh sets: <name>.pan with one set,
// else <name>_<digit>.pan.
std::string pan_file_name(const std::string& name, int nnh, int v);

// The line sums of one library set, totals over all clouds (1e40 erg/s; Q in
// 1e50 photons/s).
struct HiiSetSums {
    Mat<float> lines_mc;    // (114, n_tau_mc) the stars inside clouds of each type
    Vec<float> lines_fuo;   // (114) the stars that have left the clouds
    Vec<float> ha, hb, qh;  // (n_tau_mc + 1) case-B H alpha, H beta and Q(H) per row
};

// The pan file of one set: its header records and one record per line with the
// lines inside each type, outside, the clouds' optical depth at the line and the
// lines after it (0 beyond an optical depth of 30).
std::string pan_text(Run& run, const std::string& file, const HiiSetSums& s);

// The 114 line luminosities (1e40 erg/s) of one population lnu on nu, with the
// library file of the set loaded first when loaded is 0.
void hii(Run& run, const float* nu, const float* lnu, int n, float* lines, float z, const std::string& set,
         int& loaded);

// The HII driver: the lines of every cloud type, library set and age bin, and of
// the stars that have left the clouds, into the pan files; the nebular
// continuum added to the age bins 1..ndt_hii of ldentro_arr and lfuori, and
// the factors ldentro_old_arr and lfuori_old.
void hiitot(Run& run, float zgas, const std::string& name);

}  // namespace qv
