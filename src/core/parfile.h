// The par file's grammar and the small text-file helpers shared by every stage.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "io/textfile.h"

namespace qv {

struct Run;

// The par file of the run: <name>.par, name up to its first blank.
std::string par_file_name(const Run& run);

// Opens the par file of the run; a missing one is an IoError naming it.
TextFile open_par_file(const Run& run);

// The first free-format token of a line: leading blanks passed over; a quoted
// token is its quoted text; otherwise it runs to the first blank, comma or slash.
// Empty when the line holds no token.
std::string first_token(std::string_view line);

namespace modname {

// Positions f on the line after the first line, from the current position on,
// whose first token equals key (exact, trailing blanks ignored). A line without a
// token is read together with the line after it. False when there is none (f at
// its end).
bool search_key_in_file(TextFile& f, std::string_view key);

}  // namespace modname

// True when key (trailing blanks ignored) is one of the seven section keys.
bool is_section_key(std::string_view key);

// The key-line loop of a keyed section (MAIN, MIXDIF, MIXMOL, LVG); f is just
// after the section's key line. Comment lines (first character "%", "#" or a
// blank, or an empty line) are passed over. For every other line own(key, value)
// is called with the key of columns 1-10 (trailing blanks removed) and the value
// field of columns 11-20 (blank-padded to 10); it returns true when the key is
// the reader's own. A line that is not the reader's ends the section when its key
// is a section key, else unknown(key) is called and the line is ignored.
// A line of the reader's own key whose value runs past its field (non-blank
// characters in both columns 20 and 21) stops the run naming the key, the file
// and the line: the field would hold only the value's first part.
void read_keyed_section(TextFile& f,
                        const std::function<bool(const std::string& key, std::string_view value)>& own,
                        const std::function<void(const std::string& key)>& unknown);

// The line that follows the unknown-key warning of a key line whose columns
// 1-10 hold a blank, a tab or "=" (a value written next to its key, "tgal 13.0"
// or "tgal=5.0"); empty for any other key.
std::string fixed_column_hint(std::string_view key);

// Passes over the leading lines whose first character is in set, leaving f on the
// first other line; returns their number. A line without a token is consumed
// together with the line after it and is not counted by itself.
int skip_lines_in_file(TextFile& f, std::string_view set);

// Number of lines of a file; 0 when it cannot be opened.
int nrighe_file(const std::string& path);

// Removes a file; a missing file is no error.
void delfile(const std::string& path);

// Stops the run with the free-format line "qverror: " followed by the message.
[[noreturn]] void qverror(const std::string& msg);

}  // namespace qv
