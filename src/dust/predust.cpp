#include "dust/predust.h"

#include "core/run.h"

namespace qv {

void predust(Run&, float, float, float) {}

}  // namespace qv
