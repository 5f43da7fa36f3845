// The dust emission of the molecular clouds, one cloud of each type through the
// radiative-transfer solver or the emulator, then the CO lines (stage 7 of
// pallanolt96, run with emiflag).
#pragma once

namespace qv {
struct Run;

namespace pallanolt96_stages {

// Not built yet: leaves glopalla.lumdus as the dust preparation gave it (zero),
// writes no scratch file and computes no CO lines.
void cloud_dust_emission(Run& run);

}  // namespace pallanolt96_stages
}  // namespace qv
