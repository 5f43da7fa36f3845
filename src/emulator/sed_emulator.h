// SedEmulator (ann_qve): trained networks that stand in for the dust emission
// of one molecular cloud (two networks, mid and far infrared, joined) or of the
// cirrus. Each call reads an auxiliary file (output wavelengths, output
// scaling, input names, trained ranges and input scaling), scales the inputs,
// runs the networks and leaves log10 spectra on the networks' own wavelengths.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "numerics/farray.h"

namespace qv {
struct Run;

// One input of a call, as its auxiliary file describes it.
struct EmulatorInput {
    std::string name;  // 10 characters
    float xmin = 0.0f, xmax = 0.0f;  // trained range of the raw value
    float scale = 0.0f, offset = 0.0f;
    bool in_range = true;
};

// An auxiliary file read whole: nout rows of ncol values (the log10 wavelength
// in micron first), then one input per value of the call.
struct EmulatorAux {
    int nout = 0;
    Mat<float> rows;  // (nout, ncol)
    std::vector<EmulatorInput> inputs;
};

struct SedEmulator {
    // The emulator directory as formed from the data directory: name_dir
    // followed by "ann\". emulator_file resolves the names in it.
    std::string trained_ann_path;
    std::string netout;  // the weights file read next (no length limit)

    // Output scaling (a network output o stands for (o - b)/a); they exist
    // only during a call.
    Vec<float> a_cir, b_cir, a_mc, b_mc;

    // Result of ann_quelvo: log10 wavelength [micron] and log10 lambda L_lambda
    // of the cirrus (arbitrary scale), ascending in wavelength.
    Vec<float> log_lam_mic;
    Vec<float> log_l_cir;

    // Result of ann_quelvo_mc_only: log10 wavelength [micron] and log10 of
    // lambda L_lambda of one cloud (arbitrary scale), ascending in wavelength.
    Vec<float> log_lam_mic_only;
    Vec<float> log_l_mc_only;

    // The inputs of the last call (names, ranges, flags), for its report.
    std::vector<EmulatorInput> inputs;

    // Replaces ann_quelvo in the cirrus model when set (tests).
    std::function<void(Run&, float igeo, std::array<int, 2> arch_mc, std::array<int, 2> arch_cir,
                       const std::vector<float>& x, int inet, bool write_tmp)>
        ann_quelvo_seam;
};

// The path of an emulator file: in the folder "ann/" of the data directory
// when that folder exists, otherwise trained_ann_path followed by the name
// (a file whose own name begins "ann\").
std::string emulator_file(const SedEmulator& e, const std::string& name);

// emulator_file for a file that must exist. When it exists nowhere and the
// folder "ann/" of the data directory is missing, throws IoError naming the
// folder and both names tried; otherwise returns emulator_file (whose opening
// then names it).
std::string existing_emulator_file(const SedEmulator& e, const std::string& name);

// Reads an auxiliary file: ncol values per output row and ninputs input lines;
// the network uses the output scale a in column scale_col and b after it.
// A missing file, nout below 2 or more than the file's lines can hold,
// wavelengths that do not ascend, an output scale a of 0 in scale_col, a used
// value or input field that is not a finite number throw IoError (or Stop)
// naming the file.
EmulatorAux read_aux_file(const std::string& path, int ncol, int ninputs, int scale_col);

// The cirrus spectrum: igeo 1.0 (spheroid) or 2.0, -1.0 (disk); x holds the
// cloud network's arch_mc[0] inputs, then the cirrus network's arch_cir[0].
// inet 2: the cirrus network alone (the only selection there is). Results in
// run.ann_qve.log_lam_mic and log_l_cir.
void ann_quelvo(Run& run, float igeo, std::array<int, 2> arch_mc, std::array<int, 2> arch_cir,
                const std::vector<float>& x, int inet, bool write_tmp);

// The emission of one molecular cloud from the cloud networks: arch is the cloud
// network's (inputs, hidden neurons), x its inputs. Results in run.ann_qve.
void ann_quelvo_mc_only(Run& run, std::array<int, 2> arch, const std::vector<float>& x, bool write_tmp);

namespace ann_qve {

// Allocates the network, reads it from netout and runs it on the first column
// of network::pb.
void run_ann(Run& run);

// The input lines of a report, (L10,1X,A10,1X,G10.3) each, then the warning
// line when an input lies outside its trained range.
std::vector<std::string> report_lines(const std::vector<EmulatorInput>& inputs, const std::vector<float>& x);

}  // namespace ann_qve
}  // namespace qv
