// The CO lines of the molecular clouds: the LVG section, the grid of LVG models
// and the lvg file <name>.lvg.
#pragma once

#include <functional>
#include <string>

namespace qv {
struct Run;
struct SolverState;

// LvgGrid (lvgparam): the LVG section of the par file.
struct LvgGrid {
    float z_lvg = 0.0f;  // redshift of the background seen by the clouds; 0: no CO lines
    // Kinetic temperature in units of the clouds' mean dust temperature.
    float inic_tk = 0.0f, delt_tk = 0.0f, fini_tk = 0.0f;
    // Velocity gradient, km/s/pc.
    float inic_vg = 0.0f, delt_vg = 0.0f, fini_vg = 0.0f;
    // log10 of the CO/H2 abundance.
    float inic_xo = 0.0f, delt_xo = 0.0f, fini_xo = 0.0f;

    // The LVG solver the grid calls for each model (a seam for tests; unset:
    // lvgsubruti::lvgcalc on the run's lvgdatos and lvgsubruti). Arguments:
    // kinetic temperature (K), H2 density (cm^-3), velocity (km/s), radius (pc),
    // redshift, label, abundance.
    std::function<void(Run&, double tk, double nh2, double v, double r, double z, const std::string& label,
                       double x)>
        lvgcalc;
};

// Number of values of a grid axis from first to last by step, counted in 4-byte
// arithmetic (0.1 to 1.5 by 0.1 gives 15).
int lvg_axis_count(float first, float step, float last);

// Reads and checks the LVG section of the par file into run.lvgparam. A missing
// section, or z_lvg given as 0, sets z_lvg = 0 ("no LVG calculation").
// grid_can_run says whether the grid may run in this call (the dust solver
// treats a cloud type, whose temperatures the grid takes): only then are the
// grid's axes, domain and model count checked, since a grid that will not run
// needs none of them.
void read_lvg(Run& run, bool grid_can_run = true);
// The CO-line grid, when the LVG section asks for it (z_lvg > 0): one LVG model
// per kinetic temperature, velocity gradient and abundance, written to <name>.lvg.
void lvgmain(Run& run);
// The r^2-weighted mean dust temperature of the cloud solved last [K], over the
// grain species present at its outer radius and the radii beyond the last one
// where any of them is missing. 0 when no species is present at the outer radius.
float tmean_mc(const SolverState& g);

}  // namespace qv
