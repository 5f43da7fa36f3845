// Locks that keep two runs in one folder from writing one result file together.
//
// The locks of a folder are byte ranges of one hidden, empty file in it,
// ".quelvo.lock", locked with fcntl: the system releases them when the process
// ends, however it ends, so a killed run leaves nothing to clear by hand, and
// fcntl locks also hold between the machines of an NFS-shared folder. Each
// locked name has its own byte, at an offset given by a hash of the name, so
// one file serves every name and the folder gains one hidden file at most (it
// is not removed: removing a lock file that another run may be opening would
// need a retry protocol, and breaks on NFS).
//
// fcntl locks belong to a process, which never conflicts with itself and loses
// all its locks on a file when it closes any descriptor of it. A registry in
// the process therefore holds the descriptors and the names it has locked, so
// that two holders in one process (runs made in-process by tests) exclude each
// other too and a descriptor is closed only when its file has no lock left.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

struct flock;

namespace qv {

struct Run;

class FolderLocks {
public:
    enum class Result {
        Taken,        // this holder has the lock
        Busy,         // another live holder (process, or holder in this process) has it
        Unavailable,  // the lock file cannot be opened or locked (see the reason)
    };

    FolderLocks() = default;
    ~FolderLocks() { release(); }
    FolderLocks(const FolderLocks&) = delete;
    FolderLocks& operator=(const FolderLocks&) = delete;
    FolderLocks(FolderLocks&& o) noexcept : held_(std::move(o.held_)) { o.held_.clear(); }
    FolderLocks& operator=(FolderLocks&&) = delete;

    // Takes the lock of name in folder ("" for the working directory, else a
    // path ending in "/"). Taking a name this holder already has is Taken.
    // why gets the system's reason for Unavailable.
    Result take(const std::string& folder, const std::string& name, std::string* why = nullptr);
    // Releases every lock of this holder.
    void release();
    std::size_t size() const { return held_.size(); }

private:
    struct Held {
        unsigned long long dev, ino;
        long long offset;
    };
    std::vector<Held> held_;
};

// The file name of a folder's locks, and the byte of a name in it.
std::string lock_file_name(const std::string& folder);
long long lock_offset(const std::string& name);

// The call that sets and clears the locks (fcntl with F_SETLK); tests put in
// one that fails as a file system refusing an offset would. nullptr restores
// fcntl.
using LockCall = int (*)(int fd, int cmd, struct flock* fl);
void set_lock_call(LockCall call);

// A logical MAIN key as the parameters will take it (the value rounded is not
// 0), from the MAIN section and then the overrides, read before the run reads
// them: true when the value cannot be read (the run stops on it before writing
// any file of its own), absent when the key is not given, nothing when there
// is no par file.
std::optional<bool> main_logical(const Run& run, const std::string& name, bool absent = true);

// What a run will write besides its result files, as far as its par file and
// overrides tell before the run starts (read only; when they cannot tell, the
// answer is yes): the pan files of the clouds' HII regions, the lvg file of
// their CO lines, and the history export files of istarfo 5 (.sft, .sfd, .sfb).
bool run_writes_pan_files(const Run& run);
bool run_writes_lvg_file(const Run& run);
bool run_writes_history_exports(const Run& run);

// Takes the locks of the files the run will write: its result name (the run
// log, the spectra and PAH files) and, when the run will write them, its
// model's pan files, lvg file and history export files. Another live run
// holding one of them stops this run (Stop naming the file) before it has
// written anything, with none of its locks kept. A folder where no lock can be
// had (the lock file cannot be opened, or its file system refuses the lock or
// its offset) is warned about on standard error and the run goes on.
FolderLocks lock_run_files(const Run& run);

// Whether locks (from lock_run_files) hold the lock of the run's result name:
// false in a folder where no lock can be had.
bool holds_result_lock(FolderLocks& locks, const Run& run);

// The folder of a file name (up to its last "/", kept; "" for the working
// folder) and its base.
std::pair<std::string, std::string> split_folder(const std::string& name);

}  // namespace qv
