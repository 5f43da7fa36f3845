// CirrusGrid (glocold): the spherical grid of the cirrus model and the star and
// dust densities on it, with their normalisation and the share of each stellar
// component in each cell.
//
// Nodes: rarr(1..ndr) in kpc from 0, thearr(1..nthe) polar angle from the axis
// (0..pi), phiarr(1..nphi) azimuth (0..pi; the other half is the mirror image).
// Cell (i, j, k), i, j, k >= 2, lies between nodes i-1 and i, j-1 and j, k-1 and
// k. Densities depend on (r, theta) only and are held at the nodes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "numerics/farray.h"

namespace qv {

struct Run;

struct CirrusGrid {
    int nthearr = 13;  // polar nodes; recomputed for the disk geometries (-1, 2)
    int nphiarr = 20;  // azimuth nodes

    Vec<float> rarr;             // (ndr) radial nodes, kpc
    Vec<float> thearr;           // (nthe) polar nodes, rad
    Vec<float> phiarr;           // (nphi) azimuth nodes, rad
    FArray<float, 3> rhostararr;  // (ndr, nthe, ncom) stars; normalised: pc^-3, each component integrates to 1
    FArray<float, 3> rhodiffarr;  // (ndr, nthe, ncom) hydrogen, solar masses per pc^3
    Mat<float> rhodiffarr2d;      // (ndr, nthe) sum over the components: the density along rays

    // Counters of the fast exponential of the radiation field (8-byte: a large
    // model passes 2^31 evaluations).
    std::int64_t nexp = 0, nnoexp = 0;

    // Values of the grid construction kept for the nodes: the polar half-width
    // of the thinnest disk cell (0 for the spheroids) and, for igeo -1, the
    // number of core nodes.
    float theta0 = 0.0f;
    int m0 = 0;

    // sin and cos (8-byte) of the cell centres, for the ray tracing of the
    // pair columns: polar centres 2..nthe, azimuth centres 2..nphi.
    Vec<double> sin_thec, cos_thec, sin_phic, cos_phic;

    bool allocated() const { return rarr.allocated(); }
    // Releases every array (the grid exists only while the cirrus model runs).
    void release();
};

namespace cirrus {

// The grid's scale lengths: the dust's own with the cache in use, else the
// smaller of the star and dust scales.
float grid_zd(const Run& run);
float grid_rd(const Run& run);

// Grid sizes: nthearr, theta0 and, for igeo -1 and 2, remind::ndr with the
// "ndr ideale=" and "ndr=" lines on standard output. A radial grid of fewer
// than two nodes, or igeo -1 with fewer than two core nodes, stops the run.
void grid_sizes(Run& run);

// Allocates the grid arrays (set to 0); "GRIDS ALLOCATION ERROR" on failure.
void allocate_grids(Run& run);

// Polar, azimuth and radial nodes and the trig tables of the cell centres.
// Radial nodes that are not strictly ascending stop the run.
void grid_nodes(Run& run);

// Star and dust densities at the nodes (before the normalisation). For igeo 0
// also the uniform dust density rho_u of the radiation field.
void densities(Run& run);

// V[f]: the volume integral over the grid (both azimuth halves) of a node field
// f(ndr, nthe) (first index fastest), kpc^3 times the unit of f.
float volume_integral(const CirrusGrid& g, int ndr, const float* f);

// Normalisation: the stars of each component to 1 (pc^-3), the dust to the
// diffuse hydrogen mass (solar masses per pc^3) with the bulge share fmdifbul;
// rhodiffarr2d and N0. A component whose dust law is empty everywhere hands
// its share to the other, so that the densities always hold the whole mass.
void normalise(Run& run);

// The run-log lines of the grid ("ndr=", the bulge shares).
std::vector<std::string> grid_log_lines(const Run& run);

// NORMA(i, j, c): the share of component c's stars in cell (i, j) per radian of
// azimuth (the fractions of all cells over both halves add up to 1).
void norma(Run& run);

// Pairs of (target cell, source cell) that the cell loop of this run visits,
// with the cache in use: what a cache must hold for it (0 for igeo 0, or when
// the loop does not run).
std::int64_t cache_pairs_needed(const Run& run);

}  // namespace cirrus

}  // namespace qv
