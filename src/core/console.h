// The seams between a run and its process: standard output and error, standard
// input for the pause points, the clock. Tests replace the streams and functions.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>

namespace qv {

struct Console {
    std::ostream* out;
    std::ostream* err;
    std::istream* in;
    // True when standard input is a terminal or a socket (a pause can ask).
    std::function<bool()> stdin_interactive;
    // Blocks until the process receives signal 15 (a pause run in the background).
    std::function<void()> wait_for_sigterm;
    std::function<long()> pid;
    // Process cpu seconds (user plus system) and wall-clock seconds.
    std::function<double()> cpu_seconds;
    std::function<double()> wall_seconds;
    // Minutes, seconds and milliseconds of the current time (seeds scratch names).
    std::function<int()> clock_mmssms;

    Console();  // wired to the real process

    // Writes one line on standard output (standard error) and flushes it.
    void line(const std::string& s) const;
    void err_line(const std::string& s) const;
};

// The process-wide console used by main; tests build their own.
Console& process_console();

// A pause point: prints msg, a new line and the prompt "PAUSE prompt> ", then
// reads one line. An empty answer or any beginning of CONTINUE (any case) goes
// on; anything else ends the run (throws Stop). In the background it asks for
// signal 15 instead and waits for it.
void pause_point(const Console& con, const std::string& msg);

}  // namespace qv
