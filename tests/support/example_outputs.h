// Helpers of the tests that run a model through the quelvo program and read
// its outputs back as a user would: the numbers of the run log, the spectra
// files as tables, a folder to run the program in as a command, and the
// program's main run inside the test's own process.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace qv::test {

// The suffixes of the example's spectra files: the angle average, then its
// viewing directions.
inline const std::vector<std::string> kExampleSuffixes = {"spe", "0", "45", "70", "80", "90"};

// The numbers of a text: the whitespace-separated tokens that read whole as
// numbers, in order (words are passed over).
std::vector<double> numbers(const std::string& text);

// The first number after a label: on the first line (from line from on) that
// holds the label with a number after it. None is a test failure, and gives NaN.
double number_after(const std::vector<std::string>& lines, const std::string& label, int from = 0);

// The lines of a text (standard output of a run, say).
std::vector<std::string> split_lines(const std::string& text);

// A spectra file read as a whitespace-separated table would be read.
struct SpectrumTable {
    std::vector<std::string> header;        // the lines that begin with "#"
    std::vector<std::vector<double>> rows;  // the numbers of every other line
    std::vector<std::string> bad;           // the lines that are not nine finite numbers
};

SpectrumTable load_spectrum(const std::string& path);

// The rows of a spectra file that are nine finite numbers; every other data
// line is a test failure naming the file and the line, and is left out.
std::vector<std::vector<double>> spectrum_rows(const std::string& path);

// A fresh folder below the temporary directory, named after prefix and this
// process; one left over by an earlier run of that name is removed first.
std::filesystem::path fresh_folder(const std::string& prefix);

// Makes dir (created when missing) ready to run the program as a command: the
// generator's data tables, and a link named quelvo to the program, which finds
// its data folder from the path it is started by.
void write_run_folder(const std::filesystem::path& dir);

// Copies examples/<model>.par into dir.
void copy_example_par(const std::filesystem::path& dir, const std::string& model);

// write_run_folder and the example model beside it: its history files and
// examples/example.par.
void write_example_folder(const std::filesystem::path& dir);

// Runs "./quelvo args" in dir by the shell, standard error joined to standard
// output, with the variables env (say "OMP_NUM_THREADS=1") set for it; returns
// the exit status and fills out.
int run_quelvo(const std::filesystem::path& dir, const std::string& args, std::string* out,
               const std::string& env = "");

// Runs the program in this process on cc's console: argument 0 is argv0 (the
// path by which it finds its data folder, as write_example_model returns it),
// then args.
int run_quelvo_main(const std::string& argv0, const std::vector<std::string>& args, CapturedConsole& cc);
// The same with the whole command line, argument 0 first.
int run_main(CapturedConsole& cc, std::vector<std::string> args);

// The example model written as model into a fresh working folder, which is
// entered for the object's life (write_example_model, its data in "data"), and
// run there in this process.
struct ExampleModelRun {
    TempDir dir;
    std::string argv0;  // the path by which the program finds the data folder
    explicit ExampleModelRun(const std::string& model = "m1");
    // Runs the program with args after argument 0 (the model name first).
    int run(const std::vector<std::string>& args, CapturedConsole& cc) const;
};

}  // namespace qv::test
