// What a distant observer sees of the solver's dust sphere: the emergent
// spectra per viewing direction and their average (genspe), their tables
// (outspe), the intensity maps (mapvis), and the solver's spectrum and map
// files <stem>.SPE and <stem>.MAP.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "numerics/farray.h"
#include "solver/interior_rays.h"

namespace qv {

struct Run;
struct Console;
struct SolverState;

// The central source as the spectra see it: its mean intensity at radius r
// (cm) and log10 frequency lf, and the dust's optical depth at lf along the
// polar angle ct (rad). genspe(Run&) binds the solver's own (ajn, taurad);
// tests pass simple ones.
struct EmergentSource {
    std::function<float(float r, float lf)> j_source;
    std::function<float(float lf, float ct)> tau;
};

// Fills sptarr, spdarr, spcarr, spsarr (columns 0..ncted), tuarr, lcarr and
// ldarr; with verbose_level 1 it writes one line per frequency on con.
void genspe(SolverState& g, const EmergentSource& src, int verbose_level, const Console& con,
            RayPath path = RayPath::automatic);
void genspe(Run& run, RayPath path = RayPath::automatic);

// The spectrum tables of every viewing direction and of their average.
std::vector<std::string> outspe(const SolverState& g);

// The grid frequency of map wavelength lam (micron; 0 or less: log10 nu = 13.47),
// the nearer of the two bracketing grid points (a tie keeps the lower one).
int map_frequency_index(const SolverState& g, float lam);

// One 20 x 20 map at distance D (cm), viewing angle ct (rad) and frequency k.
struct SolverMap {
    double thearr[20] = {};
    double phiarr[20] = {};
    Vec<float> rmap = Vec<float>(20);    // ray's distance from the centre, units of rmax
    Vec<float> phimap = Vec<float>(20);  // azimuth, rad
    Mat<float> iarr = Mat<float>(20, 20);  // log10 intensity (-77.7 where there is none)
};
SolverMap mapvis(const SolverState& g, float D, float ct, int k,
                 RayPath path = RayPath::automatic);
// The map's three array blocks.
std::vector<std::string> map_blocks(const SolverMap& m);

// The whole text of <stem>.MAP: every viewing direction and map wavelength.
std::string map_file_text(const SolverState& g, RayPath path = RayPath::automatic);

// The whole text of <stem>.SPE, from the optical depth reported at altau.
std::string spectrum_file_text(const SolverState& g, float tau_altau);

// factor x the sum over i = 1..ncted-1 of (10^(v(i)-46) + 10^(v(i+1)-46))
// (cos(deg dirarr(i)) - cos(deg dirarr(i+1))): the average over the viewing
// directions of the log10 values v (erg/s), in 1e46 erg/s; 0 with fewer than
// two directions. The spectra's column 0 takes factor 0.25, the bolometric
// values of the solver log 0.5.
float direction_sum(const SolverState& g, const std::function<float(int i)>& v, float factor,
                    float deg);

}  // namespace qv
