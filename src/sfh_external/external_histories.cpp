// The entry points of the external histories: each hands over to its model's reader.
#include "sfh_external/external_histories.h"

#include "core/run.h"
#include "core/stop.h"
#include "io/format.h"
#include "sfh_external/tav_history.h"

namespace qv {

namespace {
[[noreturn]] void not_available(const Run& run) {
    throw Stop(fio::list_line({"istarfo=", run.glotauspe.istarfo,
                               ": histories of external galaxy-formation models are not available in this version. stop."}));
}
}  // namespace

void readtav_disk_bulge(Run& run, float& fgas, float& sfrt, float& zism) { tav::read_history(run, fgas, sfrt, zism); }

void read_pelto(Run& run, float&, float&, float&) { not_available(run); }

void read_sorvanto(Run& run, float&, float&, float&, float&) { not_available(run); }

}  // namespace qv
