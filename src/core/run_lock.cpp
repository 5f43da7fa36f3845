#include "core/run_lock.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string_view>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/parfile.h"
#include "core/run.h"
#include "core/stop.h"
#include "io/fields.h"
#include "io/format.h"
#include "io/listread.h"
#include "io/textfile.h"

namespace qv {

namespace {

// The descriptors this process holds on one lock file (one inode) and the
// bytes it has locked there.
struct LockFileEntry {
    std::vector<int> fds;
    std::set<long long> offsets;
};

struct Registry {
    std::mutex m;
    std::map<std::pair<unsigned long long, unsigned long long>, LockFileEntry> files;
};

Registry& registry() {
    static Registry r;
    return r;
}

int system_lock_call(int fd, int cmd, struct flock* fl) { return ::fcntl(fd, cmd, fl); }

LockCall& lock_call() {
    static LockCall call = system_lock_call;
    return call;
}

bool set_lock(int fd, short type, long long offset) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(offset);
    fl.l_len = 1;
    int rc;
    do {
        rc = lock_call()(fd, F_SETLK, &fl);
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}

// Opens the folder's lock file, creating it readable and writable by all (so
// that the users sharing a folder share its locks).
int open_lock_file(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
        (void)::fchmod(fd, 0666);
        return fd;
    }
    if (errno != EEXIST) return -1;
    return ::open(path.c_str(), O_RDWR | O_CLOEXEC);
}

}  // namespace

std::pair<std::string, std::string> split_folder(const std::string& name) {
    const std::size_t s = name.rfind('/');
    if (s == std::string::npos) return {"", name};
    return {name.substr(0, s + 1), name.substr(s + 1)};
}

std::string lock_file_name(const std::string& folder) { return folder + ".quelvo.lock"; }

long long lock_offset(const std::string& name) {
    // 64-bit FNV-1a, masked to the positive range of the lock call's offsets
    // (63 bits on Linux): two names sharing a byte is then as unlikely as it
    // can be made. A file system that refuses such an offset leaves the
    // folder unlocked, with a warning (lock_run_files).
    unsigned long long h = 1469598103934665603ULL;
    for (const unsigned char c : name) {
        h ^= c;
        h *= 1099511628211ULL;
    }
    return static_cast<long long>(h & static_cast<unsigned long long>(std::numeric_limits<off_t>::max()));
}

void set_lock_call(LockCall call) { lock_call() = call ? call : system_lock_call; }

FolderLocks::Result FolderLocks::take(const std::string& folder, const std::string& name, std::string* why) {
    const std::string path = lock_file_name(folder);
    const long long offset = lock_offset(name);
    Registry& reg = registry();
    std::lock_guard<std::mutex> guard(reg.m);

    const int fd = open_lock_file(path);
    if (fd < 0) {
        if (why) *why = std::strerror(errno);
        return Result::Unavailable;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        if (why) *why = std::strerror(errno);
        // Kept open: closing it could release this process's locks on the
        // file, which it cannot tell from the others.
        return Result::Unavailable;
    }
    const auto id = std::make_pair(static_cast<unsigned long long>(st.st_dev),
                                   static_cast<unsigned long long>(st.st_ino));
    // The descriptor joins the file's entry at once: closing it while this
    // process holds locks on the file would release them all.
    LockFileEntry& e = reg.files[id];
    e.fds.push_back(fd);

    Result res;
    for (const Held& h : held_)
        if (h.dev == id.first && h.ino == id.second && h.offset == offset) return Result::Taken;
    if (e.offsets.count(offset) != 0) {
        res = Result::Busy;  // another holder in this process
    } else if (set_lock(fd, F_WRLCK, offset)) {
        e.offsets.insert(offset);
        held_.push_back(Held{id.first, id.second, offset});
        return Result::Taken;
    } else if (errno == EACCES || errno == EAGAIN) {
        res = Result::Busy;
    } else {
        if (why) *why = std::strerror(errno);
        res = Result::Unavailable;
    }
    if (e.offsets.empty()) {
        for (const int f : e.fds) ::close(f);
        reg.files.erase(id);
    }
    return res;
}

void FolderLocks::release() {
    if (held_.empty()) return;
    Registry& reg = registry();
    std::lock_guard<std::mutex> guard(reg.m);
    for (const Held& h : held_) {
        const auto it = reg.files.find({h.dev, h.ino});
        if (it == reg.files.end()) continue;
        LockFileEntry& e = it->second;
        if (!e.fds.empty()) set_lock(e.fds.front(), F_UNLCK, h.offset);
        e.offsets.erase(h.offset);
        if (e.offsets.empty()) {
            for (const int f : e.fds) ::close(f);
            reg.files.erase(it);
        }
    }
    held_.clear();
}

namespace {

// A MAIN key as the parameters will take it: from the MAIN section, then the
// overrides in command-line order (the last value given counts).
struct MainKey {
    bool given = false;     // a value in the section or an override
    bool readable = true;   // every text given for it is a number (else the run stops on it)
    float value = 0.0f;     // the last value given
};

// The free-format value of a text as the parameters read it: a null value
// (blank, or a separator alone) gives nothing; a text that is not a finite
// number clears readable.
void take_value(MainKey& k, std::string_view text, bool null_is_bad) {
    float probe0 = 0.0f, probe1 = 1.0f;
    const fio::ListResult r = fio::list_read_string(text, {&probe0});
    if (r.status == fio::ReadStatus::Error) {
        k.readable = false;
        return;
    }
    if (r.status == fio::ReadStatus::Ok) fio::list_read_string(text, {&probe1});
    if (r.status != fio::ReadStatus::Ok || (probe0 == 0.0f && probe1 == 1.0f)) {
        if (null_is_bad) k.readable = false;
        return;
    }
    if (!std::isfinite(probe0)) {
        k.readable = false;
        return;
    }
    k.given = true;
    k.value = probe0;
}

// The MAIN keys that tell what a run will write, read only from its par file
// and overrides; nothing when the par file or its MAIN section cannot be read
// (the run stops on it before writing a file of its own). The look-ahead
// claims no line of the section (its callback answers false), so that no line
// goes through the checks of the section's own reader: the parameters say
// what is wrong with a line, and the look-ahead never stops a run.
std::optional<std::map<std::string, MainKey>> main_keys(
    const Run& run, std::initializer_list<const char*> names = {"istarfo", "mmolfraz", "gastmp", "igastmp",
                                                                "hiiflag", "emiflag", "annflag"}) {
    std::map<std::string, MainKey> keys;
    for (const char* n : names) keys[n];
    try {
        TextFile f = TextFile::open(par_file_name(run));
        if (!modname::search_key_in_file(f, "MAIN")) return std::nullopt;
        read_keyed_section(
            f,
            [&](const std::string& key, std::string_view value) {
                const auto it = keys.find(key);
                if (it != keys.end()) take_value(it->second, value, false);
                return false;
            },
            [](const std::string&) {});
    } catch (const IoError&) {
        return std::nullopt;
    } catch (const Stop&) {
        for (auto& [name, k] : keys) k.readable = false;  // cannot tell
    }
    for (const std::string& o : run.modname.opt) {
        const auto [key, rest] = split_override(o);
        const auto it = keys.find(key);
        if (it == keys.end()) continue;
        take_value(it->second, rest.substr(0, std::min<std::size_t>(rest.size(), 20)), true);
    }
    return keys;
}

// A logical key as the parameters convert it (the value rounded is not 0);
// true when it cannot be told.
bool logical(const MainKey& k) { return !k.readable || !k.given || std::round(k.value) != 0.0f; }

// An integer key as the parameters convert it (truncated toward zero); nothing
// when it cannot be told. dflt is the value of an optional key left out.
std::optional<int> integer(const MainKey& k, std::optional<int> dflt = std::nullopt) {
    if (!k.readable) return std::nullopt;
    if (!k.given) return dflt;
    if (!(std::fabs(k.value) < 2147483648.0f)) return std::nullopt;
    return static_cast<int>(k.value);
}

// Whether the cloud model may treat molecular gas (its HII regions write the
// pan files, its CO lines the lvg file). The clouds' gas is mmolfraz times the
// gas fraction: none for mmolfraz 0, nor for a negative one (no gas) unless the
// gas fraction itself is negative, of which the par file tells only through
// gastmp (the history files are not looked at). The tav model (istarfo 4) may
// raise mmolfraz (too much cirrus), istarfo 5 ends the run in its history
// reader; a value the driver refuses stops the run before any of them.
bool clouds_may_run(const std::map<std::string, MainKey>& m) {
    const std::optional<int> istarfo = integer(m.at("istarfo"));
    if (istarfo == 5) return false;
    const MainKey& frac = m.at("mmolfraz");
    if (!frac.readable || !frac.given || frac.value > 0.0f) return true;
    if (istarfo != 0 && istarfo != 1 && istarfo != 6 && istarfo != 7) return true;
    if (frac.value == 0.0f) return false;
    if (istarfo == 0) {
        const std::optional<int> igastmp = integer(m.at("igastmp"));
        const MainKey& gastmp = m.at("gastmp");
        if (!igastmp) return true;
        if (*igastmp == 1 && (!gastmp.readable || !gastmp.given || gastmp.value < 0.0f)) return true;
    }
    return false;
}

// Thrown by the LVG look-ahead at a z_lvg of 0: the section's reader stops
// reading there.
struct LvgOff {};

// Whether the LVG section asks for the CO-line grid: z_lvg as its reader takes
// it (F10.6), the grid running for z_lvg > 0 and a z_lvg of 0 ending the
// reading; true when it cannot be told.
bool lvg_section_asks_for_grid(const Run& run) {
    bool asks = false;
    try {
        TextFile f = TextFile::open(par_file_name(run));
        if (!modname::search_key_in_file(f, "LVG")) return false;
        read_keyed_section(
            f,
            [&](const std::string& key, std::string_view value) {
                // No line is claimed (see main_keys).
                if (key != "z_lvg") return false;
                const auto v = fio::read_real4_field(value, 6);
                if (v && *v == 0.0f) throw LvgOff{};
                asks = !v || !(*v <= 0.0f);  // a bad value: the reader will say what is wrong
                return false;
            },
            [](const std::string&) {});
    } catch (const LvgOff&) {
        return false;
    } catch (const Stop&) {
        return true;  // cannot tell
    } catch (const IoError&) {
        return false;
    }
    return asks;
}

}  // namespace

std::optional<bool> main_logical(const Run& run, const std::string& name, bool absent) {
    const auto m = main_keys(run, {name.c_str()});
    if (!m) return std::nullopt;
    const MainKey& k = m->at(name);
    if (k.readable && !k.given) return absent;
    return logical(k);
}

bool run_writes_pan_files(const Run& run) {
    const auto m = main_keys(run);
    if (!m) return false;
    // The HII regions of the clouds (hiiflag).
    return logical(m->at("hiiflag")) && clouds_may_run(*m);
}

bool run_writes_lvg_file(const Run& run) {
    const auto m = main_keys(run);
    if (!m) return false;
    // The CO lines follow the clouds' dust emission (emiflag) by the dust
    // solver, whose temperatures they take: with the cloud emulator (annflag 1
    // or 3) the grid does not run.
    if (!logical(m->at("emiflag")) || !clouds_may_run(*m)) return false;
    const std::optional<int> ann = integer(m->at("annflag"), 0);
    if (ann == 1 || ann == 3) return false;
    return lvg_section_asks_for_grid(run);
}

bool run_writes_history_exports(const Run& run) {
    const auto m = main_keys(run);
    if (!m) return false;
    const MainKey& k = m->at("istarfo");
    return !k.readable || !k.given || integer(k) == 5;
}

namespace {

std::string result_lock_key(const std::string& base) { return "result " + base; }

// A word of a shell command, quoted when it holds anything but the characters
// of plain names and values.
std::string shell_word(const std::string& w) {
    if (!w.empty() &&
        w.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._+-=/,:@%") ==
            std::string::npos)
        return w;
    std::string q = "'";
    for (const char c : w) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

enum class ModelFile { Pan, Lvg, History };

// The entries of a folder ("" for the working folder), dangling links
// included; nothing when it cannot be listed.
std::optional<std::set<std::string>> folder_entries(const std::string& folder) {
    std::set<std::string> names;
    std::error_code ec;
    std::filesystem::directory_iterator it(folder.empty() ? std::string(".") : folder, ec);
    for (const std::filesystem::directory_iterator end; !ec && it != end; it.increment(ec))
        names.insert(it->path().filename().string());
    if (ec) return std::nullopt;
    return names;
}

// Whether a file of the folder is named after base: base.<anything> (a
// model's inputs and outputs, a result name's files and their temporary
// names) or the pan file of one of its HII sets (base_<digit>.pan). In a
// folder that cannot be listed the names a copy writes are looked up one by
// one.
bool named_after(const std::optional<std::set<std::string>>& entries, const std::string& folder,
                 const std::string& base) {
    std::vector<std::string> names;
    for (char d = '0'; d <= '9'; ++d) names.push_back(base + "_" + d + ".pan");
    if (entries) {
        const auto it = entries->lower_bound(base + ".");
        if (it != entries->end() && it->compare(0, base.size() + 1, base + ".") == 0) return true;
        return std::any_of(names.begin(), names.end(), [&](const std::string& n) { return entries->count(n) != 0; });
    }
    for (const char* ext : {".par", ".lin", ".bst", ".pan", ".lvg", ".out", ".spe"})
        names.push_back(base + ext);
    struct stat st {};
    return std::any_of(names.begin(), names.end(),
                       [&](const std::string& n) { return ::lstat((folder + n).c_str(), &st) == 0; });
}

// The first of name itself (when as_is), <name>_2, <name>_3, ... that no file
// of its folder is named after, so that what a copy is told to write never
// replaces a file.
std::string free_name(const std::string& name, bool as_is = false) {
    const auto [folder, base] = split_folder(name);
    const auto entries = folder_entries(folder);
    if (as_is && !named_after(entries, folder, base)) return name;
    for (unsigned long n = 2;; ++n) {
        const std::string b = base + "_" + std::to_string(n);
        if (!named_after(entries, folder, b)) return folder + b;
    }
}

// What a run refused for a file named after its model can do instead. Every
// way named works when followed: the model's name also names its inputs (the
// HII model list, the bulge law, and the history unless namesf says
// otherwise), so a copy under another name gets copies of them, and the tav
// model takes its galaxy from the name, so it cannot be copied.
std::vector<std::string> model_file_advice(const Run& run, const std::string& model, ModelFile what) {
    const std::string hii = what == ModelFile::Pan ? ", give it hiiflag=0" : "";
    if (what == ModelFile::History)
        return {fio::list_line({"this run stops and writes nothing: wait for the other run to end, or run this one in"
                                " another folder (the export files are named after the model)"})};
    const auto m = main_keys(run, {"istarfo", "hiiflag"});
    const std::optional<int> istarfo = m ? integer(m->at("istarfo")) : std::nullopt;
    if (istarfo == 4)
        return {fio::list_line({"this run stops and writes nothing: wait for the other run to end" + hii +
                                ", or run it in another folder (the tav model takes its galaxy from the model name:"
                                " a copy under another name would be another galaxy)"})};
    // The copy's name and its result name are free: the copy's commands
    // write its par file and inputs, its run the files named after it and,
    // without a result name of its own, its result files. A result name given
    // that already names files is replaced by a free one.
    const std::string copy = free_name(model);
    std::string res;
    for (const std::string& o : run.modname.opt)
        if (const Override ov = split_override(o); ov.key == "nameres") res = upto_blank(ov.value);
    const std::string free_res = res.empty() ? res : free_name(res, true);
    std::string cmd = "cp " + shell_word(model + ".par") + " " + shell_word(copy + ".par");
    auto copy_input = [&](const char* ext) {
        if (file_exists(model + ext)) cmd += "; cp " + shell_word(model + ext) + " " + shell_word(copy + ext);
    };
    if (!m || logical(m->at("hiiflag"))) copy_input(".lin");  // the HII model list
    copy_input(".bst");                                       // the bulge law
    const std::string& prog = run.modname.started_as;
    cmd += "; " + (prog.empty() ? std::string("quelvo") : shell_word(prog)) + " " + shell_word(copy);
    // The run's own arguments, after the history's name: the tabulated
    // histories are read under the history name, the model name unless namesf
    // gives another; the pelto and sorvanto files have fixed names.
    std::string args;
    bool namesf = false;
    for (const std::string& o : run.modname.opt) {
        const auto [key, value] = split_override(o);
        namesf = namesf || key == "namesf";
        args += " " + shell_word(key + "=" + (key == "nameres" && free_res != res ? free_res : value));
    }
    if (!namesf && istarfo != 6 && istarfo != 7) cmd += " " + shell_word("namesf=" + model);
    cmd += args;
    return {fio::list_line({"this run stops and writes nothing: wait for the other run to end" + hii +
                            ", or run a copy of the model under another name:"}),
            fio::list_line({cmd})};
}

}  // namespace

bool holds_result_lock(FolderLocks& locks, const Run& run) {
    // Taking a lock again that the holder has is Taken; in a folder without
    // locks it is Unavailable again.
    const auto [folder, base] = split_folder(upto_blank(run.modname.name_res));
    return locks.take(folder, result_lock_key(base)) == FolderLocks::Result::Taken;
}

FolderLocks lock_run_files(const Run& run) {
    struct Want {
        std::string folder, key, file;
    };
    std::vector<Want> wants;
    {
        const auto [folder, base] = split_folder(upto_blank(run.modname.name_res));
        wants.push_back({folder, result_lock_key(base), runlog_name(run)});
    }
    const std::string model = upto_blank(run.modname.name);
    const auto [mfolder, mbase] = split_folder(model);
    if (run_writes_pan_files(run)) wants.push_back({mfolder, "pan " + mbase, model + ".pan"});
    if (run_writes_lvg_file(run)) wants.push_back({mfolder, "lvg " + mbase, model + ".lvg"});
    if (run_writes_history_exports(run))
        wants.push_back({mfolder, "history " + mbase, model + ".sft"});

    FolderLocks locks;
    for (const Want& w : wants) {
        std::string why;
        switch (locks.take(w.folder, w.key, &why)) {
            case FolderLocks::Result::Taken:
                break;
            case FolderLocks::Result::Busy: {
                locks.release();
                const bool result = w.key.rfind("result ", 0) == 0;
                const bool pan = w.key.rfind("pan ", 0) == 0;
                std::string what = w.file;
                if (result)
                    what += " (and the result files " + upto_blank(run.modname.name_res) + ".*)";
                else if (pan)
                    what += " (or " + model + "_<set>.pan)";
                else if (w.key.rfind("history ", 0) == 0)
                    what += ", " + model + ".sfd and " + model + ".sfb";
                // The files named after the model are the model's, whatever
                // the result name.
                std::vector<std::string> lines = {
                    fio::list_line({"ERROR: another run in this folder is writing " + what})};
                if (result) {
                    lines.push_back(fio::list_line({"this run stops and writes nothing (give it its own nameres)"}));
                } else {
                    const ModelFile mf = pan ? ModelFile::Pan
                                             : w.key.rfind("lvg ", 0) == 0 ? ModelFile::Lvg : ModelFile::History;
                    for (std::string& l : model_file_advice(run, model, mf)) lines.push_back(std::move(l));
                }
                throw Stop(lines);
            }
            case FolderLocks::Result::Unavailable:
                // Without locks the run goes on as runs did before them.
                run.con.err_line("quelvo: warning: cannot lock " + lock_file_name(w.folder) + " (" + why +
                                 "): runs in this folder are not kept from writing " + w.file + " together");
                break;
        }
    }
    return locks;
}

}  // namespace qv
