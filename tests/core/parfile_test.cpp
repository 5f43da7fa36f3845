// The par file's grammar: section search, the keyed-section loop and the
// text-file helpers.
#include <gtest/gtest.h>

#include <filesystem>
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
