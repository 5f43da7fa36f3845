// Counts read from data files, checked against what the file can hold before
// they size an allocation: a damaged count must end the run with a message,
// not with a request for gigabytes.
#pragma once

#include <cstddef>
#include <string>

namespace qv {
class TextFile;
}

namespace qv::fio {

// The lines of a file (a last line without a line end counts), read through
// without keeping the text. A file that cannot be read counts 0 lines.
std::size_t count_file_lines(const std::string& path);

// The lines that n values take at per_line values to a line: n / per_line,
// rounded up (0 for n <= 0).
long long lines_for(long long n, long long per_line);

// An upper bound on the free-format values that the lines of f from its
// position on can give: one per item, r for a repeat r*c, one per "," or ";"
// (an empty value); a "/" gives none.
long long list_values_left(const TextFile& f);

// A count read on line `line` of `file` (0: not known), named `what`: a
// negative count, or one that needs more than the `found` lines the file holds
// (`need` lines by the file's format, the lines before the count included),
// throws IoError "file:line: what=count needs at least need lines; the file
// holds found".
void check_count(const std::string& file, long line, const std::string& what, long long count, long long need,
                 long long found);

}  // namespace qv::fio
