// The radiation field in the cirrus at one target point.
#include "core/run.h"
#include "dust/cirrus_phases.h"

namespace qv::cirrus {

// Not built yet: the field stays as the caller set it.
void giroy(Run&) {}

}  // namespace qv::cirrus
