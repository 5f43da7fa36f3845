#include "support/model_fixture.h"

#include <filesystem>
#include <stdexcept>

#include "generators.h"
#include "support/test_support.h"

namespace qv::test {


std::string with_main_key(std::string par, const std::string& key, const std::string& value) {
    std::string k = key;
    k.resize(10, ' ');
    const std::size_t at = par.find("\n" + k);
    if (at == std::string::npos) throw std::runtime_error("no MAIN key " + key + " in the par file");
    std::string v = value;
    v.resize(10, ' ');
    par.replace(at + 11, 10, v);
    return par;
}

std::string example_par_text(bool cell_emission) {
    std::string par = read_text(std::string(QV_SOURCE_DIR) + "/examples/example.par");
    if (!cell_emission) par = with_main_key(with_main_key(par, "emiflag", "0"), "pahflag", "0");
    return par;
}

std::string write_example_model(const std::string& model, const std::string& data_dir, bool cell_emission) {
    std::filesystem::create_directories(data_dir);
    qvgen::write_ssp_tables(data_dir);
    qvgen::write_grain_tables(data_dir, false);
    qvgen::write_solver_settings(data_dir);
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
    write_text(model + ".par", example_par_text(cell_emission));
    return (std::filesystem::path(data_dir) / "quelvo").string();
}

}  // namespace qv::test
