#include "core/quelvo.h"

#include <iostream>
#include <new>
#include <string>

#include "core/run.h"
#include "core/run_lock.h"
#include "core/stop.h"
#include "io/format.h"
#include "io/textfile.h"

namespace qv {

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

    // Before the run writes anything: another live run writing one of its
    // files stops it here. The locks go with the end of this call.
    const FolderLocks locks = lock_run_files(run);
    write_file_atomic(runlog_name(run), " USEFUL CHECKING NUMBERS FOLLOW\n");

    qvmain(run);

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
        *con.err << "quelvo: " << e.what() << '\n';
        status = 2;
    } catch (const std::bad_alloc&) {
        *con.out << " ALLOCATION ERROR: not enough memory for this model" << '\n';
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
