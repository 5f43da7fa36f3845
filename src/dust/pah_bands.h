// PahBands (glopah): the 24 PAH bands of the diffuse medium. SolverPahBands
// (glopahtau): the PAH values of the cloud solver. Bands are numbered 1 to 24 in
// the order of lami; the band arrays have bounds 1..24.
#pragma once

#include <initializer_list>

#include "numerics/farray.h"

namespace qv {

inline constexpr int kPahBands = 24;

// A band array (1..24) holding the given values, or zeros.
inline Vec<float> pah_band_values(std::initializer_list<float> v = {}) {
    Vec<float> a(kPahBands);
    int k = 1;
    for (float x : v) a(k++) = x;
    return a;
}

inline Vec<int> pah_band_ints() { return Vec<int>(kPahBands); }

struct PahBands {
    // Band centres and widths, micron.
    Vec<float> lami = pah_band_values({3.3f,   5.27f,  5.7f,   6.22f,  6.69f,  7.417f,
                                       7.598f, 7.85f,  8.33f,  8.61f,  10.68f, 11.23f,
                                       11.33f, 11.99f, 12.62f, 12.69f, 13.48f, 14.19f,
                                       15.9f,  16.45f, 17.04f, 17.375f, 17.87f, 18.92f});
    Vec<float> dlami = pah_band_values({0.0396f,   0.17918f,  0.1995f,  0.1866f,  0.4683f,
                                        0.934542f, 0.334312f, 0.41605f, 0.43316f, 0.33579f,
                                        0.2136f,   0.13476f,  0.36256f, 0.53955f, 0.53004f,
                                        0.16497f,  0.5392f,   0.35475f, 0.318f,   0.2303f,
                                        1.1076f,   0.2085f,   0.28592f, 1.892f});

    float nc1 = 1.23e16f;  // a PAH of radius a (cm) holds nc1 a^2 carbon atoms
    float nh1 = 6.8e15f;   // ... and nh1 4e-8 a hydrogen atoms (times xh once MIXDIF is read)
    float xx = 0.0f;       // PAH abundance factor
    float xh = 0.0f;       // MIXDIF value xh

    // Band cross-sections from "sigmapah_07.dat"; sigmai is the one used (the neutral one).
    Vec<float> sigmai_neu = pah_band_values();
    Vec<float> sigmai_ion = pah_band_values();
    Vec<float> sigmai = pah_band_values();

    // Band grid: frequency 3e14/lami (Hz), frequency width, log10 nui, and the
    // position of each band centre on the dust grid in wavelength order.
    Vec<float> nui = pah_band_values();
    Vec<float> dnui = pah_band_values();
    Vec<float> lnui = pah_band_values();
    Vec<int> indpah = pah_band_ints();

    Vec<float> epah = pah_band_values();  // band emissions of the current cell
    int jband = 0;                        // band being integrated
    float yaaa = 0.0f, yaamax = 0.0f, c1 = 0.0f;  // work: PAH radius, 4e-8, heat capacity

    // Bands 4-8 and 18-24 are carbon bands; the others hydrogen bands.
    static constexpr bool carbon_band(int k) { return (k >= 4 && k <= 8) || k >= 18; }
};

struct SolverPahBands {
    float nc1 = 1.23e16f;
    float xx = 0.0f;      // MIXMOL xx times taumix corgra
    float xh = 0.0f;      // MIXMOL value xh
    float nh1 = 6.8e15f;  // times xh once MIXMOL is read
    Vec<float> sigmai_neu = pah_band_values();
    Vec<float> sigmai_ion = pah_band_values();
    Vec<float> sigmai = pah_band_values();
};

}  // namespace qv
