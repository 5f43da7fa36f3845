// The par file's grammar: section search, the keyed-section loop and the
// text-file helpers.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/parfile.h"
#include "core/stop.h"
#include "io/textfile.h"
#include "support/test_support.h"

namespace qv {
namespace {

TextFile text(const std::string& s) { return TextFile::from_string("t.par", s); }

TEST(SearchKey, FindsFirstTokenAndPositionsAfterIt) {
    TextFile f = text("SSP\n1 a\nMAIN and more words\nistarfo   0\n");
    ASSERT_TRUE(modname::search_key_in_file(f, "MAIN"));
    std::string_view l;
    ASSERT_TRUE(f.next(l));
    EXPECT_EQ(l, "istarfo   0");
}

TEST(SearchKey, KeyPaddedToTenCharactersMatches) {
    TextFile f = text("  MAIN\nx\n");
    EXPECT_TRUE(modname::search_key_in_file(f, "MAIN      "));
}

TEST(SearchKey, KeyInTheMiddleOfALineIsNotFound) {
    TextFile f = text("the MAIN section\nfoo MAIN\n");
    EXPECT_FALSE(modname::search_key_in_file(f, "MAIN"));
    EXPECT_TRUE(f.at_end());
}

TEST(SearchKey, TokenEndsAtCommaOrSlashAndQuotedTokensCount) {
    TextFile a = text("MAIN,1\nnext\n");
    EXPECT_TRUE(modname::search_key_in_file(a, "MAIN"));
    TextFile b = text("'LVG' x\nnext\n");
    EXPECT_TRUE(modname::search_key_in_file(b, "LVG"));
    TextFile c = text("MAINX\n");
    EXPECT_FALSE(modname::search_key_in_file(c, "MAIN"));
}

TEST(SearchKey, CaseSensitive) {
    TextFile f = text("main\n");
    EXPECT_FALSE(modname::search_key_in_file(f, "MAIN"));
}

TEST(SearchKey, BlankLineIsReadWithTheNextOne) {
    // The key line right after an empty line is still found and the cursor is after it.
    TextFile f = text("x\n\n   \nMAIN\nafter\n");
    ASSERT_TRUE(modname::search_key_in_file(f, "MAIN"));
    std::string_view l;
    ASSERT_TRUE(f.next(l));
    EXPECT_EQ(l, "after");
}

struct KeyedResult {
    std::vector<std::pair<std::string, std::string>> own;
    std::vector<std::string> unknown;
};

KeyedResult keyed(const std::string& body, const std::vector<std::string>& mine) {
    TextFile f = text(body);
    KeyedResult r;
    read_keyed_section(
        f,
        [&](const std::string& k, std::string_view v) {
            for (const auto& m : mine)
                if (k == m) {
                    r.own.emplace_back(k, std::string(v));
                    return true;
                }
            return false;
        },
        [&](const std::string& k) { r.unknown.push_back(k); });
    return r;
}

TEST(KeyedSection, CommentsBlankStartedAndEmptyLinesArePassedOver) {
    auto r = keyed("% c\n# c\n\n a         1\na         2\n!b        3\n", {"a"});
    ASSERT_EQ(r.own.size(), 1u);
    EXPECT_EQ(r.own[0].second, "2         ");
    // "!" does not mark a comment: the line is an unknown key.
    ASSERT_EQ(r.unknown.size(), 1u);
    EXPECT_EQ(r.unknown[0], "!b");
}

TEST(KeyedSection, ValueIsColumnsElevenToTwentyPadded) {
    // Column 21 blank: what follows is a comment.
    auto r = keyed("a         1234567890 comment\nb         7\nc\nd         1.0       x\n", {"a", "b", "c", "d"});
    ASSERT_EQ(r.own.size(), 4u);
    EXPECT_EQ(r.own[0].second, "1234567890");
    EXPECT_EQ(r.own[1].second, "7         ");
    EXPECT_EQ(r.own[2].second, "          ");
    EXPECT_EQ(r.own[3].second, "1.0       ");
}

// A value that fills column 20 and goes on in column 21 would be read cut
// short: the run stops naming the key, the file and the line.
TEST(KeyedSection, ValueRunningPastColumnTwentyStops) {
    const struct {
        const char* body;
        const char* key;
        const char* line;
    } cases[] = {
        {"mcloud    1.00000e+06\n", "mcloud", "1"},
        {"x         1\na         12345678901234\n", "a", "2"},
        {"a         1.0e-6xxxxx\n", "a", "1"},  // its own conversion would fail
    };
    for (const auto& c : cases) {
        TextFile f = text(c.body);
        try {
            read_keyed_section(
                f,
                [&](const std::string& k, std::string_view v) {
                    if (std::string(v).find('x') != std::string::npos) f.fail("not a number");
                    return !k.empty();
                },
                [](const std::string&) {});
            ADD_FAILURE() << c.body << ": no stop";
        } catch (const Stop& s) {
            ASSERT_EQ(s.lines.size(), 2u);
            EXPECT_EQ(s.lines[0].rfind(std::string(" FATAL ERROR - the value of key ") + c.key + " in file t.par, line " +
                                           c.line + ", runs past column 20: ",
                                       0),
                      0u)
                << s.lines[0];
            EXPECT_EQ(s.lines[1], " keys take columns 1-10 and values columns 11-20 of a par-file line");
        }
    }
    // A key that is not the reader's is only warned about, and a section key ends the section.
    auto r = keyed("zz        12345678901234\nSSP       xxxxxxxxxxyy\na         1\n", {"a"});
    EXPECT_EQ(r.unknown, std::vector<std::string>{"zz"});
    EXPECT_TRUE(r.own.empty());
}

// The first stop line of a key line (empty when the loop does not stop), and
// the value the reader was given for key "a".
struct LineOutcome {
    std::vector<std::string> stop;
    std::string value;
};

LineOutcome read_line_as(const std::string& line, ValueRead how) {
    TextFile f = text(line + "\n");
    LineOutcome r;
    try {
        read_keyed_section(
            f,
            [&](const std::string& k, std::string_view v) {
                if (k != "a" && k != "tgal" && k != "mcloud") return false;
                r.value = std::string(v);
                // An edit-descriptor field with a comma in it does not convert.
                if (how == ValueRead::Edited && r.value.find(',') != std::string::npos) f.fail("not a number");
                return true;
            },
            [](const std::string&) {}, how);
    } catch (const Stop& s) {
        r.stop = s.lines;
    } catch (const IoError&) {
        r.stop = {"conversion error"};
    }
    return r;
}

// Free-format (MAIN) takes the first item of columns 11-20: what follows it
// after a blank, a tab or a comma is a comment, even when it crosses column
// 20. An edit-descriptor field is the ten columns themselves.
TEST(KeyedSection, WhereAValueRunsPastColumnTwentyDependsOnHowTheFieldIsRead) {
    const struct {
        const char* line;
        bool free_stops, edited_stops;
    } cases[] = {
        {"tgal      13.0 galaxy age, Gyr", false, true},
        {"mcloud    1.0e6 solar masses", false, true},
        {"tgal      13.0\tgalaxy age", false, true},
        {"tgal      13.0/comment that goes on", false, true},
        {"mcloud    1.00000e+06", true, true},
        {"mcloud    1.00000e+06 solar masses", true, true},
        {"tgal      13.00000000000 galaxy age", true, true},
        {"tgal         13.0000000", true, true},      // the first item starts late and crosses column 20
        {"tgal      13.0      galaxy age", false, false},  // column 21 begins the comment
        {"tgal                13.0", false, false},  // blank field: the value is not given
        {"tgal      1234567890", false, false},
    };
    for (const auto& c : cases) {
        for (const ValueRead how : {ValueRead::FreeFormat, ValueRead::Edited}) {
            const bool free = how == ValueRead::FreeFormat;
            const LineOutcome r = read_line_as(c.line, how);
            EXPECT_EQ(!r.stop.empty(), free ? c.free_stops : c.edited_stops)
                << c.line << (free ? " (free-format)" : " (edited)");
            if (!r.stop.empty()) {
                EXPECT_NE(r.stop[0].find("runs past column 20: " + std::string(c.line)), std::string::npos) << r.stop[0];
            }
        }
    }
    EXPECT_EQ(read_line_as("tgal      13.0 galaxy age, Gyr", ValueRead::FreeFormat).value, "13.0 galax");
}

// A whole number followed by a comma and a digit is a decimal comma (or a
// thousands separator): a free-format read would take "7,5" as 7 and an edit
// descriptor would refuse it. The run stops naming the key, the file and the
// line, whichever way the field is read. A number that has its decimal point
// or exponent before the comma is whole for a free-format read, which takes it
// and leaves the rest as a comment; an edit descriptor still cannot read it.
TEST(KeyedSection, DecimalCommaStopsNamingTheKeyFileAndLine) {
    const char* const kPoint = " numbers take a decimal point, not a comma";
    const struct {
        const char* line;
        std::string free_hint;    // the second stop line of a free-format read; empty: no stop
        std::string edited_hint;  // the same with an edit descriptor
        const char* what = "a decimal comma";
    } cases[] = {
        {"tgal      7,5", std::string(kPoint) + ": write 7.5", std::string(kPoint) + ": write 7.5"},
        {"a         -0,25e-3 comment", std::string(kPoint) + ": write -0.25e-3", std::string(kPoint) + ": write -0.25e-3"},
        {"a         123456789,5", std::string(kPoint) + ": write 123456789.5", std::string(kPoint) + ": write 123456789.5"},
        {"mcloud    1,0e6 solar masses", std::string(kPoint) + ": write 1.0e6", std::string(kPoint) + ": write 1.0e6"},
        // Complete numbers before the comma: values that ran as their first number.
        {"a         1.5,3", "", kPoint},
        {"tgal      13.0,12.0 two ages tried", "", kPoint},
        {"tgal      13.0,5", "", kPoint},
        {"mcloud    1.0e6,5", "", kPoint},
        {"mcloud    1e6,5", "", kPoint},
        // Thousands separators, and the readings of one group of three digits.
        {"mcloud    1,000,000", std::string(kPoint) + ": write 1000000", std::string(kPoint) + ": write 1000000",
         "thousands separators"},
        {"mcloud    -12,500,000.5", std::string(kPoint) + ": write -12500000.5", std::string(kPoint) + ": write -12500000.5",
         "thousands separators"},
        {"a         7,500", std::string(kPoint) + ": write 7.500 or 7500, as meant",
         std::string(kPoint) + ": write 7.500 or 7500, as meant"},
        {"a         0,500", std::string(kPoint) + ": write 0.500", std::string(kPoint) + ": write 0.500"},
        {"a         1,5,3", std::string(kPoint) + ", and a takes one value", std::string(kPoint) + ", and a takes one value"},
        {"a         7, 5", "", ""},
        {"a         7,x", "", ""},
        {"a         7 ,5", "", ""},
        {"a         7.5 x,5", "", ""},
        {"a                   7,5", "", ""},  // outside the value field
        {"zz        7,5", "", ""},            // not the reader's key: only the warning
    };
    for (const auto& c : cases) {
        for (const ValueRead how : {ValueRead::FreeFormat, ValueRead::Edited}) {
            SCOPED_TRACE(std::string(c.line) + (how == ValueRead::FreeFormat ? " (free-format)" : " (edited)"));
            const std::string& hint = how == ValueRead::FreeFormat ? c.free_hint : c.edited_hint;
            const LineOutcome r = read_line_as(c.line, how);
            const bool comma_stop = !r.stop.empty() && r.stop[0].find(" has ") != std::string::npos;
            if (hint.empty()) {
                EXPECT_FALSE(comma_stop) << r.stop[0];
                if (how == ValueRead::FreeFormat && std::string(c.line).rfind("zz", 0) != 0) {
                    EXPECT_TRUE(r.stop.empty()) << r.stop[0];
                }
                continue;
            }
            ASSERT_EQ(r.stop.size(), 2u);
            const std::string key = std::string(c.line).substr(0, std::string(c.line).find(' '));
            EXPECT_EQ(r.stop[0], " FATAL ERROR - the value of key " + key + " in file t.par, line 1, has " + c.what +
                                     ": " + c.line);
            EXPECT_EQ(r.stop[1], hint);
        }
    }
    // The first number of a free-format field is read whole.
    EXPECT_EQ(read_line_as("tgal      13.0,12.0 two ages tried", ValueRead::FreeFormat).value, "13.0,12.0 ");
}

// What a value with a comma can have meant, for a key that takes a real and
// for one that takes a whole number (a count or a switch): "20,30" for a
// count is 20.30 or the two values 20 and 30, and no single number is named.
TEST(KeyedSection, DecimalCommaValue) {
    const struct {
        const char* text;
        bool whole;
        std::optional<std::string> advice;  // nothing: no stop
    } cases[] = {
        {"7,5", false, "numbers take a decimal point, not a comma: write 7.5"},
        {"  +12,75 x", false, "numbers take a decimal point, not a comma: write +12.75"},
        {"1,0e6", false, "numbers take a decimal point, not a comma: write 1.0e6"},
        {"3,5d-2,", false, "numbers take a decimal point, not a comma: write 3.5d-2"},
        {"1,000,000", false, "numbers take a decimal point, not a comma: write 1000000"},
        {"1,000,000", true, "numbers take a decimal point, not a comma: write 1000000"},
        {"1,000", true, "numbers take a decimal point, not a comma: write 1.000 or 1000, as meant"},
        {"1,00,000", false, "numbers take a decimal point, not a comma, and k takes one value"},
        {"20,30", true,
         "numbers take a decimal point, not a comma: 20,30 reads as 20.30 or as the two values 20 and 30, and k takes "
         "one whole number"},
        {"20,30", false, "numbers take a decimal point, not a comma: write 20.30"},
        {"7,5.3", false, "numbers take a decimal point, not a comma, and k takes one value"},
        {"1.5,3", false, std::nullopt},
        {"1e3,4", false, std::nullopt},
        {"13.0,12.0", true, std::nullopt},
        {"7,", false, std::nullopt},
        {",5", false, std::nullopt},
        {"7 ,5", false, std::nullopt},
        {"x7,5", false, std::nullopt},
        {"", false, std::nullopt},
        {"7.5", false, std::nullopt},
    };
    for (const auto& c : cases) {
        const auto v = decimal_comma_value(c.text, ValueRead::FreeFormat, c.whole, "k");
        EXPECT_EQ(v ? std::optional<std::string>(v->advice) : std::nullopt, c.advice) << c.text << " whole " << c.whole;
    }
}

// Every reader ends at the next section's key line before it sees it, so that
// the next section's lines are never taken for its own; the reader can also
// end the section at once with the line it has just read.
TEST(KeyedSection, SectionKeyEndsTheSectionBeforeTheReaderSeesIt) {
    TextFile f = text("a         1\nSSP\n2 qv_ssp_burst_z020.dat\nb         2\n");
    std::vector<std::string> seen;
    read_keyed_section(
        f,
        [&](const std::string& k, std::string_view) {
            seen.push_back(k);
            return true;  // a reader that would claim every line
        },
        [](const std::string&) { ADD_FAILURE(); });
    EXPECT_EQ(seen, std::vector<std::string>{"a"});
    std::string_view l;
    ASSERT_TRUE(f.next(l));
    EXPECT_EQ(l, "2 qv_ssp_burst_z020.dat");
}

TEST(KeyedSection, ReaderEndsTheSectionAtOnce) {
    TextFile f = text("a         1\nstop      0\nzz        12345678901234\nb         2\n");
    std::vector<std::string> seen;
    int unknown = 0;
    read_keyed_section(
        f,
        [&](const std::string& k, std::string_view) -> KeyLine {
            seen.push_back(k);
            return k == "stop" ? KeyLine::End : KeyLine::Own;
        },
        [&](const std::string&) { ++unknown; });
    EXPECT_EQ(seen, (std::vector<std::string>{"a", "stop"}));
    EXPECT_EQ(unknown, 0);
    EXPECT_EQ(f.position(), 2u);
    // The line that ends the section is still checked as the reader's own.
    TextFile g = text("stop      0,5\n");
    EXPECT_THROW(read_keyed_section(
                     g, [](const std::string&, std::string_view) -> KeyLine { return KeyLine::End; },
                     [](const std::string&) {}),
                 Stop);
}

TEST(KeyedSection, HintFollowsKeysThatHoldABlankATabOrEquals) {
    for (const char* k : {"tgal 13.0", "tgal\t13.0", "tgal=5.0"})
        EXPECT_EQ(fixed_column_hint(k), " keys take columns 1-10 and values columns 11-20 of a par-file line") << k;
    EXPECT_EQ(fixed_column_hint("tgalx"), "");
}

TEST(KeyedSection, SectionKeyEndsTheSectionOnlyWhenItFillsColumnsOneToTen) {
    auto r = keyed("a         1\nSSPX      0\nSSP       \nb         2\n", {"a", "b"});
    ASSERT_EQ(r.own.size(), 1u);
    ASSERT_EQ(r.unknown.size(), 1u);
    EXPECT_EQ(r.unknown[0], "SSPX");
}

TEST(KeyedSection, EndsAtEndOfFile) {
    auto r = keyed("a         1\nb         2", {"a", "b"});
    EXPECT_EQ(r.own.size(), 2u);
}

TEST(SkipLines, CountsLeadingCommentLines) {
    TextFile f = text("# one\n# two\n% three\n1 2 3\n");
    EXPECT_EQ(skip_lines_in_file(f, "#%!"), 3);
    std::string_view l;
    ASSERT_TRUE(f.next(l));
    EXPECT_EQ(l, "1 2 3");
}

TEST(SkipLines, FileOfCommentsOnlyReturnsTheirNumber) {
    TextFile f = text("# one\n! two\n");
    EXPECT_EQ(skip_lines_in_file(f, "#%!"), 2);
    EXPECT_TRUE(f.at_end());
}

TEST(SkipLines, NoCommentGivesZeroAndLeavesTheFirstLine) {
    TextFile f = text("1 2\n# late\n");
    EXPECT_EQ(skip_lines_in_file(f, "#%!"), 0);
    std::string_view l;
    ASSERT_TRUE(f.next(l));
    EXPECT_EQ(l, "1 2");
}

TEST(SkipLines, EmptyLineIsConsumedWithTheLineAfterIt) {
    TextFile f = text("# one\n\n# two\n5\n");
    EXPECT_EQ(skip_lines_in_file(f, "#%!"), 2);
    std::string_view l;
    ASSERT_TRUE(f.next(l));
    EXPECT_EQ(l, "5");
}

TEST(TextHelpers, NrigheFile) {
    test::TempDir d;
    test::write_text("empty", "");
    test::write_text("three", "a\nb\nc\n");
    test::write_text("open_end", "a\nb");
    EXPECT_EQ(nrighe_file("empty"), 0);
    EXPECT_EQ(nrighe_file("missing"), 0);
    EXPECT_FALSE(std::filesystem::exists("missing"));
    EXPECT_EQ(nrighe_file("three"), 3);
    EXPECT_EQ(nrighe_file("open_end"), 2);
}

TEST(TextHelpers, DelfileRemovesAndToleratesMissing) {
    test::TempDir d;
    test::write_text("x", "1");
    delfile("x");
    EXPECT_FALSE(std::filesystem::exists("x"));
    EXPECT_NO_THROW(delfile("never"));
    EXPECT_FALSE(std::filesystem::exists("never"));
}

TEST(TextHelpers, QverrorStopsWithItsPrefix) {
    try {
        qverror("something broke");
        FAIL();
    } catch (const Stop& s) {
        ASSERT_EQ(s.lines.size(), 1u);
        EXPECT_EQ(s.lines[0], " qverror: something broke");
    }
}

}  // namespace
}  // namespace qv
