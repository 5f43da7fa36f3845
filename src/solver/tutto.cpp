#include "solver/tutto.h"

#include <cmath>
#include <string>
#include <vector>

#include "core/console.h"
#include "core/run.h"
#include "io/format.h"
#include "io/textfile.h"
#include "numerics/quadrature.h"
#include "solver/central_source.h"
#include "solver/dust_geometry.h"
#include "solver/emergent_spectra.h"
#include "solver/grain_temperatures.h"
#include "solver/interior_rays.h"
#include "solver/luminosity_measures.h"
#include "solver/opacities.h"
#include "solver/solver_grains.h"
#include "solver/solver_grids.h"
#include "solver/solver_output.h"
#include "solver/solver_state.h"
#include "solver/source_function.h"

namespace qv {

namespace {

// The polar angle along which every optical depth of the solve is measured.
constexpr float kEquator = 1.5707964f;

struct Driver {
    Run& run;
    SolverState& g;
    SolverLines& log;
    const Console& con;

    // Records to the log only.
    void to_log(std::string_view format, std::initializer_list<fio::Item> items) {
        for (std::string& l : fio::write_records(format, items)) log.push_back(std::move(l));
    }
    // Records to the log and to standard output.
    void both(const std::vector<std::string>& lines) {
        for (const std::string& l : lines) {
            log.push_back(l);
            con.line(l);
        }
    }
    void both(std::string_view format, std::initializer_list<fio::Item> items) {
        both(fio::write_records(format, items));
    }
    bool flag(int i) const { return g.outfla[static_cast<std::size_t>(i)]; }

    float tau_at(float lf) {
        float tau = 0.0f;
        taurad(run, lf, kEquator, g.cthe1, g.ctarr, run.taumix.agra, run.taumix.dgra,
               run.taumix.xgra, g.rsgra, kSolverNsp, kSolverNgr, kSolverNct, tau);
        return tau;
    }
    void log_tau(float tau, float lambda) {
        to_log("(/'TAUE = ',G15.4,'a ',F10.3,' micron')", {tau, lambda});
    }

    // The luminosity of the source: the integral of alint over theta (0..pi/2)
    // and the natural logarithm of the frequency over the source's range.
    void source_luminosity() {
        const float x1 = 2.3025851f * g.lfarr(g.nlf1_ajn);
        const float x2 = 2.3025851f * g.lfarr(g.nlf2_ajn);
        g.al46 = quad2d(
            con, x1, x2, [](float x) { return alinf(x); }, [](float x) { return alsup(x); },
            [this](float x, float th) { return alint(run, x, th); }, 0.001f);
        g.al46tru = g.al46 * 16.0f * 3.141593f * 3.141593f / 1.0e16f;
    }

    void opacities_and_direct_field(int mode) {
        gensig(run, g.sigarr, g.rhoarr, run.taumix.agra, g.ntil, g.rarr, g.rsgra, kSolverNr,
               kSolverNct, kSolverNsp);
        genalf(run, mode);
        gentau(run);
        genjn(run);
    }

    void luminosity_blocks_after_field() {
        genl(run);
        outas3(g.farr, kSolverNr, kSolverNct, kSolverNnu + 1, log, "FARR  ", flag(12));
        outarr(g.larr, kSolverNr, log, "LARR  ", flag(11));
        geny(run);
        outarr(g.yarr, kSolverNr, log, "YARR  ", flag(11));
        gensf(g.sfarr, g.yarr, g.larr, g.al46, kSolverNr);
        outarr(g.sfarr, kSolverNr, log, "SFARR ", flag(11));
    }
};

}  // namespace

void tutto(Run& run, int mode) { tutto(run, mode, TuttoOptions{}); }

void tutto(Run& run, int mode, const TuttoOptions& opt) {
    SolverState& g = run.globals;
    const Console& con = run.con;
    const double start = con.wall_seconds();

    // Output settings, then the log of this solve (written at its end).
    g.scaani = false;
    g.stokes = false;
    inpof(run.modname, g.outfla, kSolverNflags, g.dirarr, kSolverMaxDirs, g.ncted, g.lamarr,
          kSolverMaxLams, g.nmapd, mode);
    const std::string stem = solver_stem(g);
    g.outlog.clear();
    g.pdit_fallback = {};
    Driver d{run, g, g.outlog, con};
    SolverLines& log = g.outlog;

    inppa2(g);
    con.line(fio::list_line({" toro"}));
    outpar(g, log);

    for (int k = 1; k <= 10; ++k) g.tsgra(k) = g.tgra;
    for (int k = 11; k <= 20; ++k) g.tsgra(k) = std::fabs(g.tsil);

    log.push_back(fio::list_line({"CARATTERISTICHE DEI GRANI:"}));
    outarr(run.taumix.agra, kSolverNsp, log, "AGRA  ", true);
    outarr(run.taumix.dgra, kSolverNsp, log, "DGRA  ", true);
    outarr(run.taumix.xgra, kSolverNsp, log, "XGRA  ", true);

    ntilde(run.taumix.agra, run.taumix.dgra, run.taumix.xgra, g.ntil, kSolverNsp);
    outarr(g.ntil, kSolverNsp, log, "NTIL  ", d.flag(2));

    fgrid(g, g.tc, g.grflag);
    genq(run);
    outar2(g.qaarr, kSolverNnu, kSolverNsp, log, "QAARR ", d.flag(2));
    outar2(g.qsarr, kSolverNnu, kSolverNsp, log, "QSARR ", d.flag(2));
    outar2(g.qearr, kSolverNnu, kSolverNsp, log, "QEARR ", d.flag(2));

    ctgrid(g, g.ctarr, kSolverNct, 1);
    outarr(g.ctarr, kSolverNct, log, "CTARR ", d.flag(1));

    // The central source of this solve, its luminosity, the inner radius.
    run.projnbu.loaded = false;
    prejnssp(run);
    d.source_luminosity();
    r0min(run);

    g.rmax = outer_radius(g.r0, g.rmsr0);
    d.to_log("(/'Pongo R0   = ',G15.4/'Pongo RMAX = ',G15.4)", {g.r0, g.rmax});
    rgrid(g.rarr, kSolverNr, g.r0, g.rmax, g.beta);
    outarr(g.rarr, kSolverNr, log, "RARR  ", d.flag(1));

    normalise_density(run, log);
    genrho(g);
    shape_factor(g);
    d.both("(' approximate shape factor = ',G10.3)", {g.shafac});
    outas2(g.rhoarr, kSolverNr, kSolverNct, log, "RHOARR", d.flag(3));

    clejd(g.jdarr, kSolverNr, kSolverNct, kSolverNnu, kSolverNdir);

    // Inner edges and temperatures in the source light alone (the diffuse field
    // is still zero), holding the optical depth at TAUE while the edges move.
    const float lf_ref = std::log10(3.0e14f / g.altau);
    d.both("(/' Iterazioni per TARR e RSGRA iniziale (solo nucleo):')", {});
    const int max_passes = opt.max_initial_passes;
    for (int it = 1; it <= max_passes; ++it) {
        d.both({fio::list_line({it})});
        d.opacities_and_direct_field(mode);
        gent(run, true);
        renormalise_density(run, log);
        if (!g.agflag) break;
        if (it == max_passes)
            d.both({fio::list_line({" Warning: grains still sublimating after", max_passes,
                                    "passes; the solve goes on with the inner edges of the "
                                    "last pass"})});
    }
    if (opt.stage) opt.stage("initial loop");
    outas3(g.tarr, kSolverNr, kSolverNct, kSolverNsp, log, "TARR  ", d.flag(8));
    outar2(g.rsgra, kSolverNct, kSolverNsp + 1, log, "RSGRA ", d.flag(1));

    // Passes of temperatures, source function and diffuse field.
    d.both("(/' Iterazioni corpose per TARR e RSGRA (nucleo e polvere):')", {});
    for (int it = 1; it <= g.ncic + 1; ++it) {
        d.both({fio::list_line({it})});
        gensig(run, g.sigarr, g.rhoarr, run.taumix.agra, g.ntil, g.rarr, g.rsgra, kSolverNr,
               kSolverNct, kSolverNsp);
        outas3(g.sigarr, kSolverNr, kSolverNct, kSolverNsp, log, "SIGARR", d.flag(4));
        genalf(run, mode);
        outas3(g.alfarr, kSolverNr, kSolverNct, kSolverNnu, log, "ALFARR", d.flag(5));
        gentau(run);
        outas3(g.tauarr, kSolverNr, kSolverNct, kSolverNnu, log, "TAUARR", d.flag(6));
        genjn(run);
        outas3(g.jnarr, kSolverNr, kSolverNct, kSolverNnu, log, "JNARR ", d.flag(7));
        if (it == 1) {
            d.source_luminosity();
            inif(g.farr, g.jnarr, kSolverNr, kSolverNct, kSolverNnu);
            genl(run);
            outas3(g.farr, kSolverNr, kSolverNct, kSolverNnu + 1, log, "FARR  ", d.flag(12));
            g.al46 = g.larr(1);
            d.to_log("(//'AL46tru = ',G15.4,20X,'AL46 = ',G15.4)", {g.al46tru, g.al46});
            outarr(g.larr, kSolverNr, log, "LARR  ", d.flag(11));
            geny(run);
            outarr(g.yarr, kSolverNr, log, "YARR  ", d.flag(11));
            gensf(g.sfarr, g.yarr, g.larr, g.al46, kSolverNr);
            outarr(g.sfarr, kSolverNr, log, "SFARR ", d.flag(11));
        } else {
            gent(run, g.suflag);
            outar2(g.rsgra, kSolverNct, kSolverNsp + 1, log, "RSGRA ", d.flag(1));
            outas3(g.tarr, kSolverNr, kSolverNct, kSolverNsp, log, "TARR  ", d.flag(8));
        }
        gens(run);
        if (it <= g.ncic) {
            genjd(g, opt.path);
            if (opt.stage) opt.stage("genjd");
            d.luminosity_blocks_after_field();
            if (g.jpflag) genjp(run);
        }
    }
    // With flutmc: the small grains that emitted at their equilibrium temperature.
    if (const std::string l = pdit_fallback_line(g); !l.empty()) d.both({l});

    // Optical depths along the equator at the reference wavelength, 1 and 0.3 micron.
    const float tau_ref = d.tau_at(lf_ref);
    d.log_tau(tau_ref, g.altau);
    d.log_tau(d.tau_at(14.477121f), 1.0f);
    d.log_tau(d.tau_at(15.0f), 0.3f);

    if (d.flag(13)) {
        genspe(run, opt.path);
        if (opt.stage) opt.stage("genspe");
        outarr(g.dirarr, g.ncted, log, "DIRARR", true);
        outarr(g.lcarr, g.ncted, log, "LCARR ", true);
        outarr(g.ldarr, g.ncted, log, "LDARR ", true);
        for (std::string& l : outspe(g)) log.push_back(std::move(l));
        // The bolometric mean over the directions, in 1e46 erg/s.
        const float factor = g.simequ ? 0.5f : 0.25f;
        const float aldt = direction_sum(g, [&](int i) { return g.ldarr(i); }, factor, 0.017453294f);
        const float alct = direction_sum(g, [&](int i) { return g.lcarr(i); }, factor, 0.017453294f);
        d.to_log("(/'ALDT46 = ',G15.4/'ALCT46 = ',G15.4)", {aldt, alct});
        write_file_atomic(stem + ".SPE", spectrum_file_text(g, tau_ref));
    }
    if (d.flag(14)) {
        write_file_atomic(stem + ".MAP", map_file_text(g, opt.path));
        if (opt.stage) opt.stage("maps");
    }

    for (int i = 1; i <= 24; ++i) g.totepahtau(i) = 0.0f;

    const float seconds = static_cast<float>(con.wall_seconds() - start);
    d.both("(/' Impiegati',F10.2,' secondi')", {seconds});
    write_solver_file(stem + ".OUT", log);
}

}  // namespace qv
