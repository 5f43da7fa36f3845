// The grain and PAH emission of the cirrus, cell by cell.
#include "core/run.h"
#include "dust/cirrus_phases.h"

namespace qv::cirrus {

// Not built yet: no cell is computed and ETOT stays 0.
void cell_emission(Run&) {}

}  // namespace qv::cirrus
