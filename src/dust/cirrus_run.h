// CirrusRun: the state of one call of the cirrus model (colddust), shared by
// its phases: directions, light on the dust grid, cross sections, the cirrus
// emission, the attenuated light per direction (index 0: the angle average),
// the energies and the radio emission, the timings, the current target and
// source cells, and the intrho cache.
//
// Dimensions: nlf the dust grid (glopalla::nlf, wavelengths ws ascending),
// ndir the SPECTRA directions, ndir_total = ndir + 5 with the emulator
// directions, nz = remind::nz, ncom = remind::ncom, ndr/nthe the cirrus grid.
// Spectra on the dust grid are L_lambda in 1e30 erg/s/A; their integrals over
// wavelength in 1e30 erg/s.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "dust/cirrus_emission.h"
#include "dust/cirrus_field.h"
#include "dust/column_density.h"
#include "numerics/farray.h"

namespace qv {

// The current target cell (the cell loop) and source cell (the radiation field),
// and the grain bin being treated.
struct CirrusCell {
    // Target: indices, centre (kpc, rad) and its sine and cosine, volume (pc^3,
    // full azimuth), mean density (solar masses of H per pc^3), field strength.
    int it = 0, jt = 0;
    float rt = 0.0f, thetat = 0.0f, sinthet = 0.0f, costhet = 0.0f;
    float vol = 0.0f, w = 0.0f, chi = 0.0f;
    // Source: indices, centre, sine of its polar angle, azimuth width, the
    // effective squared distance to the target (pc^2), the column of the pair.
    int is = 0, js = 0, ks = 0;
    float rs = 0.0f, thetas = 0.0f, phis = 0.0f, sinthes = 0.0f, dphi = 0.0f;
    float d2 = 0.0f, column = 0.0f;
    // Grain bin: index, radius (cm), cross-section pi a^2 (cm^2), number of
    // grains per unit volume, equilibrium temperature (K).
    int jbin = 0;
    float arad = 0.0f, sigma = 0.0f, ngr = 0.0f, tgr = 0.0f;
};

struct CirrusRun {
    std::string NOMFIL;      // the par file, <name>.par
    bool disk_like = false;  // igeo neither 0 nor 1

    int ndir = 0, ndir_total = 0;
    Vec<float> DIRARR;     // (ndir_total) viewing inclinations, degrees
    Vec<float> ADDED_DIR;  // (ndir_total) 1 for an emulator direction, 0 for a SPECTRA one

    float Mdiff = 0.0f;  // diffuse hydrogen mass, 1e12 solar masses
    float Mdust = 0.0f;  // diffuse dust mass, solar masses
    float N0 = 0.0f;     // normaliser of the cache: rgal * rhodiffarr2d(1, 1)
    float rhou = 0.0f;   // uniform dust density of igeo 0, solar masses per pc^3

    FArray<float, 3> NORMA;  // (ndr, nthe, ncom) share of a component's stars per cell per radian of azimuth

    Vec<float> MSSPTZ;    // (nz) stellar mass formed per birth interval, solar masses
    Mat<float> FORMASTA;  // (nlf, ncom) starlight of each component (after the clouds)
    Vec<float> LUMMC;     // (nlf) dust emission of the molecular clouds
    Vec<float> FORMAMC;   // (nlf) copy of LUMMC
    Mat<float> FORMA;     // (nlf, ncom) all light of each component entering the cirrus
    Vec<float> TXY;       // (nlf) optical depth per unit column (solar masses per pc^2)
    Vec<float> TXY1;      // (nlf) extinction cross-section over its value at 1 micron
    Mat<float> QEFFW;     // (nlf, 40) efficiency of each grain bin in the mode remind::isca

    Vec<float> TAUXY;    // (nlf) optical depth along the current ray
    Vec<float> EX;       // (nlf) emission of the current cell per unit volume
    Vec<float> EM;       // (nlf) emission of one small grain of the current bin
    Vec<float> TMPEPAH;  // (24) PAH band luminosities of the current cell
    Vec<float> ETOT;     // (nlf) dust emission of the whole cirrus

    FArray<float, 3> LUMSTA_E;  // (nlf, 0:ndir_total, ncom) starlight after clouds and cirrus
    Mat<float> LUMMC_E;         // (nlf, 0:ndir_total) cloud emission after the cirrus
    Vec<float> E2STA_E;         // (0:ndir_total) their integrals over wavelength
    Vec<float> E2MC_E;          // (0:ndir_total)
    Mat<float> ATT;             // (nlf, ncom) attenuation of the starlight

    // Emulator spectrum and inputs (the inputs keep their values between calls).
    Vec<float> LAM_ANN, L_ANN;  // (nout)
    std::array<float, 11> ann_x_disk{};
    std::array<float, 9> ann_x_spheroid{};

    // Radio emission.
    bool RADIO = false;
    int IRADIO = 0;   // first dust-grid point of the radio emission; nlf + 1 without
    int NWRADIO = 0;  // length of the radio table
    Vec<float> WRADIO, FRADIO;

    // Optical depths of the report at 1 micron: equatorial, polar (and at
    // 0.44 micron), of the homogeneous sphere.
    float taue = 0.0f, taup1 = 0.0f, taup044 = 0.0f, tauh = 0.0f;

    // Energies: all light entering the cirrus, the cloud emission in it, the
    // starlight after the clouds, the cirrus emission; the budget's wavelength index.
    float Lin = 0.0f, Lmc = 0.0f, Lstar = 0.0f, Ecir = 0.0f;
    int imin = 1;

    // Process times (user, system) around a radiation-field call, and the sums.
    std::array<float, 2> CPUTIME1{}, CPUTIME2{};
    float GIROYTIME = 0.0f, DISTMEDIATIME = 0.0f, INTRHOTIME = 0.0f, GIROLAMTIME = 0.0f;

    CirrusCell cell;
    // Target cells whose radiation field the cell loop computed (for the tests
    // and benchmarks).
    int cells_computed = 0;
    // ... and of those, the ones computed again in their turn, their searches
    // having depended on where the previous cell's ended.
    int cells_redone = 0;

    // The column-density cache of the pair loop.
    IntrhoCache cache;

    // What the radiation field and the grain emission keep for the cell loop.
    CirrusFieldWork field;
    CirrusGrainWork grains;
};

}  // namespace qv
