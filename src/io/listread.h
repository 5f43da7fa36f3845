// Free-format (list-directed) input as a Fortran runtime reads it: values
// separated by blanks or commas, running over as many lines as they need; each
// read starts on a new line; "/" ends a read and leaves the remaining targets
// unchanged; an empty value between two commas leaves its target unchanged;
// r*c repeats c r times and r* gives r empty values; E and D exponents; quoted
// strings ('...' or "..." with doubled quotes inside, running over line ends,
// which are not part of them); an unquoted string value runs to the next
// blank, comma or slash. As with gfortran, a tab is a blank and a semicolon a
// comma. Integers take an optional sign and digits only ("2.5" into an integer
// is an Error), within the range of the target; reals any Fortran real text
// (1.5, .5, 5., 1e3, 1.5d0, 1.5-3, inf, nan), rounded once to the target's
// kind; logicals an optional "." then T or F and anything up to the separator.
// A repeated value r*c must fill targets of one type.
//
// Status: Ok (also when "/" ended the read); End when the file ran out before
// every target was filled (the ones filled keep their values); Error for a
// value its target cannot take (the targets before it keep their values).
#pragma once

#include <initializer_list>
#include <span>
#include <string>
#include <variant>

#include "io/textfile.h"

namespace qv::fio {

// A scalar target, or a span of targets read one value each, in order.
using Target = std::variant<int*, long*, float*, double*, std::string*, bool*, std::span<int>,
                            std::span<float>, std::span<double>>;

enum class ReadStatus { Ok, End, Error };

struct ListResult {
    ReadStatus status = ReadStatus::Ok;
    // What failed, for End and Error: which item and which line, e.g.
    // "bad value \"x\" for item 2 (a real number) on line 5".
    std::string message;
    long line = 0;  // 1-based line of the failure (0: the file had no line)
};

// One list-directed read from the file's next line on. The cursor ends after the
// last line the read touched (the rest of that line is passed over). With no
// targets, one line is passed over.
ListResult list_read(TextFile& f, std::initializer_list<Target> targets);

// The same; end of file or a bad value throws IoError "file:line: what".
void list_read_or_throw(TextFile& f, std::initializer_list<Target> targets);

// The same for a list of targets whose length is known only at run time.
void list_read_targets_or_throw(TextFile& f, std::span<const Target> targets);

// One list-directed read from a single string (an internal read: the string is
// the only line).
ListResult list_read_string(std::string_view text, std::initializer_list<Target> targets);

}  // namespace qv::fio
