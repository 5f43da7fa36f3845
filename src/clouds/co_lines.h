// The CO lines of the molecular clouds: the LVG section and the LVG grid.
#pragma once

namespace qv {
struct Run;
struct SolverState;

// Reads and checks the LVG section of the par file into the run's LVG parameters.
void read_lvg(Run& run);
// The CO-line grid, when the LVG section asks for it (z_lvg > 0).
void lvgmain(Run& run);
// The r^2-weighted mean dust temperature of the cloud solved last [K].
float tmean_mc(const SolverState& g);

}  // namespace qv
