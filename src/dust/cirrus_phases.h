// The later phases of the cirrus model, called by colddust in this order:
// the cell-by-cell emission (with the radiation field at each target), the
// extinction per direction and the angle average (or the branch without
// diffuse gas), the energies (with the emulator branch), the energy budget in
// the run log, and the radio decision with the spectra files. Each reads and
// writes the cirrus record run.cirrus and the grid run.glocold.
#pragma once

namespace qv {
struct Run;

namespace cirrus {

// The mean intensity at the current target point (run.cirrus.cell: it, jt, rt,
// thetat and its sine and cosine) from every source cell, into glopdit::ix.
// The pair columns go through run.cirrus.cache as its use notes say (colddust
// completes the cache after the cell loop); protrco::intrho_sc with the cell
// centres' sines and cosines of run.glocold gives them fastest.
void giroy(Run& run);

// The loop over the target cells: radiation field, grain and PAH emission per
// cell, summed into ETOT; the timing lines.
void cell_emission(Run& run);

// Attenuated starlight and cloud emission per direction and their angle average
// (the galaxy has diffuse gas).
void extinction(Run& run);

// The spectra of a galaxy without diffuse gas.
void no_diffuse_gas(Run& run);

// The integrals over wavelength per direction, the emulator branch, the cirrus
// energy and the budget's wavelength index.
void energies(Run& run);

// The energy budget in the run log and on standard output.
void energy_budget(Run& run);

// The radio decision and emission, and the spectra files.
void radio_and_spectra(Run& run, float snratet);

}  // namespace cirrus
}  // namespace qv
