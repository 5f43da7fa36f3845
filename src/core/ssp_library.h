// SspLibrary: the SSP tables by type and metallicity (part of glotauspe).
#pragma once

#include <cmath>
#include <string>
#include <vector>

#include "numerics/farray.h"

namespace qv {

struct SspLibrary {
    static constexpr int nages = 150;  // capacity in age blocks per table
    static constexpr int max_tables = 50;

    int ntab = 0;                 // tables kept from the list
    std::vector<int> imf_flag;    // SSP type of each table (1 quiescent, 2 burst)
    int ntab1 = 0;                // type-1 tables (they come first after sorting)
    Vec<float> ztab;              // metallicity of each table
    Vec<int> nmax;                // age blocks read from each table
    Mat<float> ages;              // (nages, ntab): age of each block, Gyr, oldest first
    FArray<float, 3> fluxes;      // (nlam, nages, ntab): L_lambda per unit mass

    std::vector<std::string> ssp_files;  // table file names, kept between the two reads
};

// The encodings of an SSP table file.
namespace ssp_code {

// Wavelength code of a table with a positive count: wavelength = exp(i/10000) x 10 Angstrom.
inline float wavelength(int i) { return std::exp(static_cast<float>(i) / 10000.0f) * 10.0f; }

// Flux code: ln F = i/1000 - 100; F below 1e-36 (ln 1e-36 = -82.89307) counts as no flux.
inline float flux(int i) {
    const float l = static_cast<float>(i) / 1000.0f - 100.0f;
    return l > -82.89307f ? std::exp(l) : 0.0f;
}

// Speed of light in Angstrom per second, and the factor that turns a table's
// flux per unit frequency into a luminosity per unit wavelength: 4 c / lambda^2.
inline constexpr float c_angstrom = 2.9979246e18f;

}  // namespace ssp_code

}  // namespace qv

namespace qv {
struct Run;

// Reads the SSP section's list of tables (tables false: types and count only), or
// the list again and the tables themselves (tables true).
void readflussi_asci(Run& run, float ssp_mass, bool tables);
}  // namespace qv
