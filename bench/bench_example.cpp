// The whole example model, stage by stage: the process time of each stage of the
// driver and the peak resident memory of the process, as counters.
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "core/console.h"
#include "core/quelvo.h"
#include "core/run.h"
#include "generators.h"

namespace {

std::string read_file(const std::string& path) {
    std::ifstream f(path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

void BM_ExampleRun(benchmark::State& state) {
    namespace fs = std::filesystem;
    const fs::path prev = fs::current_path();
    const fs::path dir = fs::temp_directory_path() / ("qvbench-example-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    fs::current_path(dir);
    qvgen::write_ssp_tables(dir.string());
    qvgen::write_grain_tables(dir.string(), false);
    qvgen::write_solver_settings(dir.string());  // the clouds' solves read them
    qvgen::write_histories(dir.string());
    {
        std::ofstream par("example.par");
        par << read_file(std::string(QV_SOURCE_DIR) + "/examples/example.par");
    }
    std::ostringstream sink;
    qv::Console con;
    con.out = &sink;

    std::map<std::string, double> stage_seconds;
    for (auto _ : state) {
        qv::Run run(con);
        double last = con.cpu_seconds();
        run.stage_done = [&](const char* stage) {
            const double now = con.cpu_seconds();
            stage_seconds[stage] += now - last;
            last = now;
        };
        std::string argv0 = (dir / "quelvo").string(), model = "example";
        std::vector<char*> argv = {argv0.data(), model.data(), nullptr};
        run_quelvo(run, 2, argv.data());
        sink.str("");
    }
    for (const auto& [stage, s] : stage_seconds)
        state.counters[stage + " [s]"] = s / static_cast<double>(state.iterations());
    struct rusage ru {};
    getrusage(RUSAGE_SELF, &ru);
    state.counters["peak memory [MB]"] = static_cast<double>(ru.ru_maxrss) / 1024.0;

    fs::current_path(prev);
    std::error_code ec;
    fs::remove_all(dir, ec);
}

BENCHMARK(BM_ExampleRun)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace
