// The parts of the synthetic example data set. Each writes its files into a
// folder: the data tables into the program's data folder, the model's own
// files (history tables) into the folder the model runs in.
#pragma once

#include <string>
#include <vector>

namespace qvgen {

void write_example_model_files(const std::string& model_dir);

// SSP tables named in the example par file's SSP section.
void write_ssp_tables(const std::string& data_dir);
// The example model's histories: example.sf, example.ele, and the time series example_ts.sf.
void write_histories(const std::string& model_dir);
// The example galaxy of an external galaxy-formation model ("tav", "pelto" or
// "sorvanto") into its folder.
void write_external_galaxy(const std::string& model, const std::string& dir);
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

// The whole example set: every data table of the example (with the given kind
// of grain table) into the data folder, and the example model's own files
// (histories, HII model list) into the model folder.
void write_example_data(const std::string& data_dir, GrainTables grains = GrainTables::example);
// The emulator's files in data_dir/ann/: the auxiliary files and network
// weights of the cirrus (spheroid, disk) and of the molecular clouds.
void write_emulator_files(const std::string& data_dir);
// The HII library "qv_hii.dat" (data folder).
void write_hii_library(const std::string& data_dir);
// The example model's HII model list example.lin (model folder).
void write_hii_model_list(const std::string& model_dir);

// The nebular continuum coefficients of the program's table: wavelengths
// (Angstrom) and the four emission coefficients (1e-40 erg cm^3 s^-1 Hz^-1).
struct ContinuumTable {
    std::vector<double> lam;
    std::vector<double> g[4];
};
ContinuumTable nebular_continuum_coefficients();
// The table as the C++ source of its arrays.
std::string nebular_continuum_source(const ContinuumTable& t);

}  // namespace qvgen
