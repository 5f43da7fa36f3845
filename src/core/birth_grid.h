// BirthGrid (remind): the birth-time grid, the star-formation rate per birth time
// and component, and the SSP spectrum per unit mass born at each birth time.
#pragma once

#include "numerics/farray.h"

namespace qv {

struct BirthGrid {
    int nz = 2000;  // capacity of the birth-time arrays; only grows
    int icall = 0;  // current birth time during kernel, afterwards their number
    int ncom = 1;   // stellar components (2 for disk plus bulge)
    Vec<float> tbirth;            // (nz)
    Mat<float> sfrate;            // (nz, ncom)
    FArray<float, 3> flsspint;    // (nlam, nz, ncom)
    Vec<float> gasres;            // (nz)
    Mat<float> alnorm;            // (nz, ncom)
    int nlam = 0;
    Vec<float> wave;              // SSP wavelengths, Angstrom
    float primordial_mass = 0.0f; // 1e12 solar masses
    int isca = 0;                 // grain efficiency mode
    bool flutflag = false;
    int ndr = 20;                 // radial cells of the cirrus grid
    float e1 = 0.0f;              // bolometric stellar luminosity
};

// SynthWork (prointegrando): the spectrum fluxmetal returns and the
// quiescent/burst blend, kept for the run.
struct SynthWork {
    Vec<float> varflu, flu;
    Mat<float> work;  // (nlam, 2): the two bracketing metallicity tables
    // Search guesses of the interpolations at the birth time (the results do
    // not depend on them).
    int agesf_guess = 0;
    int tbst_guess = 0;
    int agesfqui_guess = 0;
};

}  // namespace qv
