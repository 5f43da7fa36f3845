// The example model written into a test's working folder: the data tables of the
// generator into a data folder, the model's history files, and the par file
// copied from examples/example.par.
#pragma once

#include <string>

namespace qv::test {

// Writes <model>.par (the example par file), the history files named after the
// model, and the data tables into data_dir (created when missing). Returns the
// path to pass as argument 0 so that the program finds data_dir.
std::string write_example_model(const std::string& model, const std::string& data_dir);

// The text of examples/example.par.
std::string example_par_text();

}  // namespace qv::test
