// qvmain: the stages of one galaxy model in their fixed order.
#include <string>

#include "clouds/young_stars.h"
#include "core/quelvo.h"
#include "core/run.h"
#include "core/sfh_tabulated.h"
#include "core/ssp_library.h"
#include "core/stop.h"
#include "core/synthesis.h"
#include "dust/cirrus.h"
#include "dust/cirrus_emulator.h"
#include "dust/column_density.h"
#include "dust/predust.h"
#include "io/format.h"
#include "sfh_external/external_histories.h"

namespace qv {

namespace {

// The birth-time arrays for the current capacity, all 0.
void create_birth_arrays(Run& run) {
    BirthGrid& r = run.remind;
    r.sfrate.resize(r.nz, r.ncom);
    r.flsspint.resize(r.nlam, r.nz, r.ncom);
    r.tbirth.resize(r.nz);
    r.alnorm.resize(r.nz, r.ncom);
    r.gasres.resize(r.nz);
}

void release_birth_arrays(Run& run) {
    BirthGrid& r = run.remind;
    r.sfrate.clear();
    r.flsspint.clear();
    r.tbirth.clear();
    r.alnorm.clear();
    r.gasres.clear();
}

// Share of the formed stellar mass in component 2 (the bulge); 0 when no stars formed.
float bulge_share(const BirthGrid& r) {
    float num = 0.0f, den = 0.0f;
    for (int i = 1; i <= r.icall - 1; ++i) {
        const float d = r.tbirth(i + 1) - r.tbirth(i);
        num += d * (r.sfrate(i + 1, 2) + r.sfrate(i, 2));
        float s = 0.0f;
        for (int c = 1; c <= r.ncom; ++c) s += r.sfrate(i + 1, c) + r.sfrate(i, c);
        den += d * s;
    }
    return den != 0.0f ? num / den : 0.0f;
}

void stage_done(Run& run, const char* stage) {
    if (run.stage_done) run.stage_done(stage);
}

}  // namespace

void qvmain(Run& run) {
    RunParameters& p = run.parametri;
    Glotauspe& g = run.glotauspe;
    CloudSetup& gp = run.glopalla;
    BirthGrid& r = run.remind;

    float fgas = 0.0f;
    float zism = 0.0f;

    // 1-2. Run parameters and the list of SSP tables.
    parametri::inppar(run);
    // A cache name that names some other file stops the run before any work.
    cirrus::check_cache_file(run);
    readflussi_asci(run, p.ssp_mass, false);
    stage_done(run, "parameters");

    // 3. The history reader chosen by istarfo.
    std::string sf_name = upto_blank(run.modname.name_sf) + ".sf";
    switch (g.istarfo) {
        case 0:
            read_che_evo(run, p.ssp_mass, fgas, gp.sfrt, zism, run.snratet, sf_name);
            if (p.igastmp == 1) fgas = p.gastmp;
            break;
        case 1:
            read_chem_evo_ts(run, p.ssp_mass, fgas, gp.sfrt, zism, sf_name);
            break;
        case 4:
        case 5:
            p.ssp_mass = p.ssp_mass4;
            if (p.igeo != -1)
                throw Stop(fio::list_line({"igeo must be -1 for istarfo=4. stop"}));
            readtav_disk_bulge(run, fgas, gp.sfrt, zism);
            break;
        case 6:
            read_pelto(run, fgas, gp.sfrt, zism);
            break;
        case 7:
            read_sorvanto(run, p.ssp_mass, fgas, gp.sfrt, zism);
            break;
        default:
            throw Stop(fio::list_line({"istarfo=", g.istarfo, " not valid. stop."}));
    }

    stage_done(run, "history");

    // 4. The SSP tables.
    readflussi_asci(run, p.ssp_mass, true);
    stage_done(run, "ssp tables");

    // 5. Birth-time grid and synthesis, enlarged while the grid overflows.
    bool overflow = true;
    while (overflow) {
        create_birth_arrays(run);
        kernel(run, overflow);
        if (overflow) {
            release_birth_arrays(run);
            r.nz = static_cast<int>(1.25f * static_cast<float>(r.nz));
        }
    }
    // A history whose stars give no light at tgal, or light beyond the range of
    // the numbers, ends the run here, before any stage is built from it.
    check_stellar_light(run, history_files(run));

    stage_done(run, "synthesis");

    // 6. The single-metallicity history tables are no longer needed.
    g.agesf.clear();
    g.gas.clear();
    g.zeta.clear();
    g.rsf.clear();
    g.stars.clear();
    g.snrate.clear();
    g.tbst.clear();
    g.bst.clear();

    // 7. Bulge fraction. A component that formed no stars holds no diffuse dust
    // either, whatever the history's source.
    if (p.igeo == -1) {
        if (g.istarfo != 4 && g.istarfo != 5) g.bsut = bulge_share(r);
        if (g.bsut == 1.0f) p.fmdifbul = 1.0f;
        if (g.bsut == 0.0f) p.fmdifbul = 0.0f;
    }

    // 8-10. Present star-formation rate and the molecular fraction it may set.
    run.con.line(fio::list_line({"fmdifbul= ", p.fmdifbul}));
    const float sfr = gp.sfrt * 1000.0f * r.primordial_mass;
    runlog_append(run, fio::list_line({"Present SFR=", sfr, " Mo/yr"}));
    if (gp.mmolfraz > 1.0f) {
        gp.mmolfraz = sfr / gp.mmolfraz;
        if (gp.mmolfraz >= 1.0f) gp.mmolfraz = 1.0f;
    }

    // 11-13. Dust preparation, the cloud model, the cirrus model.
    predust(run, fgas, r.primordial_mass, zism);
    cirrus::check_emulator_geometry(run, fgas);
    stage_done(run, "dust preparation");
    if (gp.tau1 > 1.0e-4f || gp.mmolfraz < 0.0f) pallanolt96(run, r.primordial_mass, zism);
    stage_done(run, "clouds");
    colddust(run, fgas, run.snratet);
    stage_done(run, "cirrus");
}

}  // namespace qv
