// The radiation field in the cirrus: the mean intensity at a target point from
// every source cell (giroy), with the pieces it is made of: the cell average of
// the squared distance (distmedia), the own-cell rule with its radial integrand
// (integrando_distmediaapp) and the fast exponential of the attenuation
// (exp_app).
//
// Speed: everything in the pair loop that does not depend on the target is
// kept in a CirrusFieldWork for the whole cell loop: the light of every source
// cell (the sum over the stellar components of FORMA times NORMA), the source
// cells' radial, polar and azimuth moments of the distance average, and the
// wavelengths in descending order of TXY. In that order the optical depths of
// one pair, C x TXY, fall monotonically, so the ranges of the fast exponential
// are consecutive blocks: each block is one straight loop (the last two, by far
// the longest, vectorised) and its length is what the counters add.
//
// One call of giroy runs in three passes over the source cells, each in the
// visiting order: the squared distances, the columns (with the intrho cache),
// the light. The process time of each pass is added to DISTMEDIATIME,
// INTRHOTIME and GIROLAMTIME, four clock readings per call instead of three per
// pair.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace qv {

struct Run;

// What the radiation field keeps between the calls of one cell loop.
struct CirrusFieldWork {
    bool ready = false;  // built for the current grid, light and cross sections
    int nlf = 0, ndr = 0, nthe = 0, nphi = 0;

    // Wavelength indices (1-based) in descending order of TXY, and TXY in that order.
    std::vector<int> perm;
    std::vector<float> txys;

    // Per source cell (is, js), at (is - 2) * (nthe - 1) + js - 2: its light in
    // the order of perm (nlf values each), whether it has none, and the moments
    // of its volume: <r^2>, <r cos theta>, <r sin theta> (kpc^2, kpc).
    std::shared_ptr<const std::vector<float>> light;  // shared by the threads of the cell loop
    std::vector<unsigned char> dark;
    std::vector<double> m_r2, m_z, m_x;

    // Per azimuth index ks (at ks - 2): the cell's width and the mean of cos phi
    // over it. Per radial index is (at is - 2): the centre rs.
    std::vector<float> dphi;
    std::vector<double> cos_mean;
    std::vector<float> rs;

    // Per call, one value per source cell in the visiting order: the effective
    // squared distance (pc^2) and the column (solar masses per pc^2); the field in
    // the order of perm.
    std::vector<float> d2, column;
    std::vector<float> acc;
};

namespace cirrus {

// The constants of the own-cell rule: the positive abscissas and the weights of
// the 10-point Gauss-Legendre rule on [-1, 1].
inline constexpr float kGaussX[5] = {0.14887430f, 0.43339530f, 0.67940950f, 0.86506331f, 0.97390652f};
inline constexpr float kGaussW[5] = {0.29552421f, 0.26926669f, 0.21908630f, 0.14945130f, 0.066671297f};

// The fast exponential of the attenuation for an optical depth tau > 0.01:
// 1 - tau below 0.14, the series to tau^2 below 0.7, to tau^3 (with 0.16666)
// up to 1.1, exp(-tau) below 50 (counted in nexp), 0 from 50 on (not counted);
// the three series count in nnoexp.
float exp_app(float tau, std::int64_t& nexp, std::int64_t& nnoexp);

// One source cell's contribution to the field held in descending-TXY order:
// acc(k) += g light(k), times exp_app(c txys(k)) where c txys(k) > 0.01, for
// k = 0..n-1, txys descending and c >= 0. The same numbers as a plain loop over
// exp_app.
void add_source(float* acc, const float* light, const float* txys, int n, float g, float c,
                std::int64_t& nexp, std::int64_t& nnoexp);

// The counts add_source would add, without the light (a source cell without any).
void count_source(const float* txys, int n, float c, std::int64_t& nexp, std::int64_t& nnoexp);

// Moments of a source cell between radii r1 < r2 and polar angles a < b (kpc,
// rad), and the mean of cos phi over the azimuths p1 < p2.
struct CellMoments {
    double r2, z, x;  // <r^2>, <r cos theta>, <r sin theta>
};
CellMoments cell_moments(float r1, float r2, float a, float b);
double cos_mean(float p1, float p2);

// The mean over the source cell of the squared distance to the target point
// (radius rt, polar angle with the given sine and cosine, azimuth 0), in pc^2.
float distmedia_from(const CellMoments& m, double cos_phi_mean, float rt, double sin_tt, double cos_tt);
float distmedia(float r1, float r2, float a, float b, float p1, float p2, float rt, float thetat);

// The radial integrand of the own-cell rule at radius r: r^2 times the integral
// over the cell's polar angles a..b of sin(theta) / d^2, d the distance to the
// target point (rt, thetat) in the target's meridian.
float integrando_distmediaapp(float r, float rt, float thetat, float a, float b);

// The own cell's effective squared distance (pc^2): its volume per radian of
// azimuth over the 10-point Gauss-Legendre integral of the integrand over r1..r2.
float own_cell_d2(float r1, float r2, float a, float b, float rt, float thetat);

// Builds the field's work for the run's grid, FORMA, NORMA and TXY (giroy does
// it on its first call; call it again after changing any of them). A TXY that
// is negative or not finite stops the run.
void prepare_field(Run& run);

// giroy in its three steps, for a cell loop that keeps the cache's record
// order itself: the n columns of one target read from the cache into column
// (mode 2; the number read, which falls short when the file cannot be read on),
// the field of run.cirrus.cell with the columns of field.column from `given` on
// computed, and n columns stored in the cache (mode 1).
std::size_t read_cached_columns(Run& run, float* column, std::size_t n);
void field_at_target(Run& run, std::size_t given);
void write_cached_columns(Run& run, const float* column, std::size_t n);

}  // namespace cirrus
}  // namespace qv
