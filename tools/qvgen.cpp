// Writes the synthetic example data set: the data tables into the data folder
// (--data) and the model's own files into the model folder (--model). With
// --plane-grains the grain tables are the exactly interpolable test tables, with
// --grey-grains grey grains (Qabs 1, Qsca 1e-6). --tav, --pelto and --sorvanto DIR
// write the example galaxy of that external model into DIR.
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "generators.h"

namespace {

const char* const kUsage =
    "usage: qvgen [--data DIR] [--model DIR] [--plane-grains | --grey-grains]\n"
    "             [--tav DIR] [--pelto DIR] [--sorvanto DIR]\n";

const char* const kHelp =
    "qvgen writes the synthetic example data set of quelvo (made to try and test\n"
    "the program, not for science). Folders are created when missing; files of\n"
    "the same names in them are replaced.\n"
    "\n"
    "  --data DIR       the data tables, into the program's data folder DIR (the\n"
    "                   folder of the path by which quelvo is started): the SSP\n"
    "                   tables qv_ssp_*.dat, the grain tables SIL_81 and GRA_81,\n"
    "                   the PAH cross-sections sigmapah_07.dat, the cloud solver's\n"
    "                   output settings NOLT96.OF, the HII library qv_hii.dat and\n"
    "                   the emulator's files in DIR/ann/\n"
    "  --model DIR      the example model's own files, into the folder it runs\n"
    "                   in: the history example.sf with example.ele, the time\n"
    "                   series example_ts.sf (istarfo 1) and the HII model list\n"
    "                   example.lin; the par file is examples/example.par\n"
    "                   (share/quelvo/examples/ of an installation)\n"
    "  --plane-grains   with --data: grain tables whose logarithms are planes in\n"
    "                   log radius and log wavelength (for tests)\n"
    "  --grey-grains    with --data: grey grains, Qabs 1 and Qsca 1e-6 at every\n"
    "                   radius and wavelength (for tests)\n"
    "  --tav DIR        the tav model's galaxy 42 into DIR (tav_disk.42,\n"
    "                   tav_bulge.42, bursts_disk.42, bursts_bulge.42, prop.dat,\n"
    "                   prop2.dat, imf.dat, imf_bursts.dat); par file\n"
    "                   examples/tav42.par\n"
    "  --pelto DIR      the pelto model's galaxy into DIR (gasoline_disk.sf,\n"
    "                   gasoline_bulge.sf); par file examples/pelto.par\n"
    "  --sorvanto DIR   the sorvanto model's galaxy into DIR (QVmodl.disc.sf,\n"
    "                   QVmodl.bulg.sf); par file examples/sorvanto.par\n"
    "  -h, --help       this text\n"
    "\n"
    "The options may be combined; one folder may take several of them. The\n"
    "external galaxies need the data tables too (--data, into the folder of the\n"
    "program that runs them).\n"
    "\n"
    "Exit status: 0 when every file is written, 1 when a file cannot be written,\n"
    "2 for an unknown option or nothing to write.\n";

}  // namespace

int main(int argc, char** argv) {
    std::string data, model;
    qvgen::GrainTables grains = qvgen::GrainTables::example;
    const char* grain_option = nullptr;
    std::vector<std::pair<std::string, std::string>> galaxies;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            std::fputs(kUsage, stdout);
            std::fputs("\n", stdout);
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (!std::strcmp(argv[i], "--data") && i + 1 < argc) data = argv[++i];
        else if (!std::strcmp(argv[i], "--model") && i + 1 < argc) model = argv[++i];
        else if (!std::strcmp(argv[i], "--plane-grains")) {
            grains = qvgen::GrainTables::plane;
            grain_option = argv[i];
        } else if (!std::strcmp(argv[i], "--grey-grains")) {
            grains = qvgen::GrainTables::grey;
            grain_option = argv[i];
        } else if ((!std::strcmp(argv[i], "--tav") || !std::strcmp(argv[i], "--pelto") ||
                    !std::strcmp(argv[i], "--sorvanto")) && i + 1 < argc) {
            galaxies.emplace_back(argv[i] + 2, argv[i + 1]);
            ++i;
        }
        else {
            std::fprintf(stderr, "qvgen: unknown option or missing folder: %s\n", argv[i]);
            std::fputs(kUsage, stderr);
            std::fputs("qvgen --help explains every option\n", stderr);
            return 2;
        }
    }
    // Say what is missing rather than end without a word.
    if (data.empty() && model.empty() && galaxies.empty()) {
        std::fputs("qvgen: nothing to write: give the data folder (--data DIR), the example model's folder\n"
                   "(--model DIR) or an external galaxy's folder (--tav, --pelto or --sorvanto DIR)\n",
                   stderr);
        std::fputs(kUsage, stderr);
        std::fputs("qvgen --help explains every option\n", stderr);
        return 2;
    }
    if (grain_option && data.empty()) {
        std::fprintf(stderr, "qvgen: %s chooses the grain tables of the data folder: give --data DIR with it\n",
                     grain_option);
        return 2;
    }
    try {
        if (!data.empty()) {
            std::filesystem::create_directories(data);
            qvgen::write_example_data(data, grains);
        }
        if (!model.empty()) {
            std::filesystem::create_directories(model);
            qvgen::write_example_model_files(model);
        }
        for (const auto& [kind, dir] : galaxies) qvgen::write_external_galaxy(kind, dir);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qvgen: %s\n", e.what());
        return 1;
    }
    return 0;
}
