#include "clouds/cloud_dust_emission.h"

#include "core/run.h"

namespace qv::pallanolt96_stages {

void cloud_dust_emission(Run&) {}

}  // namespace qv::pallanolt96_stages
