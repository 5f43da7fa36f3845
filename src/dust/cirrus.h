// The cirrus model: the diffuse dust of the galaxy and the spectra files.
#pragma once

namespace qv {
struct Run;

void colddust(Run& run, float fgas, float snratet);
}  // namespace qv
