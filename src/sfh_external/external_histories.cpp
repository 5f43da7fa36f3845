// The entry points of the external histories: each hands over to its model's reader.
#include "sfh_external/external_histories.h"

#include "core/run.h"
#include "sfh_external/pelto_history.h"
#include "sfh_external/sorvanto_history.h"
#include "sfh_external/tav_history.h"

namespace qv {

void readtav_disk_bulge(Run& run, float& fgas, float& sfrt, float& zism) { tav::read_history(run, fgas, sfrt, zism); }

void read_pelto(Run& run, float& fgas, float& sfrt, float& zism) { pelto::read_history(run, fgas, sfrt, zism); }

void read_sorvanto(Run& run, float& ssp_mass, float& fgas, float& sfrt, float& zism) {
    sorvanto::read_history(run, ssp_mass, fgas, sfrt, zism);
}

std::vector<std::string> history_files(const Run& run) {
    switch (run.glotauspe.istarfo) {
        case 4:
        case 5:
            return tav::history_files(run.modname.name);
        case 6:
            return pelto::history_files();
        case 7:
            return sorvanto::history_files();
        default:
            return {upto_blank(run.modname.name_sf) + ".sf"};
    }
}

}  // namespace qv
