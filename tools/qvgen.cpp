// Writes the synthetic example data set: the data tables into the data folder
// (--data) and the model's own files into the model folder (--model). With
// --plane-grains the grain tables are the exactly interpolable test tables, with
// --grey-grains grey grains (Qabs 1, Qsca 1e-6). --tav, --pelto and --sorvanto DIR
// write the example galaxy of that external model into DIR.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "generators.h"

int main(int argc, char** argv) {
    std::string data, model;
    qvgen::GrainTables grains = qvgen::GrainTables::example;
    std::vector<std::pair<std::string, std::string>> galaxies;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--data") && i + 1 < argc) data = argv[++i];
        else if (!std::strcmp(argv[i], "--model") && i + 1 < argc) model = argv[++i];
        else if (!std::strcmp(argv[i], "--plane-grains")) grains = qvgen::GrainTables::plane;
        else if (!std::strcmp(argv[i], "--grey-grains")) grains = qvgen::GrainTables::grey;
        else if ((!std::strcmp(argv[i], "--tav") || !std::strcmp(argv[i], "--pelto") ||
                  !std::strcmp(argv[i], "--sorvanto")) && i + 1 < argc) {
            galaxies.emplace_back(argv[i] + 2, argv[i + 1]);
            ++i;
        }
        else {
            std::fprintf(stderr, "usage: qvgen [--data DIR] [--model DIR] [--plane-grains | --grey-grains] "
                                 "[--tav|--pelto|--sorvanto DIR]\n");
            return 2;
        }
    }
    try {
        if (!data.empty()) {
            qvgen::write_example_data(data, grains);
        }
        if (!model.empty()) qvgen::write_example_model_files(model);
        for (const auto& [kind, dir] : galaxies) qvgen::write_external_galaxy(kind, dir);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qvgen: %s\n", e.what());
        return 1;
    }
    return 0;
}
