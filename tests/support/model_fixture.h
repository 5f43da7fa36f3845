// The example model written into a test's working folder: the data tables of the
// generator into a data folder, the model's history files, and the par file
// copied from examples/example.par.
#pragma once

#include <string>

namespace qv::test {

// Writes <model>.par (the example par file), the history files and the HII model
// list named after the model, and the data tables into data_dir (created when
// missing). Returns the
// path to pass as argument 0 so that the program finds data_dir.
//
// Unless cell_emission is set, the par file has the cirrus cell-by-cell
// emission and the PAH bands switched off (MAIN keys emiflag and pahflag 0): the
// cell loop is most of a run's time, and tests that need it switch it on.
std::string write_example_model(const std::string& model, const std::string& data_dir,
                                bool cell_emission = false);

// The par file text with the value of one MAIN key replaced.
std::string with_main_key(std::string par, const std::string& key, const std::string& value);

// The text of examples/example.par; without cell_emission, with emiflag and
// pahflag 0 as write_example_model writes it.
std::string example_par_text(bool cell_emission = false);

}  // namespace qv::test
