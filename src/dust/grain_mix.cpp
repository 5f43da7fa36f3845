#include "dust/grain_mix.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "core/parfile.h"
#include "core/run.h"
#include "core/stop.h"
#include "dust/grain_optics.h"
#include "io/fields.h"
#include "io/format.h"
#include "io/listread.h"
#include "io/textfile.h"

namespace qv {

namespace {

constexpr float kDsugStd = 0.008937178f;  // dust-to-gas ratio the abundance factors refer to

// The 14 keys of MIXDIF and MIXMOL, in table order.
constexpr std::array<const char*, 14> kMixKeys = {
    "amin_gr",  "amax_gr",  "amin_si", "amax_si", "beta1_gr", "beta2_gr", "beta1_si",
    "beta2_si", "ab_gr",    "ab_si",   "corgra",  "corsil",   "xx",       "xh"};

template <int N>
float* mix_target(GrainSizeMix<N>& m, float& xx, float& xh, int k) {
    float* t[14] = {&m.amin_gr,  &m.amax_gr,  &m.amin_si, &m.amax_si, &m.beta1_gr,
                    &m.beta2_gr, &m.beta1_si, &m.beta2_si, &m.ab_gr,  &m.ab_si,
                    &m.corgra,   &m.corsil,   &xx,         &xh};
    return t[k];
}

// The keyed-section loop of MIXDIF or MIXMOL: values (G10.3) into the mixture and
// xx, xh into the PAH band record. Each of the 14 keys must be found at least
// once; a repeated key takes its last value. nh1 is multiplied by xh once, after
// the section.
template <int N>
void read_mix_section(Run& run, const char* seckey, GrainSizeMix<N>& m, float& xx, float& xh,
                      float& nh1) {
    const std::string par = par_file_name(run);
    TextFile f = open_par_file(run);
    if (!modname::search_key_in_file(f, seckey))
        throw Stop(fio::list_line({std::string("Key ") + seckey + " not found in file ", par}));

    std::array<bool, 14> seen{};
    read_keyed_section(
        f,
        [&](const std::string& key, std::string_view value) {
            // The value field is converted as part of the line's read, whatever its key.
            const auto v = fio::read_real_field(value, 3);
            if (!v)
                f.fail("the value field '" + std::string(value) + "' of key '" + key +
                       "' is not a number");
            for (int k = 0; k < 14; ++k) {
                if (key == kMixKeys[k]) {
                    const float v4 = fio::as_real4(*v);
                    if (!std::isfinite(v4))
                        f.fail("the value field '" + std::string(value) + "' of key '" + key +
                               "' is not a finite number");
                    *mix_target(m, xx, xh, k) = v4;
                    seen[k] = true;
                    return true;
                }
            }
            return false;
        },
        [&](const std::string& key) {
            run.con.line(fio::write_line("(' WARNING: unknown key in file ',A,': ',A)",
                                         {par, key_field(key)}));
            const std::string hint = fixed_column_hint(key);
            if (!hint.empty()) run.con.line(hint);
        });

    int found = 0;
    std::string missing;
    for (int k = 0; k < 14; ++k) {
        if (seen[k])
            ++found;
        else
            missing += std::string(" ") + kMixKeys[k];
    }
    if (found < 14)
        throw Stop(std::vector<std::string>{
            fio::write_line(
                "(' FATAL ERROR: less keys than expected in file ',A,': found',I3,' expected',I3)",
                {par, found, 14}),
            fio::list_line({std::string("missing keys in section ") + seckey + ":" + missing})});
    nh1 *= xh;
}

[[noreturn]] void not_integrable(const char* seckey, const std::string& why) {
    throw Stop(fio::list_line({std::string("FATAL ERROR: the grain size distribution of section ") +
                               seckey + " cannot be integrated: " + why}));
}

// One material of a mixture: its size distribution, normalisation and bins.
struct Material {
    const char* sfx;    // key suffix, "gr" or "si"
    const char* label;  // "A_GR=" or "A_SI="
    float offset;       // -25.16 graphite, -25.11 silicate
    float &amin, &amax, &ab, &beta1, &beta2, &cor, &a;
    Vec<float> &barr, &aarr, &wei;
};

std::string key(const char* base, const Material& s) { return std::string(base) + "_" + s.sfx; }

// The keys of a section that set one material's share of the cross-section
// (sfx "gr" or "si").
std::string material_keys(const std::string& sfx) {
    return "amin_" + sfx + ", amax_" + sfx + ", ab_" + sfx + ", beta1_" + sfx + ", beta2_" + sfx + " and " +
           (sfx == "gr" ? "corgra" : "corsil");
}

// A cross-section per hydrogen atom (or the normalisation it is made of) that
// is not a finite number: what it is, and the keys to change.
[[noreturn]] void too_opaque(const char* seckey, const std::string& what, const std::string& keys) {
    std::string set_by = std::string(" it is set by the keys ") + keys + " of section " + seckey;
    // The diffuse abundance factors are scaled by the dust-to-gas ratio.
    if (std::string(seckey) == "MIXDIF") set_by += " and by the MAIN key dsug (times the gas metallicity with idz 1)";
    throw Stop(std::vector<std::string>{
        std::string(" FATAL ERROR - section ") + seckey + ": " + what + " is not a finite number",
        set_by + ": the dust they give is far too opaque for the 4-byte reals"});
}

std::string num(float v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", static_cast<double>(v));
    return buf;
}

void build_material(Run& run, const char* seckey, Material s, int n) {
    // Size distributions that the formulas below cannot integrate stop with the key.
    if (!(s.amin > 0.0f)) not_integrable(seckey, key("amin", s) + " = " + num(s.amin) + " must be positive");
    if (!(s.amax > 0.0f)) not_integrable(seckey, key("amax", s) + " = " + num(s.amax) + " must be positive");
    if (!(s.amin < s.amax))
        not_integrable(seckey, key("amin", s) + " = " + num(s.amin) + " must be below " + key("amax", s) +
                                   " = " + num(s.amax));
    const std::string corkey = s.sfx[0] == 'g' ? "corgra" : "corsil";
    if (s.cor < 0.0f) not_integrable(seckey, corkey + " = " + num(s.cor) + " must not be negative");

    if (s.beta1 == s.beta2 || s.ab < s.amin || s.ab > s.amax) s.ab = s.amin;
    const float p1 = s.beta1 + 4.0f;
    const float p2 = s.beta2 + 4.0f;
    const bool lower = s.ab != s.amin;  // a part of the distribution below the break
    if (p1 == 0.0f)
        not_integrable(seckey, key("beta1", s) + " = -4 is not supported (the integral divides by " +
                                   key("beta1", s) + "+4)");
    if (lower && p2 == 0.0f)
        not_integrable(seckey, key("beta2", s) + " = -4 is not supported (the integral divides by " +
                                   key("beta2", s) + "+4)");

    const float abk = std::pow(s.ab, s.beta1 - s.beta2);
    float mass = (std::pow(s.amax, p1) - std::pow(s.ab, p1)) / p1;
    // Below the break: nothing when the break is the smallest radius.
    if (lower) mass += abk * (std::pow(s.ab, p2) - std::pow(s.amin, p2)) / p2;
    if (!(mass > 0.0f) || !std::isfinite(mass))
        not_integrable(seckey, "the a^3-weighted integral of dn/da for " + key("amin", s) + ", " +
                                   key("amax", s) + ", " + key("ab", s) + ", " + key("beta1", s) +
                                   ", " + key("beta2", s) + " is " + num(mass) +
                                   " in 4-byte reals");

    s.a = std::log10(0.008585786f * s.cor / mass) + s.offset;
    // The normalisation enters every cross-section; one beyond the 4-byte
    // reals is stopped before its line is written.
    if (std::isnan(s.a) || s.a == HUGE_VALF)
        too_opaque(seckey,
                   std::string("the normalisation of the ") + (s.sfx[0] == 'g' ? "graphite" : "silicate") +
                       " size distribution",
                   material_keys(s.sfx));
    run.con.line(fio::list_line({s.label, s.a}));

    int n_up = n;
    float l1 = 0.0f, l2 = 0.0f;
    if (!(s.beta1 == s.beta2 || s.amin == s.ab)) {
        l1 = std::log10(s.amax / s.ab);
        l2 = std::log10(s.ab / s.amin);
        n_up = static_cast<int>(std::lround(static_cast<float>(n) * l1 / (l1 + l2)));
        if (n_up < 1) n_up = 1;
    }
    const int n_low = n - n_up;

    if (n_low > 0) {
        for (int i = 0; i <= n_low; ++i)
            s.barr(i) = s.amin * std::pow(10.0f, static_cast<float>(i) * l2 / static_cast<float>(n_low));
        for (int i = 1; i <= n_low; ++i) {
            s.aarr(i) = std::sqrt(s.barr(i) * s.barr(i - 1));
            s.wei(i) = 3.141593f * abk * (std::pow(s.barr(i), p2) - std::pow(s.barr(i - 1), p2)) /
                       (s.aarr(i) * p2);
        }
    }
    const float d = std::log10(s.amax / s.ab) / static_cast<float>(n_up);
    for (int j = 0; j <= n_up; ++j) s.barr(n_low + j) = s.ab * std::pow(10.0f, static_cast<float>(j) * d);
    for (int k = n_low + 1; k <= n; ++k) {
        s.aarr(k) = std::sqrt(s.barr(k) * s.barr(k - 1));
        s.wei(k) = 3.141593f * (std::pow(s.barr(k), p1) - std::pow(s.barr(k - 1), p1)) / (s.aarr(k) * p1);
    }
    for (int k = 1; k <= n; ++k) s.aarr(k) = s.aarr(k) * 1e4f;
}

// The builder shared by the two mixtures (after the section is read): both
// materials, the per-bin arrays and the check lines.
template <int N>
void build_mixture(Run& run, const char* seckey, GrainSizeMix<N>& m) {
    Material gr{"gr",       "A_GR=",   -25.16f,   m.amin_gr, m.amax_gr, m.ab_gr,  m.beta1_gr,
                m.beta2_gr, m.corgra,  m.a_gr,    m.barr_gr, m.aarr_gr, m.wei_gr};
    Material si{"si",       "A_SI=",   -25.11f,   m.amin_si, m.amax_si, m.ab_si,  m.beta1_si,
                m.beta2_si, m.corsil,  m.a_si,    m.barr_si, m.aarr_si, m.wei_si};
    if (m.corgra == 0.0f && m.corsil == 0.0f)
        not_integrable(seckey, "corgra and corsil are both 0: the mixture holds no grains");
    build_material(run, seckey, gr, N);
    build_material(run, seckey, si, N);

    const float ngr = std::pow(10.0f, m.a_gr);
    const float nsi = std::pow(10.0f, m.a_si);
    for (int k = 1; k <= 2 * N; ++k) {
        const bool g = k <= N;
        const int i = g ? k : k - N;
        m.agra(k) = g ? m.aarr_gr(i) : m.aarr_si(i);
        m.dgra(k) = g ? 2.26f : 3.3f;
        m.mx(k) = g ? 12.0f : 169.0f;
        m.bgra(k) = (g ? m.wei_gr(i) : m.wei_si(i)) * 6.3e21f * (g ? ngr : nsi);
    }
    float sum = 0.0f;
    for (int k = 1; k <= 2 * N; ++k) sum += m.agra(k) * m.bgra(k) * m.dgra(k);
    for (int k = 1; k <= 2 * N; ++k) {
        const bool g = k <= N;
        const int i = g ? k : k - N;
        m.xgra(k) = m.agra(k) * m.bgra(k) * m.dgra(k) / sum;
        m.zeta(k) = m.dgra(k) * 8.032129e23f * m.agra(k) * 1e-4f * (g ? ngr : nsi) *
                    (g ? m.wei_gr(i) : m.wei_si(i)) / m.mx(k);
    }

    // Bins of grains far smaller than any real grain can give factors beyond
    // the 4-byte reals: stopped before the check lines write them. (The
    // fractions xgra of a mixture without grains, 0/0, are left as they are:
    // such a run has no dust to use them.)
    for (int k = 1; k <= 2 * N; ++k)
        if (!std::isfinite(m.bgra(k)) || !std::isfinite(m.zeta(k)))
            too_opaque(seckey,
                       std::string("the cross-section factor of size bin ") + std::to_string(k <= N ? k : k - N) +
                           " of the " + (k <= N ? "graphite" : "silicate") + " grains",
                       material_keys(k <= N ? "gr" : "si"));

    // Check lines: the abundances locked in each bin, their sum and its ratio to
    // the reference abundance, per material.
    for (int half = 0; half < 2; ++half) {
        std::vector<fio::Item> items;
        float s = 0.0f;
        for (int k = 1 + half * N; k <= N + half * N; ++k) {
            items.emplace_back(m.zeta(k));
            s += m.zeta(k);
        }
        items.emplace_back(s);
        items.emplace_back(s / (half == 0 ? 0.00048f : 3.6e-5f));
        for (const std::string& rec : fio::write_records("(8G10.4)", items)) run.con.line(rec);
    }
}

// The extinction cross-section per hydrogen atom of a built mixture, each
// material's share and the PAH term (pah_xx, 0 where the PAH term is not
// used), at every wavelength of the two grain tables: any that is not a finite
// number stops the run naming the keys that set it. Between the table
// wavelengths the efficiencies are interpolated, so these bound the rest.
template <int N>
void check_cross_section(Run& run, const char* seckey, const GrainSizeMix<N>& m, float pah_xx, float nc1) {
    const float ngr = std::pow(10.0f, m.a_gr);
    const float nsi = std::pow(10.0f, m.a_si);
    auto check = [&](float lam) {
        float sgr = 0.0f, ssi = 0.0f;
        for (int k = 1; k <= N; ++k) {
            const float a = m.agra(k);
            sgr += ngr * m.wei_gr(k) * (q_gra_81(run, lam, a, 0) + q_gra_81(run, lam, a, 1));
        }
        for (int k = 1; k <= N; ++k) {
            const float a = m.agra(N + k);
            ssi += nsi * m.wei_si(k) * (q_sil_81(run, lam, a, 0) + q_sil_81(run, lam, a, 1));
        }
        const float pah = pah_xx != 0.0f ? sigma_pah_c(lam) * nc1 * 4836.0f * pah_xx : 0.0f;
        const std::string at = " at " + num(lam) + " micron";
        if (!std::isfinite(sgr))
            too_opaque(seckey, "the graphite grains' cross-section per hydrogen atom" + at, material_keys("gr"));
        if (!std::isfinite(ssi))
            too_opaque(seckey, "the silicate grains' cross-section per hydrogen atom" + at, material_keys("si"));
        if (!std::isfinite(pah))
            too_opaque(seckey, "the PAH cross-section per hydrogen atom" + at, "xx and corgra");
        if (!std::isfinite(sgr + ssi + pah))
            too_opaque(seckey, "the cross-section per hydrogen atom" + at,
                       material_keys("gr") + ", " + material_keys("si") + (pah_xx != 0.0f ? ", xx" : ""));
    };
    for (const GrainTable* t : {&q_draine::gra_table(run), &q_draine::sil_table(run)})
        for (float lw : t->lwav) check(std::pow(10.0f, lw));
}

}  // namespace

void read_sigmapah(Run& run, Vec<float>& sigmai_neu, Vec<float>& sigmai_ion, Vec<float>& sigmai) {
    const std::string path = trim_right(run.modname.name_dir) + "sigmapah_07.dat";
    TextFile f = TextFile::open(path);
    std::string_view line;
    for (int i = 0; i < 2; ++i)
        if (!f.next(line))
            throw_io_error(path, static_cast<long>(f.position()),
                           "the file ends within its two header lines");
    for (int k = 1; k <= kPahBands; ++k) {
        float unused = 0.0f, neu = 0.0f, ion = 0.0f;
        const fio::ListResult r = fio::list_read(f, {&unused, &neu, &ion});
        if (r.status == fio::ReadStatus::End)
            throw_io_error(path, static_cast<long>(f.position()),
                           "the file holds " + std::to_string(k - 1) + " of the " +
                               std::to_string(kPahBands) + " PAH band rows");
        if (r.status == fio::ReadStatus::Error)
            throw_io_error(path, static_cast<long>(f.position()), r.message);
        sigmai_neu(k) = neu;
        sigmai_ion(k) = ion;
    }
    for (int k = 1; k <= kPahBands; ++k) sigmai(k) = sigmai_neu(k);
}

namespace mix {

void inpmix_dif(Run& run) {
    read_mix_section(run, "MIXDIF", run.mix, run.glopah.xx, run.glopah.xh, run.glopah.nh1);
}

void genmix(Run& run) {
    GrainMix& m = run.mix;
    read_sigmapah(run, run.glopah.sigmai_neu, run.glopah.sigmai_ion, run.glopah.sigmai);
    inpmix_dif(run);
    // The abundance factors refer to the standard dust-to-gas ratio.
    if (!(m.dsug > 0.0f))
        not_integrable("MIXDIF", "the dust-to-gas ratio dsug = " + num(m.dsug) +
                                     " (MAIN key dsug) must be positive");
    const float r = m.dsug / kDsugStd;
    m.corgra = m.corgra * r;
    m.corsil = m.corsil * r;
    run.glopah.xx = run.glopah.xx * m.corgra;
    build_mixture(run, "MIXDIF", m);
    // The cirrus adds the PAH term only with the PAH bands.
    check_cross_section(run, "MIXDIF", m, run.modname.pahflag ? run.glopah.xx : 0.0f, run.glopah.nc1);
}

float mixcold(Run& run, float lambda) {
    const GrainMix& m = run.mix;
    const int isca = run.remind.isca;
    const float ngr = std::pow(10.0f, m.a_gr);
    const float nsi = std::pow(10.0f, m.a_si);
    float s = 0.0f;
    for (int k = 1; k <= 20; ++k) s += ngr * m.wei_gr(k) * q_gra_81(run, lambda, m.agra(k), isca);
    for (int k = 1; k <= 20; ++k) s += nsi * m.wei_si(k) * q_sil_81(run, lambda, m.agra(20 + k), isca);
    return s;
}

}  // namespace mix

namespace taumix {

void inpmix(Run& run, int mode) {
    if (mode != 2) return;
    read_mix_section(run, "MIXMOL", run.taumix, run.glopahtau.xx, run.glopahtau.xh,
                     run.glopahtau.nh1);
}

void genmix(Run& run, int mode) {
    SolverGrainMix& m = run.taumix;
    read_sigmapah(run, run.glopahtau.sigmai_neu, run.glopahtau.sigmai_ion, run.glopahtau.sigmai);
    inpmix(run, mode);
    m.dsug = SolverGrainMix::dsugst;
    run.glopahtau.xx = run.glopahtau.xx * m.corgra;
    build_mixture(run, "MIXMOL", m);
    check_cross_section(run, "MIXMOL", m, run.glopahtau.xx, run.glopahtau.nc1);
}

}  // namespace taumix

namespace glopalla {

float mixpalla(Run& run, float lambda) {
    if (!run.glopalla.mixpalla_built) {
        taumix::genmix(run, 2);
        run.glopalla.mixpalla_built = true;
    }
    const SolverGrainMix& m = run.taumix;
    const float ngr = std::pow(10.0f, m.a_gr);
    const float nsi = std::pow(10.0f, m.a_si);
    float s = 0.0f;
    for (int k = 1; k <= 10; ++k) {
        const float a = m.agra(k);
        s += ngr * m.wei_gr(k) * (q_gra_81(run, lambda, a, 0) + q_gra_81(run, lambda, a, 1));
    }
    for (int k = 1; k <= 10; ++k) {
        const float a = m.agra(10 + k);
        s += nsi * m.wei_si(k) * (q_sil_81(run, lambda, a, 0) + q_sil_81(run, lambda, a, 1));
    }
    return s;
}

}  // namespace glopalla

}  // namespace qv
