// The solver's built-in parameters (mode 2), its output settings "NOLT96.OF",
// and the records of its log <stem>.OUT: the parameter block and the array blocks.
//
// The solver's text files (log, spectrum file, map file) are built in memory as
// lines, the way the driver opens, writes and closes them within one solve; the
// array printers append to such a list of lines.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "numerics/farray.h"

namespace qv {

struct Run;
struct RunNames;
struct SolverState;

using SolverLines = std::vector<std::string>;

// The stem of the solve's files: globals::nom up to its first blank.
std::string solver_stem(const SolverState& g);
// Writes the lines of a solver file (each ended by a new line) as the whole file.
void write_solver_file(const std::string& path, const SolverLines& lines);

// Sets the mode-2 values of the solver parameters. tgra, tsil, taue, rmsr0, rc,
// tc and albb are left as they are.
void inppa2(SolverState& g);

// The full path of the output settings: the data folder (trailing blanks
// removed) followed by "NOLT96.OF".
std::string nolt96_path(const RunNames& modname);

// Reads the output settings "NOLT96.OF" of the data folder: a title line, the
// flags(1..nflags) one L10 each, the count of viewing directions (I10) and the
// directions (F10.2 each, degrees), the count of map wavelengths (I10) and the
// wavelengths (F10.2 each, micron). Every read starts on a new line, so a count
// of 0 still passes over one line. A missing file, or a field or line missing
// or not a valid value, is an IoError naming the file. More directions than
// maxdirs, more wavelengths than maxlams, a negative count, no direction at all
// or flag 13 (the emergent spectra) off stop the run naming the file and the
// count: the cloud model reads the emergent spectrum of the first direction.
void inpof(const RunNames& modname, std::array<bool, 15>& flags, int nflags, Vec<float>& dirs,
           int maxdirs, int& ndirs, Vec<float>& lams, int maxlams, int& nlams, int mode);

// The parameter block: an empty line, then the 24 parameters, one per line.
void outpar(const SolverState& g, SolverLines& file);

// Array blocks: an empty line, "Array <label>:" (label of 6 characters), then
// the rows; nothing when flag is false.
// outarr: v(1..n), one line (I5,G15.5) per entry with its index.
void outarr(const Vec<float>& v, int n, SolverLines& file, std::string_view label, bool flag);
// outar2: na lines, line i holding a(i, 1..nb) with (100G11.4); the second index
// runs from a's lower bound.
void outar2(const Mat<float>& a, int na, int nb, SolverLines& file, std::string_view label,
            bool flag);
// outas2: na lines, line i holding a(i, 1) alone (G10.3): under spherical
// symmetry every polar angle holds the values of angle 1.
void outas2(const Mat<float>& a, int na, int nb, SolverLines& file, std::string_view label,
            bool flag);
// outas3: na lines, line i holding a(i, 1, 1..nc) with (100G10.4); the third
// index runs from a's lower bound (farr prints its planes 0..54 with nc = 55).
void outas3(const FArray<float, 3>& a, int na, int nb, int nc, SolverLines& file,
            std::string_view label, bool flag);

}  // namespace qv
