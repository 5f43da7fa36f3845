// SolverState (globals): the cloud solver's state.
#pragma once

#include "numerics/farray.h"

namespace qv {

struct SolverState {
    float tgra = 0.0f;  // sublimation temperature of graphite, K (MAIN key)
    float tsil = 0.0f;  // sublimation temperature of silicate, K (MAIN key)

    // Read by the cloud model after its solves: the outer radius of the cloud
    // solved last (cm; 0 before any solve) and the PAH band luminosities of one
    // cloud (24 bands; 0 before any solve), which the cloud model scales to all clouds.
    float rmax = 0.0f;
    Vec<float> totepahtau = Vec<float>(24);

    // The field of the small-grain temperature distributions of the solver
    // (glopdittau): log10 of the 54 grid frequencies (Hz), and log10 J_nu at the
    // grid point being treated, set by the source-function step.
    Vec<float> lfarr = Vec<float>(54);
    Vec<float> yfluarr = Vec<float>(54);
};

}  // namespace qv
