#include "dust/cirrus.h"

#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/parfile.h"
#include "core/allocating.h"
#include "core/run.h"
#include "core/stop.h"
#include "dust/cirrus_grid.h"
#include "dust/cirrus_light.h"
#include "dust/cirrus_phases.h"
#include "dust/column_density.h"
#include "dust/spectra_files.h"
#include "io/format.h"
#include "io/listread.h"
#include "numerics/roots_sort.h"

namespace qv {

namespace cirrus {

namespace {

// The stop of a failed allocation of the cirrus model's arrays.
std::string colddust_allocation_error() { return fio::list_line({"ALLOCATION ERROR IN COLDDUST"}); }

// The emulator's own viewing directions, added for the disk geometries.
constexpr float kEmulatorDirections[5] = {0.0f, 31.4f, 56.3f, 78.5f, 90.0f};

}  // namespace

// The SPECTRA section up to the number of directions; f is left on the first
// direction's record.
TextFile spectra_section(Run& run) {
    CirrusRun& cr = run.cirrus;
    cr.NOMFIL = upto_blank(run.modname.name) + ".par";
    TextFile f = TextFile::open(cr.NOMFIL);
    if (!modname::search_key_in_file(f, RunNames::seckeys[0]))
        throw Stop(fio::list_line({"Key SPECTRA not found in file ", cr.NOMFIL}));
    fio::list_read_or_throw(f, {});
    int ndir = 0;
    fio::list_read_or_throw(f, {&ndir});
    // Every spectrum, the angle average included, needs a direction.
    if (ndir < 1)
        throw Stop(fio::list_line({"ERROR: the SPECTRA section of file ", cr.NOMFIL,
                                   " needs at least one viewing direction, ndir=", ndir}));
    cr.ndir = ndir;
    const bool emulator = cr.disk_like && run.parametri.annflag >= 2;
    cr.ndir_total = emulator ? ndir + 5 : ndir;
    return f;
}

void allocate_cirrus_record(Run& run) {
    CirrusRun& cr = run.cirrus;
    const int nlf = run.glopalla.nlf, ncom = run.remind.ncom, nz = run.remind.nz, nd = cr.ndir_total;
    allocating(colddust_allocation_error(), [&] {
        cr.DIRARR.resize(nd);
        cr.ADDED_DIR.resize(nd);
        cr.MSSPTZ.resize(nz);
        cr.FORMASTA.resize(nlf, ncom);
        cr.LUMMC.resize(nlf);
        cr.FORMAMC.resize(nlf);
        cr.FORMA.resize(nlf, ncom);
        cr.TXY.resize(nlf);
        cr.TXY1.resize(nlf);
        cr.QEFFW.resize(nlf, 40);
        cr.TAUXY.resize(nlf);
        cr.EX.resize(nlf);
        cr.EM.resize(nlf);
        cr.TMPEPAH.resize(24);
        cr.ETOT.resize(nlf);
        cr.LUMSTA_E.reshape({Bounds{1, nlf}, Bounds{0, nd}, Bounds{1, ncom}});
        cr.LUMMC_E.reshape({Bounds{1, nlf}, Bounds{0, nd}});
        cr.E2STA_E.reshape({Bounds{0, nd}});
        cr.E2MC_E.reshape({Bounds{0, nd}});
        cr.ATT.resize(nlf, ncom);
        run.tequi.qabsw.resize(nlf, 40);
    });
    cr.LAM_ANN.clear();
    cr.L_ANN.clear();
    cr.WRADIO.clear();
    cr.FRADIO.clear();
    cr.RADIO = false;
    cr.IRADIO = 0;
    cr.NWRADIO = 0;
    cr.Mdiff = cr.Mdust = cr.N0 = cr.rhou = 0.0f;
    cr.taue = cr.taup1 = cr.taup044 = cr.tauh = 0.0f;
    cr.Lin = cr.Lmc = cr.Lstar = cr.Ecir = 0.0f;
    cr.imin = 1;
    cr.CPUTIME1 = {};
    cr.CPUTIME2 = {};
    cr.GIROYTIME = cr.DISTMEDIATIME = cr.INTRHOTIME = cr.GIROLAMTIME = 0.0f;
    cr.cell = CirrusCell{};
    cr.cells_computed = 0;
    cr.cells_redone = 0;
    run.tequi.aint1 = 0.0f;
}

void read_directions(Run& run, TextFile& f) {
    CirrusRun& cr = run.cirrus;
    for (int d = 1; d <= cr.ndir; ++d) {
        fio::list_read_or_throw(f, {&cr.DIRARR(d)});
        const float a = cr.DIRARR(d);
        if (!valid_inclination(a))
            throw Stop(fio::list_line({"ERROR: viewing direction", d, " of the SPECTRA section of file ", cr.NOMFIL,
                                       " is", a, " degrees: inclinations go from 0 to 90 degrees"}));
    }
    // Each direction writes its own spectra file, named after its rounded
    // inclination: two that round alike would write the same file.
    auto degrees = [](float a) {
        std::string t = fio::edit_g(a, 12, 6);
        t.erase(0, t.find_first_not_of(' '));
        return trim_right(t);
    };
    for (int d = 2; d <= cr.ndir; ++d)
        for (int e = 1; e < d; ++e)
            if (direction_suffix(cr.DIRARR(e)) == direction_suffix(cr.DIRARR(d)))
                throw Stop({fio::list_line({"ERROR: viewing directions ", std::to_string(e), " and ", std::to_string(d),
                                            " of the SPECTRA section of file ", cr.NOMFIL, " (", degrees(cr.DIRARR(e)),
                                            " and ", degrees(cr.DIRARR(d)), " degrees)"}),
                            fio::list_line({"would both write the spectra file ", spectra_file_name(run, d),
                                            ": give each direction its own rounded inclination"})});
    if (cr.ndir_total > cr.ndir) {
        for (int k = 0; k < 5; ++k) {
            cr.DIRARR(cr.ndir + 1 + k) = kEmulatorDirections[k];
            cr.ADDED_DIR(cr.ndir + 1 + k) = 1.0f;
        }
        sort2(run.con, cr.ndir_total, cr.DIRARR.data(), cr.ADDED_DIR.data());
    }
}

float diffuse_gas_mass(const Run& run, float fgas) {
    const float f = run.glopalla.mmolfraz;
    return f >= 0.0f ? (1.0f - f) * fgas * run.remind.primordial_mass * run.mix.hsug : 0.0f;
}

void masses(Run& run, float fgas) {
    CirrusRun& cr = run.cirrus;
    const GrainMix& mx = run.mix;
    const RunParameters& p = run.parametri;
    cr.Mdiff = diffuse_gas_mass(run, fgas);
    run.con.line(fio::list_line({"Mdiff/12=", cr.Mdiff / mx.hsug}));
    cr.Mdust = cr.Mdiff * mx.dsug * 1e12f;
    runlog_append(run, {fio::list_line({"Mdust = ", cr.Mdust}),
                        "igeo  rcstar      rcdiff       rdstar     rddiff      zddiff      zdstar",
                        fio::write_line("(I3,2X,6G12.4)",
                                        {p.igeo, p.rcstar, p.rcdiff, p.rdstar, p.rddiff, p.zddiff, p.zdstar})});
}

}  // namespace cirrus

void colddust(Run& run, float fgas, float snratet) {
    using namespace cirrus;
    RunParameters& p = run.parametri;
    CirrusRun& cr = run.cirrus;
    const int nlf = run.glopalla.nlf;

    try {
        // 1. Geometry flag.
        cr.disk_like = p.igeo != 0 && p.igeo != 1;
        // 2. The field of the small grains.
        allocating(colddust_allocation_error(), [&] {
            run.glopdit.ix.resize(nlf);
            run.glopdit.yarr.resize(nlf);
        });
        // 3-5. Directions.
        TextFile spectra = spectra_section(run);
        allocate_cirrus_record(run);
        read_directions(run, spectra);
        // 6. Masses and the first run-log lines.
        masses(run, fgas);
        // 7. Pre-check and opening of the column-density cache.
        cache_precheck(run, fgas);
        if (cr.Mdiff != 0.0f) cr.cache.open(run);
        // 8. Stellar and cloud light on the dust grid.
        light_on_dust_grid(run);

        // 9. The cirrus grid, its densities and the emission and extinction.
        if (cr.Mdiff != 0.0f) {
            cr.cache.header_geometry(run);
            grid_sizes(run);
            cr.cache.header_grid(run);
            allocate_grids(run);
            grid_nodes(run);
            densities(run);
            normalise(run);
            cr.cache.dependencies(run, cache_pairs_needed(run));
            std::vector<std::string> log = grid_log_lines(run);
            optical_depth_report(run, log);
            runlog_append(run, log);
            cross_sections(run);
            norma(run);
            cr.TAUXY.fill(0.0f);
            cr.ETOT.fill(0.0f);
            grain_efficiencies(run);
            if (p.emiflag && p.annflag < 2) cell_emission(run);
            // Every pair has been visited: the cache is complete.
            cr.cache.finish(run);
            extinction(run);
        } else {
            no_diffuse_gas(run);
        }

        // 10-12. Energies, the budget, the radio emission and the spectra files.
        energies(run);
        energy_budget(run);
        radio_and_spectra(run, snratet);
        if (cr.Mdiff > 0.0f) {
            run.glocold.release();
            cr.NORMA.clear();
        }
    } catch (...) {
        cr.cache.abandon();
        throw;
    }
}

}  // namespace qv
