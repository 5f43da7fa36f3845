// Small hand-built models for the cirrus tests: the geometry parameters of each
// igeo, a dust grid and stellar spectra per birth time, a par file with MIXDIF
// and SPECTRA sections, and the grid and densities built by the cirrus grid code.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/run.h"
#include "core/stop.h"
#include "dust/predust.h"
#include "dust/dust_grid.h"
#include "dust/cirrus_grid.h"
#include "dust/column_density.h"
#include "dust/grain_fixture.h"
#include "dust/grain_mix.h"
#include "support/test_support.h"

namespace qv::test {

inline std::string stop_text(const Stop& s) {
    std::string t;
    for (const auto& l : s.lines) t += l + "\n";
    return t;
}

// Runs f and returns the lines of the Stop it throws (fails when none is thrown).
inline std::vector<std::string> stop_lines(const std::function<void()>& f) {
    try {
        f();
    } catch (const Stop& s) {
        return s.lines;
    }
    ADD_FAILURE() << "no stop";
    return {};
}

inline bool contains(const std::vector<std::string>& lines, const std::string& text) {
    for (const auto& l : lines)
        if (l.find(text) != std::string::npos) return true;
    return false;
}

inline int index_of(const std::vector<std::string>& lines, const std::string& text, int from = 0) {
    for (int i = from; i < static_cast<int>(lines.size()); ++i)
        if (lines[i].find(text) != std::string::npos) return i;
    return -1;
}

inline std::string spectra_section(const std::vector<std::string>& angles) {
    std::string s = "SPECTRA\n% number of directions, then one inclination per line\n";
    s += std::to_string(angles.size()) + "\n";
    for (const auto& a : angles) s += a + "\n";
    return s;
}

// The stellar spectra of the dust preparation for the run's components: on the
// SSP grid and on the dust grid, the same after the clouds, and the bolometric
// luminosity e1 (the spectra writers read them).
inline void stellar_spectra(Run& run) {
    CloudSetup& gp = run.glopalla;
    BirthGrid& r = run.remind;
    if (!r.flsspint.allocated() || !gp.ws.allocated() || r.nlam < 2) return;
    stellar_spectrum(run, r.primordial_mass, gp.l_sta);
    rebin_to_dust_grid(run, gp.l_sta, gp.lumsta);
    gp.l_stamc = gp.l_sta;
    gp.lumstamc = gp.lumsta;
    r.e1 = 0.0f;
    for (int i = 1; i < r.nlam; ++i)
        for (int c = 1; c <= r.ncom; ++c)
            r.e1 += 0.5f * (gp.l_sta(i, c) + gp.l_sta(i + 1, c)) * (r.wave(i + 1) - r.wave(i));
}

// Geometry parameters of a small model of geometry igeo, with the galaxy radius
// of the dust preparation for the run's cache mode (and rsur, zsur with the cache).
inline void set_geometry(Run& run, int igeo, int intrho = 0) {
    RunParameters& p = run.parametri;
    p.igeo = igeo;
    p.intrho_w_r = intrho;
    p.rcstar = 1.0f;
    p.rcdiff = 1.2f;
    p.gamdiff = 1.2f;
    p.rdstar = 4.0f;
    p.rddiff = 5.0f;
    p.zdstar = 0.4f;
    p.zddiff = 0.3f;
    p.fmdifbul = igeo == -1 ? 0.3f : 0.0f;
    p.emiflag = true;
    run.remind.ndr = 12;
    run.remind.ncom = igeo == -1 ? 2 : 1;
    run.glotauspe.bsut = igeo == -1 ? 0.4f : 0.0f;
    run.glocold = CirrusGrid{};
    if (intrho == 0) {
        standard_galaxy_radius(run);
    } else {
        switch (igeo) {
            case -1: p.rgal = 10.0f * p.rddiff; p.rsur = p.rddiff / p.rgal; p.zsur = p.zddiff / p.rgal; break;
            case 1: case 5: p.rgal = 158.48933f * p.rcdiff; p.rsur = p.rcdiff / p.rgal; break;
            case 2: p.rgal = 10.0f * p.rddiff; p.rsur = p.rddiff / p.rgal; p.zsur = p.zddiff / p.rgal; break;
            default: p.rgal = 10.0f * p.rddiff; p.rsur = p.rddiff / p.rgal; break;
        }
        p.rgalpc = 1000.0f * p.rgal;
    }
    stellar_spectra(run);
}

// Grid sizes, nodes, densities and normalisation for the current parameters.
inline void build_grid(Run& run, float mdiff = 0.01f) {
    run.cirrus.Mdiff = mdiff;
    run.cirrus.disk_like = run.parametri.igeo != 0 && run.parametri.igeo != 1;
    cirrus::grid_sizes(run);
    cirrus::allocate_grids(run);
    cirrus::grid_nodes(run);
    cirrus::densities(run);
    cirrus::normalise(run);
}

// The pair columns in the visiting order of the cell loop with the cache in use
// (radial target 2..ndr, polar target from the equator up; for each, radial
// source outermost, azimuth, polar innermost), through the run's cache as the
// loop uses it. Returns the columns.
inline std::vector<float> pair_columns(Run& run) {
    std::vector<float> cols;
    // The loop runs only with the dust emission switched on and no emulator.
    if (!(run.parametri.emiflag && run.parametri.annflag < 2) || run.parametri.igeo == 0) return cols;
    const CirrusGrid& g = run.glocold;
    const int ndr = run.remind.ndr, nthe = g.nthearr, nphi = g.nphiarr;
    const int mode = run.parametri.intrho_w_r;
    const bool disk = run.parametri.igeo != 0 && run.parametri.igeo != 1;
    const float n0 = run.cirrus.N0;
    IntrhoCache& cache = run.cirrus.cache;
    for (int it = 2; it <= ndr; ++it) {
        const float rt = 0.5f * (g.rarr(it) + g.rarr(it - 1));
        for (int jt = (nthe + 1) / 2; jt >= 2; --jt) {
            if (jt != (nthe + 1) / 2 && !disk) continue;
            const float tt = 0.5f * (g.thearr(jt - 1) + g.thearr(jt));
            for (int is = 2; is <= ndr; ++is) {
                const float rs = 0.5f * (g.rarr(is) + g.rarr(is - 1));
                for (int ks = 2; ks <= nphi; ++ks) {
                    const float ps = 0.5f * (g.phiarr(ks) + g.phiarr(ks - 1));
                    for (int js = 2; js <= nthe; ++js) {
                        const float ts = 0.5f * (g.thearr(js) + g.thearr(js - 1));
                        float c = 0.0f, q = 0.0f;
                        if (mode == 2 && cache.read_pair(q)) {
                            c = q * n0;
                        } else {
                            protrco::intrho(run, rt, tt, rs, ts, ps, c);
                            if (mode == 1) cache.write_pair(c / n0);
                        }
                        cols.push_back(c);
                    }
                }
            }
        }
    }
    return cols;
}

// A model on which the light, the cross sections and colddust can run: the plane
// grain tables, a MIXDIF section (and SPECTRA when given) in m.par, the mixture
// built, a dust grid of nlf points from 100 A to 1e7 A, and nlam SSP wavelengths
// with spectra per birth time.
struct CirrusModel {
    TempDir tmp;
    CapturedConsole cc;
    Run run{cc.con};

    explicit CirrusModel(const std::string& spectra = spectra_section({"0.0", "45.0", "90.0"}), int nlf = 40,
                         int nlam = 120) {
        write_text(tmp.file("m.par"), MixKeys().text("MIXDIF") + spectra);
        RunNames& mn = run.modname;
        mn.name = "m";
        mn.name_res = "m";
        mn.name_sf = "m";
        mn.name_dir = plane_grain_dir();
        write_text(tmp.file("m.out"), " USEFUL CHECKING NUMBERS FOLLOW\n");
        run.mix.dsug = 0.008f;
        mix::genmix(run);
        CloudSetup& gp = run.glopalla;
        gp.klama = mix::mixcold(run, 1.0f);
        gp.klam = 1.4f * gp.klama;
        gp.mmolfraz = 0.5f;
        dust_grid(nlf);
        stars(nlam);
        set_geometry(run, 2);
    }

    void dust_grid(int nlf) {
        CloudSetup& gp = run.glopalla;
        gp.nlf = nlf;
        gp.lfarr.resize(nlf);
        gp.farr.resize(nlf);
        gp.ws.resize(nlf);
        gp.lumdus.resize(nlf);
        const float lo = std::log10(3e18f / 1e7f), hi = std::log10(3e18f / 100.0f);
        for (int i = 1; i <= nlf; ++i) {
            gp.lfarr(i) = lo + static_cast<float>(i - 1) * (hi - lo) / static_cast<float>(nlf - 1);
            gp.farr(i) = std::pow(10.0f, gp.lfarr(i));
            gp.ws(nlf + 1 - i) = 3e18f / gp.farr(i);
            gp.lumdus(i) = 1e-3f * static_cast<float>(i);
        }
    }

    // Spectra per unit mass falling with wavelength, brighter for young stars, on
    // nlam wavelengths from 90 A to 1.4e7 A (or the given ones).
    void stars(int nlam, int icall = 4, const std::vector<float>& wave = {}) {
        BirthGrid& r = run.remind;
        if (!wave.empty()) nlam = static_cast<int>(wave.size());
        r.nlam = nlam;
        r.nz = icall + 2;
        r.icall = icall;
        r.primordial_mass = 0.2f;
        r.wave.resize(nlam);
        for (int i = 1; i <= nlam; ++i)
            r.wave(i) = wave.empty()
                            ? 90.0f * std::pow(10.0f, 5.2f * static_cast<float>(i - 1) / static_cast<float>(nlam - 1))
                            : wave[static_cast<std::size_t>(i - 1)];
        const int ncom = 2;
        r.tbirth.resize(r.nz);
        r.sfrate.resize(r.nz, ncom);
        r.flsspint.resize(nlam, r.nz, ncom);
        for (int k = 1; k <= icall; ++k) {
            r.tbirth(k) = 0.5f * static_cast<float>(k - 1) * static_cast<float>(k);
            for (int c = 1; c <= ncom; ++c) {
                r.sfrate(k, c) = 2.0f + static_cast<float>(k) - static_cast<float>(c);
                for (int i = 1; i <= nlam; ++i)
                    r.flsspint(i, k, c) = 1e-6f * static_cast<float>(k + c) * std::pow(r.wave(i) / 1000.0f, -1.5f);
            }
        }
        stellar_spectra(run);
    }

    std::vector<std::string> out() const { return cc.out_lines(); }
    std::vector<std::string> log() const { return read_lines(tmp.file("m.out")); }
};

}  // namespace qv::test
