// RunParameters (parametri): the MAIN section of the par file with the
// command-line overrides, defaults, the required-key check and the derived
// settings. QabsTail (trucco): the power-law tail of the absorption efficiency.
#pragma once

#include <array>
#include <string>

#include "numerics/farray.h"

namespace qv {

struct Run;

struct ParKey {
    const char* key;
    bool found = false;
};

struct RunParameters {
    static constexpr int nkeys = 48;
    std::array<ParKey, nkeys> par{};  // the MAIN keys in table order with their found flags
    std::string key;                  // key of the line or override being handled
    float val = 0.0f;                 // its value
    std::string nomfil;               // file being read (<name>.par, later <name>.bst)

    float ssp_mass = 0.0f;
    float ssp_mass4 = 0.0f, tgal = 0.0f, gastmp = 0.0f, rcstar = 0.0f, rcdiff = 0.0f,
          gamdiff = 0.0f, rdstar = 0.0f, rddiff = 0.0f, zdstar = 0.0f, zddiff = 0.0f,
          z_lvg = 0.0f, v_lvg = 0.0f, fmdifbul = 0.0f, t_bst = 0.0f, a_bst = 0.0f;
    bool extflag = false, emiflag = false, wavsspout = false;
    int igastmp = 0, intrho_w_r = 0, idz = 0, igeo = 0, annflag = 0;

    float rgal = 0.0f, rgalpc = 0.0f, rsur = 0.0f, zsur = 0.0f;

    // Wavelengths in micron kept on the dust frequency grid.
    static constexpr std::array<float, 18> lam_fea = {0.17f, 0.2215f, 0.248f, 4.0f, 5.0f, 7.1f,
                                                      7.5f,  7.9f,    8.3f,   8.7f, 9.1f, 9.44f,
                                                      9.9f,  10.3f,   10.7f,  11.1f, 14.1f, 18.2f};
};

struct QabsTail {
    float lam_trucco = 4e20f;  // micron; beyond it Qabs follows a power law (4e20: never)
    float exp_trucco = 2.0f;
};

// How a MAIN key's value is converted and where it goes.
enum class ParConv { R, I, L };

namespace parametri {

// The MAIN key names in table order.
const std::array<const char*, RunParameters::nkeys>& main_keys();

// Reads the MAIN section, applies the overrides, defaults, the required-key
// check and the derived settings.
void inppar(Run& run);

// Stores run.parametri.val in the target of run.parametri.key; an unknown key
// writes the severe warning and changes nothing. Returns false for an unknown key.
bool setpar(Run& run);

// Stops the run when the par file still holds section ANALY or BURST.
void check_obsolete(Run& run);

}  // namespace parametri

}  // namespace qv
