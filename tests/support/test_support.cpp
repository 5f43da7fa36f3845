#include "support/test_support.h"

#include <array>
#include <cstdio>
#include <fstream>
#include <random>
#include <stdexcept>

#include <sys/wait.h>

namespace qv::test {

std::string data_path(const std::string& rel) { return std::string(QV_TEST_DATA_DIR) + "/" + rel; }
std::string bin_path(const std::string& rel) { return std::string(QV_BIN_DIR) + "/" + rel; }

TempDir::TempDir() {
    prev_ = std::filesystem::current_path();
    std::random_device rd;
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto p = std::filesystem::temp_directory_path() /
                 ("qvtest-" + std::to_string(rd()) + "-" + std::to_string(attempt));
        if (std::filesystem::create_directory(p)) {
            dir_ = p;
            break;
        }
    }
    if (dir_.empty()) throw std::runtime_error("cannot make a temporary folder");
    std::filesystem::current_path(dir_);
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::current_path(prev_, ec);
    std::filesystem::remove_all(dir_, ec);
}

CapturedConsole::CapturedConsole(const std::string& input, bool interactive) : in(input) {
    con.out = &out;
    con.err = &err;
    con.in = &in;
    con.stdin_interactive = [interactive] { return interactive; };
    con.wait_for_sigterm = [] {};
    con.pid = [] { return 4242L; };
    con.cpu_seconds = [] { return 0.0; };
    con.wall_seconds = [] { return 0.0; };
    con.clock_mmssms = [] { return 1234; };
}

std::vector<std::string> CapturedConsole::out_lines() const {
    std::vector<std::string> lines;
    std::istringstream s(out.str());
    std::string l;
    while (std::getline(s, l)) lines.push_back(l);
    return lines;
}

void write_text(const std::string& path, const std::string& text) {
    std::ofstream f(path, std::ios::binary);
    f << text;
}

std::string read_text(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) throw std::runtime_error("cannot read " + path);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

std::vector<std::string> read_lines(const std::string& path) {
    std::vector<std::string> lines;
    std::istringstream s(read_text(path));
    std::string l;
    while (std::getline(s, l)) lines.push_back(l);
    return lines;
}

int run_command(const std::string& cmd, std::string* out) {
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return -1;
    std::array<char, 4096> buf{};
    std::string text;
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) text.append(buf.data(), n);
    int st = pclose(p);
    if (out) *out = text;
    return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

}  // namespace qv::test
