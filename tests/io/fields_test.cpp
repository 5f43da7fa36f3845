// Fixed-column field input against what gfortran reads: the golden tables, the
// extra reference rows (tests/data/io/format-input-extra.tsv, made by
// gen/gen.py) and the program's own rules (all-blank logical, as_real4).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include "io/fields.h"
#include "io/tables.h"

namespace qv::fio {
namespace {

using test::load_table;
using test::unbar;

// The field as the runtime sees it: the text cut or padded with blanks to w.
std::string padded(std::string text, std::size_t w) {
    text.resize(w, ' ');
    return text;
}

// Width and digits of a descriptor such as "G10.3", "F5.4", "I5", "L10".
void width_digits(const std::string& desc, int& w, int& d) {
    w = std::atoi(desc.c_str() + 1);
    auto dot = desc.find('.');
    d = dot == std::string::npos ? 0 : std::atoi(desc.c_str() + dot + 1);
}

TEST(FieldsGolden, EveryRowOfTheGoldenInputTable) {
    auto rows = load_table("golden/fortran-format-input.tsv");
    ASSERT_GT(rows.size(), 100u);
    for (const auto& r : rows) {
        ASSERT_EQ(r.cols.size(), 3u) << "line " << r.line;
        int w, d;
        width_digits(r.cols[0], w, d);
        const std::string field = padded(unbar(r.cols[1]), static_cast<std::size_t>(w));
        const std::string& want = r.cols[2];
        if (r.cols[0][0] == 'I') {
            auto v = read_int_field(field);
            if (want == "ERROR") {
                EXPECT_FALSE(v.has_value()) << "line " << r.line;
            } else {
                ASSERT_TRUE(v.has_value()) << "line " << r.line;
                EXPECT_EQ(*v, std::atoll(want.c_str())) << "line " << r.line;
            }
            continue;
        }
        auto v4 = read_real4_field(field, d);
        auto v8 = read_real_field(field, d);
        if (want == "ERROR") {
            EXPECT_FALSE(v4.has_value()) << "line " << r.line;
            EXPECT_FALSE(v8.has_value()) << "line " << r.line;
            continue;
        }
        ASSERT_TRUE(v4.has_value()) << "line " << r.line << " |" << field << "|";
        ASSERT_TRUE(v8.has_value()) << "line " << r.line;
        const float expect = std::strtof(want.c_str(), nullptr);
        EXPECT_EQ(test::bits_of(*v4), test::bits_of(expect)) << "line " << r.line << ": " << *v4;
        EXPECT_EQ(test::bits_of(as_real4(*v8)), test::bits_of(expect)) << "line " << r.line;
    }
}

TEST(FieldsGolden, EveryRowOfTheGoldenLogicalTable) {
    auto rows = load_table("golden/fortran-format-input-logical.tsv");
    ASSERT_FALSE(rows.empty());
    for (const auto& r : rows) {
        auto v = read_logical_field(unbar(r.cols[1]));
        if (r.cols[2] == "ERROR") {
            EXPECT_FALSE(v.has_value()) << "line " << r.line;
        } else {
            ASSERT_TRUE(v.has_value()) << "line " << r.line;
            EXPECT_EQ(*v, r.cols[2] == "T") << "line " << r.line;
        }
    }
}

// Malformed fields, signs and blanks in odd places, Q and bare-sign exponents,
// infinities and NaN, overflow and underflow, decimal texts halfway between two
// floats (where rounding to a double first would give the wrong float), long
// digit strings, random values written in several styles.
TEST(FieldsReference, EveryRowOfTheExtraInputTable) {
    auto rows = load_table("io/format-input-extra.tsv");
    ASSERT_GT(rows.size(), 1000u);
    int failures = 0;
    for (const auto& r : rows) {
        int w, d;
        width_digits(r.cols[0], w, d);
        const std::string field = padded(unbar(r.cols[1]), static_cast<std::size_t>(w));
        const std::string& want = r.cols[2];
        std::string where = "line " + std::to_string(r.line) + ": " + r.cols[0] + " |" + field + "|";
        bool ok = true;
        switch (r.cols[0][0]) {
        case 'I': {
            auto v = read_int_field(field);
            ok = want == "ERROR" ? !v.has_value() : (v.has_value() && *v == std::atoll(want.c_str()));
            break;
        }
        case 'L': {
            auto v = read_logical_field(field);
            ok = want == "ERROR" ? !v.has_value() : (v.has_value() && *v == (want == "T"));
            break;
        }
        default: {
            auto v4 = read_real4_field(field, d);
            auto v8 = read_real_field(field, d);
            if (want == "ERROR") {
                ok = !v4.has_value() && !v8.has_value();
                break;
            }
            ASSERT_EQ(r.cols.size(), 4u) << where;
            const float e4 = test::float_from_bits(std::atoll(r.cols[2].c_str()));
            const double e8 = test::double_from_bits(std::atoll(r.cols[3].c_str()));
            if (!v4 || !v8) {
                ok = false;
            } else if (std::isnan(e4)) {
                ok = std::isnan(*v4) && std::isnan(*v8);
            } else {
                ok = test::bits_of(*v4) == test::bits_of(e4) && test::bits_of(*v8) == test::bits_of(e8);
            }
        }
        }
        if (!ok && ++failures <= 40) ADD_FAILURE() << where << " want " << want;
    }
    EXPECT_EQ(failures, 0);
}

TEST(Fields, ImpliedDecimalPointAndExponents) {
    struct Case {
        const char* field;
        int d;
        double want;
    };
    const Case cases[] = {
        {"         5", 3, 0.005},  {"5e2", 3, 0.5},      {"1.5-3", 3, 1.5e-3}, {"1.5+3", 0, 1500.0},
        {"+.25", 3, 0.25},        {"1 0 0 0", 3, 1.0},  {"   -3.5 ", 6, -3.5}, {"1.5D+01", 3, 15.0},
        {"2q1", 0, 20.0},         {"  ", 3, 0.0},       {"", 3, 0.0},         {"e5", 3, 0.0},
        {"1.5e- 3", 3, 1.5e-3},   {"7", 0, 7.0},        {"12345", 6, 0.012345},
    };
    for (const auto& c : cases) {
        auto v = read_real_field(c.field, c.d);
        ASSERT_TRUE(v.has_value()) << c.field;
        EXPECT_DOUBLE_EQ(*v, c.want) << c.field;
    }
    for (const char* bad : {"1.0e", "1.0e+", "1.5e-   ", "5-", "1.2.3", "1,5", "1x", "x", "1e5e", "in", "1.5e 3x"}) {
        EXPECT_FALSE(read_real_field(bad, 3).has_value()) << bad;
        EXPECT_FALSE(read_real4_field(bad, 3).has_value()) << bad;
    }
}

TEST(Fields, Real4IsRoundedOnceFromTheDecimalText) {
    // Just above the midpoint between 1 and the next float: a double rounds it
    // to the midpoint itself, which then rounds to 1 as a float.
    const char* text = "1.00000005960464477539062500000001";
    auto v4 = read_real4_field(text, 0);
    ASSERT_TRUE(v4.has_value());
    EXPECT_EQ(*v4, std::nextafter(1.0f, 2.0f));
    auto v8 = read_real_field(text, 0);
    ASSERT_TRUE(v8.has_value());
    EXPECT_EQ(as_real4(*v8), 1.0f);
}

TEST(Fields, OverflowGivesInfinityAndUnderflowZero) {
    auto big = read_real4_field("1e39", 0);
    ASSERT_TRUE(big.has_value());
    EXPECT_TRUE(std::isinf(*big));
    auto big8 = read_real_field("-1e400", 0);
    ASSERT_TRUE(big8.has_value());
    EXPECT_TRUE(std::isinf(*big8) && *big8 < 0);
    auto tiny = read_real4_field("1e-50", 0);
    ASSERT_TRUE(tiny.has_value());
    EXPECT_EQ(*tiny, 0.0f);
    auto sub = read_real_field("5e-324", 0);
    ASSERT_TRUE(sub.has_value());
    EXPECT_EQ(*sub, std::numeric_limits<double>::denorm_min());
    // Exponents of five digits or more (after the shift by d) are refused, as
    // the runtime refuses them.
    auto inf4 = read_real_field("1e9999", 0);
    ASSERT_TRUE(inf4.has_value());
    EXPECT_TRUE(std::isinf(*inf4));
    EXPECT_FALSE(read_real_field("1e99999999999999", 0).has_value());
    EXPECT_FALSE(read_real_field("1e-9999", 3).has_value());
}

TEST(Fields, LongFieldsStillConvert) {
    std::string many(300, '0');
    many += "1.5";
    auto v = read_real_field(many, 0);
    ASSERT_TRUE(v.has_value());
    EXPECT_EQ(*v, 1.5);
}

TEST(Fields, AsReal4BeyondTheFloatRange) {
    const float fmax = std::numeric_limits<float>::max();
    EXPECT_EQ(as_real4(1.0e300), std::numeric_limits<float>::infinity());
    EXPECT_EQ(as_real4(-1.0e300), -std::numeric_limits<float>::infinity());
    EXPECT_EQ(as_real4(static_cast<double>(fmax)), fmax);
    // Up to the midpoint between the largest float and 2^128 the float is the largest.
    EXPECT_EQ(as_real4(3.4028235e38), fmax);
    EXPECT_EQ(as_real4(std::nextafter(340282356779733661637539395458142568448.0, 0.0)), fmax);
    EXPECT_EQ(as_real4(340282356779733661637539395458142568448.0), std::numeric_limits<float>::infinity());
    EXPECT_EQ(as_real4(-3.4028235e38), -fmax);
    EXPECT_TRUE(std::isnan(as_real4(std::numeric_limits<double>::quiet_NaN())));
    EXPECT_EQ(as_real4(0.1), 0.1f);
}

TEST(Fields, Integers) {
    EXPECT_EQ(read_int_field("  1 5"), 15);
    EXPECT_EQ(read_int_field(""), 0);
    EXPECT_EQ(read_int_field("-0"), 0);
    EXPECT_EQ(read_int_field("+ 5"), 5);
    EXPECT_EQ(read_int_field("2147483647"), 2147483647LL);
    EXPECT_EQ(read_int_field("-2147483648"), -2147483648LL);
    for (const char* bad : {"5.", "1e3", "-", "+", " -  ", "5-", "2147483648", "-2147483649", "x", "1,2"})
        EXPECT_FALSE(read_int_field(bad).has_value()) << bad;
}

TEST(Fields, Logicals) {
    EXPECT_EQ(read_logical_field("          "), false);  // the program's rule for an all-blank field
    EXPECT_EQ(read_logical_field(""), false);
    EXPECT_EQ(read_logical_field("  .f"), false);
    EXPECT_EQ(read_logical_field("true"), true);
    for (const char* bad : {".", " .", ".x", "1", "x"}) EXPECT_FALSE(read_logical_field(bad).has_value()) << bad;
}

TEST(Fields, FieldAtCutsShortLines) {
    EXPECT_EQ(field_at("key       1.5", 10, 10), "1.5");
    EXPECT_EQ(field_at("key", 10, 10), "");
    EXPECT_EQ(field_at("abcdefghij", 2, 3), "cde");
}

}  // namespace
}  // namespace qv::fio
