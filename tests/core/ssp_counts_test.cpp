// Counts of an SSP table checked against what the file holds before they size
// the library or a buffer: a damaged count is an I/O error naming the file,
// the count and the lines found, not an allocation of gigabytes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/run.h"
#include "core/ssp_library.h"
#include "core/stop.h"
#include "support/test_support.h"
#include "synthesis_fixtures.h"

namespace qv::test {
namespace {

using ::testing::HasSubstr;

// Two wavelengths, two age blocks.
SspTableText two_blocks() {
    SspTableText t;
    t.wave_codes = {70000, 80000};
    t.blocks = {{10.0, {80000, 80000}}, {9.0, {80000, 80000}}};
    return t;
}

struct CountCase {
    const char* what;
    const char* counts;     // line 4
    const char* extension;  // the extension header, or ""
    const char* words;
};

TEST(SspTableCounts, ACountBeyondTheFileIsAnIoErrorNamingIt) {
    const CountCase cases[] = {
        {"nlam", "999999999", "",
         "a.ssp:4: the number of wavelengths nlam=999999999 needs at least 100000005 lines; the file holds 9"},
        {"n_d", "     2    -1     7",
         "    0\n    3    2\n 1. 2. 3. 4. 5. 6. 7.\n    0\n\n 1 2 3 4\n 99999\n", "a.ssp:12: the extension count 4*n_d=399996 needs more values than the rest of the file holds"},
        {"n_c", "     2    -1     7", "    0\n    3    2\n 1. 2. 3. 4. 5. 6. 7.\n -999999999\n",
         "n_c=999999999 needs more values than the rest of the file holds"},
        {"n_b", "     2    -1     7", "    1\n    3 999999999\n", "n_b=999999999 needs at least"},
    };
    for (const CountCase& c : cases) {
        TempDir dir;
        CapturedConsole cc;
        qv::Run run{cc.con};
        run.modname.name = "m1";
        write_text("m1.par", ssp_section({{1, "a.ssp"}}));
        SspTableText t = two_blocks();
        t.counts = c.counts;
        t.extension_header = c.extension;
        write_text("a.ssp", render(t));
        try {
            readflussi_asci(run, 1.0f, true);
            ADD_FAILURE() << c.what << ": no error";
        } catch (const IoError& e) {
            EXPECT_THAT(e.what(), HasSubstr(c.words)) << c.what << ": " << e.what();
            EXPECT_THAT(e.what(), HasSubstr("a.ssp")) << c.what;
        }
    }
}

}  // namespace
}  // namespace qv::test
