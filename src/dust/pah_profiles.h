// PAH feature profiles in the spectra files: the band spikes of the dust grid
// are measured, removed and laid back as Drude profiles on a fine wavelength
// grid; for tabulated histories the band luminosities go to a PAH feature file.
#pragma once

#include <string>
#include <vector>

#include "io/textfile.h"
#include "numerics/farray.h"

namespace qv {
struct Run;

// Columns of a spectrum file: 1 wavelength (Angstrom), 2 cirrus emission,
// 3 starlight after the clouds, 4 starlight after clouds and cirrus, 5 cloud
// emission, 6 total, 7 unattenuated starlight, 8 and 9 the second component.
inline constexpr int kSpectrumColumns = 9;
// The fine band grid: 37 points per band, from 2 widths below to 7 widths above
// its centre in steps of a quarter width.
inline constexpr int kBandGridPoints = 37;

// PahProfileWork (pahpro): the work of the PAH profile step, one for the run.
struct PahProfileWork {
    Vec<float> lam, dlam;  // (24) band centres and widths, Angstrom
    Mat<float> lumpah;     // (24, 9) band luminosity measured in each column, 1e30 erg/s

    // Columns whose spikes are measured and replaced by profiles, and columns
    // replaced by an emulator spectrum; set for one call.
    std::vector<int> mask, mask_ann;
    int nmask = 0, nmask_ann = 0;

    int nrow = 0, ninte = 0;  // data rows and "#" header lines of the file in hand
    Mat<float> table;         // (nrow, 9) its rows

    int npro = 0;          // rows of the fine table
    Vec<float> wpro;       // (npro) fine wavelengths, Angstrom, ascending
    Mat<float> tablepro;   // (npro, 9) the rows on the fine wavelengths

    // The band grid (37, 24), Angstrom, and its smallest and largest point:
    // computed on the first call and kept for the run.
    Mat<float> wk;
    float wk_min = 0.0f, wk_max = 0.0f;

    // The cirrus emulator's spectrum (wavelengths in Angstrom, L_lambda). It
    // exists only when that emulator has run; otherwise the emulator column 2
    // keeps the table's values.
    Vec<float> lam_ang, l_cir;
};

namespace pahpro {

// Writes the final spectrum file outfile from the spectrum file infile (the
// spectra writer's temporary file, of any name), with the PAH profiles on the
// fine grid, and with istarfo 0, pahflag and a non-empty mask the PAH feature
// file "<outfile>.pah". Both are written whole (a temporary beside them, then
// renamed), so neither is ever left half-written; infile is only read. A
// missing infile, fewer rows than it counts or a row of fewer than nine
// values throw IoError naming the file and line.
void pahpro_tutto(Run& run, const std::string& infile, const std::string& outfile);

// The same from a spectrum file already in memory (TextFile::from_string(name,
// text)), so that a writer needs no temporary file on disk; the name is used
// in messages only.
void pahpro_tutto(Run& run, const TextFile& in, const std::string& outfile);

// Counts the lines of a file that do not start with "#" (nrow) and those that
// do (ninte); both 0 when the file cannot be opened. Never creates the file.
void nrows_file(const std::string& name, int& nrow, int& ninte);

// The column lists by annflag: 0: mask 2, 5; 1: mask 2, emulator 5; 2: mask 5,
// emulator 2; 3: emulator 2, 5; any other value: both empty.
void set_masks(PahProfileWork& w, int annflag);

// Measures and removes the spikes of column m of table: for each band, the
// centre's two neighbours take the values of the band's two outer points and
// the centre their mean; the centre's old value above that mean, times the
// band width (0 when negative), goes to lumpah(., m). The band centres are
// rows glopah::indpah; their five points must lie within the table.
void profile(Run& run, int m);

// Builds wpro and tablepro: the band grid and the table rows that span it,
// sorted; the table's columns interpolated there; the measured bands added as
// Drude profiles to the masked columns; when the cirrus emulator's spectrum
// exists, the emulator columns replaced by the emulator spectra that exist
// (2: lam_ang, l_cir; 5: the cloud spectrum of ann_qve); column 6 the sum of
// columns 2, 4 and 5.
void gentablepro(Run& run);

// The Drude profile of a band of centre lam and width dlam (Angstrom) at
// wavelength w, per Angstrom; its integral over w is 1.
float drude(float lam, float dlam, float w);

}  // namespace pahpro
}  // namespace qv
