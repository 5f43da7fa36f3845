// The ways a run ends early.
//
// Stop: one of the program's own fatal stops. It carries the message lines,
// which the main program prints on standard output before it exits with status 1.
//
// IoError: a data file that does not read as its format says (or cannot be
// opened). It names the file and, where known, the line; the main program
// prints it on standard error and exits with status 2.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace qv {

struct Stop : std::runtime_error {
    std::vector<std::string> lines;
    bool on_stderr = false;  // the few stops whose message goes to standard error
    explicit Stop(std::vector<std::string> l, bool to_stderr = false)
        : std::runtime_error(l.empty() ? std::string("stop") : l.front()),
          lines(std::move(l)),
          on_stderr(to_stderr) {}
    explicit Stop(std::string line, bool to_stderr = false)
        : Stop(std::vector<std::string>{std::move(line)}, to_stderr) {}
};

// The normal end of a run before its last stage (a history that is only
// exported): the main program ends with status 0 and writes nothing more.
struct EndOfRun {};

struct IoError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// "file:line: what" (line 0: not known).
[[noreturn]] void throw_io_error(const std::string& file, long line, const std::string& what);

}  // namespace qv
