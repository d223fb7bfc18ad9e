#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "input/file_writer.h"
#include "input/utils.h"

namespace {

using Words = std::vector<std::string>;

std::string MakeTempDir() {
  char pattern[] = "/tmp/kolve_utils_XXXXXX";
  return mkdtemp(pattern);
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
}

TEST(Trim, RemovesCharactersOfTheSetFromBothEnds) {
  EXPECT_EQ(strutils::trim("..a.txt", ".txt"), "a");
  EXPECT_EQ(strutils::trim(" \t ", " \t\n"), "");
  EXPECT_EQ(strutils::trim("a b", " \t\n"), "a b");
  EXPECT_EQ(strutils::trim("\n x\r\t", " \t\n"), "x\r");
  EXPECT_EQ(strutils::trim("", " \t\n"), "");
}

TEST(CaseMapping, MapsAsciiLettersOnly) {
  EXPECT_EQ(strutils::ToUpperCase("abc-XyZ 09"), "ABC-XYZ 09");
  EXPECT_EQ(strutils::ToLowerCase("ABC-xYz 09"), "abc-xyz 09");
  const std::string high = "\xe9\xc9\xff\x80";
  EXPECT_EQ(strutils::ToUpperCase(high), high);
  EXPECT_EQ(strutils::ToLowerCase(high), high);
}

TEST(Replace, ScansLeftToRightWithoutReexaminingInsertedText) {
  EXPECT_EQ(strutils::replace("a.b.c", ".", "_"), "a_b_c");
  EXPECT_EQ(strutils::replace("aaa", "a", "aa"), "aaaaaa");
  EXPECT_EQ(strutils::replace("p/q.txt", "/", ""), "pq.txt");
  EXPECT_EQ(strutils::replace("abab", "ab", "b"), "bb");
  EXPECT_EQ(strutils::replace("abc", "", "x"), "abc");
}

TEST(EndsWith, ComparesTheTail) {
  EXPECT_FALSE(strutils::endsWith("x", "xy"));
  EXPECT_TRUE(strutils::endsWith("tree.nwk", ".nwk"));
  EXPECT_FALSE(strutils::endsWith("tree.nwk", ".txt"));
  EXPECT_TRUE(strutils::endsWith("anything", ""));
  EXPECT_TRUE(strutils::endsWith("", ""));
}

TEST(Split, FollowsTheLineReadingRule) {
  EXPECT_EQ(strutils::split("a\t\tb", '\t'), (Words{"a", "", "b"}));
  EXPECT_EQ(strutils::split("a\t", '\t'), (Words{"a"}));
  EXPECT_EQ(strutils::split("a\t\t", '\t'), (Words{"a", ""}));
  EXPECT_EQ(strutils::split("", '\t'), Words{});
  EXPECT_EQ(strutils::split("\t", '\t'), (Words{""}));
  EXPECT_EQ(strutils::split("\tx", '\t'), (Words{"", "x"}));
}

TEST(Split, ThreeArgumentFormAppends) {
  Words elems = {"keep"};
  Words& result = strutils::split("1|2", '|', elems);
  EXPECT_EQ(&result, &elems);
  EXPECT_EQ(elems, (Words{"keep", "1", "2"}));
}

TEST(LoadFileToString, ReadsBytesAsTheyAre) {
  const std::string dir = MakeTempDir();
  const std::string bytes("a\r\nb\0c\n", 7);
  WriteBytes(dir + "/f", bytes);
  EXPECT_EQ(strutils::LoadFileToString(dir + "/f"), bytes);
  EXPECT_EQ(strutils::LoadFileToString((dir + "/f").c_str()), bytes);
  EXPECT_EQ(strutils::LoadFileToString(dir + "/missing"), "");
  EXPECT_EQ(strutils::LoadFileToString(dir), "");

  std::ifstream in(dir + "/f", std::ios::binary);
  std::string first;
  std::getline(in, first);
  EXPECT_EQ(strutils::LoadFileToString(in), std::string("b\0c\n", 4));
  std::filesystem::remove_all(dir);
}

TEST(GetLine, DropsOneTrailingCarriageReturn) {
  std::istringstream in("a\r\nb\n\rc\r\r\n\r\nlast\r");
  std::string line;
  Words lines;
  while (strutils::GetLine(in, line)) lines.push_back(line);
  EXPECT_EQ(lines, (Words{"a", "b", "\rc\r", "", "last"}));
}

TEST(Itoa, WritesDecimalText) {
  EXPECT_EQ(strutils::itoa(-45), "-45");
  EXPECT_EQ(strutils::itoa(0), "0");
  EXPECT_EQ(strutils::itoa(1070), "1070");
  EXPECT_EQ(strutils::itoa(INT_MIN), "-2147483648");
  EXPECT_EQ(strutils::itoa(INT_MAX), "2147483647");
}

TEST(NumberText, CountsDigitsAndPads) {
  EXPECT_EQ(numutils::CountDigits(0), 1);
  EXPECT_EQ(numutils::CountDigits(-10), 3);
  EXPECT_EQ(numutils::CountDigits(-5), 2);
  EXPECT_EQ(numutils::CountDigits(100), 3);
  EXPECT_EQ(numutils::CountDigits(INT_MIN), 11);
  EXPECT_EQ(numutils::EnoughSpaces(5, 42), "   ");
  EXPECT_EQ(numutils::EnoughSpaces(2, 123), "");
  EXPECT_EQ(numutils::EnoughSpaces(3, 123), "");
  EXPECT_EQ(numutils::EnoughSpaces(3, -1), " ");
}

TEST(NumberText, IsNumberAcceptsDigitsOnly) {
  EXPECT_FALSE(numutils::is_number(""));
  EXPECT_FALSE(numutils::is_number("-1"));
  EXPECT_FALSE(numutils::is_number("1.0"));
  EXPECT_FALSE(numutils::is_number(" 1"));
  EXPECT_TRUE(numutils::is_number("007"));
}

TEST(RepeatOutputs, WritesTheTextNTimes) {
  std::ostringstream out;
  oututils::RepeatOutputs(3, out, "ab");
  oututils::RepeatOutputs(0, out, "x");
  oututils::RepeatOutputs(-2, out, "y");
  EXPECT_EQ(out.str(), "ababab");
}

TEST(Files, ExistenceAndDirectoryListing) {
  const std::string dir = MakeTempDir();
  WriteBytes(dir + "/f", "x");
  EXPECT_TRUE(fileutils::file_exists(dir + "/f"));
  EXPECT_FALSE(fileutils::file_exists(dir + "/g"));

  Words listed = fileutils::getdir(dir);
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, (Words{dir + "/.", dir + "/..", dir + "/f"}));
  std::filesystem::remove_all(dir);
}

TEST(Files, WholeFilesAreReadOnlyFromFilesThatOpen) {
  const std::string dir = MakeTempDir();
  const std::string bytes("a\r\nb\0c", 6);
  WriteBytes(dir + "/f", bytes);
  std::string text = "stale";
  EXPECT_TRUE(fileutils::ReadWholeFile(dir + "/f", text));
  EXPECT_EQ(text, bytes);
  EXPECT_FALSE(fileutils::ReadWholeFile(dir + "/missing", text));
  EXPECT_FALSE(fileutils::ReadWholeFile(dir, text));
  std::ifstream in;
  EXPECT_FALSE(fileutils::OpenForReading(in, dir));
  std::filesystem::remove_all(dir);
}

TEST(Files, ReplacedFileHoldsOldOrNewContentAndNoLeftover) {
  const std::string dir = MakeTempDir();
  const std::string path = dir + "/t.txt";
  EXPECT_EQ(fileutils::WhyCannotWrite(path), 0);
  EXPECT_EQ(fileutils::WhyCannotWrite(dir + "/none/t.txt"), ENOENT);

  WriteBytes(path, "old table, longer than the new one\n");
  ASSERT_TRUE(fileutils::ReplaceFile(path, "new\n"));
  EXPECT_EQ(strutils::LoadFileToString(path), "new\n");
  // Readable by others as a file written in place would be (umask 022 here).
  const mode_t mask = umask(022);
  ASSERT_TRUE(fileutils::ReplaceFile(path, "newer\n"));
  umask(mask);
  EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
            std::filesystem::perms(0644));

  std::filesystem::create_directory(dir + "/d.txt");
  EXPECT_FALSE(fileutils::ReplaceFile(dir + "/d.txt", "lost\n"));
  EXPECT_FALSE(fileutils::ReplaceFile(dir + "/none/t.txt", "lost\n"));
  Words listed;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    listed.push_back(entry.path().filename().string());
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, (Words{"d.txt", "t.txt"}));
  EXPECT_EQ(strutils::LoadFileToString(path), "newer\n");
  std::filesystem::remove_all(dir);
}

// Links are read relative to their own directory, so a table reached through
// a chain lands where the last link points, even where nothing is yet.
TEST(Files, WritesReachTheEndOfLinkChainsAndSayWhyNot) {
  const std::string dir = MakeTempDir();
  std::filesystem::create_directories(dir + "/a/b");
  std::filesystem::create_directory_symlink("a/b", dir + "/lb");
  std::filesystem::create_symlink("../x.txt", dir + "/a/b/up");
  std::filesystem::create_symlink(dir + "/lb/up", dir + "/abs");
  EXPECT_EQ(fileutils::LinkTarget(dir + "/abs"), dir + "/a/b/../x.txt");
  EXPECT_EQ(fileutils::WhyCannotWrite(dir + "/abs"), 0);
  ASSERT_TRUE(fileutils::ReplaceFile(dir + "/abs", "new\n"));
  EXPECT_EQ(strutils::LoadFileToString(dir + "/a/x.txt"), "new\n");
  EXPECT_TRUE(std::filesystem::is_symlink(dir + "/abs"));

  // Twenty relative links of some 260 bytes, which the kernel follows.
  std::filesystem::create_directory(dir + "/" + std::string(250, 'u'));
  for (int i = 0; i < 20; ++i)
    std::filesystem::create_symlink(std::string(250, 'u') + "/../n" + std::to_string(i + 1),
                                    dir + "/n" + std::to_string(i));
  ASSERT_TRUE(fileutils::ReplaceFile(dir + "/n0", "far\n"));
  EXPECT_EQ(strutils::LoadFileToString(dir + "/n20"), "far\n");

  std::filesystem::create_symlink("loop", dir + "/loop");
  EXPECT_EQ(fileutils::LinkTarget(dir + "/loop"), "");
  EXPECT_EQ(fileutils::WhyCannotWrite(dir + "/loop"), ELOOP);
  EXPECT_EQ(fileutils::WhyCannotWrite(dir + "/a"), EISDIR);
  WriteBytes(dir + "/f", "");
  EXPECT_EQ(fileutils::WhyCannotWrite(dir + "/f/t.txt"), ENOTDIR);
  EXPECT_EQ(fileutils::WhyCannotWrite(dir + "/" + std::string(256, 'n')), ENAMETOOLONG);
  std::filesystem::remove_all(dir);
}

TEST(Files, PublishingNeverReplacesAFile) {
  const std::string dir = MakeTempDir();
  const std::string temp = fileutils::WriteTempFile(dir + "/.t_", "new\n");
  ASSERT_FALSE(temp.empty());
  WriteBytes(dir + "/taken.txt", "old\n");
  EXPECT_FALSE(fileutils::PublishWithoutReplacing(temp, dir + "/taken.txt"));
  EXPECT_EQ(errno, EEXIST);
  EXPECT_EQ(strutils::LoadFileToString(dir + "/taken.txt"), "old\n");
  ASSERT_TRUE(fileutils::PublishWithoutReplacing(temp, dir + "/free.txt"));
  EXPECT_EQ(strutils::LoadFileToString(dir + "/free.txt"), "new\n");
  EXPECT_FALSE(std::filesystem::exists(temp));
  std::filesystem::remove_all(dir);
}

TEST(Files, GetdirOfAMissingDirectoryEndsTheRun) {
  // The message goes to standard output; route it to the captured stream.
  EXPECT_EXIT(
      {
        dup2(2, 1);
        fileutils::getdir("/nonexistent/kolve");
      },
      testing::ExitedWithCode(1), testing::Matcher<const std::string&>("Error opening /nonexistent/kolve\n"));
}

TEST(Containers, ContainsAndIsVectorSame) {
  EXPECT_TRUE(ctnutils::Contains(std::vector<int>{3, 1, 4}, 4));
  EXPECT_FALSE(ctnutils::Contains(std::vector<int>{3, 1, 4}, 2));
  EXPECT_FALSE(ctnutils::Contains(std::vector<int>{}, 0));
  EXPECT_TRUE(ctnutils::IsVectorSame(std::vector<char>{1, 0, 1}, std::vector<char>{1, 0, 1}));
  EXPECT_FALSE(ctnutils::IsVectorSame(std::vector<char>{1, 0, 1}, std::vector<char>{1, 1, 1}));
  EXPECT_FALSE(ctnutils::IsVectorSame(std::vector<char>{1, 0}, std::vector<char>{1, 0, 0}));
}

TEST(Containers, GrayCodeInReflectedOrder) {
  EXPECT_EQ(ctnutils::GenGrayArray(3), (Words{"000", "001", "011", "010", "110", "111", "101", "100"}));
  EXPECT_EQ(ctnutils::GenGrayArray(2), (Words{"00", "01", "11", "10"}));
  EXPECT_EQ(ctnutils::GenGrayArray(1), (Words{"0", "1"}));
  EXPECT_EQ(ctnutils::GenGrayArray(0), Words{});
  EXPECT_EQ(ctnutils::GenGrayArray(-3), Words{});
}

}  // namespace
