// Readers of the histories of external galaxy-formation models.
#pragma once

namespace qv {
struct Run;

void readtav_disk_bulge(Run& run, float& fgas, float& sfrt, float& zism);
void read_pelto(Run& run, float& fgas, float& sfrt, float& zism);
void read_sorvanto(Run& run, float& ssp_mass, float& fgas, float& sfrt, float& zism);
}  // namespace qv
