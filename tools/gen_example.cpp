// The whole example set, as qvgen writes it: the data tables and the model's files.
#include "generators.h"

namespace qvgen {

void write_example_data(const std::string& data_dir, GrainTables grains) {
    write_ssp_tables(data_dir);
    write_grain_tables(data_dir, grains);
    write_solver_settings(data_dir);
    write_emulator_files(data_dir);
    write_hii_library(data_dir);
}

void write_example_model_files(const std::string& model_dir) {
    write_histories(model_dir);
    write_hii_model_list(model_dir);
}

}  // namespace qvgen
