// Text files read whole into memory and walked line by line, with a cursor that
// can step back one line (a Fortran BACKSPACE). Reading never creates a file.
// Lines end at "\n"; a "\r" before it is dropped; a last line without a line
// end is still a line; an empty file has no lines.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

class TextFile {
public:
    TextFile() = default;

    // Opens an existing file; a missing or unreadable file throws IoError naming it.
    static TextFile open(const std::string& path);
    // A file made from text in memory (tests, generated tables).
    static TextFile from_string(std::string name, std::string text);

    const std::string& name() const { return name_; }
    std::size_t line_count() const { return lines_.size(); }
    // Lines already consumed; the 1-based number of the next line is position()+1.
    std::size_t position() const { return pos_; }
    void rewind() { pos_ = 0; }
    void seek(std::size_t pos) { pos_ = pos; }
    bool at_end() const { return pos_ >= lines_.size(); }

    // The next line (without its line end) and advances; false at end of file.
    bool next(std::string_view& line);
    // The next line without advancing; false at end of file.
    bool peek(std::string_view& line) const;
    // Steps back one line (no effect at the start).
    void backspace() {
        if (pos_ > 0) --pos_;
    }
    std::string_view line(std::size_t i) const {  // 0-based
        return std::string_view(text_.data() + lines_[i].begin, lines_[i].size);
    }

    // Throws IoError "name:line: what" for the line last read (or the next one).
    [[noreturn]] void fail(const std::string& what) const;

private:
    // Lines as offsets into the text, so that copies and moves stay valid.
    struct Span {
        std::size_t begin;
        std::size_t size;
    };
    std::string name_;
    std::string text_;
    std::vector<Span> lines_;
    std::size_t pos_ = 0;
    void split();
};

// True when a file of that name exists and can be opened for reading.
bool file_exists(const std::string& path);

// Writes a whole file at once: the text goes to a temporary file beside it
// (the target's name followed by a unique suffix), which then replaces the
// target, so that a target is complete or absent. A failure removes the
// temporary file and throws IoError naming the target.
void write_file_atomic(const std::string& path, const std::string& text);

// Appends text to an existing file (the run log); a missing file is an IoError.
void append_existing(const std::string& path, const std::string& text);

}  // namespace qv
