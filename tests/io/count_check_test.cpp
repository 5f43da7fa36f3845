// The count check shared by the readers of data files.
#include <gtest/gtest.h>

#include <string>

#include "core/stop.h"
#include "io/count_check.h"
#include "io/textfile.h"
#include "support/test_support.h"

namespace qv::fio {
namespace {

TEST(CountCheck, LinesOfAFileWithAndWithoutALastLineEnd) {
    test::TempDir d;
    const struct {
        const char* text;
        std::size_t lines;
    } cases[] = {{"", 0}, {"a", 1}, {"a\n", 1}, {"a\n\nb", 3}, {"a\nb\n", 2}};
    for (const auto& c : cases) {
        test::write_text("f.txt", c.text);
        EXPECT_EQ(count_file_lines("f.txt"), c.lines) << c.text;
    }
    EXPECT_EQ(count_file_lines("absent.txt"), 0u);
}

TEST(CountCheck, LinesForRoundsUp) {
    EXPECT_EQ(lines_for(0, 20), 0);
    EXPECT_EQ(lines_for(-5, 20), 0);
    EXPECT_EQ(lines_for(20, 20), 1);
    EXPECT_EQ(lines_for(21, 20), 2);
    EXPECT_EQ(lines_for(999999999LL * 999999999LL, 20), 49999999900000001LL);
}

TEST(CountCheck, ACountThatNeedsMoreLinesOrIsNegativeNamesFileLineAndCount) {
    EXPECT_NO_THROW(check_count("f.dat", 2, "n", 5, 10, 10));
    try {
        check_count("f.dat", 2, "the number of outputs nout", 999999999, 1000000004, 7);
        ADD_FAILURE();
    } catch (const IoError& e) {
        EXPECT_STREQ(e.what(),
                     "f.dat:2: the number of outputs nout=999999999 needs at least 1000000004 lines; the file holds 7");
    }
    try {
        check_count("f.dat", 0, "n", -3, 0, 7);
        ADD_FAILURE();
    } catch (const IoError& e) {
        EXPECT_STREQ(e.what(), "f.dat: n=-3 is negative");
    }
}

// The values the rest of a file can give bound a count before it sizes a table:
// items, repeats r*c, and empty values between separators, from the file's
// position on.
TEST(CountCheck, ValuesLeftFromThePositionOn) {
    const struct {
        const char* text;
        int skip;  // lines read before the count
        long long values;
    } cases[] = {{"1 2 3\n4\n", 0, 4},          {"1 2 3\n4\n", 1, 1},   {"3*1.0 2\n", 0, 4},
                 {"1,,2\n", 0, 4},               {"1 2 / 3\n", 0, 3},     {"a*2 5\r\n", 0, 2},
                 {"1000000000*1.0\n", 0, 1000000000}, {"\n\n", 0, 0}};
    for (const auto& c : cases) {
        TextFile f = TextFile::from_string("t", c.text);
        std::string_view line;
        for (int i = 0; i < c.skip; ++i) ASSERT_TRUE(f.next(line));
        EXPECT_EQ(list_values_left(f), c.values) << c.text;
    }
}

}  // namespace
}  // namespace qv::fio
