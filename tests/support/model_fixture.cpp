#include "support/model_fixture.h"

#include <filesystem>

#include "generators.h"
#include "support/test_support.h"

namespace qv::test {

std::string example_par_text() { return read_text(std::string(QV_SOURCE_DIR) + "/examples/example.par"); }

std::string write_example_model(const std::string& model, const std::string& data_dir) {
    std::filesystem::create_directories(data_dir);
    qvgen::write_ssp_tables(data_dir);
    qvgen::write_grain_tables(data_dir, false);
    const std::string here = std::filesystem::current_path().string();
    qvgen::write_histories(here);
    // The generator names the history after the example model.
    if (model != "example") {
        for (const char* ext : {".sf", ".ele"}) {
            std::error_code ec;
            std::filesystem::copy_file("example" + std::string(ext), model + ext,
                                       std::filesystem::copy_options::overwrite_existing, ec);
        }
    }
    write_text(model + ".par", example_par_text());
    return (std::filesystem::path(data_dir) / "quelvo").string();
}

}  // namespace qv::test
