// The cirrus model: the diffuse dust of the galaxy and the spectra files.
#pragma once

#include "io/textfile.h"

namespace qv {
struct Run;

// The cirrus model's one call per run: directions, masses, the column-density
// cache, the light on the dust grid, the cirrus grid and densities, the cross
// sections, then the emission, extinction, energies and spectra phases.
void colddust(Run& run, float fgas, float snratet);

namespace cirrus {

// Its first phases, in their order.

// The SPECTRA section of <name>.par up to the number of directions (at least
// one): ndir and ndir_total; the file is left on the first direction.
TextFile spectra_section(Run& run);
// Allocates the arrays of the cirrus record (and tequi) and sets them to 0;
// the emulator inputs keep their values.
void allocate_cirrus_record(Run& run);
// The inclinations (0 to 90 degrees) and, for the disks with the emulator,
// the emulator's five directions, sorted.
void read_directions(Run& run, TextFile& f);
// The diffuse gas mass Mdiff [1e12 solar masses]: the gas outside the clouds
// (none for a negative mmolfraz).
float diffuse_gas_mass(const Run& run, float fgas);
// The diffuse gas and dust masses, "Mdiff/12=" and the first run-log lines.
void masses(Run& run, float fgas);

}  // namespace cirrus
}  // namespace qv
