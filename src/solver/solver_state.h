// SolverState (globals): the cloud solver's state, one record for the whole run.
//
// Arrays are indexed like the model: radius first (ir = 1..40), then polar angle
// (ict = 1..24), then frequency (nu = 1..54) or grain species (k = 1..20), then
// direction (0..26, 0 the mean over directions). Lengths in cm, polar angles in
// radians from the symmetry axis, frequencies as log10 of the frequency in Hz,
// temperatures in K, intensities in erg s^-1 cm^-2 Hz^-1 sr^-1. Species 1-10
// are the graphite and 11-20 the silicate size bins of taumix.
//
// Memory. The solver always runs with spherical and equatorial symmetry,
// without polarisation and without anisotropic scattering, so only the first
// Stokes component of the three large fields is ever used and it is the only
// one stored: the component index is dropped. Of the directions,
//   jarr  keeps 0..2  (the mean intensity and the two directions that look
//                      toward the source, which the direct field fills),
//   jdarr keeps 0..26 (the diffuse field of every quadrature direction, which
//                      the mean intensity and flux of a grid point are built from),
//   sarr  keeps direction 0 only (the isotropic source function).
// This keeps the three fields near 6 MB in all (jdarr 5.6 MB), where the full
// (40,24,54,0:26,4) layout would take 67 MB per solve. All 24 polar angles are
// kept, so the copies and mirrors of the symmetric grid remain plain array writes.
#pragma once

#include <array>
#include <initializer_list>
#include <string>
#include <vector>

#include "numerics/farray.h"

namespace qv {

inline constexpr int kSolverNr = 40;      // radii
inline constexpr int kSolverNct = 24;     // polar angles
inline constexpr int kSolverNnu = 54;     // frequencies
inline constexpr int kSolverNsp = 20;     // grain species (10 graphite, 10 silicate)
inline constexpr int kSolverNgr = 10;     // graphite species
inline constexpr int kSolverNdir = 26;    // quadrature directions
inline constexpr int kSolverMaxDirs = 10; // viewing directions of the output settings
inline constexpr int kSolverMaxLams = 54; // map wavelengths of the output settings
inline constexpr int kSolverNflags = 14;  // output flags

namespace solver_detail {

inline Vec<float> values(std::initializer_list<float> v) {
    Vec<float> a(static_cast<int>(v.size()));
    int k = 1;
    for (float x : v) a(k++) = x;
    return a;
}

// (lo..hi) in the last index, 1-based in the others.
inline FArray<float, 2> mat0(int n1, int lo2, int hi2) {
    FArray<float, 2> a;
    a.reshape({Bounds{1, n1}, Bounds{lo2, hi2}});
    return a;
}
inline FArray<float, 3> cube0(int n1, int n2, int lo3, int hi3) {
    FArray<float, 3> a;
    a.reshape({Bounds{1, n1}, Bounds{1, n2}, Bounds{lo3, hi3}});
    return a;
}
inline FArray<float, 4> field(int lo4, int hi4) {
    FArray<float, 4> a;
    a.reshape({Bounds{1, kSolverNr}, Bounds{1, kSolverNct}, Bounds{1, kSolverNnu},
               Bounds{lo4, hi4}});
    return a;
}

}  // namespace solver_detail

struct SolverState {
    // ---- The 24 solver parameters, in the order of the parameter block ----
    int igeo = 0;          // 0: dust outside two polar cones of half-angle cthe1
    float tgra = 0.0f;     // sublimation temperature of graphite, K (MAIN key)
    float tsil = 0.0f;     // sublimation temperature of silicate, K (MAIN key; abs used)
    float r1 = 0.0f;       // reference radius, cm (density scale, least inner radius)
    float rmsr0 = 0.0f;    // outer radius: r0*rmsr0 when <= 1e6, else r0 + rmsr0 (caller)
    int irho = 0;          // density law
    float cthe1 = 0.0f;    // half-angle of the dust-free polar cones, rad
    float alpha = 0.0f;    // polar exponent of the density law
    float beta = 0.0f;     // radial exponent of the density law (shapes the radial grid)
    float taue = 0.0f;     // optical depth at altau along the equator (caller)
    float altau = 0.0f;    // reference wavelength of taue, micron
    int icen = 0;          // central source: 3 = tabulated spectrum <stem>.SSP
    float rc = 0.0f;       // printed only
    float tc = 0.0f;       // printed only (and written to <stem>.SPE)
    float perrif = 0.0f;   // reflected fraction of the source light
    int ncic = 0;          // passes that end with a new diffuse field
    int iini = 0;          // 0: every solve starts from scratch
    bool jpflag = false;   // rescale the field with the conservation factors
    bool suflag = false;   // grains above their sublimation temperature are removed
    bool simsfe = false;   // spherical symmetry: only polar angle 1 is computed
    int grflag = 0;        // 1: the fixed frequency grid
    bool scaani = false;   // anisotropic scattering
    bool stokes = false;   // polarisation
    bool simequ = false;   // equatorial symmetry: angle ict takes the values of 25-ict

    // ---- Further scalars ----
    std::string nom;         // stem of the solve's file names, up to its first blank (caller)
    float albb = 0.0f;       // 0 throughout: the source spectrum is used as written
    float al46 = 0.0f;       // luminosity through the innermost radius, 1e46 erg/s
    float al46tru = 0.0f;    // luminosity of the central source, 1e46 erg/s
    float r0 = 0.0f;         // inner radius of the dust, cm
    // Read by the cloud model after its solves: the outer radius of the cloud
    // solved last (cm; 0 before any solve).
    float rmax = 0.0f;
    float rho1 = 0.0f;       // density normalisation, g cm^-3
    float shafac = 0.0f;     // density-weighted mean of cos^2 theta (shape factor)
    bool agflag = false;     // a species sublimated in the last temperature pass
    int ir = 0, ict = 0, id = 0;  // grid point and species of the equilibrium residual
    int ncted = 0;           // viewing directions (output settings), at most 10
    int nmapd = 0;           // map wavelengths (output settings), at most 54
    int nctmez = 12;         // polar angles per hemisphere
    int nlf1_ajn = 1;        // first and last frequency index with a positive source
    int nlf2_ajn = 54;

    // ---- Grids ----
    // log10 of the 54 grid frequencies (Hz), ascending; also the field grid of
    // the solver's small-grain temperature distributions (glopdittau).
    Vec<float> lfarr = Vec<float>(kSolverNnu);
    Vec<float> rarr = Vec<float>(kSolverNr);    // radii, cm
    Vec<float> ctarr = Vec<float>(kSolverNct);  // polar angles of the cell centres, rad
    // The 25 fixed frequencies of the grid.
    Vec<float> lflocg = solver_detail::values(
        {10.5f,   11.2f,   11.8f,  12.0f,   12.2f,   12.4f,   12.55f, 12.699f, 12.9f,
         13.933f, 14.135f, 14.273f, 14.398f, 14.53f, 14.671f, 14.829f, 15.05f, 15.141f,
         15.2f,   15.4f,   15.5f,   15.65f,  15.8f,   16.0f,   16.3f});
    // The 26 quadrature directions: polar angle from the local outward radius,
    // azimuth (rad) and weight (the weights add up to 2 pi).
    Vec<float> thespi = solver_detail::values(
        {0.262f, 0.262f, 0.785f, 0.785f, 0.785f, 0.785f, 0.785f, 1.31f,  1.31f,
         1.31f,  1.31f,  1.31f,  1.31f,  1.833f, 1.833f, 1.833f, 1.833f, 1.833f,
         1.833f, 2.356f, 2.356f, 2.356f, 2.356f, 2.356f, 2.88f,  2.88f});
    Vec<float> phispi = solver_detail::values(
        {0.785f, 2.356f, 0.314f, 0.942f, 1.571f, 2.199f, 2.827f, 0.262f, 0.785f,
         1.309f, 1.833f, 2.356f, 2.88f,  0.262f, 0.785f, 1.309f, 1.833f, 2.356f,
         2.88f,  0.314f, 0.942f, 1.571f, 2.199f, 2.827f, 0.785f, 2.356f});
    Vec<float> omespi = solver_detail::values(
        {0.2104f, 0.2104f, 0.23f,   0.23f,   0.23f,   0.23f,   0.23f,   0.2618f, 0.2618f,
         0.2618f, 0.2618f, 0.2618f, 0.2618f, 0.2618f, 0.2618f, 0.2618f, 0.2618f, 0.2618f,
         0.2618f, 0.23f,   0.23f,   0.23f,   0.23f,   0.23f,   0.2104f, 0.2104f});

    // ---- Dust ----
    Mat<float> rhoarr = Mat<float>(kSolverNr, kSolverNct);  // dust mass density, g cm^-3
    // Inner edge of the dust per polar angle, cm: column 1 the dust as a whole,
    // column 1+k species k.
    Mat<float> rsgra = Mat<float>(kSolverNct, kSolverNsp + 1);
    Vec<float> tsgra = Vec<float>(kSolverNsp);  // sublimation temperature per species, K
    Vec<float> ntil = Vec<float>(kSolverNsp);   // grains per gram of dust
    // Absorption, scattering and extinction efficiency (frequency, species).
    Mat<float> qaarr = Mat<float>(kSolverNnu, kSolverNsp);
    Mat<float> qsarr = Mat<float>(kSolverNnu, kSolverNsp);
    Mat<float> qearr = Mat<float>(kSolverNnu, kSolverNsp);
    // Grain temperature (0 where absent or sublimated) and geometric
    // cross-section per unit volume times 1e20 (radius, angle, species).
    FArray<float, 3> tarr = FArray<float, 3>(kSolverNr, kSolverNct, kSolverNsp);
    FArray<float, 3> sigarr = FArray<float, 3>(kSolverNr, kSolverNct, kSolverNsp);

    // ---- Radiation fields (radius, angle, frequency[, direction]) ----
    FArray<float, 3> alfarr = FArray<float, 3>(kSolverNr, kSolverNct, kSolverNnu);  // extinction, cm^-1
    FArray<float, 3> tauarr = FArray<float, 3>(kSolverNr, kSolverNct, kSolverNnu);  // radial depth from rarr(1)
    FArray<float, 3> jnarr = FArray<float, 3>(kSolverNr, kSolverNct, kSolverNnu);   // attenuated source J
    // Total intensity, directions 0..2 (0 = mean intensity); Stokes component 1.
    FArray<float, 4> jarr = solver_detail::field(0, 2);
    // Diffuse intensity, directions 0..26; Stokes component 1.
    FArray<float, 4> jdarr = solver_detail::field(0, kSolverNdir);
    // Source function times 1e20, direction 0 and Stokes component 1 (the only
    // elements the solver ever sets).
    FArray<float, 3> sarr = FArray<float, 3>(kSolverNr, kSolverNct, kSolverNnu);
    // Net outward flux per frequency; plane 0 its frequency integral.
    FArray<float, 3> farr = solver_detail::cube0(kSolverNr, kSolverNct, 0, kSolverNnu);
    Mat<float> alfwk = Mat<float>(kSolverNr, kSolverNct);  // frequency integral of alpha J
    Vec<float> larr = Vec<float>(kSolverNr);   // luminosity through each radius, 1e46 erg/s
    Vec<float> yarr = Vec<float>(kSolverNr);   // angle-integrated extinction power
    Vec<float> sfarr = Vec<float>(kSolverNr);  // conservation factors
    // log10 J_nu at the grid point being treated, the field of the solver's
    // small-grain temperature distribution (glopdittau).
    Vec<float> yfluarr = Vec<float>(kSolverNnu);
    // The radii (0-based) at which each small grain species (0-based) emitted
    // at its equilibrium temperature in place of a temperature distribution
    // off its energy balance, in any pass since the driver cleared them at the
    // start of the solve (set by gens).
    std::array<std::array<bool, kSolverNr>, kSolverNsp> pdit_fallback{};

    // ---- Emergent spectra, log10 L_nu (erg s^-1 Hz^-1): (frequency, 0..10),
    // column 0 the average over the viewing directions ----
    Mat<float> sptarr = solver_detail::mat0(kSolverNnu, 0, kSolverMaxDirs);  // total
    Mat<float> spdarr = solver_detail::mat0(kSolverNnu, 0, kSolverMaxDirs);  // dust
    Mat<float> spcarr = solver_detail::mat0(kSolverNnu, 0, kSolverMaxDirs);  // source, absorbed
    Mat<float> spsarr = solver_detail::mat0(kSolverNnu, 0, kSolverMaxDirs);  // source, bare
    Mat<float> tuarr = Mat<float>(kSolverNnu, kSolverMaxDirs);  // depth along each direction
    Vec<float> lcarr = Vec<float>(kSolverMaxDirs);  // log10 bolometric, absorbed source
    Vec<float> ldarr = Vec<float>(kSolverMaxDirs);  // log10 bolometric, dust

    // ---- Output settings ("NOLT96.OF") ----
    std::array<bool, kSolverNflags + 1> outfla{};  // flags 1..14 (index 0 unused)
    Vec<float> dirarr = Vec<float>(kSolverMaxDirs);  // viewing directions, degrees
    Vec<float> lamarr = Vec<float>(kSolverMaxLams);  // map wavelengths, micron

    // Lines of the open solver log <stem>.OUT: the driver clears them when it
    // opens the log and writes them out as the whole file when it closes it.
    std::vector<std::string> outlog;

    // PAH band luminosities of one cloud (24 bands), read by the cloud model and
    // the cirrus model; 0 before any solve and at the end of every solve.
    Vec<float> totepahtau = Vec<float>(24);
};

}  // namespace qv
