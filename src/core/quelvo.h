// The main program around one galaxy model: command line, run log, driver, time
// report. Exit status 0 at the normal end, 1 at a stop of the program's own, 2
// when a data file does not read as its format says.
#pragma once

#include "core/console.h"

namespace qv {

struct Run;

int quelvo_main(int argc, char** argv, Console& con);

// The program on a Run that the caller owns: what quelvo_main runs inside its
// handlers of the stops and I/O errors (which it lets through).
void run_quelvo(Run& run, int argc, char** argv);

// Runs the stages of one galaxy model in their fixed order.
void qvmain(Run& run);

}  // namespace qv
