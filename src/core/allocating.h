// An allocation of work arrays that fails stops the run with the routine's own
// line (instead of the main program's generic out-of-memory line).
#pragma once

#include <new>
#include <stdexcept>
#include <string>
#include <utility>

#include "core/stop.h"

namespace qv {

// Runs f, which allocates; a failure stops the run with stop_line, the line as
// printed.
template <class F>
void allocating(const std::string& stop_line, F&& f) {
    try {
        std::forward<F>(f)();
    } catch (const std::bad_alloc&) {
        throw Stop(stop_line);
    } catch (const std::length_error&) {
        throw Stop(stop_line);
    }
}

}  // namespace qv
