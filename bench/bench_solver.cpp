// One solve of the cloud solver, tutto(2), for each cloud type of the example
// model (optical depth at 1 micron and radius as the example's run log gives
// them), with the example data set's grain tables and MIXMOL mixture and a
// young-star source of 1e6 solar luminosities (a 3e4 K blackbody). Counters:
// the cpu seconds of the initial sublimation loop, of each diffuse field
// (genjd), of the emergent spectra (genspe), and the peak resident memory.
// Read the CPU column on a busy machine.
//
//   solver/tutto/type1   tau 10.87, radius 16 pc
//   solver/tutto/type2   tau 3.09, radius 30 pc
//   solver/genjd/type1   one diffuse field on the solved state, shared path
//   solver/genjd_general/type1   the same through the general path (every
//                        point's polar angle)
//   solver/genspe/type1  the emergent spectra on the solved state, shared path
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

#include <ctime>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "core/console.h"
#include "core/run.h"
#include "dust/grain_mix.h"
#include "generators.h"
#include "solver/emergent_spectra.h"
#include "solver/interior_rays.h"
#include "solver/solver_state.h"
#include "solver/tutto.h"

namespace {

using namespace qv;

struct CloudType {
    float tau;
    float radius_pc;
};
constexpr CloudType kTypes[] = {{10.87f, 16.0f}, {3.09f, 30.0f}};

double bb_lambda(double lam_a, double t) {
    const double lam = lam_a * 1e-8;
    const double x = 1.4387769 / (lam * t);
    if (x > 700.0) return 0.0;
    return 2.0 * 6.62607e-27 * 2.99792458e10 * 2.99792458e10 / std::pow(lam, 5.0) /
           std::expm1(x) * 1e-8;
}

std::string read_file(const std::string& path) {
    std::ifstream f(path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

// A working folder with the example data, the mixture built and the source written.
struct SolverBench {
    std::filesystem::path prev = std::filesystem::current_path();
    std::filesystem::path dir;
    std::ostringstream sink;
    Console con;
    Run run{con};

    explicit SolverBench(const CloudType& t) {
        namespace fs = std::filesystem;
        con.out = &sink;
        dir = fs::temp_directory_path() / ("qvbench-solver-" + std::to_string(::getpid()));
        fs::create_directories(dir);
        fs::current_path(dir);
        qvgen::write_grain_tables(dir.string(), qvgen::GrainTables::example);
        qvgen::write_solver_settings(dir.string());
        {
            std::ofstream par("m.par");
            par << read_file(std::string(QV_SOURCE_DIR) + "/examples/example.par");
        }
        run.modname.name = "m";
        run.modname.name_dir = dir.string() + "/";
        taumix::genmix(run, 2);
        SolverState& g = run.globals;
        g.tgra = 1500.0f;
        g.tsil = 1200.0f;
        g.nom = "tmp0001";
        g.taue = t.tau;
        g.rmsr0 = t.radius_pc * 3.086e18f;
        const double l = 3.827e39, temp = 3.0e4, sigma = 5.670374e-5;
        std::ofstream ssp("tmp0001.SSP");
        for (int i = 0; i < 600; ++i) {
            const double lam = 50.0 * std::pow(4e6, i / 599.0);
            const double llam =
                l * 3.14159265358979 * bb_lambda(lam, temp) / (sigma * std::pow(temp, 4.0)) / 1e30;
            char buf[64];
            std::snprintf(buf, sizeof buf, "%.7e %.7e\n", lam, llam);
            ssp << buf;
        }
    }
    ~SolverBench() {
        std::error_code ec;
        std::filesystem::current_path(prev, ec);
        std::filesystem::remove_all(dir, ec);
    }
};

// Process cpu seconds: the stages are timed by the cpu they take, so that a
// busy machine does not inflate them.
double now() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

void peak_memory(benchmark::State& state) {
    struct rusage ru {};
    getrusage(RUSAGE_SELF, &ru);
    state.counters["peak memory [MB]"] = static_cast<double>(ru.ru_maxrss) / 1024.0;
}

void BM_Tutto(benchmark::State& state) {
    SolverBench b(kTypes[state.range(0)]);
    double initial = 0.0, genjd = 0.0, genspe = 0.0;
    int njd = 0;
    for (auto _ : state) {
        TuttoOptions opt;
        double t0 = now();
        opt.stage = [&](const char* s) {
            const double t = now();
            const std::string st = s;
            if (st == "initial loop") initial += t - t0;
            if (st == "genjd") genjd += t - t0, ++njd;
            if (st == "genspe") genspe += t - t0;
            t0 = t;
        };
        tutto(b.run, 2, opt);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["initial loop [s]"] = initial / n;
    state.counters["genjd per pass [s]"] = njd > 0 ? genjd / njd : 0.0;
    state.counters["genspe [s]"] = genspe / n;
    state.counters["r0 [cm]"] = static_cast<double>(b.run.globals.r0);
    state.counters["rmax/r0"] = static_cast<double>(b.run.globals.rmax / b.run.globals.r0);
    peak_memory(state);
}
BENCHMARK(BM_Tutto)->Name("solver/tutto")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
// Arg 0: the shared path, 1: the general path.

void BM_Genjd(benchmark::State& state) {
    SolverBench b(kTypes[0]);
    tutto(b.run, 2);
    const RayPath path = state.range(0) == 0 ? RayPath::shared : RayPath::general;
    for (auto _ : state) {
        SolverState& g = b.run.globals;
        genjd(g, path);
        benchmark::DoNotOptimize(g.jarr.data());
    }
}
BENCHMARK(BM_Genjd)->Name("solver/genjd")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_Genspe(benchmark::State& state) {
    SolverBench b(kTypes[0]);
    tutto(b.run, 2);
    for (auto _ : state) {
        genspe(b.run, RayPath::shared);
        benchmark::DoNotOptimize(b.run.globals.spdarr.data());
    }
}
BENCHMARK(BM_Genspe)->Name("solver/genspe")->Unit(benchmark::kMillisecond);

}  // namespace
