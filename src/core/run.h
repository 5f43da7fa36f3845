// Run: the one object that owns every record of a galaxy model for the whole run.
// Stages take the Run (or the records they use) by reference.
#pragma once

#include <array>
#include <functional>
#include <vector>

#include "clouds/cloud_types.h"
#include "clouds/co_lines.h"
#include "clouds/lvg_solver.h"
#include "clouds/hii_library.h"
#include "core/birth_grid.h"
#include "core/console.h"
#include "core/glotauspe.h"
#include "core/parameters.h"
#include "core/run_names.h"
#include "dust/cirrus_grid.h"
#include "dust/cirrus_light.h"
#include "dust/cirrus_run.h"
#include "dust/cloud_setup.h"
#include "dust/column_density.h"
#include "dust/grain_mix.h"
#include "dust/grain_optics.h"
#include "dust/pah_bands.h"
#include "dust/pah_emission.h"
#include "dust/pah_profiles.h"
#include "dust/temperature_distribution.h"
#include "emulator/neural_network.h"
#include "emulator/sed_emulator.h"
#include "numerics/search.h"
#include "solver/central_source.h"
#include "solver/dust_geometry.h"
#include "solver/grain_temperatures.h"
#include "solver/solver_state.h"

namespace qv {

struct Run {
    explicit Run(Console& c) : con(c) {}
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

    Console& con;

    NrKelu nr_kelu;
    PoinhWork poinh_work;

    RunNames modname;
    RunParameters parametri;
    QabsTail trucco;
    Glotauspe glotauspe;
    BirthGrid remind;
    SynthWork prointegrando;
    CloudSetup glopalla;
    GrainMix mix;
    SolverGrainMix taumix;
    GrainTables q_draine;
    PahBands glopah;
    SolverPahBands glopahtau;
    TemperatureDistribution glopdit;     // small grains of the diffuse dust
    TemperatureDistribution glopdittau;  // small grains of the cloud solver
    PahEmissionWork qvpah;               // what pah keeps between calls
    SolverState globals;
    SourceTable projnbu;     // the solver's central source
    TauDirection protau;     // direction of the solver's optical-depth integral
    Prot4 prot4;             // arguments of the cloud solver's residual in the source light
    Prosubli prosubli;       // ... and of its sublimation-radius search
    CloudTypes mc_righe;
    HiiLibrary modhii;       // the HII library file loaded and its selection
    SedEmulator ann_qve;
    NeuralNetwork network;   // the network the emulator runs
    CirrusGrid glocold;      // the cirrus grid and its densities
    GrainEquilibrium tequi;  // big-grain absorption of the cirrus
    RayDirection protrco;    // direction of the last ray of the column densities
    CirrusRun cirrus;        // the state of the cirrus model's call
    PahProfileWork pahpro;   // the PAH profile step of the spectra files
    LvgState lvgdatos;       // the CO-line solver: molecule data and the current model
    LvgWork lvgsubruti;      // its line emission and work
    LvgGrid lvgparam;        // the LVG section: the grid of CO-line models

    // State of the driver that outlives one call of qvmain.
    float snratet = 0.0f;

    // Called by the driver after each stage with its name (a seam for timing
    // the stages; unset in a normal run).
    std::function<void(const char* stage)> stage_done;

    // The cloud solver and the cloud emulator as the clouds' dust emission calls
    // them (seams for tests; unset in a normal run: tutto and ann_quelvo_mc_only).
    std::function<void(Run&, int mode)> cloud_solver;
    std::function<void(Run&, std::array<int, 2> arch, const std::vector<float>& x, bool write_tmp)>
        cloud_emulator;
};

// The run log <name_res>.out.
std::string runlog_name(const Run& run);
// Appends lines to the existing run log (opened, written and closed again).
void runlog_append(const Run& run, const std::vector<std::string>& lines);
void runlog_append(const Run& run, const std::string& line);

}  // namespace qv
