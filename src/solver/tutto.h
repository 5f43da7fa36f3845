// The cloud solver's driver: one solve of a dusty sphere around a central source.
#pragma once

#include <functional>

#include "solver/interior_rays.h"

namespace qv {
struct Run;

// Solves the sphere described by run.globals (nom, taue, rmsr0 set by the
// caller; the source spectrum file <nom>.SSP written beforehand) and leaves the
// results in run.globals and in the solve's files. Mode 2 is the only mode.
void tutto(Run& run, int mode);

// The same with the driver's limits open to tests: the passes of the initial
// sublimation loop, and the path of the rays (shared under the symmetry).
// stage, when set, is called at the end of the driver's costly steps
// ("initial loop", "genjd", "genspe", "maps") for timing them.
struct TuttoOptions {
    int max_initial_passes = 100;
    RayPath path = RayPath::automatic;
    std::function<void(const char* stage)> stage;
};
void tutto(Run& run, int mode, const TuttoOptions& opt);

}  // namespace qv
