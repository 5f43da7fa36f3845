#include "support/example_outputs.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <utility>

#include "core/quelvo.h"
#include "generators.h"
#include "support/model_fixture.h"

namespace qv::test {

namespace fs = std::filesystem;

std::vector<double> numbers(const std::string& text) {
    std::vector<double> v;
    std::istringstream s(text);
    std::string tok;
    while (s >> tok) {
        char* end = nullptr;
        const double x = std::strtod(tok.c_str(), &end);
        if (end != tok.c_str() && *end == '\0') v.push_back(x);
    }
    return v;
}

double number_after(const std::vector<std::string>& lines, const std::string& label, int from) {
    for (std::size_t k = from > 0 ? static_cast<std::size_t>(from) : 0; k < lines.size(); ++k) {
        const std::string& l = lines[k];
        const auto at = l.find(label);
        if (at == std::string::npos) continue;
        const auto v = numbers(l.substr(at + label.size()));
        if (!v.empty()) return v.front();
    }
    ADD_FAILURE() << "no line with " << label;
    return NAN;
}

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> v;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) v.push_back(l);
    return v;
}

SpectrumTable load_spectrum(const std::string& path) {
    SpectrumTable s;
    for (const std::string& line : read_lines(path)) {
        if (!line.empty() && line[0] == '#') {
            s.header.push_back(line);
            continue;
        }
        std::istringstream in(line);
        std::vector<double> row;
        std::string tok;
        bool ok = true;
        while (in >> tok) {
            char* end = nullptr;
            const double v = std::strtod(tok.c_str(), &end);
            ok = ok && end != tok.c_str() && *end == '\0' && std::isfinite(v);
            row.push_back(v);
        }
        if (!ok || row.size() != 9) s.bad.push_back(line);
        s.rows.push_back(row);
    }
    return s;
}

std::vector<std::vector<double>> spectrum_rows(const std::string& path) {
    const SpectrumTable t = load_spectrum(path);
    std::vector<std::vector<double>> good;
    for (const auto& r : t.rows)
        if (r.size() == 9 && std::all_of(r.begin(), r.end(), [](double x) { return std::isfinite(x); }))
            good.push_back(r);
    for (const auto& l : t.bad) ADD_FAILURE() << path << ": not nine numbers: " << l;
    return good;
}

fs::path fresh_folder(const std::string& prefix) {
    const fs::path dir = fs::temp_directory_path() / (prefix + "-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

void write_run_folder(const fs::path& dir) {
    fs::create_directories(dir);
    qvgen::write_example_data(dir.string());
    fs::create_symlink(bin_path("quelvo"), dir / "quelvo");
}

void copy_example_par(const fs::path& dir, const std::string& model) {
    fs::copy_file(std::string(QV_SOURCE_DIR) + "/examples/" + model + ".par", dir / (model + ".par"));
}

void write_example_folder(const fs::path& dir) {
    write_run_folder(dir);
    qvgen::write_example_model_files(dir.string());
    copy_example_par(dir, "example");
}

int run_quelvo(const fs::path& dir, const std::string& args, std::string* out, const std::string& env) {
    const std::string vars = env.empty() ? "" : env + " ";
    return run_command("cd '" + dir.string() + "' && " + vars + "./quelvo " + args + " 2>&1", out);
}

int run_main(CapturedConsole& cc, std::vector<std::string> args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return quelvo_main(static_cast<int>(args.size()), argv.data(), cc.con);
}

int run_quelvo_main(const std::string& argv0, const std::vector<std::string>& args, CapturedConsole& cc) {
    std::vector<std::string> all = {argv0};
    all.insert(all.end(), args.begin(), args.end());
    return run_main(cc, std::move(all));
}

ExampleModelRun::ExampleModelRun(const std::string& model) { argv0 = write_example_model(model, dir.file("data")); }

int ExampleModelRun::run(const std::vector<std::string>& args, CapturedConsole& cc) const {
    return run_quelvo_main(argv0, args, cc);
}

}  // namespace qv::test
