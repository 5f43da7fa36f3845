// Readers of the histories of external galaxy-formation models: the tav model
// (istarfo 4, and 5, which exports the history and ends the run), the pelto
// model (istarfo 6) and the sorvanto model (istarfo 7). Each fills the history
// tables of glotauspe, the galaxy's age and geometry, the primordial mass and
// the gas state at the galaxy's age, and appends its summary to the run log.
#pragma once

#include <string>
#include <vector>

namespace qv {
struct Run;

void readtav_disk_bulge(Run& run, float& fgas, float& sfrt, float& zism);
void read_pelto(Run& run, float& fgas, float& sfrt, float& zism);
void read_sorvanto(Run& run, float& ssp_mass, float& fgas, float& sfrt, float& zism);

// The files the history of istarfo was read from (for the messages that tell
// which file to change): <name_sf>.sf for istarfo 0 and 1, the model's files
// that exist for the external models.
std::vector<std::string> history_files(const Run& run);
}  // namespace qv
