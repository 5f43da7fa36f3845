#include "dust/pah_profiles.h"

#include "core/run.h"

namespace qv::pahpro {

void pahpro_tutto(Run&, const std::string&, const std::string&) {}

void nrows_file(const std::string&, int& nrow, int& ninte) {
    nrow = 0;
    ninte = 0;
}

}  // namespace qv::pahpro
