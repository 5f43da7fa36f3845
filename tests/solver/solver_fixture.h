// A run set up for the cloud solver's pieces: a fresh working folder, a data
// folder with generated grain tables (grey, plane or example), the clouds'
// grain mixture built from a MIXMOL section, the mode-2 parameters and the
// frequency and polar grids.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "core/run.h"
#include "core/stop.h"
#include "dust/grain_fixture.h"
#include "dust/grain_mix.h"
#include "generators.h"
#include "solver/solver_grids.h"
#include "solver/solver_output.h"
#include "solver/solver_state.h"
#include "support/test_support.h"

namespace qv::test {

// A folder of grain tables of one kind, written once per test program.
class SolverGrainDir {
public:
    explicit SolverGrainDir(qvgen::GrainTables kind) {
        std::random_device rd;
        dir_ = std::filesystem::temp_directory_path() / ("qvsolver-grains-" + std::to_string(rd()));
        std::filesystem::create_directories(dir_);
        qvgen::write_grain_tables(dir_.string(), kind);
        qvgen::write_solver_settings(dir_.string());
    }
    ~SolverGrainDir() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    std::string dir() const { return dir_.string() + "/"; }

private:
    std::filesystem::path dir_;
};

inline const std::string& grey_grain_dir() {
    static SolverGrainDir d(qvgen::GrainTables::grey);
    static const std::string s = d.dir();
    return s;
}

inline const std::string& solver_plane_dir() {
    static SolverGrainDir d(qvgen::GrainTables::plane);
    static const std::string s = d.dir();
    return s;
}

inline std::string stop_text(const Stop& s) {
    std::string t;
    for (const auto& l : s.lines) t += l + "\n";
    return t;
}

struct SolverRun {
    TempDir tmp;
    CapturedConsole cc;
    Run run{cc.con};
    SolverState& g = run.globals;

    explicit SolverRun(const std::string& dir = grey_grain_dir()) {
        write_text(tmp.file("m.par"), MixKeys().text("MIXMOL"));
        run.modname.name = "m";
        run.modname.name_dir = dir;
        taumix::genmix(run, 2);
        g.tgra = 1500.0f;
        g.tsil = 1200.0f;
        g.nom = "tmp1234";
        inppa2(g);
        fgrid(g, g.tc, g.grflag);
        ctgrid(g, g.ctarr, kSolverNct, 1);
    }

    // A uniform dust sphere from r0 to rmax with every species' inner edge at r0.
    void sphere(float r0, float rmax, float rho1 = 1.0f) {
        g.r0 = r0;
        g.rmax = rmax;
        rgrid(g.rarr, kSolverNr, r0, rmax, g.beta);
        for (int i = 1; i <= kSolverNct; ++i)
            for (int j = 1; j <= kSolverNsp + 1; ++j) g.rsgra(i, j) = r0;
        g.rho1 = rho1;
    }
};

}  // namespace qv::test
