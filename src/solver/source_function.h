// The source function of the cloud solver's dust: at every grid point and
// frequency, the light scattered by the 20 grain species plus their thermal
// emission, over their total extinction, times 1e20. Big grains emit as
// blackbodies at their equilibrium temperature; with modname::flutmc, grains of
// radius at most 0.01 micron emit from their temperature distribution
// (glopdittau), computed in the mean intensity of the point. A distribution
// whose emission, integrated over frequency, is not within a factor 2 of the
// power the grain absorbs (its 150 levels from 0.5 to 4000 K too coarse for its
// heating photons: grains of some 0.005 micron and up in a strong field, near
// equilibrium) is not used: that grain emits at its equilibrium temperature.
//
// Only polar angle 1 is computed; the other angles hold its values. The Planck
// function's frequency factors are kept per grid frequency, and the
// distributions reuse their field-independent work between points (PditPlan).
#pragma once

#include <string>

namespace qv {

struct Run;
struct SolverState;

// Fills sarr (direction 0, Stokes component 1; every other element 0) from jarr,
// tarr, sigarr and the efficiency tables, and appends the line
// " Source function Check: " with the sum of sarr and 0.0 (2G15.5) to the solver
// log globals::outlog (also on standard output when verbose is 1). Marks in
// globals::pdit_fallback the species and radii that emitted at their
// equilibrium temperature in place of their distribution.
void gens(Run& run);

// The line that tells how many radii of each small grain species emitted at
// their equilibrium temperature since globals::pdit_fallback was cleared:
// " Small grains at their equilibrium temperature, their temperature
// distribution off its energy balance by more than a factor 2: species 1 at 40
// radii, species 11 at 38 radii" (the species that did so, in their order);
// empty when none did.
std::string pdit_fallback_line(const SolverState& g);

// The emission term of small grain k at frequency nu (1..54) from the
// distribution left in glopdittau: qaarr(nu, k) 1e20 times the trapezoid over
// the temperature levels of B_nu(T) dP/dT.
float aapiccolo(Run& run, int k, int nu);

}  // namespace qv
