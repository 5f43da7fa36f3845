// Extinction per viewing direction, the angle average, the energies and the
// energy budget of the cirrus.
#include "core/run.h"
#include "dust/cirrus_phases.h"

namespace qv::cirrus {

// Not built yet: the per-direction spectra stay 0.
void extinction(Run&) {}
void no_diffuse_gas(Run&) {}
void energies(Run&) {}
void energy_budget(Run&) {}

}  // namespace qv::cirrus
