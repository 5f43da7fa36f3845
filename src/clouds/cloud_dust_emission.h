// The dust emission of the molecular clouds, one cloud of each type through the
// radiative-transfer solver or the emulator, then the CO lines (stage 7 of
// pallanolt96, run with emiflag).
#pragma once

#include <string>

namespace qv {
struct Run;

namespace pallanolt96_stages {

// The minimal-standard generator with a mask: state is the 4-byte state
// (in/out); returns a value in [0, 1).
float ran0(int& state);

// The seed of the scratch names from a clock reading in the console's form
// minutes*100000 + seconds*1000 + milliseconds: (60 M + S + ms) mod 1000.
int scratch_seed(int clock_mmssms);

// "tmp" followed by the four digits drawn from the seed.
std::string scratch_stem(int seed);

// Claims a scratch stem for this run by creating <stem>.SSP exclusively. When
// that file exists (another run in the same folder holds the stem, or an
// earlier run left it), the next stems of tmp0000..tmp9999 are tried in turn,
// wrapping around. Returns the stem claimed. All taken: Stop; a folder that
// refuses the file: IoError naming it.
std::string claim_scratch_stem(const std::string& first);

// Deletes <stem>.OUT, <stem>.SPE, <stem>.SSP and <stem>.PAR where they exist
// (the solver's map file <stem>.MAP stays).
void delete_scratch_files(const std::string& stem);

// Stage 7: lumdus from the dust of one cloud of every type that holds stars and
// has a positive mass fraction, by the cloud solver (annflag 0 or 2) or the
// emulator (annflag 1 or 3), weighted by the types' fractions; one "Rsubl="
// run-log line per treated type; the LVG section and the CO lines; the scratch
// files deleted (also when the stage stops). The solver and the emulator are
// called through run.cloud_solver and run.cloud_emulator when those are set.
void cloud_dust_emission(Run& run);

}  // namespace pallanolt96_stages
}  // namespace qv
