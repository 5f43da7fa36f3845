// The cloud solver's driver: one solve of a dusty sphere around a central source.
#pragma once

namespace qv {
struct Run;

// Solves the sphere described by run.globals (nom, taue, rmsr0 set by the
// caller; the source spectrum file <nom>.SSP written beforehand) and leaves the
// results in run.globals and in the solve's files. Mode 2 is the only mode.
void tutto(Run& run, int mode);

}  // namespace qv
