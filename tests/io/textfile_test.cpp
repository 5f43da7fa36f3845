// Whole-file reading with a line cursor, atomic writes and appends.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <sys/stat.h>

#include "core/stop.h"
#include "io/textfile.h"
#include "support/test_support.h"

namespace qv {
namespace {

std::vector<std::string> all_lines(TextFile& f) {
    std::vector<std::string> out;
    std::string_view l;
    while (f.next(l)) out.emplace_back(l);
    return out;
}

TEST(TextFile, SplitsLinesDroppingCarriageReturns) {
    using V = std::vector<std::string>;
    struct Case {
        const char* text;
        V lines;
    };
    const Case cases[] = {
        {"", V{}},
        {"\n", V{""}},
        {"a", V{"a"}},  // a last line without a line end is a line
        {"a\nb\n", V{"a", "b"}},
        {"a\r\nb\r\n", V{"a", "b"}},
        {"a\r\n\r\nb", V{"a", "", "b"}},
        {"a\rb\n", V{"a\rb"}},  // only a \r before the line end goes
        {"\n\n", V{"", ""}},
    };
    for (const auto& c : cases) {
        TextFile f = TextFile::from_string("m", c.text);
        EXPECT_EQ(f.line_count(), c.lines.size()) << c.text;
        EXPECT_EQ(all_lines(f), c.lines) << c.text;
    }
}

TEST(TextFile, CursorPeekBackspaceSeek) {
    TextFile f = TextFile::from_string("m", "one\ntwo\nthree\n");
    std::string_view l;
    EXPECT_TRUE(f.peek(l));
    EXPECT_EQ(l, "one");
    EXPECT_EQ(f.position(), 0u);
    f.backspace();  // no effect at the start
    EXPECT_EQ(f.position(), 0u);
    EXPECT_TRUE(f.next(l));
    EXPECT_TRUE(f.next(l));
    EXPECT_EQ(l, "two");
    f.backspace();
    EXPECT_TRUE(f.next(l));
    EXPECT_EQ(l, "two");
    f.seek(2);
    EXPECT_TRUE(f.next(l));
    EXPECT_EQ(l, "three");
    EXPECT_TRUE(f.at_end());
    EXPECT_FALSE(f.next(l));
    EXPECT_FALSE(f.peek(l));
    f.seek(10);
    EXPECT_TRUE(f.at_end());
    EXPECT_FALSE(f.next(l));
    f.rewind();
    EXPECT_TRUE(f.next(l));
    EXPECT_EQ(l, "one");
    EXPECT_EQ(f.line(2), "three");
}

TEST(TextFile, CopiesAndMovesKeepTheirLines) {
    // Short texts live inside the string object itself: lines must not point
    // into the object they were split in.
    TextFile a = TextFile::from_string("m", "ab\ncd\n");
    TextFile b = a;
    TextFile c = std::move(a);
    std::vector<TextFile> v;
    for (int i = 0; i < 20; ++i) v.push_back(b);  // reallocations move the elements
    EXPECT_EQ(b.line(1), "cd");
    EXPECT_EQ(c.line(0), "ab");
    EXPECT_EQ(v.back().line(1), "cd");
}

TEST(TextFile, FailNamesFileAndLine) {
    TextFile f = TextFile::from_string("x.dat", "a\nb\n");
    try {
        f.fail("bad");
        FAIL();
    } catch (const IoError& e) {
        EXPECT_STREQ(e.what(), "x.dat:1: bad");
    }
    std::string_view l;
    f.next(l);
    f.next(l);
    try {
        f.fail("bad value");
        FAIL();
    } catch (const IoError& e) {
        EXPECT_STREQ(e.what(), "x.dat:2: bad value");
    }
    TextFile empty = TextFile::from_string("e.dat", "");
    try {
        empty.fail("nothing");
        FAIL();
    } catch (const IoError& e) {
        EXPECT_STREQ(e.what(), "e.dat: nothing");
    }
}

TEST(TextFile, OpenReadsTheWholeFile) {
    test::TempDir tmp;
    std::string text;
    for (int i = 0; i < 100000; ++i) text += std::to_string(i) + " 1.5 2.5\n";
    test::write_text("big.txt", text + "last");
    TextFile f = TextFile::open("big.txt");
    EXPECT_EQ(f.name(), "big.txt");
    ASSERT_EQ(f.line_count(), 100001u);
    EXPECT_EQ(f.line(99999), "99999 1.5 2.5");
    EXPECT_EQ(f.line(100000), "last");
    test::write_text("empty.txt", "");
    EXPECT_EQ(TextFile::open("empty.txt").line_count(), 0u);
}

TEST(TextFile, MissingFileIsAnIoErrorAndIsNotCreated) {
    test::TempDir tmp;
    try {
        TextFile::open("nothere.dat");
        FAIL();
    } catch (const IoError& e) {
        std::string m = e.what();
        EXPECT_EQ(m.rfind("nothere.dat: cannot open file", 0), 0u) << m;
    }
    EXPECT_FALSE(std::filesystem::exists("nothere.dat"));
    EXPECT_FALSE(file_exists("nothere.dat"));
    std::filesystem::create_directory("adir");
    EXPECT_THROW(TextFile::open("adir"), IoError);
    EXPECT_FALSE(file_exists("adir"));
    test::write_text("here.dat", "x\n");
    EXPECT_TRUE(file_exists("here.dat"));
}

TEST(WriteFileAtomic, WritesReplacesAndLeavesNoTemporary) {
    test::TempDir tmp;
    write_file_atomic("out.spe", "first\n");
    EXPECT_EQ(test::read_text("out.spe"), "first\n");
    write_file_atomic("out.spe", "second\n");
    EXPECT_EQ(test::read_text("out.spe"), "second\n");
    write_file_atomic("empty.spe", "");
    EXPECT_EQ(test::read_text("empty.spe"), "");
    int files = 0;
    for (const auto& e : std::filesystem::directory_iterator(tmp.path())) {
        (void)e;
        ++files;
    }
    EXPECT_EQ(files, 2);
    // The file gets the usual permissions (not those of a private temporary).
    struct stat st {};
    ASSERT_EQ(stat("out.spe", &st), 0);
    mode_t mask = umask(0);
    umask(mask);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
}

TEST(WriteFileAtomic, FailureThrowsAndLeavesNothing) {
    test::TempDir tmp;
    EXPECT_THROW(write_file_atomic("no/such/dir/out.spe", "x"), IoError);
    // A directory in the target's place: the rename fails, the temporary goes.
    std::filesystem::create_directory("taken");
    std::filesystem::create_directory("taken/inside");
    try {
        write_file_atomic("taken", "x");
        FAIL();
    } catch (const IoError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("taken:", 0), 0u) << e.what();
    }
    int files = 0;
    for (const auto& e : std::filesystem::directory_iterator(tmp.path())) {
        (void)e;
        ++files;
    }
    EXPECT_EQ(files, 1);
}

TEST(AppendExisting, AppendsOnlyToAnExistingFile) {
    test::TempDir tmp;
    test::write_text("run.out", "a\n");
    append_existing("run.out", "b\n");
    append_existing("run.out", "c\n");
    EXPECT_EQ(test::read_text("run.out"), "a\nb\nc\n");
    EXPECT_THROW(append_existing("missing.out", "x\n"), IoError);
    EXPECT_FALSE(std::filesystem::exists("missing.out"));
}

}  // namespace
}  // namespace qv
