// A small cirrus model taken through the phases of the cirrus call that come
// before the extinction (directions, masses, light on the dust grid, grid,
// densities, cross sections and the shares of the stars per cell), so that
// the extinction, the energies and the spectra writers can run on it.
#pragma once

#include <string>
#include <vector>

#include "core/run.h"
#include "dust/cirrus.h"
#include "dust/cirrus_fixture.h"
#include "dust/cirrus_grid.h"
#include "dust/cirrus_light.h"

namespace qv::test {

struct ExtinctionModel : CirrusModel {
    explicit ExtinctionModel(const std::vector<std::string>& angles = {"0.0", "45.0", "90.0"}, int igeo = 2,
                             int nlf = 40)
        : CirrusModel(spectra_section(angles), nlf) {
        set_geometry(run, igeo);
    }

    // The phases up to the extinction (no cell emission: ETOT stays 0).
    void prepare(float fgas = 0.3f) {
        CirrusRun& cr = run.cirrus;
        cr.disk_like = run.parametri.igeo != 0 && run.parametri.igeo != 1;
        TextFile f = cirrus::spectra_section(run);
        cirrus::allocate_cirrus_record(run);
        cirrus::read_directions(run, f);
        cirrus::masses(run, fgas);
        cirrus::light_on_dust_grid(run);
        cirrus::grid_sizes(run);
        cirrus::allocate_grids(run);
        cirrus::grid_nodes(run);
        cirrus::densities(run);
        cirrus::normalise(run);
        cirrus::cross_sections(run);
        cirrus::norma(run);
        cr.TAUXY.fill(0.0f);
        cr.ETOT.fill(0.0f);
    }

    int nlf() const { return run.glopalla.nlf; }
    int ncom() const { return run.remind.ncom; }
};

}  // namespace qv::test
