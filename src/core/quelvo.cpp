#include "core/quelvo.h"

#include <cerrno>
#include <iostream>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

#include "core/run.h"
#include "core/run_lock.h"
#include "core/stop.h"
#include "dust/spectra_files.h"
#include "io/format.h"
#include "io/textfile.h"

namespace qv {

namespace {

const char* const kNoMemory = " ALLOCATION ERROR: not enough memory for this model";

std::string io_diagnostic(const IoError& e) { return std::string("quelvo: ") + e.what(); }

// Ends the run log of a run that stops with the stop's message, so that the
// log alone shows that the run stopped and why. A run log that cannot be
// appended to (removed meanwhile) is left as it is: the stop itself is what
// the user must see.
void log_stop(const Run& run, const std::vector<std::string>& lines) {
    try {
        runlog_append(run, lines);
    } catch (const IoError&) {
    } catch (const std::bad_alloc&) {
    }
}

// The result files are named when the command line is read, and a name that
// the folder cannot hold would fail only at the end of the run, when the last
// of them is written: the longest name the run writes is checked here.
void check_result_name_length(const Run& run, bool pah) {
    const std::string res = upto_blank(run.modname.name_res);
    auto [folder, base] = split_folder(res);
    if (folder.empty()) folder = ".";
    const bool ssp = main_logical(run, "wavsspout", false).value_or(false);
    const LongestName l = longest_result_file(base, ssp, pah, static_cast<long>(::getpid()));
    errno = 0;
    const long max = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    // No limit, or a folder that is not there (the run log then cannot be made).
    if (max <= 0 || l.length <= static_cast<std::size_t>(max)) return;
    const std::size_t overhead = l.length - base.size();
    const long room = max > static_cast<long>(overhead) ? max - static_cast<long>(overhead) : 0;
    throw Stop(std::vector<std::string>{
        fio::list_line({"ERROR: the result name " + res + " is too long: the file " + l.file +
                        " is written under a name of " + std::to_string(l.length) +
                        " characters, and the folder " + folder + " takes names of at most " +
                        std::to_string(max)}),
        fio::list_line({"give a result name (nameres) of at most " + std::to_string(room) + " characters"})});
}

}  // namespace

void run_quelvo(Run& run, int argc, char** argv) {
    Console& con = run.con;
    const double cpu0 = con.cpu_seconds();
    const double wall0 = con.wall_seconds();

    RunNames& mn = run.modname;
    mn.name = argc > 1 && argv[1] ? argv[1] : "";
    mn.name_res = mn.name;
    mn.name_sf = mn.name;
    mn.name_intrho = "quelvo.intrho";
    // A name that begins with "-" is an option ("--help"), not a model.
    if (mn.name.empty() || mn.name[0] == ' ' || mn.name[0] == '\0' || mn.name[0] == '-') {
        con.line(" I need one argument to run!");
        con.line(" Usage: quelvo model_name [par=value]... ");
        con.line(" Cheers.");
        return;
    }

    mn.started_as = argc > 0 && argv[0] ? argv[0] : "";
    mn.name_dir = clean_name_dir(mn.started_as);
    run.ann_qve.trained_ann_path = trim_right(mn.name_dir) + "ann\\";

    mn.nopt = argc - 2;
    mn.opt.clear();
    for (int k = 1; k <= mn.nopt; ++k) {
        const std::string arg = argv[k + 1] ? argv[k + 1] : "";
        const std::size_t eq = arg.find('=');
        if (eq == std::string::npos || eq == 0)
            throw Stop(fio::list_line({"Invalid argument in command line (missing =)"}));
        std::string key = arg.substr(0, eq);
        key.resize(10, ' ');
        const std::string value = arg.substr(eq + 1);
        // A name given empty (an unset shell variable) would name hidden files.
        const std::string kname = trim_right(key);
        if ((kname == "nameres" || kname == "namesf" || kname == "nameintrho") && upto_blank(value).empty())
            throw Stop(fio::list_line({"Invalid argument in command line: " + kname + "= needs a name"}));
        mn.opt.push_back(key + value);
        if (trim_right(key) == "nameres") {
            mn.name_res = value;
            con.line(fio::list_line({"Writing results on files ", upto_blank(mn.name_res) + ".*"}));
        }
    }

    const bool pahflag = main_logical(run, "pahflag", false).value_or(false);
    check_result_name_length(run, pahflag);

    // Before the run writes anything: another live run writing one of its
    // files stops it here. The locks go with the end of this call.
    FolderLocks locks = lock_run_files(run);
    mn.result_locked = holds_result_lock(locks, run);
    // A temporary spectra name that the end of the run could not take stops
    // the run now, before the computation.
    if (pahflag || main_logical(run, "annflag", false).value_or(false))
        cirrus::check_temporary_names(run);

    write_file_atomic(runlog_name(run), " USEFUL CHECKING NUMBERS FOLLOW\n");

    // From here on a stop ends the run log with its message (while the result
    // lock is still held).
    try {
        qvmain(run);
    } catch (const Stop& s) {
        log_stop(run, s.lines);
        throw;
    } catch (const IoError& e) {
        log_stop(run, {io_diagnostic(e)});
        throw;
    } catch (const std::bad_alloc&) {
        log_stop(run, {kNoMemory});
        throw;
    }

    mn.opt.clear();
    const double cpu = con.cpu_seconds() - cpu0;
    const double wall = con.wall_seconds() - wall0;
    con.line(fio::list_line({"cputime=", static_cast<float>(cpu)}));
    con.line(fio::list_line({"w95time=", static_cast<float>(wall)}));
    runlog_append(run, {"", fio::write_line("(' used cpu time =',F10.3)", {static_cast<float>(cpu)})});
}

int quelvo_main(int argc, char** argv, Console& con) {
    int status = 0;
    try {
        Run run(con);
        run_quelvo(run, argc, argv);
    } catch (const EndOfRun&) {
        status = 0;
    } catch (const Stop& s) {
        std::ostream& os = s.on_stderr ? *con.err : *con.out;
        for (const auto& l : s.lines) os << l << '\n';
        status = 1;
    } catch (const IoError& e) {
        con.out->flush();
        *con.err << io_diagnostic(e) << '\n';
        status = 2;
    } catch (const std::bad_alloc&) {
        *con.out << kNoMemory << '\n';
        status = 1;
    } catch (const std::exception& e) {
        con.out->flush();
        *con.err << "quelvo: internal error: " << e.what() << '\n';
        status = 3;
    }
    con.out->flush();
    con.err->flush();
    return status;
}

}  // namespace qv
