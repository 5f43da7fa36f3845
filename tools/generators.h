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
// The example galaxy of an external galaxy-formation model ("tav", "pelto" or
// "sorvanto") into its folder.
void write_external_galaxy(const std::string& model, const std::string& dir);
// "SIL_81", "GRA_81" and "sigmapah_07.dat". With plane true the grain tables hold
// efficiencies whose logarithms are planes in log radius and log wavelength.
void write_grain_tables(const std::string& data_dir, bool plane);

}  // namespace qvgen
