// SedEmulator (ann_qve): the emulator of the dust emission.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "numerics/farray.h"

namespace qv {
struct Run;

struct SedEmulator {
    std::string trained_ann_path;  // data directory followed by "ann\"

    // Result of ann_quelvo_mc_only: log10 wavelength [micron] and log10 of
    // lambda L_lambda of one cloud (arbitrary scale), ascending in wavelength.
    Vec<float> log_lam_mic_only;
    Vec<float> log_l_mc_only;
};

// The emission of one molecular cloud from the cloud networks: arch is the cloud
// network's (inputs, hidden neurons), x its inputs. Results in run.ann_qve.
void ann_quelvo_mc_only(Run& run, std::array<int, 2> arch, const std::vector<float>& x, bool write_tmp);

}  // namespace qv
