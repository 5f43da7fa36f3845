// Where the solver's dust is: the dust-free polar cones, the density law, the
// density grid, the optical depth along a polar direction, the shape factor, and
// the normalisation of the density to the optical depth the caller asks for.
#pragma once

#include "numerics/farray.h"
#include "solver/solver_output.h"

namespace qv {

struct Run;
struct SolverState;

// protau: the polar angle of the direction that taurad is integrating along.
struct TauDirection {
    float theta = 0.0f;
};

// True when the polar angle theta lies in a dust-free cone (igeo 0: within
// cthe1 of either pole).
bool theta_out(const SolverState& g, float theta);

// Dust mass density (g cm^-3) at radius r (cm) and polar angle theta
// (irho 0: rho1 (r1/r)^beta exp(-alpha |cos theta|)).
float rhomod(float r, float theta, float rho1, float r1, float alpha, float beta, int irho);

// Fills globals::rhoarr: angles 1..nctmez from the law (0 in a dust-free cone),
// the others mirrored with simequ (0 without).
void genrho(SolverState& g);

// The integrand of taurad: the density at r along protau::theta.
float rhoint(const Run& run, float r);

// Optical depth (returned in tau) at log10 frequency lf along polar angle theta,
// from each species' inner edge (at least r0) to rmax; a species whose edge lies
// beyond rmax adds nothing.
void taurad(Run& run, float lf, float theta, float cthe1, const Vec<float>& ctarr,
            const Vec<float>& agra, const Vec<float>& dgra, const Vec<float>& xgra,
            const Mat<float>& rsgra, int nsp, int ngr, int nct, float& tau);

// The optical depth along the reference direction (the equator, 1.5707964) at
// the reference frequency log10(3e14/altau), with the solver's own arrays.
float taurad_reference(Run& run);

// globals::shafac = the density-weighted mean of cos^2 theta over the grid
// (kept when the weight is 0).
void shape_factor(SolverState& g);

// The first density normalisation: rho1 = 1, tau = taurad_reference,
// rho1 = taue/tau, with the log line "Pongo RHO1 = ". Every positive taue takes
// this way (also at or below 1e-4). A taue that is not positive, or dust
// without optical depth, stops the run.
void normalise_density(Run& run, SolverLines& log);

// The renormalisation after a pass of the initial temperature loop, when the
// inner edges may have moved out: tau = taurad_reference, logged as
// "TAUE = " with altau; rho1 = rho1 taue/tau, logged as "Pongo RHO1 = ";
// genrho. Dust without optical depth left (every species sublimated out to
// rmax) stops the run instead of an infinite density.
void renormalise_density(Run& run, SolverLines& log);

}  // namespace qv
