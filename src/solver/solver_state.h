// SolverState (globals): the cloud solver's state.
#pragma once

namespace qv {

struct SolverState {
    float tgra = 0.0f;  // sublimation temperature of graphite, K (MAIN key)
    float tsil = 0.0f;  // sublimation temperature of silicate, K (MAIN key)
};

}  // namespace qv
