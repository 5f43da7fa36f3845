#include "clouds/young_stars.h"

#include "core/run.h"

namespace qv {

void pallanolt96(Run&, float, float) {}

}  // namespace qv
