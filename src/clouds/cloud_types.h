// CloudTypes (mc_righe): the molecular-cloud types and the per-type quantities
// of the cloud model. n stands for n_tau_mc, nlam for the SSP wavelengths, nlf
// for the dust grid, ndt for the young-star age bins.
#pragma once

#include <string>

#include "numerics/farray.h"

namespace qv {

struct Run;

struct CloudTypes {
    int n_tau_mc = 1;            // number of cloud types
    Vec<float> r_mc_arr;         // (n) cloud radius, pc (a ratio of radii when rmsr0_flag)
    Vec<float> f_mc_arr;         // (n) fraction of the molecular mass in clouds of each type
    Vec<float> t0_arr;           // (n) age at which stars begin to leave, Gyr
    Vec<float> tau_mc_arr;       // (n) optical depth at 1 micron, centre to surface of one cloud
    Mat<float> f_sources_arr;    // (1000, n) share of the stars of SSP step k still inside
    Vec<int> nsoudin_arr;        // (n) SSP steps with an inside share, at most 1000
    Vec<float> c_f_sources;      // (n) work
    FArray<float, 3> ldentro_arr;  // (nlam, n, 0:ndt) light of the stars inside one cloud
    Mat<float> ldentro_old_arr;  // (nlam, n) factor on the light that leaves the clouds
    Mat<float> mdentro_arr;      // (n, 0:ndt) young stellar mass inside, solar masses
    Mat<float> lfuori;           // (nlam, 0:ndt) light of the young stars that have left
    Vec<float> lfuori_old;       // (nlam) factor on that light
    Vec<float> mfuori;           // (0:ndt) stellar mass that has left, solar masses
    Vec<float> lumduswk;         // (nlf) dust emission of one cloud of the type being treated
    int nnh_hii = 0;             // HII library sets per row of the HII model list
    Mat<float> massamod;         // (n+1, nnh_hii) stellar mass of each HII library model
    Mat<std::string> nomemodello = Mat<std::string>(10, 10);  // HII library model names (40 characters)
};

namespace mc_righe {

// Reads the cloud types from the MC_LINE section, or one type from the MAIN keys
// rcloud and etastart when the section is missing.
void read_mc_line(Run& run);

// The optical depth of one cloud of each type into tau_mc_arr.
void set_mc_arr(Run& run);

}  // namespace mc_righe

}  // namespace qv
