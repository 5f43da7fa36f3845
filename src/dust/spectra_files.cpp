// The radio emission and the spectra files of the galaxy.
#include "core/run.h"
#include "dust/cirrus_phases.h"

namespace qv::cirrus {

// Not built yet: no spectra files are written.
void radio_and_spectra(Run&, float) {}

}  // namespace qv::cirrus
