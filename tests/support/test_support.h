// Helpers shared by the tests: a fresh temporary working folder, a console
// whose output is captured, and paths to the committed test data.
#pragma once

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "core/console.h"

namespace qv::test {

// Committed test data (tests/data/...).
std::string data_path(const std::string& rel);
// The build's bin folder (quelvo, qvgen).
std::string bin_path(const std::string& rel);

// Makes a fresh temporary folder, enters it, and on destruction goes back and
// removes it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return dir_; }
    std::string file(const std::string& name) const { return (dir_ / name).string(); }

private:
    std::filesystem::path dir_;
    std::filesystem::path prev_;
};

// A console writing into strings, with a scripted standard input.
struct CapturedConsole {
    std::ostringstream out;
    std::ostringstream err;
    std::istringstream in;
    Console con;
    explicit CapturedConsole(const std::string& input = "", bool interactive = true);
    std::vector<std::string> out_lines() const;
};

void write_text(const std::string& path, const std::string& text);
std::string read_text(const std::string& path);
std::vector<std::string> read_lines(const std::string& path);

// Runs a shell command; returns its exit status and fills out with its standard output.
int run_command(const std::string& cmd, std::string* out = nullptr);

}  // namespace qv::test
