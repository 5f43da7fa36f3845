// The par file's grammar and the small text-file helpers shared by every stage.
#pragma once

#include <functional>
#include <optional>
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

// A key in its 10-character field (cut or padded with blanks), as the
// warnings on a key show it.
std::string key_field(std::string_view key);

// True when key (trailing blanks ignored) is one of the seven section keys.
bool is_section_key(std::string_view key);

// What a keyed-section reader makes of a key line.
struct KeyLine {
    enum Kind {
        Other,  // not the reader's: the unknown-key warning, the line is ignored
        Own,    // the reader's key, value taken
        End,    // the reader's key, value taken, and the section ends at once
    };
    Kind kind;
    // The key takes a whole number (an integer or a switch), for the advice
    // on a value written with a comma.
    bool whole_number = false;
    KeyLine(Kind k, bool whole = false) : kind(k), whole_number(whole) {}
    // A reader that only says whether the key is its own.
    KeyLine(bool own) : kind(own ? Own : Other) {}
};

// How the value field of columns 11-20 is read, which decides when a value
// runs past column 20.
enum class ValueRead {
    // With an edit descriptor (MIXDIF, MIXMOL, LVG): the field is the ten
    // columns, so a value that fills column 20 and goes on in column 21 is cut.
    Edited,
    // Free-format (MAIN): only the field's first item is read, so what follows
    // it after a blank, a tab or a comma is a comment; only a first item that
    // goes on past column 20 is cut.
    FreeFormat,
};

// The key-line loop of a keyed section (MAIN, MIXDIF, MIXMOL, LVG); f is just
// after the section's key line. Comment lines (first character "%", "#" or a
// blank, or an empty line) are passed over. A line whose columns 1-10 hold a
// section key (and blanks) ends the section. For every other line own(key,
// value) is called with the key of columns 1-10 (trailing blanks removed) and
// the value field of columns 11-20 (blank-padded to 10); what it returns says
// whether the key is the reader's own and whether the section ends with it.
// A line that is not the reader's calls unknown(key) and is ignored.
// A line of the reader's own key stops the run naming the key, the file and the
// line when its value is a whole number followed by a comma and digits ("7,5",
// "1,000,000"; decimal_comma_value below), or when
// the value runs past column 20 (as `how` says): the field would hold only the
// value's first part. Either stop takes the place of the value's own
// conversion error.
void read_keyed_section(TextFile& f,
                        const std::function<KeyLine(const std::string& key, std::string_view value)>& own,
                        const std::function<void(const std::string& key)>& unknown,
                        ValueRead how = ValueRead::Edited);

// A value written with a comma after a whole number ("7,5", "1,000,000",
// "20,30"): what it has (for the stop's first line) and what to write instead.
struct CommaValue {
    std::string what;    // "a decimal comma" or "thousands separators"
    std::string advice;  // the stop's second line, without its leading blank
};

// Whether text (leading blanks passed over), the value of key, begins with a
// number followed by a comma and a digit. A number with a decimal point or an
// exponent before the comma is complete for a free-format read (the rest is a
// comment: nothing), not for an edit descriptor. The advice names the number
// meant where it is clear: "7,5" is 7.5 and "1,000,000" is 1000000; it names
// both readings of "7,500" (7.500 or 7500), and of "20,30" (20.30, or the two
// values 20 and 30) for a key that takes a whole number.
std::optional<CommaValue> decimal_comma_value(std::string_view text, ValueRead how, bool whole_number,
                                              std::string_view key);

// The stop for a value written with a comma: the first line names the value's
// key and place ("key tgal in file m1.par, line 5," or "key tgal on the
// command line") and shows what was written; the second says what to write.
[[noreturn]] void decimal_comma_stop(const std::string& place, const std::string& shown, const CommaValue& c);

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
