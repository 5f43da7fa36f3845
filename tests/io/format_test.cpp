// Formatted output against what gfortran writes: the golden tables, the extra
// reference rows (tests/data/io/format-output-extra.tsv, made by gen/gen.py),
// and the format-string machinery (records, reversion, X, literals, kP).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "io/format.h"
#include "io/tables.h"

namespace qv::fio {
namespace {

using test::load_table;
using test::unbar;

// ---------------------------------------------------------------------------
// Reference tables

TEST(FormatGolden, EveryRowOfTheGoldenOutputTable) {
    auto rows = load_table("golden/fortran-format-output.tsv");
    ASSERT_GT(rows.size(), 500u);
    int failures = 0;
    for (const auto& r : rows) {
        ASSERT_EQ(r.cols.size(), 3u) << "line " << r.line;
        const std::string& desc = r.cols[0];
        const std::string want = unbar(r.cols[2]);
        std::string got;
        if (desc[0] == 'I') {
            got = write_line("(" + desc + ")", {std::atoi(r.cols[1].c_str())});
        } else if (desc[0] == 'L') {
            got = write_line("(" + desc + ")", {r.cols[1] == "T"});
        } else {
            float v = std::strtof(r.cols[1].c_str(), nullptr);
            got = write_line("(" + desc + ")", {v});
        }
        if (got != want) {
            ++failures;
            ADD_FAILURE() << "line " << r.line << ": " << desc << " of " << r.cols[1] << ": got |" << got
                          << "| want |" << want << "|";
        }
    }
    EXPECT_EQ(failures, 0);
}

TEST(FormatGolden, SingleEditFunctionsAgreeWithTheGoldenTable) {
    auto rows = load_table("golden/fortran-format-output.tsv");
    for (const auto& r : rows) {
        const std::string& desc = r.cols[0];
        const std::string want = unbar(r.cols[2]);
        float v = std::strtof(r.cols[1].c_str(), nullptr);
        int w = 0, d = 0;
        if (desc.rfind("1PE", 0) == 0) {
            std::sscanf(desc.c_str() + 3, "%d.%d", &w, &d);
            EXPECT_EQ(edit_e(v, w, d, 0, 1), want) << "line " << r.line;
            EXPECT_EQ(edit_e(static_cast<double>(v), w, d, 0, 1), want) << "line " << r.line;
        } else if (desc[0] == 'E') {
            std::sscanf(desc.c_str() + 1, "%d.%d", &w, &d);
            EXPECT_EQ(edit_e(v, w, d), want) << "line " << r.line;
        } else if (desc[0] == 'F') {
            std::sscanf(desc.c_str() + 1, "%d.%d", &w, &d);
            EXPECT_EQ(edit_f(v, w, d), want) << "line " << r.line;
            EXPECT_EQ(edit_f(static_cast<double>(v), w, d), want) << "line " << r.line;
        } else if (desc[0] == 'G') {
            std::sscanf(desc.c_str() + 1, "%d.%d", &w, &d);
            EXPECT_EQ(edit_g(v, w, d), want) << "line " << r.line;
        } else if (desc[0] == 'I') {
            std::sscanf(desc.c_str() + 1, "%d", &w);
            EXPECT_EQ(edit_i(std::atoi(r.cols[1].c_str()), w), want) << "line " << r.line;
        } else if (desc[0] == 'L') {
            std::sscanf(desc.c_str() + 1, "%d", &w);
            EXPECT_EQ(edit_l(r.cols[1] == "T", w), want) << "line " << r.line;
        }
    }
}

// Thousands of fields that gfortran wrote for 4-byte and 8-byte reals: random
// values, ties, values next to every rounding and form boundary of G, the
// list-directed form, infinities, NaN, subnormals, three-digit exponents.
TEST(FormatReference, EveryRowOfTheExtraOutputTable) {
    auto rows = load_table("io/format-output-extra.tsv");
    ASSERT_GT(rows.size(), 10000u);
    int failures = 0;
    for (const auto& r : rows) {
        ASSERT_EQ(r.cols.size(), 4u) << "line " << r.line;
        const bool single = r.cols[0] == "4";
        const std::string& desc = r.cols[1];
        const long long bits = std::atoll(r.cols[2].c_str());
        const std::string want = unbar(r.cols[3]);
        std::string got;
        if (single) {
            float v = test::float_from_bits(bits);
            got = desc == "*" ? list_line({v}) : write_line("(" + desc + ")", {v});
        } else {
            double v = test::double_from_bits(bits);
            got = desc == "*" ? list_line({v}) : write_line("(" + desc + ")", {v});
        }
        if (got != want && ++failures <= 40) {
            ADD_FAILURE() << "line " << r.line << ": kind " << r.cols[0] << " " << desc << " of bits " << bits
                          << ": got |" << got << "| want |" << want << "|";
        }
    }
    EXPECT_EQ(failures, 0);
}

// ---------------------------------------------------------------------------
// Single descriptors: the cases the tables do not reach

struct EditCase {
    std::string got;
    std::string want;
};

TEST(EditDescriptors, IntegersWithMinimumDigitsAndOverflow) {
    const EditCase cases[] = {
        {edit_i(5, 5, 3), "  005"},   {edit_i(0, 5, 0), "     "},     {edit_i(-5, 3, 3), "***"},
        {edit_i(-5, 4, 3), "-005"},   {edit_i(-5, 2), "-5"},          {edit_i(0, 1), "0"},
        {edit_i(10, 1), "*"},         {edit_i(-123, 0), "-123"},      {edit_i(42, 0), "42"},
        {edit_i(12345, 5), "12345"},  {edit_i(123456, 5), "*****"},   {edit_i(-1, 6), "    -1"},
        {edit_i(std::numeric_limits<long long>::min(), 20), "-9223372036854775808"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.got, c.want);
}

TEST(EditDescriptors, TextAndLogical) {
    EXPECT_EQ(edit_a("abcdef", 3), "abc");  // the leftmost w characters
    EXPECT_EQ(edit_a("abc", 8), "     abc");
    EXPECT_EQ(edit_a("xy"), "xy");
    EXPECT_EQ(edit_a("", 2), "  ");
    EXPECT_EQ(edit_l(true, 1), "T");
    EXPECT_EQ(edit_l(false, 3), "  F");
}

TEST(EditDescriptors, NarrowFieldsAndLeadingZero) {
    const EditCase cases[] = {
        {edit_f(0.5f, 4, 3), ".500"},   {edit_f(-0.5f, 4, 3), "****"},   {edit_f(0.5f, 3, 3), "***"},
        {edit_f(-0.5f, 5, 3), "-.500"}, {edit_f(0.0f, 1, 0), "*"},       {edit_f(0.0f, 2, 0), "0."},
        {edit_f(-0.0f, 2, 0), "**"},    {edit_f(1.0f, 1, 0), "*"},       {edit_f(0.4f, 4, 0), "  0."},
        {edit_f(-0.4f, 5, 0), "  -0."}, {edit_f(0.6f, 3, 0), " 1."},     {edit_f(-0.0f, 6, 0), "   -0."},
        {edit_e(0.5f, 9, 3), "0.500E+00"}, {edit_e(-0.5f, 10, 3), "-0.500E+00"},
        {edit_e(0.5f, 8, 3), ".500E+00"},  {edit_e(-0.5f, 9, 3), "-.500E+00"},
        {edit_e(0.0f, 8, 3), ".000E+00"},  {edit_e(0.0f, 7, 3), "*******"},
        {edit_e(1.0f, 10, 3, 4), ".100E+0001"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.got, c.want);
}

TEST(EditDescriptors, TiesRoundToEvenOnTheExactValue) {
    EXPECT_EQ(edit_f(0.25f, 4, 1), " 0.2");
    EXPECT_EQ(edit_f(0.75f, 4, 1), " 0.8");
    EXPECT_EQ(edit_f(0.35f, 4, 1), " 0.3");  // 0.349999994 as a float
    EXPECT_EQ(edit_f(2.5f, 3, 0), " 2.");
    EXPECT_EQ(edit_f(3.5f, 3, 0), " 4.");
}

TEST(EditDescriptors, NegativeZeroKeepsItsSign) {
    EXPECT_EQ(edit_f(-0.0f, 7, 3), " -0.000");
    EXPECT_EQ(edit_e(-0.0f, 12, 3), "  -0.000E+00");
    EXPECT_EQ(edit_g(-0.0f, 11, 4), " -0.000    ");
    EXPECT_EQ(edit_e(-0.0f, 12, 4, 0, 1), " -0.0000E+00");
    EXPECT_EQ(edit_f(-0.01f, 5, 1), " -0.0");
}

TEST(EditDescriptors, ExponentsBeyondTwoDigits) {
    EXPECT_EQ(edit_e(1e-100, 12, 3), "   0.100E-99");
    EXPECT_EQ(edit_e(1e-101, 12, 3), "   0.100-100");  // the E is dropped
    EXPECT_EQ(edit_e(1e100, 12, 3), "   0.100+101");
    EXPECT_EQ(edit_e(1e-100, 12, 3, 3), "  0.100E-099");
    EXPECT_EQ(edit_e(1e5, 12, 3, 1), "    0.100E+6");
    EXPECT_EQ(edit_e(1e10, 12, 3, 1), "************");
    EXPECT_EQ(edit_e(1e-300, 12, 3), "   0.100-299");
    EXPECT_EQ(edit_g(1e-30f, 10, 3, 2), " 0.100E-29");
}

TEST(EditDescriptors, InfinityAndNaN) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const EditCase cases[] = {
        {edit_f(inf, 10, 3), "  Infinity"}, {edit_f(inf, 3, 1), "Inf"},      {edit_f(inf, 8, 1), "Infinity"},
        {edit_f(inf, 7, 1), "    Inf"},     {edit_f(inf, 2, 0), "**"},       {edit_f(-inf, 4, 1), "-Inf"},
        {edit_g(-inf, 12, 4), "   -Infinity"}, {edit_e(-inf, 8, 1), "    -Inf"}, {edit_f(-inf, 3, 1), "***"},
        {edit_f(nan, 10, 3), "       NaN"}, {edit_f(nan, 3, 1), "NaN"},      {edit_f(nan, 2, 0), "**"},
        {edit_g(nan, 12, 4), "         NaN"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.got, c.want);
}

TEST(EditDescriptors, GChoosesItsFormInTheKindOfTheReal) {
    // 0.99995f is the float nearest 1 - 0.5e-4: a REAL(4) takes the F form of 1.000.
    EXPECT_EQ(edit_g(9.99949992e-01f, 11, 4), "  1.000    ");
    // The same binary value as a REAL(8) lies below the boundary.
    EXPECT_EQ(edit_g(static_cast<double>(9.99949992e-01f), 11, 4), " 0.9999    ");
    EXPECT_EQ(edit_g(9999.5f, 11, 4), " 0.1000E+05");
    EXPECT_EQ(edit_g(0.09999f, 11, 4), " 0.9999E-01");
    EXPECT_EQ(edit_g(1.5f, 11, 4, 3), " 1.500     ");
    EXPECT_EQ(edit_g(0.0f, 12, 4), "   0.000    ");
    EXPECT_EQ(edit_g(5.0f, 5, 1), "*****");
    EXPECT_EQ(edit_g(1e30f, 8, 3), ".100E+31");
}

TEST(EditDescriptors, RefusedDescriptorsThrow) {
    EXPECT_THROW(edit_e(1.5f, 10, 0), FormatError);       // E10.0 without a scale factor
    EXPECT_THROW(edit_e(1.5f, 12, 4, 0, 6), FormatError);  // 6PE12.4
    EXPECT_THROW(edit_e(1.5f, 12, 4, 0, -4), FormatError);
    EXPECT_THROW(edit_g(1.5f, 10, 0), FormatError);
    EXPECT_NO_THROW(edit_e(1.5f, 12, 4, 0, 5));
}

// ---------------------------------------------------------------------------
// Format strings

TEST(WriteRecords, ProgramMessagesAndTables) {
    EXPECT_EQ(write_line("(' SEVERE WARNING: unknown key in file ',A,': ',A)", {"quelvo.par", "foo       "}),
              " SEVERE WARNING: unknown key in file quelvo.par: foo       ");
    EXPECT_EQ(write_line("(1X,'subroutine birth esce tabelle time=',F10.3)", {12.25f}),
              " subroutine birth esce tabelle time=    12.250");
    EXPECT_EQ(write_line("(1X,G15.5)", {0.5f}), "     0.50000    ");
    EXPECT_EQ(write_line("(I3,2X,6G12.4)", {1, 1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f}),
              "  1     1.000       2.000       3.000       4.000       5.000       6.000    ");
    EXPECT_EQ(write_line("(' FATAL ERROR: less keys than expected in file ',A,': found',I3,' expected',I3)",
                         {"x.par", 3, 14}),
              " FATAL ERROR: less keys than expected in file x.par: found  3 expected 14");
    EXPECT_EQ(write_line("(A,G12.4)", {"Mass of molecular clouds [Msun] =", 1e6f}),
              "Mass of molecular clouds [Msun] =  0.1000E+07");
}

TEST(WriteRecords, RepeatCountsAndReversionToTheLastTopLevelGroup) {
    using R = std::vector<std::string>;
    EXPECT_EQ(write_records("(9G11.4)", {1.0f, 2.0f}), R({"  1.000      2.000    "}));
    EXPECT_EQ(write_records("(2I3)", {1, 2, 3, 4, 5}), R({"  1  2", "  3  4", "  5"}));
    EXPECT_EQ(write_records("(' hi',2(I3,','),'z')", {1, 2, 3, 4, 5}), R({" hi  1,  2,z", "  3,  4,z", "  5,"}));
    EXPECT_EQ(write_records("(I3,2(I2,'a'),I4)", {1, 2, 3, 4, 5, 6, 7, 8}),
              R({"  1 2a 3a   4", " 5a 6a   7", " 8a"}));
    EXPECT_EQ(write_records("(' x',I2)", {1, 2, 3}), R({" x 1", " x 2", " x 3"}));
    EXPECT_EQ(write_records("(20I6)", {1, 2}), R({"     1     2"}));
    std::vector<Item> many;
    for (int i = 1; i <= 21; ++i) many.emplace_back(i);
    auto recs = write_records("(20I6)", many);
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(recs[0].size(), 120u);
    EXPECT_EQ(recs[1], "    21");
    EXPECT_EQ(write_records("(4X,I1,5X,20(4X,I2,5X))", {1, 2, 3}), R({"    1          2          3"}));
}

TEST(WriteRecords, OutputStopsAtTheFirstDataDescriptorWithoutAnItem) {
    using R = std::vector<std::string>;
    EXPECT_EQ(write_records("(1X,I3,' end')", {7}), R({"   7 end"}));
    EXPECT_EQ(write_records("(2I3,' x')", {7}), R({"  7"}));
    EXPECT_EQ(write_records("(I2,:,' x')", {1}), R({" 1"}));
    EXPECT_EQ(write_records("(I3)", std::vector<Item>{}), R({""}));
    EXPECT_EQ(write_records("(' text')", std::vector<Item>{}), R({" text"}));
}

TEST(WriteRecords, SlashesAndPendingBlanks) {
    using R = std::vector<std::string>;
    EXPECT_EQ(write_records("(I3/)", {1}), R({"  1", ""}));
    EXPECT_EQ(write_records("(F15.3,/,'# next')", {1.5f}), R({"          1.500", "# next"}));
    EXPECT_EQ(write_records("(G15.4/'Pongo')", {1.5f}), R({"      1.500    ", "Pongo"}));
    EXPECT_EQ(write_records("(A,2/,A)", {"a", "b"}), R({"a", "", "b"}));
    EXPECT_EQ(write_records("(A,3X)", {"ab"}), R({"ab"}));  // trailing X writes nothing
    EXPECT_EQ(write_records("(3X)", std::vector<Item>{}), R({""}));
    EXPECT_EQ(write_records("(A,3X,A)", {"ab", "cd"}), R({"ab   cd"}));
    EXPECT_EQ(write_records("(A,3X,'|')", {"ab"}), R({"ab   |"}));
}

TEST(WriteRecords, LiteralsWithDoubledQuotesAndMixedCase) {
    EXPECT_EQ(write_line("('it''s',1x,\"say \"\"hi\"\"\")", {}), "it's say \"hi\"");
    EXPECT_EQ(write_line("( 1x , g10.3 , a )", {2.0f, "!"}), "   2.00    !");
    EXPECT_EQ(write_line("(1X'a'I2)", {5}), " a 5");
}

TEST(WriteRecords, ScaleFactorPersistsAndScalesF) {
    EXPECT_EQ(write_line("(1PE12.4,F8.3,E12.4,0PF8.3)", {1.5f, 1.5f, 1.5f, 1.5f}),
              "  1.5000E+00  15.000  1.5000E+00   1.500");
    EXPECT_EQ(write_line("(-1PE12.4,2PE12.4,1PG12.4,1PG12.4)", {1.5f, 1.5f, 1.5f, 1.5e9f}),
              "  0.0150E+02  15.000E-01   1.500      1.5000E+09");
    EXPECT_EQ(write_line("(100(1P,E11.4))", {1.5f, -2.5e-3f}), " 1.5000E+00-2.5000E-03");
    EXPECT_EQ(write_line("(1PE10.3,E9.4,E10.4)", {1.5f, 1.5f, 1.5f}), " 1.500E+00*********1.5000E+00");
}

TEST(WriteRecords, DAndESAndGForOtherTypes) {
    EXPECT_EQ(write_line("(D12.4,ES12.4)", {1.5f, 1.5f}), "  0.1500D+01  1.5000E+00");
    EXPECT_EQ(write_line("(3G6.2)", {5, true, "ab"}), "     5     T    ab");
    EXPECT_EQ(write_line("(L10,1X,A10,1X,G10.3)", {true, "name", 0.25f}), "         T       name  0.250    ");
}

TEST(WriteRecords, DoubleItemsUseTheRealEightRules) {
    EXPECT_EQ(write_line("(G11.4)", {static_cast<double>(9.99949992e-01f)}), " 0.9999    ");
    EXPECT_EQ(write_line("(G11.4)", {9.99949992e-01f}), "  1.000    ");
    EXPECT_EQ(write_line("(E12.3)", {1e-101}), "   0.100-100");
}

TEST(WriteRecords, BadFormatsAndMismatchedItemsThrow) {
    EXPECT_THROW(write_line("I3", {1}), FormatError);
    EXPECT_THROW(write_line("(I3", {1}), FormatError);
    EXPECT_THROW(write_line("(I3))", {1}), FormatError);
    EXPECT_THROW(write_line("(Q3)", {1}), FormatError);
    EXPECT_THROW(write_line("(F10)", {1.0f}), FormatError);
    EXPECT_THROW(write_line("('abc)", {}), FormatError);
    EXPECT_THROW(write_line("(I3)", {1.5f}), FormatError);
    EXPECT_THROW(write_line("(F8.2)", {3}), FormatError);
    EXPECT_THROW(write_line("(A5)", {3}), FormatError);
    EXPECT_THROW(write_line("(L2)", {3}), FormatError);
    EXPECT_THROW(write_line("(' no data')", {1}), FormatError);
    EXPECT_THROW(write_line("(I3,(' x'))", {1, 2}), FormatError);  // the reverted part writes no item
    EXPECT_THROW(write_line("()", {1}), FormatError);
    EXPECT_THROW(write_line("(0I3)", {1}), FormatError);
    EXPECT_THROW(write_line("(EN12.4)", {1.0f}), FormatError);
}

TEST(WriteLine, JoinsRecordsWithNewlines) {
    EXPECT_EQ(write_line("(I2/I2)", {1, 2}), " 1\n 2");
}

// ---------------------------------------------------------------------------
// Free-format lines

TEST(ListLine, FirstBlankTextsAndNumbersAsGfortranWritesThem) {
    const EditCase cases[] = {
        {list_line({" USEFUL CHECKING NUMBERS FOLLOW"}), " USEFUL CHECKING NUMBERS FOLLOW"},
        {list_line({"Present SFR=", 2.5f, " Mo/yr"}), " Present SFR=   2.50000000      Mo/yr"},
        {list_line({2.5f, "abc"}), "   2.50000000     abc"},
        {list_line({-2.5f, "abc"}), "  -2.50000000     abc"},
        {list_line({"a", 5, "b"}), " a           5 b"},
        {list_line({"a", -5, "b"}), " a          -5 b"},
        {list_line({5, 6, 7.0f}), "           5           6   7.00000000    "},
        {list_line({1.0e10f, 1.0e-10f, 1.0e9f, 0.1f}),
         "   1.00000000E+10   1.00000001E-10   1.00000000E+09  0.100000001    "},
        {list_line({0.0f, -0.0f, 123456789.0f}), "   0.00000000      -0.00000000       123456792.    "},
        {list_line({2.5, "x", 1e100, 1e-100}),
         "   2.5000000000000000      x   1.0000000000000000E+100   1.0000000000000000E-100"},
        {list_line({0.0, 1e16, 1e15}),
         "   0.0000000000000000        10000000000000000.        1000000000000000.0     "},
        {list_line({true, false, "x", true}), " T F x T"},
        {list_line({"x", true, 1}), " x T           1"},
        {list_line({5LL * 1000000000LL, "x"}), "           5000000000 x"},
        {list_line({"x", "y", 1.0f, "z"}), " xy   1.00000000     z"},
        {list_line({"ndr=", 40, "  nthearr=", 12}), " ndr=          40   nthearr=          12"},
        {list_line({std::numeric_limits<float>::infinity()}), "         Infinity"},
        {list_line({std::numeric_limits<float>::quiet_NaN()}), "              NaN"},
        {list_line({3.40282347e38f, 1.17549435e-38f}), "   3.40282347E+38   1.17549435E-38"},
        {list_line({""}), " "},
        {list_line({"", "a"}), " a"},
        {list_line(std::vector<Item>{}), ""},
    };
    for (const auto& c : cases) EXPECT_EQ(c.got, c.want);
}

// A header field that does not fit Fw.d takes the exponent form of the same
// width; a value that fits is exactly Fw.d.
TEST(EditDescriptors, FixedFieldFallsBackToExponentForm) {
    const EditCase cases[] = {
        {edit_f_fit(42.259872f, 15, 3), "         42.260"},
        {edit_f_fit(-1234.5f, 15, 3), "      -1234.500"},
        {edit_f_fit(99999999999.0, 15, 3), "99999999999.000"},
        {edit_f_fit(100000000000.0, 15, 3), "1.000000000E+11"},
        {edit_f_fit(-9999999999.9, 15, 3), "-9999999999.900"},
        {edit_f_fit(-10000000000.0, 15, 3), "-1.00000000E+10"},
        {edit_f_fit(3.0e38f, 15, 3), "3.000000005E+38"},
        {edit_f_fit(1.5e200, 15, 3), "1.500000000+200"},
        {edit_f_fit(1234.5678f, 7, 3), "1.2E+03"},
        {edit_f_fit(-1234.5678f, 7, 3), "-1.E+03"},
        {edit_f_fit(999.999f, 7, 3), "999.999"},
        {edit_f_fit(-99.9994f, 7, 3), "-99.999"},
        {edit_f_fit(12345.0f, 5, 3), "*****"},  // too narrow for any form
    };
    for (const auto& c : cases) EXPECT_EQ(c.got, c.want);
    for (float v : {1e11f, -3e20f, 7.5e12f})
        EXPECT_EQ(edit_f_fit(v, 15, 3).size(), 15u) << v;
}

}  // namespace
}  // namespace qv::fio
