// glotauspe: the SSP library and the star-formation-history tables.
#pragma once

#include "core/sfh_tables.h"
#include "core/ssp_library.h"

namespace qv {

struct Glotauspe : SspLibrary, SfhTables {};

}  // namespace qv
