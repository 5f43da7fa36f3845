// SedEmulator (ann_qve): the emulator of the dust emission.
#pragma once

#include <string>

namespace qv {

struct SedEmulator {
    std::string trained_ann_path;  // data directory followed by "ann\"
};

}  // namespace qv
