#include "emulator/sed_emulator.h"

#include "core/run.h"
#include "core/stop.h"

namespace qv {

void ann_quelvo_mc_only(Run&, std::array<int, 2>, const std::vector<float>&, bool) {
    throw Stop("ann_quelvo_mc_only: the emulator is not built");
}

}  // namespace qv
