// The spectra files of the galaxy and its radio emission: one file per viewing
// direction and one for the angle average on the dust grid, optionally the same
// spectra on a grid that adds the SSP wavelengths (".ssp." files).
//
// A spectra file: 15 header lines ("#"), then one row of nine values in 9G11.4
// per wavelength: wavelength (A), cirrus emission, starlight after the clouds,
// starlight after clouds and cirrus, cloud emission after the cirrus, total,
// unattenuated starlight, and the second component's unattenuated and
// attenuated starlight (L_lambda in 1e30 erg/s/A). With the radio emission, ten
// more rows carry it alone up to 1e10 A.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace qv {
struct Run;
struct CirrusRun;

namespace cirrus {

// Whether an inclination is one a direction may take: 0 (face-on) to 90
// (edge-on) degrees, so that its file's suffix has two digits at most.
inline bool valid_inclination(float degrees) { return degrees >= 0.0f && degrees <= 90.0f; }

// The suffix of a direction's file: the inclination rounded to the nearest
// integer (halves away from zero), one digit below 10, two otherwise
// (7.5 -> "8", 9.6 -> "10").
std::string direction_suffix(float degrees);

// The file of direction d (0: the angle average, suffix "spe"): name_res up to
// its first blank, ".", the suffix; on the SSP grid ".ssp." in place of ".".
std::string spectra_file_name(const Run& run, int d, bool ssp_grid = false);

// Whether the file at path, a temporary name of a spectra file, is stale and
// may be replaced: the run holds the lock of its result name (so no live run
// writes that name) and it is a regular file that begins as a spectra file
// does, or as far as a run killed while writing it got (empty included).
bool stale_temporary_file(const Run& run, const std::string& path);

// The inclinations of the SPECTRA section of the run's par file, as the
// cirrus model will read them, read only: empty when the section cannot be
// read or holds a direction the cirrus model refuses (the run then stops
// there, before it writes a spectra file).
std::vector<float> spectra_section_directions(const Run& run);

// Before the run computes anything (with pahflag, or annflag not 0): a file
// at one of the temporary names that the spectra of this run will take (the
// angle average and the SPECTRA directions) that is not stale stops the run as
// the spectra writer would at the end. Files at other names are not looked at.
void check_temporary_names(const Run& run);

// Whether direction d gets a file (the angle average always, the emulator's
// own directions never).
bool gets_file(const CirrusRun& cr, int d);

// The 15 header lines of the file of direction d, without line ends.
std::vector<std::string> spectra_header(const CirrusRun& cr, int d);

// One row of nine values in 9G11.4 (without line end). Every field is 11
// characters and keeps a blank in front of it, so a row always reads as nine
// whitespace-separated numbers. Returns false, writing nothing, when a value is
// not finite; bad is then the 0-based index of the first such value.
bool spectra_row(const std::array<float, 9>& v, std::string& out, int& bad);

// The radio emission (the radio decision is true): IRADIO, NWRADIO, WRADIO and
// FRADIO on the dust grid from its first wavelength above 1e6 A, then ten
// points equally spaced in log wavelength up to exactly 1e10 A.
void radioflux(Run& run, float snratet);

// The spectra files on the dust grid, each written complete or not at all.
// With pahflag (or annflag not 0) a file is first written as "<final>.tmp",
// the PAH profile step turns it into the final file, and it is deleted; a
// file of that name that exists already is replaced when it is stale (said on
// standard output), else it stops the run before anything is written. A value that is not finite stops the run, naming the file, the
// row, the column and the quantity; no file is then written.
void scrivispettri(Run& run);

// The spectra on the grid of the dust-grid file wavelengths and the SSP
// wavelengths (wavsspout). Outside the range of its table an interpolated
// quantity is 0 (no linear extension), and so is the radio term below the
// first radio wavelength.
void scrivispettrissp(Run& run);

}  // namespace cirrus
}  // namespace qv
