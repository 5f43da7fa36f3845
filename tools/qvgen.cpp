// Writes the synthetic example data set: the data tables into the data folder
// (--data) and the model's own files into the model folder (--model). With
// --plane-grains the grain tables are the exactly interpolable test tables, with
// --grey-grains grey grains (Qabs 1, Qsca 1e-6).
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "generators.h"

int main(int argc, char** argv) {
    std::string data, model;
    qvgen::GrainTables grains = qvgen::GrainTables::example;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--data") && i + 1 < argc) data = argv[++i];
        else if (!std::strcmp(argv[i], "--model") && i + 1 < argc) model = argv[++i];
        else if (!std::strcmp(argv[i], "--plane-grains")) grains = qvgen::GrainTables::plane;
        else if (!std::strcmp(argv[i], "--grey-grains")) grains = qvgen::GrainTables::grey;
        else {
            std::fprintf(stderr, "usage: qvgen [--data DIR] [--model DIR] [--plane-grains | --grey-grains]\n");
            return 2;
        }
    }
    try {
        if (!data.empty()) {
            qvgen::write_ssp_tables(data);
            qvgen::write_grain_tables(data, grains);
            qvgen::write_solver_settings(data);
            qvgen::write_emulator_files(data);
        }
        if (!model.empty()) qvgen::write_histories(model);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qvgen: %s\n", e.what());
        return 1;
    }
    return 0;
}
