// The parts of the synthetic example data set. Each writes its files into a
// folder: the data tables into the program's data folder, the model's own
// files (history tables) into the folder the model runs in.
#pragma once

#include <string>

namespace qvgen {

// SSP tables named in the example par file's SSP section.
void write_ssp_tables(const std::string& data_dir);
// The example model's histories: example.sf, example.ele, and the time series example_ts.sf.
void write_histories(const std::string& model_dir);
// "SIL_81", "GRA_81" and "sigmapah_07.dat". With plane true the grain tables hold
// efficiencies whose logarithms are planes in log radius and log wavelength.
void write_grain_tables(const std::string& data_dir, bool plane);
// The same for one of the three kinds of grain table: the example's, the plane
// test tables, or grey grains (Qabs 1, Qsca 1e-6 everywhere).
enum class GrainTables { example, plane, grey };
void write_grain_tables(const std::string& data_dir, GrainTables kind);
// The cloud solver's output settings "NOLT96.OF": the grain temperatures, the
// luminosity blocks and the emergent spectra on, maps off, one viewing direction.
void write_solver_settings(const std::string& data_dir);
// The emulator's files in data_dir/ann/: the auxiliary files and network
// weights of the cirrus (spheroid, disk) and of the molecular clouds.
void write_emulator_files(const std::string& data_dir);

}  // namespace qvgen
