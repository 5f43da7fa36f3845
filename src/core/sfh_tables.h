// SfhTables: the star-formation history on its time grid (part of glotauspe).
// Times in Gyr; rates per unit primordial mass per Gyr; components 1 disk, 2 bulge.
#pragma once

#include "numerics/farray.h"

namespace qv {

struct SfhTables {
    int istarfo = 0;  // source of the history (MAIN key)

    int nzsmax = 0;
    Vec<float> agesf, rsf, gas, zeta, stars, snrate;

    // Multi-bin tables of the external readers.
    int ntav = 0;
    Vec<float> ztav;
    FArray<float, 3> rsftav;     // (nzsmax, ntav, ncom)
    FArray<float, 3> rsftavqui;  // (nzqui+1, ntav, ncom)
    Vec<float> agesfqui;
    int nzqui = 0;
    Mat<float> flswei;    // (ntav, ncom)
    Mat<float> zeta_arr;  // (nzsmax, ncom)
    int n_bur = 0;
    Vec<float> t_bur, t_end_bur;
    bool current_burst = false;
    float f_tgal = 0.0f;
    float rctav = 0.0f;
    float rdtav = 0.0f;
    float magbsut = 0.0f;

    float bsut = 0.0f;  // share of the formed stellar mass in component 2

    // Bulge star-formation law.
    int nbst = 0;
    Vec<float> tbst, bst;

    // Values at the current birth time.
    float sfr = 0.0f, gg = 0.0f, zzeta = 0.0f;

    static constexpr float dtcurmin = 0.02f;
    static constexpr float dtcurmax = 0.2f;
    static constexpr float rsfmin = 1e-8f;

    // MAIN keys of the tav model.
    float fburst = 0.0f, beta = 0.0f, littleh = 0.0f, tbemin = 0.0f, dtbe = 0.0f;
};

}  // namespace qv
