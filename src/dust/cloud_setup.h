// CloudSetup (glopalla): the hand-over between the synthesis, the dust stages and
// the cloud model: cloud parameters, the dust frequency grid, the stellar spectra
// on it and the results of the cloud model.
#pragma once

#include "numerics/farray.h"

namespace qv {

struct CloudSetup {
    float mmolfraz = 0.0f;   // fraction of the gas in molecular clouds (negative: no gas)
    float mcloud = 0.0f;     // mass of one cloud, solar masses (negative: minus its optical depth)
    float rcloud = 0.0f;     // cloud radius, pc (or ratio of radii when rmsr0_flag)
    float vout = 0.0f;       // escape rate of stars from the clouds, per Gyr
    float etastart = 0.0f;   // age at which stars start to leave, Gyr
    bool hiiflag = false;
    int nlf = 0;             // points of the dust frequency grid
    float n_tstart = 1.0f;
    float tau_gal_max = 1e30f;
    bool rmsr0_flag = false;
    float sfrt = 0.0f;       // present star-formation rate per unit primordial mass per Gyr

    float klam = 0.0f;    // cirrus extinction cross-section per H atom at 1 micron, cm^2
    float klama = 0.0f;   // cirrus cross-section per H atom at 1 micron in the run's mode
    float mmol = 0.0f;    // molecular gas mass, 1e12 solar masses
    float ncloud = 0.0f;  // number of molecular clouds
    float rho = 0.0f;     // mean density of one cloud, g cm^-3
    float tau1 = 0.0f;    // optical depth at 1 micron through one cloud radius
    bool mixpalla_built = false;  // the clouds' grain mixture has been built (first mixpalla call)
    bool cirrus_reset = false;    // the too-high-cirrus reset of the dust preparation happened

    // Dust frequency grid: log10 frequency (Hz) and frequency, ascending; wavelength
    // in Angstrom, ascending, ws(nlf + 1 - i) = 3e18 / farr(i).
    Vec<float> lfarr, farr, ws;

    Mat<float> l_sta;     // (nlam, ncom) stellar spectrum per component on the SSP grid
    Mat<float> lumsta;    // (nlf, ncom) the same on the dust grid wavelengths ws
    Mat<float> l_stamc;   // (nlam, ncom) stellar spectrum after the molecular clouds
    Mat<float> lumstamc;  // (nlf, ncom) the same on the dust grid
    Vec<float> lumdus;    // (nlf) dust emission of the clouds, L_nu in 1e30 erg/s/Hz, ascending nu

    // Rebinning work: per-component sums, window indices (also the search guesses
    // kept from one grid point to the next) and window limits in Angstrom.
    Vec<float> somcom, f1com, f2com, flscom;
    int klo = 0, khi = 0, kd = 0;
    float wlo = 0.0f, whi = 0.0f;

    // Cloud-model results.
    float lumdusbol30 = 0.0f;  // frequency integral of the per-cloud dust emission, 1e30 erg/s
    float e2inpdiftru = 0.0f;  // stellar luminosity of all stars after the clouds, 1e30 erg/s
    int ndt_hii = 0;           // young-star age bins of the HII regions

    static constexpr float t_hii = 0.01f;
    static constexpr float dt_hii = 0.002f;
};

}  // namespace qv
