// Damaged history files run through the quelvo program: a rate or a value
// that is not a finite number, a negative rate where the reader does not floor
// it to 0, and rates or masses so large that the galaxy's mass is not finite
// each end the run at the reader, naming the file and the line, with no result
// file beside the run log. Histories that the readers take but whose stars
// give no light, or light that is not a finite number, end the run right after
// the synthesis, naming the files and the galaxy's mass. Either way the stop's
// lines end the run log, and no stage after the synthesis wrote in it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <iterator>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "generators.h"
#include "support/example_outputs.h"
#include "support/model_fixture.h"
#include "support/test_support.h"

namespace qv::test {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

// Replaces the k-th blank-separated token (1-based) of line n (1-based; 0:
// of every line that does not begin with "#").
void set_token(const std::string& file, int n, int k, const std::string& value) {
    std::vector<std::string> lines = read_lines(file);
    if (n == 0) {
        for (std::size_t i = 0; i < lines.size(); ++i)
            if (!lines[i].empty() && lines[i][0] != '#') set_token(file, static_cast<int>(i) + 1, k, value);
        return;
    }
    ASSERT_LE(static_cast<std::size_t>(n), lines.size()) << file;
    std::string& l = lines[static_cast<std::size_t>(n - 1)];
    std::size_t at = 0;
    for (int t = 1;; ++t) {
        at = l.find_first_not_of(' ', at);
        ASSERT_NE(at, std::string::npos) << file << ":" << n << " has no token " << k;
        const std::size_t end = std::min(l.find(' ', at), l.size());
        if (t == k) {
            l.replace(at, end - at, value);
            break;
        }
        at = end;
    }
    std::string text;
    for (const std::string& x : lines) text += x + "\n";
    write_text(file, text);
}

struct Edit {
    const char* file;
    int line, token;
    const char* value;
};

struct BadHistory {
    const char* what;
    const char* kind;   // generator's model: tav, pelto, sorvanto, or "" for the example's sf file
    const char* model;  // par file examples/<model>.par, or the example model
    std::vector<Edit> edits;
    int status;
    std::vector<std::string> words;  // in the stop's lines, which begin with the line holding the first
    const char* args = "";           // after the model name
};

void PrintTo(const BadHistory& c, std::ostream* os) {
    *os << "\"" << c.what << "\": " << (*c.kind ? c.kind : "example") << " model " << c.model;
    if (*c.args) *os << " " << c.args;
    for (const Edit& e : c.edits) *os << ", " << e.file << " line " << e.line << " token " << e.token << " = " << e.value;
    *os << ", status " << c.status;
}

// What the stages after the synthesis write into the run log (the present
// rate, the dust preparation, the clouds, the cirrus, the end of the run).
const char* const kLaterStages[] = {"Present SFR=", "Mass of molecular clouds", "tau palla a 1 micron=",
                                    "Rsubl=",       "n_tau_mc=",                "Mdust =",
                                    "tau cirrus",   "used cpu time ="};

class BadHistoryRun : public ::testing::TestWithParam<BadHistory> {};

std::set<std::string> listing(const fs::path& dir) {
    std::set<std::string> s;
    // The folder's lock file holds no result: every run in the folder shares it.
    for (const auto& e : fs::directory_iterator(dir)) 
        if (e.path().filename() != ".quelvo.lock") s.insert(e.path().filename().string());
    return s;
}

TEST_P(BadHistoryRun, StopsAtTheReaderNamingFileAndLine) {
    const BadHistory& c = GetParam();
    TempDir dir;
    const std::string d = dir.path().string();
    std::string model = c.model;
    if (std::string(c.kind).empty()) {
        write_example_model(model, dir.file("data"));
        fs::create_symlink(bin_path("quelvo"), dir.path() / "data" / "quelvo");
    } else {
        fs::create_directories(dir.path() / "data");
        qvgen::write_example_data(dir.file("data"));
        qvgen::write_external_galaxy(c.kind, d);
        fs::copy_file(std::string(QV_SOURCE_DIR) + "/examples/" + model + ".par", dir.path() / (model + ".par"));
        fs::create_symlink(bin_path("quelvo"), dir.path() / "data" / "quelvo");
    }
    for (const Edit& e : c.edits) set_token(e.file, e.line, e.token, e.value);
    const std::set<std::string> before = listing(dir.path());
    std::string out;
    const int rc = run_command("cd '" + d + "' && ./data/quelvo " + model + " " + c.args + " 2>&1", &out);
    EXPECT_EQ(rc, c.status) << c.what << "\n" << out;
    EXPECT_THAT(out, ::testing::Not(HasSubstr("cputime="))) << c.what;
    // The stop: the output from the last line that holds the first word on.
    const std::vector<std::string> said = split_lines(out);
    const auto first = std::find_if(said.rbegin(), said.rend(),
                                    [&](const std::string& l) { return l.find(c.words.at(0)) != std::string::npos; });
    ASSERT_TRUE(first != said.rend()) << c.what << ": no line holds '" << c.words[0] << "' in\n" << out;
    const std::vector<std::string> stop(std::prev(first.base()), said.end());
    std::string stop_text;
    for (const std::string& l : stop) stop_text += l + "\n";
    for (const std::string& w : c.words) EXPECT_THAT(stop_text, HasSubstr(w)) << c.what;
    // The run log ends with the stop's lines; it holds no line of a stage after
    // the synthesis, and no number of it lost its value on the way to the stop
    // (the stop's own lines may quote the bad value).
    ASSERT_TRUE(fs::exists(dir.path() / (model + ".out"))) << c.what;
    const std::vector<std::string> log = read_lines(dir.file(model + ".out"));
    ASSERT_GE(log.size(), stop.size() + 1) << c.what;
    EXPECT_EQ(std::vector<std::string>(log.end() - static_cast<long>(stop.size()), log.end()), stop) << c.what;
    for (auto l = log.begin(); l != log.end() - static_cast<long>(stop.size()); ++l) {
        for (const char* later : kLaterStages) EXPECT_THAT(*l, ::testing::Not(HasSubstr(later))) << c.what;
        for (const char* bad : {"NaN", "Infinity"}) EXPECT_THAT(*l, ::testing::Not(HasSubstr(bad))) << c.what;
    }
    // Nothing beside the run log.
    std::set<std::string> added;
    for (const std::string& f : listing(dir.path()))
        if (!before.count(f)) added.insert(f);
    EXPECT_TRUE(added.empty() || added == std::set<std::string>{model + ".out"}) << c.what;
}

// Tokens of a tav quiescent row: step, snap, lookback, a, b, then the rates.
// Of a pelto row: time, then the rates. Of a sorvanto row: index, time, rate,
// Z, gas, stars, total. Of an sf row: index, age, rate, ...
INSTANTIATE_TEST_SUITE_P(
    Histories, BadHistoryRun,
    ::testing::Values(
        BadHistory{"tav rate NaN", "tav", "tav42", {{"tav_disk.42", 10, 7, "nan"}}, 2, {"tav_disk.42:10", "not a finite"}},
        BadHistory{"tav B-band ratio NaN", "tav", "tav42", {{"prop2.dat", 4, 3, "NaN"}}, 1,
                   {"prop2.dat line 4", "value 3 of galaxy", "not a finite number"}},
        BadHistory{"tav burst rate beyond the float range", "tav", "tav42",
                   {{"bursts_disk.42", 4, 4, "3.0e38"}, {"bursts_disk.42", 4, 5, "1.0e-3"}}, 1,
                   {"bursts_disk.42 line 4", "not finite numbers"}},
        BadHistory{"pelto negative rate", "pelto", "pelto", {{"gasoline_disk.sf", 6, 7, "-0.5"}}, 1,
                   {"gasoline_disk.sf line 6", "cannot be negative"}},
        BadHistory{"pelto rate infinite", "pelto", "pelto", {{"gasoline_disk.sf", 7, 8, "inf"}}, 2,
                   {"gasoline_disk.sf:7", "not a finite"}},
        BadHistory{"pelto rate beyond the float range per Gyr", "pelto", "pelto",
                   {{"gasoline_disk.sf", 8, 7, "1.0e30"}}, 1, {"gasoline_disk.sf line 8", "not finite numbers"}},
        BadHistory{"sorvanto negative rate", "sorvanto", "sorvanto", {{"QVmodl.disc.sf", 5, 3, "-1.0"}}, 1,
                   {"QVmodl.disc.sf line 5", "cannot be negative"}},
        BadHistory{"sorvanto rate NaN", "sorvanto", "sorvanto", {{"QVmodl.bulg.sf", 6, 3, "nan"}}, 2,
                   {"QVmodl.bulg.sf:6"}},
        BadHistory{"sorvanto rate beyond the float range per Gyr", "sorvanto", "sorvanto",
                   {{"QVmodl.disc.sf", 9, 3, "1.0e30"}}, 1, {"QVmodl.disc.sf line 9", "not finite numbers"}},
        BadHistory{"sorvanto total masses beyond the float range", "sorvanto", "sorvanto",
                   {{"QVmodl.disc.sf", 124, 7, "3.0e38"}, {"QVmodl.bulg.sf", 124, 7, "3.0e38"}}, 1,
                   {"QVmodl.disc.sf line", "galaxy's mass not a finite number"}},
        BadHistory{"sf rate NaN", "", "m1", {{"m1.sf", 5, 3, "NaN"}}, 2, {"m1.sf:5", "not a finite"}},
        // Rows at 12.9, 13.0 and 13.1 Gyr: the rate at tgal 13 is below 0.
        BadHistory{"sf negative rate at tgal with mmolfraz above 1", "", "m1",
                   {{"m1.sf", 133, 3, "-1e-12"}, {"m1.sf", 134, 3, "-1e-12"}, {"m1.sf", 135, 3, "-1e-12"}}, 1,
                   {"ERROR: the star-formation rate at tgal in m1.sf is", "cannot be negative with mmolfraz="},
                   "mmolfraz=5"},
        // The example's time series (istarfo 1) has rows at 12.9, 13.0 and 13.1 Gyr on lines 132-134.
        BadHistory{"time series negative rate at tgal with mmolfraz above 1", "", "m1",
                   {{"example_ts.sf", 132, 3, "-1e-12"}, {"example_ts.sf", 133, 3, "-1e-12"},
                    {"example_ts.sf", 134, 3, "-1e-12"}},
                   1,
                   {"ERROR: the star-formation rate at tgal in example_ts.sf is", "cannot be negative with mmolfraz="},
                   "istarfo=1 namesf=example_ts mmolfraz=5"},
        BadHistory{"sf rates all 0", "", "m1", {{"m1.sf", 0, 3, "0.0"}}, 1,
                   {" ERROR: the stars give no light at tgal (galaxy mass  0.100000001     *10^12 Mo).",
                    " The history in m1.sf forms no stars that shine at tgal: give it star formation there. stop"}},
        BadHistory{"tav rate 1e38", "tav", "tav42", {{"tav_disk.42", 12, 7, "1.0e38"}}, 1,
                   {" ERROR: the stellar luminosity at tgal is not a finite number (galaxy mass   3.57142870E+25 *10^12 Mo).",
                    " The star-formation rates of the history in tav_disk.42, tav_bulge.42, bursts_disk.42, "
                    "bursts_bulge.42, or the galaxy mass they give, are too large: change them there. stop"}},
        // The stop names both files of the model, the bulge's too.
        BadHistory{"pelto rate 2e29", "pelto", "pelto", {{"gasoline_disk.sf", 125, 9, "2.0e29"}}, 1,
                   {" ERROR: the stellar luminosity at tgal is not a finite number",
                    " The star-formation rates of the history in gasoline_disk.sf, gasoline_bulge.sf, or the galaxy "
                    "mass they give, are too large: change them there. stop"}},
        BadHistory{"sorvanto rates all 0", "sorvanto", "sorvanto",
                   {{"QVmodl.disc.sf", 0, 3, "0.0"}, {"QVmodl.bulg.sf", 0, 3, "0.0"}}, 1,
                   {" ERROR: the stars give no light at tgal", "QVmodl.disc.sf, QVmodl.bulg.sf"}},
        BadHistory{"sf rate beyond the float range per Gyr", "", "m1", {{"m1.sf", 7, 3, "1.0e36"}}, 1,
                   {"m1.sf line 7", "not finite"}}),
    [](const ::testing::TestParamInfo<BadHistory>& i) {
        std::string n;
        for (const char* p = i.param.what; *p; ++p) n += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
        return n;
    });

}  // namespace
}  // namespace qv::test
