#include "core/run_lock.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
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

bool set_lock(int fd, short type, long long offset) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(offset);
    fl.l_len = 1;
    int rc;
    do {
        rc = ::fcntl(fd, F_SETLK, &fl);
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

// The folder of a file name (up to its last "/", kept) and its base.
std::pair<std::string, std::string> split_folder(const std::string& name) {
    const std::size_t s = name.rfind('/');
    if (s == std::string::npos) return {"", name};
    return {name.substr(0, s + 1), name.substr(s + 1)};
}

// A real of a free-format value text; nothing when the text holds none or is
// not a number.
std::optional<float> list_value(std::string_view text) {
    float v = std::numeric_limits<float>::quiet_NaN();
    const fio::ListResult r = fio::list_read_string(text, {&v});
    if (r.status != fio::ReadStatus::Ok || std::isnan(v)) return std::nullopt;
    return v;
}

}  // namespace

std::string lock_file_name(const std::string& folder) { return folder + ".quelvo.lock"; }

long long lock_offset(const std::string& name) {
    // FNV-1a, folded to 31 bits: offsets that every NFS lock protocol carries.
    unsigned long long h = 1469598103934665603ULL;
    for (const unsigned char c : name) {
        h ^= c;
        h *= 1099511628211ULL;
    }
    return static_cast<long long>((h ^ (h >> 31)) & 0x7ffffffeULL);
}

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

std::optional<bool> main_logical(const Run& run, const std::string& name, bool absent) {
    std::optional<bool> flag;
    auto take = [&flag](std::string_view text) {
        const auto v = list_value(text);
        flag = v ? std::round(*v) != 0.0f : true;
    };
    try {
        TextFile f = TextFile::open(par_file_name(run));
        if (modname::search_key_in_file(f, "MAIN"))
            read_keyed_section(
                f,
                [&](const std::string& key, std::string_view value) {
                    if (key != name) return false;
                    take(value);
                    return true;
                },
                [](const std::string&) {});
    } catch (const IoError&) {
        return std::nullopt;
    }
    for (const std::string& o : run.modname.opt) {
        if (trim_right(o.substr(0, std::min<std::size_t>(o.size(), 10))) != name) continue;
        const std::string rest = o.size() > 10 ? o.substr(10) : std::string();
        take(rest.substr(0, std::min<std::size_t>(rest.size(), 20)));
    }
    return flag.value_or(absent);
}

bool run_writes_pan_files(const Run& run) { return main_logical(run, "hiiflag").value_or(false); }

bool run_writes_lvg_file(const Run& run) {
    // The section is read with the clouds' dust emission (emiflag); z_lvg as
    // the section's reader takes it: the grid runs for z_lvg > 0, and a z_lvg
    // of 0 ends the reading.
    if (!main_logical(run, "emiflag").value_or(false)) return false;
    bool writes = false;
    try {
        TextFile f = TextFile::open(par_file_name(run));
        if (!modname::search_key_in_file(f, "LVG")) return false;
        bool off = false;
        read_keyed_section(
            f,
            [&](const std::string& key, std::string_view value) {
                if (off || key != "z_lvg") return true;
                const auto v = fio::read_real4_field(value, 6);
                if (!v) {
                    writes = true;  // the reader will say what is wrong
                } else if (*v == 0.0f) {
                    off = true;
                    writes = false;
                } else {
                    writes = !(*v <= 0.0f);
                }
                return true;
            },
            [](const std::string&) {});
    } catch (const IoError&) {
        return false;
    }
    return writes;
}

FolderLocks lock_run_files(const Run& run) {
    struct Want {
        std::string folder, key, file;
    };
    std::vector<Want> wants;
    {
        const auto [folder, base] = split_folder(upto_blank(run.modname.name_res));
        wants.push_back({folder, "result " + base, runlog_name(run)});
    }
    const std::string model = upto_blank(run.modname.name);
    const auto [mfolder, mbase] = split_folder(model);
    if (run_writes_pan_files(run)) wants.push_back({mfolder, "pan " + mbase, model + ".pan"});
    if (run_writes_lvg_file(run)) wants.push_back({mfolder, "lvg " + mbase, model + ".lvg"});

    FolderLocks locks;
    for (const Want& w : wants) {
        std::string why;
        switch (locks.take(w.folder, w.key, &why)) {
            case FolderLocks::Result::Taken:
                break;
            case FolderLocks::Result::Busy: {
                locks.release();
                const bool result = w.key.rfind("result ", 0) == 0;
                std::string what = w.file;
                if (result)
                    what += " (and the result files " + upto_blank(run.modname.name_res) + ".*)";
                else if (w.key.rfind("pan ", 0) == 0)
                    what += " (or " + model + "_<set>.pan)";
                throw Stop(std::vector<std::string>{
                    fio::list_line({"ERROR: another run in this folder is writing " + what}),
                    fio::list_line({result ? "this run stops and writes nothing (give it its own nameres)"
                                           : "this run stops and writes nothing"})});
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
