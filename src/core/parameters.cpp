#include "core/parameters.h"

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "core/parfile.h"
#include "core/run.h"
#include "core/stop.h"
#include "io/format.h"
#include "io/listread.h"
#include "io/textfile.h"

namespace qv {

namespace {

using Target = std::variant<float*, int*, bool*>;

// What happens when a key is absent from the par file and the command line.
enum class Absent {
    Stop,       // required
    Tav,        // required for istarfo 4 and 5, otherwise counts as present
    LamTru,     // the power-law tail: default 4e20 with exp_tru 2.0
    ExpTru,     // required when lam_tru is given
    Default,    // takes the default value
};

struct KeyDef {
    const char* key;
    ParConv conv;
    Target (*target)(Run&);
    Absent absent;
    float dflt;
};

#define QV_T(expr) [](Run& r) -> Target { return &(expr); }

const std::array<KeyDef, RunParameters::nkeys> key_table = {{
    {"istarfo", ParConv::I, QV_T(r.glotauspe.istarfo), Absent::Stop, 0.0f},
    {"ssp_mass4", ParConv::R, QV_T(r.parametri.ssp_mass4), Absent::Stop, 0.0f},
    {"tgal", ParConv::R, QV_T(r.parametri.tgal), Absent::Stop, 0.0f},
    {"extflag", ParConv::L, QV_T(r.parametri.extflag), Absent::Stop, 0.0f},
    {"gastmp", ParConv::R, QV_T(r.parametri.gastmp), Absent::Stop, 0.0f},
    {"igastmp", ParConv::I, QV_T(r.parametri.igastmp), Absent::Stop, 0.0f},
    {"mmolfraz", ParConv::R, QV_T(r.glopalla.mmolfraz), Absent::Stop, 0.0f},
    {"mcloud", ParConv::R, QV_T(r.glopalla.mcloud), Absent::Stop, 0.0f},
    {"rcloud", ParConv::R, QV_T(r.glopalla.rcloud), Absent::Stop, 0.0f},
    {"vout", ParConv::R, QV_T(r.glopalla.vout), Absent::Stop, 0.0f},
    {"etastart", ParConv::R, QV_T(r.glopalla.etastart), Absent::Stop, 0.0f},
    {"pahflag", ParConv::L, QV_T(r.modname.pahflag), Absent::Stop, 0.0f},
    {"flutflag", ParConv::L, QV_T(r.remind.flutflag), Absent::Stop, 0.0f},
    {"hiiflag", ParConv::L, QV_T(r.glopalla.hiiflag), Absent::Stop, 0.0f},
    {"intrho", ParConv::I, QV_T(r.parametri.intrho_w_r), Absent::Stop, 0.0f},
    {"dsug", ParConv::R, QV_T(r.mix.dsug), Absent::Stop, 0.0f},
    {"idz", ParConv::I, QV_T(r.parametri.idz), Absent::Stop, 0.0f},
    {"tgra", ParConv::R, QV_T(r.globals.tgra), Absent::Stop, 0.0f},
    {"tsil", ParConv::R, QV_T(r.globals.tsil), Absent::Stop, 0.0f},
    {"ndr", ParConv::I, QV_T(r.remind.ndr), Absent::Stop, 0.0f},
    {"nlf", ParConv::I, QV_T(r.glopalla.nlf), Absent::Stop, 0.0f},
    {"igeo", ParConv::I, QV_T(r.parametri.igeo), Absent::Stop, 0.0f},
    {"rcstar", ParConv::R, QV_T(r.parametri.rcstar), Absent::Stop, 0.0f},
    {"rcdiff", ParConv::R, QV_T(r.parametri.rcdiff), Absent::Stop, 0.0f},
    {"gamdiff", ParConv::R, QV_T(r.parametri.gamdiff), Absent::Stop, 0.0f},
    {"rdstar", ParConv::R, QV_T(r.parametri.rdstar), Absent::Stop, 0.0f},
    {"rddiff", ParConv::R, QV_T(r.parametri.rddiff), Absent::Stop, 0.0f},
    {"zdstar", ParConv::R, QV_T(r.parametri.zdstar), Absent::Stop, 0.0f},
    {"zddiff", ParConv::R, QV_T(r.parametri.zddiff), Absent::Stop, 0.0f},
    {"fburst", ParConv::R, QV_T(r.glotauspe.fburst), Absent::Tav, 0.0f},
    {"beta", ParConv::R, QV_T(r.glotauspe.beta), Absent::Tav, 0.0f},
    {"emiflag", ParConv::L, QV_T(r.parametri.emiflag), Absent::Stop, 0.0f},
    {"lam_tru", ParConv::R, QV_T(r.trucco.lam_trucco), Absent::LamTru, 4e20f},
    {"exp_tru", ParConv::R, QV_T(r.trucco.exp_trucco), Absent::ExpTru, 2.0f},
    {"wavsspout", ParConv::L, QV_T(r.parametri.wavsspout), Absent::Default, 0.0f},
    {"flutmc", ParConv::L, QV_T(r.modname.flutmc), Absent::Stop, 0.0f},
    {"littleh", ParConv::R, QV_T(r.glotauspe.littleh), Absent::Tav, 0.0f},
    {"tbemin", ParConv::R, QV_T(r.glotauspe.tbemin), Absent::Tav, 0.0f},
    {"dtbe", ParConv::R, QV_T(r.glotauspe.dtbe), Absent::Tav, 0.0f},
    {"z_lvg", ParConv::R, QV_T(r.parametri.z_lvg), Absent::Default, -1.0f},
    {"v_lvg", ParConv::R, QV_T(r.parametri.v_lvg), Absent::Default, 10.0f},
    {"fmdifbul", ParConv::R, QV_T(r.parametri.fmdifbul), Absent::Default, 0.0f},
    {"taugalmax", ParConv::R, QV_T(r.glopalla.tau_gal_max), Absent::Default, 1e30f},
    {"ntstart", ParConv::R, QV_T(r.glopalla.n_tstart), Absent::Default, 1.0f},
    {"verbose", ParConv::I, QV_T(r.modname.verbose_level), Absent::Default, 0.0f},
    {"annflag", ParConv::I, QV_T(r.parametri.annflag), Absent::Default, 0.0f},
    {"t_bst", ParConv::R, QV_T(r.parametri.t_bst), Absent::Default, -77.0f},
    {"a_bst", ParConv::R, QV_T(r.parametri.a_bst), Absent::Default, -77.0f},
}};

#undef QV_T

constexpr int k_lam_tru = 32;  // 0-based positions in the table
constexpr int k_exp_tru = 33;

int find_key(std::string_view key) {
    for (int k = 0; k < RunParameters::nkeys; ++k)
        if (key == key_table[k].key) return k;
    return -1;
}

// Stores v in the target of table entry k with its conversion.
void store(Run& run, int k, float v) {
    const KeyDef& d = key_table[k];
    const Target t = d.target(run);
    switch (d.conv) {
        case ParConv::R:
            *std::get<float*>(t) = v;
            break;
        case ParConv::I: {
            // Truncated toward zero; a value that no 4-byte integer holds is refused.
            if (!(std::fabs(v) < 2147483648.0f))
                throw Stop(fio::list_line({"FATAL ERROR - value of key ", d.key,
                                           " is not a valid integer: ", v}));
            *std::get<int*>(t) = static_cast<int>(v);
            break;
        }
        case ParConv::L:
            // True when the value rounded to the nearest integer (halves away from zero) is not 0.
            *std::get<bool*>(t) = std::round(v) != 0.0f;
            break;
    }
    run.parametri.par[k].found = true;
}

// A free-format read of one real from a value text; nothing when the text holds
// no value (blank, or a null value). A text that is not a number is an IoError
// naming where it came from.
std::optional<float> read_value(std::string_view text, const std::string& where,
                                const std::string& key) {
    // Two reads into targets that start 0 and 1 tell a null value (both left
    // unchanged) from any value read, a NaN among them.
    float probe0 = 0.0f, probe1 = 1.0f;
    const fio::ListResult res = fio::list_read_string(text, {&probe0});
    if (res.status == fio::ReadStatus::Error)
        throw_io_error(where, 0,
                       "bad value '" + std::string(text) + "' for key " + key + ": " + res.message);
    if (res.status != fio::ReadStatus::Ok) return std::nullopt;
    fio::list_read_string(text, {&probe1});
    if (probe0 == 0.0f && probe1 == 1.0f) return std::nullopt;
    const float v = probe0;
    if (!std::isfinite(v))
        throw_io_error(where, 0, "value '" + std::string(text) + "' for key " + key + " is not finite");
    return v;
}

// The warning on a key that is not a MAIN key, from the par file's MAIN
// section or from the command line.
void warn_unknown(const Run& run, const std::string& key, bool command_line) {
    if (command_line)
        run.con.line(fio::write_line("(' SEVERE WARNING: unknown key on the command line: ',A)", {key_field(key)}));
    else
        run.con.line(fio::write_line("(' SEVERE WARNING: unknown key in file ',A,': ',A)",
                                     {upto_blank(run.parametri.nomfil), key_field(key)}));
}

// The bulge law from <name>.bst: the number of points, then one record of time
// and bulge share per point, in increasing time.
void read_bulge_law(Run& run) {
    RunParameters& p = run.parametri;
    SfhTables& g = run.glotauspe;
    p.nomfil = upto_blank(run.modname.name) + ".bst";
    TextFile f = TextFile::open(p.nomfil);
    int n = 0;
    fio::list_read_or_throw(f, {&n});
    if (n < 2)
        throw Stop(fio::list_line({"ERROR: the bulge law in file ", p.nomfil,
                                   " needs at least 2 points, found ", n}));
    // Each point is a record of its own, so the file must hold a line per point
    // before the tables are sized by the count.
    const std::size_t left = f.line_count() - f.position();
    if (static_cast<std::size_t>(n) > left)
        throw Stop(fio::list_line({"ERROR: the bulge law in file ", p.nomfil, " counts", n,
                                   " points but the file holds", static_cast<int>(left),
                                   " lines after the count"}));
    g.nbst = n;
    g.tbst.resize(n);
    g.bst.resize(n);
    for (int i = 1; i <= n; ++i) {
        fio::list_read_or_throw(f, {&g.tbst(i), &g.bst(i)});
        if (!std::isfinite(g.tbst(i)) || !std::isfinite(g.bst(i)))
            f.fail("point " + std::to_string(i) + " of the bulge law is not a pair of finite numbers");
    }
    for (int i = 2; i <= n; ++i)
        if (!(g.tbst(i) > g.tbst(i - 1)))
            throw Stop(fio::list_line({"ERROR: the times of the bulge law in file ", p.nomfil,
                                       " are not ascending"}));
}

}  // namespace

namespace parametri {

const std::array<const char*, RunParameters::nkeys>& main_keys() {
    static const std::array<const char*, RunParameters::nkeys> names = [] {
        std::array<const char*, RunParameters::nkeys> a{};
        for (int k = 0; k < RunParameters::nkeys; ++k) a[k] = key_table[k].key;
        return a;
    }();
    return names;
}

bool setpar(Run& run) {
    const std::string key(upto_blank(run.parametri.key));
    const int k = find_key(key);
    if (k < 0) {
        warn_unknown(run, run.parametri.key, true);
        return false;
    }
    store(run, k, run.parametri.val);
    return true;
}

void check_obsolete(Run& run) {
    for (const char* sec : {"ANALY", "BURST"}) {
        TextFile f = open_par_file(run);
        if (modname::search_key_in_file(f, sec))
            throw Stop(fio::list_line({std::string("ERROR: Please remove obsolete section ") + sec +
                                           " from",
                                       " " + upto_blank(run.parametri.nomfil), " Stop"}));
    }
}

void inppar(Run& run) {
    RunParameters& p = run.parametri;
    Console& con = run.con;

    // 1. The key table with every found flag false.
    for (int k = 0; k < RunParameters::nkeys; ++k) p.par[k] = ParKey{key_table[k].key, false};
    p.nomfil = par_file_name(run);

    // 2. Obsolete sections.
    check_obsolete(run);

    // 3. The MAIN section.
    {
        TextFile f = open_par_file(run);
        if (!modname::search_key_in_file(f, "MAIN"))
            throw Stop(fio::list_line({"Key MAIN not found in file ", upto_blank(p.nomfil)}));
        read_keyed_section(
            f,
            [&](const std::string& key, std::string_view value) {
                const int k = find_key(key);
                if (k < 0) return KeyLine(KeyLine::Other);
                const std::string where = f.name() + ":" + std::to_string(f.position());
                // A key whose value field is blank counts as not given.
                if (auto v = read_value(value, where, key)) {
                    p.key = key;
                    p.val = *v;
                    store(run, k, p.val);
                }
                return KeyLine(KeyLine::Own, key_table[k].conv != ParConv::R);
            },
            [&](const std::string& key) {
                warn_unknown(run, key, false);
                const std::string hint = fixed_column_hint(key);
                if (!hint.empty()) con.line(hint);
            },
            ValueRead::FreeFormat);
    }

    // 4. Command-line overrides, in command-line order.
    {
        // Each echo reaches the run log as it is made, so that a later bad
        // override leaves the earlier ones there.
        for (int k = 0; k < run.modname.nopt; ++k) {
            const auto [key, rest] = split_override(run.modname.opt[k]);
            if (key == "namesf") {
                run.modname.name_sf = trim_right(rest);
                const std::string l =
                    fio::list_line({"Reading SFR from file ", upto_blank(run.modname.name_sf) + ".sf"});
                con.line(l);
                runlog_append(run, l);
            } else if (key == "nameintrho") {
                run.modname.name_intrho = trim_right(rest);
                con.line(fio::list_line({"Name of intrho file is  ", upto_blank(run.modname.name_intrho)}));
                runlog_append(run, fio::list_line({"Name of intrho file is ", upto_blank(run.modname.name_intrho)}));
            } else if (key == "nameres") {
                // Taken by the main program.
            } else {
                p.key = key;
                const int kk = find_key(key);
                if (kk < 0) {
                    // The value of a key that is not known is not converted.
                    warn_unknown(run, key, true);
                    continue;
                }
                // "tgal=7,5" would be read as 7.
                if (const auto comma =
                        decimal_comma_value(rest, ValueRead::FreeFormat, key_table[kk].conv != ParConv::R, key))
                    decimal_comma_stop("key " + key + " on the command line", key + "=" + trim_right(rest), *comma);
                const std::string text = rest.substr(0, std::min<std::size_t>(rest.size(), 20));
                auto v = read_value(text, "command line", key);
                if (!v)
                    throw_io_error("command line", 0, "no value given for key " + key);
                p.val = *v;
                // The key up to and including its first blank.
                const std::string k10 = key_field(key);
                const std::size_t sp = k10.find(' ');
                const std::string upto = sp == std::string::npos ? k10 : k10.substr(0, sp + 1);
                const std::string l = fio::list_line({"Forcing ", upto, "to ", p.val});
                con.line(l);
                runlog_append(run, l);
                setpar(run);
            }
        }
    }

    // 5. The tav model's keys are needed only for its histories (istarfo 4 and 5).
    const int istarfo = run.glotauspe.istarfo;
    const bool tav = istarfo == 4 || istarfo == 5;
    if (!tav)
        for (int k = 0; k < RunParameters::nkeys; ++k)
            if (key_table[k].absent == Absent::Tav) p.par[k].found = true;

    // 6. The power-law tail of the absorption efficiency.
    if (!p.par[k_lam_tru].found) {
        con.line(fio::list_line({"lam_tru not present in par file, I use plain DL Qabs"}));
        run.trucco.lam_trucco = 4e20f;
        run.trucco.exp_trucco = 2.0f;
        p.par[k_lam_tru].found = true;
        p.par[k_exp_tru].found = true;
    } else {
        con.line(fio::list_line({"lam_tru in par file change DL Qabs slope"}));
        runlog_append(run, fio::list_line({"Slope of dust emission=", run.trucco.exp_trucco,
                                           " for lambda>", run.trucco.lam_trucco, "micron"}));
    }

    // 7. Defaults of the optional keys.
    for (int k = 0; k < RunParameters::nkeys; ++k)
        if (key_table[k].absent == Absent::Default && !p.par[k].found) store(run, k, key_table[k].dflt);
    if (p.igeo != -1) p.fmdifbul = 0.0f;

    // 8. Required-key check.
    {
        std::vector<std::string> missing;
        for (int k = 0; k < RunParameters::nkeys; ++k)
            if (!p.par[k].found) missing.push_back(fio::list_line({key_field(key_table[k].key)}));
        if (!missing.empty()) {
            missing.insert(missing.begin(),
                           fio::list_line({"FATAL ERROR - missing parameter(s) in file ",
                                           upto_blank(p.nomfil) + ":"}));
            throw Stop(missing);
        }
    }
    if (p.igeo < -1 || p.igeo > 5) throw Stop(fio::list_line({"ERROR: invalid IGEO!"}));
    // The column-density cache has three modes; anything else would mix them.
    if (p.intrho_w_r < 0 || p.intrho_w_r > 2)
        throw Stop(fio::list_line({"ERROR: intrho must be 0, 1 or 2, intrho=", p.intrho_w_r}));
    // Sublimation temperatures: the cloud solver needs a positive graphite value
    // and a non-zero silicate value (whose absolute value it uses); anything else
    // would put the grains' inner edge at no radius at all.
    {
        const float tgra = run.globals.tgra, tsil = run.globals.tsil;
        if (!std::isfinite(tgra) || !(tgra > 0.0f))
            throw Stop(fio::list_line({"ERROR: tgra (graphite sublimation temperature, K) must be positive, tgra=",
                                       tgra}));
        if (!std::isfinite(tsil) || tsil == 0.0f)
            throw Stop(fio::list_line(
                {"ERROR: tsil (silicate sublimation temperature, K) must not be 0, tsil=", tsil}));
    }
    // The emulator: 0 none, 1 clouds, 2 cirrus, 3 both.
    if (p.annflag < 0 || p.annflag > 3)
        throw Stop(fio::list_line({"ERROR: annflag must be 0, 1, 2 or 3, annflag=", p.annflag}));
    // The geometries of the cirrus emulator are checked where its branch is
    // known to run (a galaxy with diffuse gas), once the dust is prepared.

    // 9. Derived settings.
    CloudSetup& gp = run.glopalla;
    if (run.modname.pahflag) gp.nlf += 120;
    gp.nlf += 18;
    run.remind.isca = p.extflag ? 2 : 0;
    if (p.tgal < 0.0f && !tav) {
        TextFile f = TextFile::open("age.par");
        fio::list_read_or_throw(f, {&p.tgal});
        if (!std::isfinite(p.tgal)) f.fail("the galaxy age " + fio::list_line({p.tgal}).substr(1) + " is not finite");
    }
    if (p.igeo == -1) run.remind.ncom = 2;
    if (gp.vout < 0.0f) gp.vout = 1.0f / gp.etastart;
    if (istarfo != 4 && istarfo != 5 && istarfo != 6 && istarfo != 7) {
        if (p.igeo == -1) {
            SfhTables& g = run.glotauspe;
            if (p.t_bst >= 0.0f) {
                if (!(p.a_bst > 0.0f))
                    throw Stop(fio::list_line({"ERROR: a_bst must be positive when t_bst is given, a_bst=",
                                               p.a_bst}));
                // t_bst 0 gives the law two points at time 0: the bulge forms
                // all the stars at the start and its share falls at once.
                g.nbst = 4;
                g.tbst.resize(4);
                g.bst.resize(4);
                const float t[4] = {0.0f, p.t_bst, p.t_bst + 1.0f / p.a_bst, p.tgal + 1.0f};
                const float b[4] = {1.0f, 1.0f, 0.0f, 0.0f};
                for (int i = 1; i <= 4; ++i) {
                    g.tbst(i) = t[i - 1];
                    g.bst(i) = b[i - 1];
                }
            } else {
                read_bulge_law(run);
            }
        }
        if (istarfo == 0) {
            if (p.rcdiff < 0.0f) p.rcdiff = -p.rcstar * p.rcdiff;
            if (p.rddiff < 0.0f) p.rddiff = -p.rdstar * p.rddiff;
            if (p.zdstar < 0.0f) p.zdstar = -p.rdstar * p.zdstar;
            if (p.zddiff < 0.0f) p.zddiff = -p.zddiff * p.zdstar;
        }
    }
    if (gp.rcloud < 0.0f) {
        if (gp.mcloud >= 0.0f)
            throw Stop(fio::list_line(
                {"FATAL ERROR - if rcloud<0 (means -rmax/rmin) mcloud has to be<0 (means -tau)"}));
        gp.rmsr0_flag = true;
        gp.rcloud = -gp.rcloud;
    }
    // The cloud emulator takes the clouds' radius in pc among its inputs; a
    // ratio of radii in its place would give it a meaningless input.
    if (gp.rmsr0_flag && (p.annflag == 1 || p.annflag == 3))
        throw Stop(fio::list_line({"FATAL ERROR - annflag=", p.annflag,
                                   "(cloud emulator) needs rcloud in pc: rcloud<0 (means -rmax/rmin) cannot be used"}));
}

}  // namespace parametri

}  // namespace qv
