// The cloud model: young stars in molecular clouds and the extinction of their light.
#pragma once

namespace qv {
struct Run;

void pallanolt96(Run& run, float primordial_mass, float zism);
}  // namespace qv
