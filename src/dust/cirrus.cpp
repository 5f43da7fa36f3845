#include "dust/cirrus.h"

#include "core/run.h"

namespace qv {

void colddust(Run&, float, float) {}

}  // namespace qv
