#include "core/run_names.h"

#include <algorithm>

#include "core/run.h"
#include "io/format.h"
#include "io/textfile.h"

namespace qv {

std::string upto_blank(const std::string& s) {
    const std::size_t b = s.find(' ');
    return b == std::string::npos ? s : s.substr(0, b);
}

std::string trim_right(const std::string& s) {
    std::size_t n = s.size();
    while (n > 0 && (s[n - 1] == ' ' || s[n - 1] == '\t' || s[n - 1] == '\0')) --n;
    return s.substr(0, n);
}

Override split_override(const std::string& opt) {
    return {trim_right(opt.substr(0, std::min<std::size_t>(opt.size(), 10))), opt.size() > 10 ? opt.substr(10) : ""};
}

std::string clean_name_dir(const std::string& argv0) {
    const std::size_t p = argv0.find_last_of("/\\");
    return p == std::string::npos ? std::string() : argv0.substr(0, p + 1);
}

LongestName longest_result_file(const std::string& base, bool ssp_grid, bool pah_files, long pid) {
    // The suffix of a whole file's temporary name (write_file_atomic), with
    // room for the longest process number (seven digits), so that the longest
    // result name that fits does not change from run to run.
    const std::size_t whole = 4 + std::max<std::size_t>(7, std::to_string(pid).size()) + 1 + 6;
    LongestName l;
    auto consider = [&](const std::string& file, std::size_t suffix) {
        if (file.size() + suffix > l.length) l = LongestName{file, file.size() + suffix};
    };
    consider(base + ".out", whole);      // the run log
    consider(base + ".spe", whole);      // the angle average (directions take two digits at most)
    consider(base + ".spe.tmp", 0);      // its temporary name before the PAH step, created as it is
    if (ssp_grid) consider(base + ".ssp.spe", whole);
    if (pah_files) consider(base + ".spe.pah", whole);
    return l;
}

std::string data_folder_line(const RunNames& mn) {
    const std::string dir = trim_right(mn.name_dir);
    const std::string folder = dir.empty() ? std::string("the working folder") : dir;
    if (mn.started_as.empty()) return fio::list_line({"Data folder searched: " + folder});
    if (dir.empty())
        return fio::list_line({"Data folder searched: the working folder, since the program was started as " +
                               mn.started_as + ", a path without a folder"});
    return fio::list_line({"Data folder searched: " + dir + ", the folder part of the path " + mn.started_as +
                           " by which the program was started"});
}

std::string runlog_name(const Run& run) { return upto_blank(run.modname.name_res) + ".out"; }

void runlog_append(const Run& run, const std::vector<std::string>& lines) {
    if (lines.empty()) return;
    std::string text;
    for (const auto& l : lines) {
        text += l;
        text += '\n';
    }
    append_existing(runlog_name(run), text);
}

void runlog_append(const Run& run, const std::string& line) {
    runlog_append(run, std::vector<std::string>{line});
}

}  // namespace qv
