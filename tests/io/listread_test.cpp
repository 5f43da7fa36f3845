// List-directed input against what gfortran reads: the golden one-line table,
// the extra reference rows (tests/data/io/list-input-extra.tsv, made by
// gen/gen.py), and reads over several lines of a file.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/stop.h"
#include "io/listread.h"
#include "io/tables.h"

namespace qv::fio {
namespace {

using test::load_table;
using test::unbar;

const char* status_name(ReadStatus s) {
    switch (s) {
    case ReadStatus::Ok:
        return "OK";
    case ReadStatus::End:
        return "END";
    case ReadStatus::Error:
        return "ERROR";
    }
    return "?";
}

TEST(ListReadGolden, EveryRowOfTheGoldenListTable) {
    auto rows = load_table("golden/fortran-list-input.tsv");
    ASSERT_GT(rows.size(), 10u);
    for (const auto& r : rows) {
        ASSERT_EQ(r.cols.size(), 5u) << "line " << r.line;
        float a = -9.0f, b = -9.0f, c = -9.0f;
        ListResult res = list_read_string(unbar(r.cols[0]), {&a, &b, &c});
        EXPECT_STREQ(status_name(res.status), r.cols[4].c_str()) << "line " << r.line << ": " << res.message;
        const float want[3] = {std::strtof(r.cols[1].c_str(), nullptr), std::strtof(r.cols[2].c_str(), nullptr),
                               std::strtof(r.cols[3].c_str(), nullptr)};
        EXPECT_EQ(a, want[0]) << "line " << r.line;
        EXPECT_EQ(b, want[1]) << "line " << r.line;
        EXPECT_EQ(c, want[2]) << "line " << r.line;
    }
}

bool same_float(long long want_bits, float got) {
    float w = test::float_from_bits(want_bits);
    if (std::isnan(w)) return std::isnan(got);
    return test::bits_of(got) == want_bits;
}
bool same_double(long long want_bits, double got) {
    double w = test::double_from_bits(want_bits);
    if (std::isnan(w)) return std::isnan(got);
    return test::bits_of(got) == want_bits;
}

// Separators (tabs, semicolons, commas around blanks), null values, repeat
// counts and their errors, every real form, integers out of range, quoted and
// unquoted texts, logical forms. Where gfortran stores a value and still fails
// the read, only the status is compared for the failing item.
TEST(ListReadReference, EveryRowOfTheExtraListTable) {
    auto rows = load_table("io/list-input-extra.tsv");
    ASSERT_GT(rows.size(), 100u);
    int failures = 0;
    for (const auto& r : rows) {
        const std::string& typ = r.cols[0];
        std::string text = unbar(r.cols[1]);
        for (std::size_t t; (t = text.find("\\t")) != std::string::npos;) text.replace(t, 2, "\t");
        const std::string& status = r.cols[2];
        std::string where = "line " + std::to_string(r.line) + ": " + typ + " |" + text + "|";
        bool ok = true;
        std::string got;
        if (typ == "R") {
            float v[3] = {-9.0f, -9.0f, -9.0f};
            ListResult res = list_read_string(text, {&v[0], &v[1], &v[2]});
            ok = status == status_name(res.status);
            for (int k = 0; k < 3 && ok && status != "ERROR"; ++k)
                ok = same_float(std::atoll(r.cols[3 + k].c_str()), v[k]);
            got = std::string(status_name(res.status)) + " " + std::to_string(v[0]) + " " + std::to_string(v[1]) +
                  " " + std::to_string(v[2]) + " " + res.message;
        } else if (typ == "D") {
            double v[3] = {-9.0, -9.0, -9.0};
            ListResult res = list_read_string(text, {&v[0], &v[1], &v[2]});
            ok = status == status_name(res.status);
            for (int k = 0; k < 3 && ok && status != "ERROR"; ++k)
                ok = same_double(std::atoll(r.cols[3 + k].c_str()), v[k]);
            got = std::string(status_name(res.status)) + " " + res.message;
        } else if (typ == "M") {
            int n = -9;
            float a = -9.0f;
            std::string s = "-";
            ListResult res = list_read_string(text, {&n, &a, &s});
            ok = status == status_name(res.status);
            if (ok && status != "ERROR") {
                ok = n == std::atoi(r.cols[3].c_str()) && same_float(std::atoll(r.cols[4].c_str()), a) &&
                     s == unbar(r.cols[5]);
            }
            got = std::string(status_name(res.status)) + " " + std::to_string(n) + " " + std::to_string(a) + " [" + s +
                  "] " + res.message;
        } else if (typ == "L") {
            bool l = true;
            int n = -9;
            ListResult res = list_read_string(text, {&l, &n});
            ok = status == status_name(res.status);
            if (ok && status != "ERROR") ok = (l ? "T" : "F") == r.cols[3] && n == std::atoi(r.cols[4].c_str());
            got = std::string(status_name(res.status)) + " " + (l ? "T" : "F") + " " + std::to_string(n) + " " +
                  res.message;
        }
        if (!ok && ++failures <= 40) ADD_FAILURE() << where << ": want " << status << ", got " << got;
    }
    EXPECT_EQ(failures, 0);
}

TextFile file(const std::string& text) { return TextFile::from_string("t.dat", text); }

TEST(ListRead, ValuesRunOverLinesAndEachReadStartsOnANewLine) {
    TextFile f = file("1 2\n\n   3 4 5\n6,\n,8\n'ab\ncd' 9\n10 /\n11\n12 13\n");
    float a = -9, b = -9, c = -9;
    ASSERT_EQ(list_read(f, {&a, &b, &c}).status, ReadStatus::Ok);
    EXPECT_EQ(a, 1.0f);
    EXPECT_EQ(b, 2.0f);
    EXPECT_EQ(c, 3.0f);
    EXPECT_EQ(f.position(), 3u);  // "4 5" is passed over
    ASSERT_EQ(list_read(f, {&a}).status, ReadStatus::Ok);
    EXPECT_EQ(a, 6.0f);
    a = b = -9;
    ASSERT_EQ(list_read(f, {&a, &b}).status, ReadStatus::Ok);
    EXPECT_EQ(a, -9.0f);  // the leading comma is a null value
    EXPECT_EQ(b, 8.0f);
    std::string s;
    ASSERT_EQ(list_read(f, {&s, &a}).status, ReadStatus::Ok);
    EXPECT_EQ(s, "abcd");  // the line end is not part of the string
    EXPECT_EQ(a, 9.0f);
    a = b = c = -9;
    ASSERT_EQ(list_read(f, {&a, &b, &c}).status, ReadStatus::Ok);
    EXPECT_EQ(a, 10.0f);
    EXPECT_EQ(b, -9.0f);  // the slash leaves the rest unchanged
    EXPECT_EQ(c, -9.0f);
    EXPECT_EQ(f.position(), 8u);
    ASSERT_EQ(list_read(f, {&a, &b, &c}).status, ReadStatus::Ok);
    EXPECT_EQ(a, 11.0f);
    EXPECT_EQ(b, 12.0f);
    EXPECT_EQ(c, 13.0f);
    EXPECT_TRUE(f.at_end());
    EXPECT_EQ(list_read(f, {&a}).status, ReadStatus::End);
}

TEST(ListRead, ACommaAfterALineEndBelongsToTheSeparator) {
    struct Case {
        const char* text;
        float b, c, next;
    };
    const Case cases[] = {
        {"1,2\n,3\n7\n", 2, 3, 7},   // the comma that opens line 2 separates 2 and 3
        {"1 2\n,3\n7\n", 2, 3, 7},
        {"1\n\n,3\n7\n", 3, 7, -9},  // blank line and comma: one separator
        {"1,\n,3\n7\n", -9, 3, 7},   // two commas: a null value between them
    };
    for (const auto& c : cases) {
        TextFile f = file(c.text);
        float a = -9, b = -9, cc = -9, next = -9;
        ASSERT_EQ(list_read(f, {&a, &b, &cc}).status, ReadStatus::Ok) << c.text;
        EXPECT_EQ(a, 1.0f) << c.text;
        EXPECT_EQ(b, c.b) << c.text;
        EXPECT_EQ(cc, c.c) << c.text;
        list_read(f, {&next});
        EXPECT_EQ(next, c.next) << c.text;
    }
}

TEST(ListRead, SpansAndMixedTargets) {
    TextFile f = file("3 1.5 2.5\n3.5 name .true. 2*4\n");
    int n = 0;
    float arr[3] = {};
    std::string name;
    bool flag = false;
    std::vector<int> ints(2);
    ASSERT_EQ(list_read(f, {&n, std::span<float>(arr), &name, &flag, std::span<int>(ints)}).status, ReadStatus::Ok);
    EXPECT_EQ(n, 3);
    EXPECT_EQ(arr[0], 1.5f);
    EXPECT_EQ(arr[2], 3.5f);
    EXPECT_EQ(name, "name");
    EXPECT_TRUE(flag);
    EXPECT_EQ(ints, (std::vector<int>{4, 4}));
}

TEST(ListRead, DoublesAndLongs) {
    double d = 0;
    long l = 0;
    ASSERT_EQ(list_read_string("0.1d0 9000000000", {&d, &l}).status, ReadStatus::Ok);
    EXPECT_EQ(d, 0.1);
    EXPECT_EQ(l, 9000000000L);
    int i = 0;
    EXPECT_EQ(list_read_string("9000000000", {&i}).status, ReadStatus::Error);
}

TEST(ListRead, RepeatedValueMustFillTargetsOfOneType) {
    float a = -9;
    double d = -9;
    int i = -9;
    EXPECT_EQ(list_read_string("2*5", {&a, &d}).status, ReadStatus::Error);
    EXPECT_EQ(list_read_string("2*5", {&i, &a}).status, ReadStatus::Error);
    EXPECT_EQ(list_read_string("2*", {&i, &a}).status, ReadStatus::Ok);  // null values have no type
}

TEST(ListRead, EndKeepsTheValuesReadAndNamesTheItem) {
    TextFile f = file("1 2\n");
    float a = -9, b = -9, c = -9;
    ListResult r = list_read(f, {&a, &b, &c});
    EXPECT_EQ(r.status, ReadStatus::End);
    EXPECT_EQ(a, 1.0f);
    EXPECT_EQ(b, 2.0f);
    EXPECT_EQ(c, -9.0f);
    EXPECT_EQ(r.line, 1);
    EXPECT_NE(r.message.find("item 3"), std::string::npos) << r.message;
    TextFile empty = file("");
    r = list_read(empty, {&a});
    EXPECT_EQ(r.status, ReadStatus::End);
}

TEST(ListRead, ErrorNamesTheValueTheItemAndTheLine) {
    TextFile f = file("1\n2 x 3\n");
    float a = -9, b = -9, c = -9;
    ListResult r = list_read(f, {&a, &b, &c});
    EXPECT_EQ(r.status, ReadStatus::Error);
    EXPECT_EQ(a, 1.0f);
    EXPECT_EQ(b, 2.0f);
    EXPECT_EQ(c, -9.0f);
    EXPECT_EQ(r.line, 2);
    EXPECT_NE(r.message.find("\"x\""), std::string::npos) << r.message;
    EXPECT_NE(r.message.find("item 3"), std::string::npos) << r.message;
    EXPECT_NE(r.message.find("line 2"), std::string::npos) << r.message;
}

TEST(ListRead, OrThrowGivesIoErrorWithFileAndLine) {
    TextFile f = file("1\n2 x 3\n");
    float a, b, c;
    try {
        list_read_or_throw(f, {&a, &b, &c});
        FAIL() << "no IoError";
    } catch (const IoError& e) {
        std::string m = e.what();
        EXPECT_EQ(m.rfind("t.dat:2: ", 0), 0u) << m;
        EXPECT_NE(m.find("\"x\""), std::string::npos) << m;
    }
    TextFile g = file("1\n");
    try {
        list_read_or_throw(g, {&a, &b});
        FAIL() << "no IoError";
    } catch (const IoError& e) {
        std::string m = e.what();
        EXPECT_EQ(m.rfind("t.dat:1: end of file", 0), 0u) << m;
    }
    TextFile h = file("4 5\n");
    EXPECT_NO_THROW(list_read_or_throw(h, {&a, &b}));
    EXPECT_EQ(b, 5.0f);
}

TEST(ListRead, NoTargetsPassesOverOneLine) {
    TextFile f = file("skip me\n7\n");
    EXPECT_EQ(list_read(f, {}).status, ReadStatus::Ok);
    float a = 0;
    ASSERT_EQ(list_read(f, {&a}).status, ReadStatus::Ok);
    EXPECT_EQ(a, 7.0f);
    EXPECT_EQ(list_read(f, {}).status, ReadStatus::End);
}

TEST(ListRead, UnterminatedQuoteRunsToTheEndOfTheInput) {
    std::string s;
    EXPECT_EQ(list_read_string("'abc", {&s}).status, ReadStatus::Ok);
    EXPECT_EQ(s, "abc");
    TextFile f = file("'ab\ncd\n");
    EXPECT_EQ(list_read(f, {&s}).status, ReadStatus::Ok);
    EXPECT_EQ(s, "abcd");
}

TEST(ListRead, TextAfterAClosingQuoteIsAnError) {
    TextFile f = file("'ab\ncd'x 5\n");
    std::string s;
    float a = 0;
    ListResult r = list_read(f, {&s, &a});
    EXPECT_EQ(r.status, ReadStatus::Error);
    EXPECT_EQ(r.line, 2);
    EXPECT_NE(r.message.find("\"'abcd'x\""), std::string::npos) << r.message;
}

TEST(ListRead, RealsRoundOnceToFloat) {
    float a = 0;
    ASSERT_EQ(list_read_string("1.00000005960464477539062500000001", {&a}).status, ReadStatus::Ok);
    EXPECT_EQ(a, std::nextafter(1.0f, 2.0f));
}

TEST(ListRead, CarriageReturnsAreBlanks) {
    TextFile f = file("1 2\r\n3\r\n");
    float a = 0, b = 0, c = 0;
    ASSERT_EQ(list_read(f, {&a, &b, &c}).status, ReadStatus::Ok);
    EXPECT_EQ(c, 3.0f);
}

}  // namespace
}  // namespace qv::fio
