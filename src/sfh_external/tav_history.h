// The tav model's galaxy: its quiescent disk and bulge histories, its burst
// lists and its property tables, read into the multi-bin history tables.
//
// For a model name P + S (P its first three characters, S the galaxy index):
//   - P_disk.S and P_bulge.S: four ignored lines; line 5 the bin numbers
//     (6X,20I14), line 6 their metallicities (6X,20G14.4); two ignored lines;
//     then one row per time step, earliest first: two ignored values, the
//     lookback time (Gyr), two ignored values, the rate (h^-1 Msun/Gyr) of each
//     bin. The bulge table's rows are on the disk table's times.
//   - bursts_disk.S and bursts_bulge.S (optional): see tav_bursts.h.
//   - prop.dat and prop2.dat: two ignored lines, then one galaxy per row (ten
//     values, the first the galaxy index).
//   - imf.dat (and imf_bursts.dat when the SSP library mixes quiescent and burst
//     tables), optional: the IMF factor in columns 10-19 of the last line.
// The run log gets ten checking lines. With istarfo 5 the history goes to
// <name>.sft, <name>.sfd and <name>.sfb and the run ends there.
#pragma once

#include <string>
#include <vector>

namespace qv {
struct Run;
struct Console;
}  // namespace qv

namespace qv::tav {

// The IMF normalisation from an IMF file; a missing file gives 1.0 with a warning.
float read_imf(const Console& con, const std::string& name);

// readtav_disk_bulge.
void read_history(Run& run, float& fgas, float& sfrt, float& zism);

// The files whose rates make the galaxy of the model name: the quiescent
// tables and the burst lists that exist.
std::vector<std::string> history_files(const std::string& model);

// Writes <name>.sft, <name>.sfd and <name>.sfb from the tables.
void write_history_exports(const Run& run);

}  // namespace qv::tav
