// The cirrus emulator branch: with annflag 2 or 3 the cirrus emission comes
// from the SED emulator's cirrus network instead of the cell-by-cell grain
// emission, scaled to the energy that the cirrus absorbs.
#pragma once

#include <vector>

namespace qv {
struct Run;

namespace cirrus {

// Whether the branch runs: annflag 2 or 3, and a galaxy with diffuse gas (a
// diffuse gas mass mdiff that is not 0).
bool emulator_branch_runs(const Run& run, float mdiff);

// Stops a run whose branch will run in a geometry that no cirrus network
// covers (igeo 0, 3, 4 or 5): such a run would end with no cirrus emission at
// all. Called once the dust preparation has fixed the molecular fraction, so
// that the stop comes before the clouds' solves and the cirrus grid.
void check_emulator_geometry(const Run& run, float fgas);

// The emulator's inputs for the model's geometry, into the kept vectors of
// run.cirrus (ann_x_spheroid for igeo 1, ann_x_disk for igeo -1 and 2; the
// first two, the cloud network's, stay 0). Returns the vector passed to the
// emulator, empty for a geometry it does not cover. Needs the energies Lin,
// Lstar, E2STA_E(0), E2MC_E(0) and the optical-depth report.
std::vector<float> emulator_inputs(Run& run);

// The branch itself (the galaxy has diffuse gas): ETOT from the emulator's
// spectrum, normalised to the absorbed energy, and the spectrum kept for the
// PAH profile step (pahpro::lam_ang, pahpro::l_cir). A geometry the emulator
// does not cover prints "wrong igeo to run ann at present...." and leaves ETOT 0.
void emulator_branch(Run& run);

}  // namespace cirrus
}  // namespace qv
