// PAH feature profiles in the spectra files: the band spikes of the dust grid
// are measured, removed and laid back as Drude profiles on a fine wavelength
// grid; for tabulated histories the band luminosities go to a PAH feature file.
#pragma once

#include <string>

namespace qv {
struct Run;

namespace pahpro {

// Writes the final spectrum file outfile from the spectrum file infile (the
// spectra writer's temporary file), with the PAH profiles on the fine grid.
void pahpro_tutto(Run& run, const std::string& infile, const std::string& outfile);

// Counts the lines of a file that do not start with "#" (nrow) and those that
// do (ninte); both 0 when the file cannot be opened.
void nrows_file(const std::string& name, int& nrow, int& ninte);

}  // namespace pahpro
}  // namespace qv
