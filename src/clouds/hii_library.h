// HiiLibrary (modhii): the HII-region model list <name>.lin of the run, one HII
// library file <model>.dat loaded from the data folder, and the library models
// selected at the two grid metallicities around the gas metallicity.
//
// Photon numbers Q are photons per second in units of 1e50.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "numerics/farray.h"

namespace qv {

struct Run;
class TextFile;
struct Console;

// Nebular lines of every library model and of every interpolation result.
inline constexpr int kHiiLines = 114;

struct HiiLibrary {
    // The loaded library file.
    int n_mod = 0;        // models in the file
    Vec<int> gridn;       // (n_mod) sub-grid of each model, 1 or 2
    Vec<float> zgas;      // (n_mod) metallicity
    Vec<float> qhi;       // (n_mod) Q(H)
    Vec<float> qx;        // (n_mod) a fourth photon number of the file (not used)
    Vec<float> qhei;      // (n_mod) Q(He), 0 when the file has none
    Vec<float> qo;        // (n_mod) Q(O), 0 when the file has none
    Mat<float> righe;     // (114, n_mod) line luminosities

    // The selection of inpila: the models at zup (kk1 of them) then those at zlow (kk2).
    int diz = 0;          // 1: two metallicities are interpolated, 0: one
    float zup = 0.0f;
    float zlow = 0.0f;
    int kk1 = 0;
    int kk2 = 0;
    Vec<int> gridn_rid;
    Vec<float> qhi_rid;
    Vec<float> qx_rid;
    Vec<float> qhei_rid;
    Vec<float> qo_rid;
    Mat<float> righe_rid;  // (114, kk1 + kk2)

    // Where read_file_lin found each row of the model list: the file and the
    // first and last line of row i at index i - 1 (for the messages that name
    // a stellar mass of the list).
    std::string lin_file;
    std::vector<std::pair<long, long>> lin_lines;
};

namespace mc_righe {

// The HII model list <name>.lin (name up to its first blank, working folder):
// nnh_hii, then one row of nnh_hii pairs (stellar mass, model name) per cloud
// type and one for the stars that have left the clouds, into nnh_hii, massamod
// and nomemodello. Stops, naming the file, on more rows or sets than the name
// table holds, a mass that is not positive, or a name that is empty or longer
// than its 40 characters.
void read_file_lin(Run& run);

}  // namespace mc_righe

namespace modhii {

// The most characters of a library model name.
inline constexpr std::size_t kNameLength = 40;

// One model line of a library file, as its fixed columns read.
struct ModelLine {
    int gridn = 0;
    float zgas = 0.0f;
    float lqhi = 0.0f, lqx = 0.0f, lqhei = 0.0f, lqo = 0.0f;  // log10 Q - 50
    std::array<int, kHiiLines> codes{};                       // line codes
};

// Reads one model line (14X,I1,1X,F5.4,8X,F8.4,1X,F8.4,1X,F8.4,1X,F8.4,1X,114I5);
// a field that does not read as a number throws IoError naming file and line.
ModelLine read_model_line(std::string_view line, const std::string& file, long lineno);

// The luminosity of a line code: exp(code/1000 - 50), 0 for code 0.
float line_luminosity(int code);

// Fills the library from a library file's text: the first line is a header,
// every further line one model.
void load(HiiLibrary& lib, const TextFile& f);

// Loads <name_dir><model>.dat, replacing a library already loaded, with the
// messages "reading HII library <model>.dat ...." and "OK!".
void leggirighe(Run& run, const std::string& model);

// Frees the library arrays (the selection stays).
void scaricamem(HiiLibrary& lib);

}  // namespace modhii

// The grid metallicities around z: diz, zup and zlow.
struct MetallicityBracket {
    int diz;
    float zup;
    float zlow;
};
MetallicityBracket hii_bracket(float z);

// Selects the library models at the grid metallicities around z into the
// *_rid fields (the zup models first); prints "Z_max= ... Z_up= ... Z_low= ...".
// Stops when no model lies at one of them.
void inpila(HiiLibrary& lib, const Console& con, float z);

}  // namespace qv
