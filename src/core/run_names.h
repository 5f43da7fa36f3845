// RunNames (modname): the names a run works with and the command-line overrides.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace qv {

struct RunNames {
    std::string name;                         // model name (argument 1)
    std::string name_dir;                     // data directory with its trailing separator, or blank
    std::string started_as;                   // argument 0, the path name_dir is taken from
    std::string name_res;                     // base name of the result files
    std::string name_sf;                      // base name of the sf and ele files
    std::string name_intrho = "quelvo.intrho";  // column-density cache file
    int nopt = 0;                             // number of command-line overrides
    std::vector<std::string> opt;             // key in characters 1-10, value from character 11 on
    // This run holds the lock of its result name: no other live run writes its
    // result files or their temporary names.
    bool result_locked = false;
    bool pahflag = false;
    bool flutmc = false;
    int verbose_level = 0;

    // The seven section keys of the par file, in this order.
    static constexpr std::array<const char*, 7> seckeys = {"SPECTRA", "SSP",     "MIXDIF", "MIXMOL",
                                                           "MAIN",    "MC_LINE", "LVG"};
};

// Text helpers for the names: a Fortran character field used "up to its first
// blank", and without trailing blanks.
std::string upto_blank(const std::string& s);
std::string trim_right(const std::string& s);

// A command-line override of RunNames::opt: its key (characters 1-10, trailing
// blanks removed) and its value (from character 11 on).
struct Override {
    std::string key, value;
};
Override split_override(const std::string& opt);

// Keeps the characters of a path up to and including its last "/" or "\"; a
// path without either becomes blank.
std::string clean_name_dir(const std::string& argv0);

// The file of a run of result base name base (a name without folder) whose name
// on disk gets longest while it is written, and that length: a whole file is
// written under its name followed by ".tmp", the process id, "-" and up to six
// digits, and then renamed. ssp_grid adds the spectra on the SSP grid, pah_files
// the PAH feature files.
struct LongestName {
    std::string file;
    std::size_t length = 0;
};
LongestName longest_result_file(const std::string& base, bool ssp_grid, bool pah_files, long pid);

// The free-format line that says which data folder the tables are looked for
// in and how it was chosen (from argument 0).
std::string data_folder_line(const RunNames& mn);

}  // namespace qv
