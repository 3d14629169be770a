#include "client/options.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>

#include "client/catalogue.h"
#include "tests/client/client_test_util.h"
#include "tests/testlib/deep_dir.h"
#include "tests/testlib/testlib.h"

namespace tarnwick {

namespace {

using client_test::Argv;
using Strings = std::vector<std::string>;

CompareOptions parsed(const Strings& args, bool* error = nullptr) {
  CompareOptions options;
  const Argv argv(args);
  const bool result = options.parse(argv.argc(), argv.argv());
  if (error != nullptr) *error = result;
  return options;
}

bool parse_fails(const Strings& args) {
  bool error = false;
  parsed(args, &error);
  return error;
}

TEST(ParseTest, CommandLineFaultsAreParseErrors) {
  const std::vector<Strings> faulty = {
      {"-out"},                        // option awaiting its parameter at the end
      {"f1", "f2", "-fname"},          // likewise, after contributors
      {"-out", "-base", "f1", "f2"},   // option while a parameter is awaited
      {"f1", "-base", "f2", "f3"},     // -base after a contributor
      {"-base", "f1", "-base", "f2"},  // a second -base
      {"-Out", "o", "f1", "f2"},       // keywords match exactly...
      {"-o", "o", "f1", "f2"},         // ...and in full
      {"-blank", "f1", "f2"},
      {"--out", "o", "f1", "f2"},  // the word "-out" is no keyword
      {"-"},                       // the empty word
      {"f1", "-", "f2"},
  };
  for (const Strings& args : faulty) {
    EXPECT_TRUE(parse_fails(args)) << testing::PrintToString(args);
  }
}

TEST(ParseTest, WalkGoesOnAfterAnError) {
  bool error = false;
  const CompareOptions options = parsed({"-x", "f1", "-base", "f2", "-out", "o"}, &error);
  EXPECT_TRUE(error);
  EXPECT_EQ(options.contributors, (Strings{"f1", "f2"}));
  EXPECT_TRUE(options.merge);
  EXPECT_EQ(options.out_path, "o");
}

TEST(ParseTest, AwaitedParameterSurvivesARejectedOption) {
  bool error = false;
  const CompareOptions options = parsed({"-fname", "-html", "x", "f1"}, &error);
  EXPECT_TRUE(error);
  EXPECT_EQ(options.display_names, (Strings{"x"}));
  EXPECT_EQ(options.contributors, (Strings{"f1"}));
}

TEST(ParseTest, EmptyCommandLineIsNoParseError) {
  bool error = true;
  EXPECT_EQ(parsed({}, &error), CompareOptions());
  EXPECT_FALSE(error);
}

TEST(ParseTest, BaseComesFirstAmongContributors) {
  bool error = true;
  const CompareOptions options = parsed({"-base", "f1", "f2", "f3"}, &error);
  EXPECT_FALSE(error);
  EXPECT_EQ(options.contributors, (Strings{"f1", "f2", "f3"}));
}

TEST(ParseTest, SlashIsNoOptionPrefix) {
  bool error = true;
  const CompareOptions options = parsed({"/out", "o", "f1", "f2"}, &error);
  EXPECT_FALSE(error);
  EXPECT_FALSE(options.merge);
  EXPECT_EQ(options.contributors, (Strings{"/out", "o", "f1", "f2"}));
}

TEST(ParseTest, OptionsFillTheirFields) {
  bool error = true;
  const CompareOptions options =
      parsed({"-out", "o1", "-blank_ignore", "-fname", "x", "-favor_contrib", "1", "-encoding",
              "utf-16le", "-fname", "y", "-out", "o2", "f1", "f2", "-favor_contrib", "2"},
             &error);
  EXPECT_FALSE(error);
  EXPECT_EQ(options.pending_parameter, CompareOptions::kNone);
  EXPECT_TRUE(options.merge);
  EXPECT_EQ(options.out_path, "o2");  // the last one wins
  EXPECT_TRUE(options.blank_ignore);
  EXPECT_TRUE(options.favor_contrib_given);
  EXPECT_EQ(options.favor_contrib, "2");
  EXPECT_TRUE(options.encoding_given);
  EXPECT_EQ(options.encoding, "utf-16le");
  EXPECT_EQ(options.display_names, (Strings{"x", "y"}));
  EXPECT_EQ(options.contributors, (Strings{"f1", "f2"}));
  EXPECT_TRUE(options.type_name.empty());
}

TEST(ParseTest, AcceptedOptionsHaveNoEffect) {
  const CompareOptions plain = parsed({"f1", "f2"});
  for (const char* word :
       {"abort", "pause", "html", "force", "query", "hstack", "vstack", "qall", "qntrivial"}) {
    bool error = true;
    EXPECT_EQ(parsed({std::string("-") + word, "f1", "f2"}, &error), plain) << word;
    EXPECT_FALSE(error) << word;
  }
  EXPECT_EQ(parsed({"-html", "-qall", "f1", "f2"}), plain);
}

// validate() over real files, in a temporary directory made current so that
// relative contributor names resolve there.
class ValidateTest : public testing::Test {
 protected:
  ValidateTest() : cwd_(dir_.path()) {
    for (const char* name : {"f1", "f2", "f3"}) testlib::write_file(dir_.file(name), name);
  }

  // Parses and validates; returns validate's result, the entry it would print
  // in `*entry`.
  bool check(const Strings& args, int* entry, CompareOptions* out = nullptr) {
    CompareOptions options;
    const Argv argv(args);
    EXPECT_FALSE(options.parse(argv.argc(), argv.argv())) << testing::PrintToString(args);
    const bool ok = options.validate(entry);
    if (out != nullptr) *out = options;
    return ok;
  }

  int entry_for(const Strings& args) {
    int entry = -2;
    EXPECT_FALSE(check(args, &entry)) << testing::PrintToString(args);
    return entry;
  }

  // The form make_absolute gives a name in the (current) test directory.
  static std::string absolute(const std::string& name) {
    return platform::current_dir() + platform::kPathSeparator + name;
  }

  testlib::TempDir dir_;
  client_test::ScopedCurrentDir cwd_;
};

TEST_F(ValidateTest, ChecksInOrderWithTheirEntries) {
  EXPECT_EQ(entry_for({}), kTooFewContributorsEntry);
  EXPECT_EQ(entry_for({"f1"}), kTooFewContributorsEntry);
  // -favor_contrib without a merge with -blank_ignore comes before the count.
  EXPECT_EQ(entry_for({"-favor_contrib", "2", "f1"}), kFavorContribNeedsMergeEntry);
  EXPECT_EQ(entry_for({"-favor_contrib", "2", "f1", "f2"}), kFavorContribNeedsMergeEntry);
  EXPECT_EQ(entry_for({"-out", "o", "-favor_contrib", "2", "f1", "f2"}),
            kFavorContribNeedsMergeEntry);
  EXPECT_EQ(entry_for({"-encoding", "UTF-8", "f1", "f2"}), kBadEncodingEntry);
  // The open test comes before the encoding: a missing file has no message.
  EXPECT_EQ(entry_for({"-encoding", "UTF-8", "f1", "missing"}), -1);
  EXPECT_EQ(entry_for({"f1", "missing"}), -1);
  EXPECT_EQ(entry_for({"/out", "o", "f1", "f2"}), -1);
}

TEST_F(ValidateTest, FavorContribNumberFollowsAtoi) {
  const auto merge_favoring = [](const std::string& number) {
    return Strings{"-out", "o", "-blank_ignore", "-favor_contrib", number, "f1", "f2"};
  };
  for (const char* bad : {"3", "0", " -1", "abc", "", " - 1", "99999999999"}) {
    EXPECT_EQ(entry_for(merge_favoring(bad)), kFavorContribInvalidEntry) << bad;
  }
  for (const char* good : {"1", "2", "2xyz", " +2", "\t1"}) {
    int entry = -2;
    EXPECT_TRUE(check(merge_favoring(good), &entry)) << good;
    EXPECT_EQ(entry, -1);
  }
}

TEST_F(ValidateTest, DirectoriesPassTheOpenTestOnEveryPlatform) {
  // What git difftool -d hands the tool: two directories.
  ASSERT_TRUE(std::filesystem::create_directory(dir_.file("left")));
  ASSERT_TRUE(std::filesystem::create_directory(dir_.file("right")));
  int entry = -2;
  EXPECT_TRUE(check({"left", "right"}, &entry));
  EXPECT_EQ(entry, -1);
  EXPECT_EQ(entry_for({"left", "missing"}), -1);
}

TEST_F(ValidateTest, BlankIgnoreWithoutMergeIsAccepted) {
  int entry = -2;
  EXPECT_TRUE(check({"-blank_ignore", "f1", "f2"}, &entry));
}

TEST_F(ValidateTest, EncodingSelectsTypeName) {
  const std::pair<const char*, const char*> table[] = {
      {"utf-8", "utf8_file_delta"},       {"utf-16le", "utf16le_file_delta"},
      {"utf-16be", "utf16be_file_delta"}, {"utf-32le", "utf32le_file_delta"},
      {"utf-32be", "utf32be_file_delta"},
  };
  for (const auto& [encoding, type_name] : table) {
    int entry = -2;
    CompareOptions options;
    EXPECT_TRUE(check({"-encoding", encoding, "f1", "f2"}, &entry, &options)) << encoding;
    EXPECT_EQ(options.type_name, type_name);
  }
  CompareOptions options;
  int entry = -2;
  EXPECT_TRUE(check({"f1", "f2"}, &entry, &options));
  EXPECT_TRUE(options.type_name.empty());
}

TEST_F(ValidateTest, DisplayNamesArePaddedAndFilledAsTyped) {
  CompareOptions options;
  int entry = -2;
  ASSERT_TRUE(check({"-fname", "x", "-fname", "y", "-fname", "z", "f1", "f2"}, &entry, &options));
  EXPECT_EQ(options.display_names, (Strings{"x", "y"}));

  ASSERT_TRUE(check({"-fname", "x", "f1", "f2", "f3"}, &entry, &options));
  EXPECT_EQ(options.display_names, (Strings{"x", "f2", "f3"}));
  EXPECT_EQ(options.contributors, (Strings{absolute("f1"), absolute("f2"), absolute("f3")}));

  // An explicitly empty display name is replaced too.
  ASSERT_TRUE(check({"-fname", "", "-fname", "y", "f1", absolute("f2")}, &entry, &options));
  EXPECT_EQ(options.display_names, (Strings{"f1", "y"}));
  EXPECT_EQ(options.contributors, (Strings{absolute("f1"), absolute("f2")}));
}

TEST_F(ValidateTest, OutputPathIsMadeAbsoluteButNotTested) {
  CompareOptions options;
  int entry = -2;
  ASSERT_TRUE(check({"-out", "new.txt", "f1", "f2"}, &entry, &options));
  EXPECT_EQ(options.out_path, absolute("new.txt"));
  EXPECT_FALSE(testlib::file_exists(absolute("new.txt")));
}

TEST_F(ValidateTest, EmptyPathsAreRefused) {
  int entry = -2;
  EXPECT_FALSE(check({"f1", "", "f2"}, &entry));
  EXPECT_EQ(entry, -1);
  EXPECT_FALSE(check({"-out", "", "f1", "f2"}, &entry));
  EXPECT_EQ(entry, -1);
}

// Values the request could only carry as other text are refused, with the
// usage alone; tab, line feed and carriage return can be carried.
TEST_F(ValidateTest, ValuesTheRequestCannotCarryAreRefused) {
  int entry = -2;
  EXPECT_FALSE(check({"-out", "o\x01", "f1", "f2"}, &entry));
  EXPECT_EQ(entry, -1);
  EXPECT_FALSE(check({"-fname", "x\x1b", "f1", "f2"}, &entry));
  EXPECT_EQ(entry, -1);
  if constexpr (!platform::kWindows) {  // no such file name on Windows
    testlib::write_file(dir_.file("g\x1f"), "g");
    EXPECT_FALSE(check({"g\x1f", "f1"}, &entry));
    EXPECT_EQ(entry, -1);
  }
  CompareOptions options;
  EXPECT_TRUE(check({"-out", "o\r", "-fname", "t\tn\n", "f1", "f2"}, &entry, &options));
  EXPECT_EQ(options.out_path, absolute("o\r"));
  EXPECT_EQ(options.display_names[0], "t\tn\n");
  EXPECT_EQ(options.refusal, "");
  // The log is told which value, with its control character shown as '?'.
  EXPECT_FALSE(check({"-fname", "x\x1b", "f1", "f2"}, &entry, &options));
  EXPECT_EQ(options.refusal, "x? holds a control character that cannot be sent");
}

// A contributor that cannot be opened: the usage alone on the console, and
// for the log which file and why.
TEST_F(ValidateTest, AFileThatCannotBeOpenedIsNamedWithItsReason) {
  int entry = -2;
  CompareOptions options;
  EXPECT_FALSE(check({"f1", "missing"}, &entry, &options));
  EXPECT_EQ(entry, -1);
  EXPECT_EQ(options.refusal, absolute("missing") + " cannot be opened: " + std::strerror(ENOENT));
}

TEST(PathRulesTest, UncPath) {
  EXPECT_TRUE(is_unc_path("\\\\s"));
  EXPECT_TRUE(is_unc_path("\\\\srv\\share"));
  EXPECT_FALSE(is_unc_path("\\\\"));
  EXPECT_FALSE(is_unc_path("\\s\\"));
  EXPECT_FALSE(is_unc_path("s\\\\"));
  EXPECT_FALSE(is_unc_path(""));
}

TEST(PathRulesTest, WindowsRules) {
  const std::string cwd = "C:\\w";
  EXPECT_EQ(windows_absolute_path("d\\f", cwd), "C:\\w\\d\\f");
  EXPECT_EQ(windows_absolute_path("\\f", cwd), "C:\\f");
  EXPECT_EQ(windows_absolute_path("D:f", cwd), "D:f");
  EXPECT_EQ(windows_absolute_path("D:\\f", cwd), "D:\\f");
  EXPECT_EQ(windows_absolute_path("\\\\srv\\share\\f", cwd), "\\\\srv\\share\\f");
  // Nothing else is rewritten: dots stay, a forward slash is relative.
  EXPECT_EQ(windows_absolute_path(".\\..\\f", cwd), "C:\\w\\.\\..\\f");
  EXPECT_EQ(windows_absolute_path("/out", cwd), "C:\\w\\/out");
  // Only a colon at the second byte is a drive.
  EXPECT_EQ(windows_absolute_path("ab:c", cwd), "C:\\w\\ab:c");
  // A rooted path below a UNC current directory gets all of it in front.
  EXPECT_EQ(windows_absolute_path("\\f", "\\\\srv\\share\\d"), "\\\\srv\\share\\d\\f");
  EXPECT_EQ(windows_absolute_path("d\\f", "\\\\srv\\share"), "\\\\srv\\share\\d\\f");
  // A current directory without a drive contributes nothing to a rooted path.
  EXPECT_EQ(windows_absolute_path("\\f", ""), "\\f");
  EXPECT_EQ(windows_absolute_path("", cwd), "");
}

TEST(PathRulesTest, PosixRules) {
  EXPECT_EQ(posix_absolute_path("/a/b", "/w"), "/a/b");
  EXPECT_EQ(posix_absolute_path("d/f", "/w"), "/w/d/f");
  EXPECT_EQ(posix_absolute_path("../f", "/w"), "/w/../f");
  EXPECT_EQ(posix_absolute_path("C:\\f", "/w"), "/w/C:\\f");
  EXPECT_EQ(posix_absolute_path("\\\\srv\\f", "/w"), "/w/\\\\srv\\f");
  EXPECT_EQ(posix_absolute_path("", "/w"), "");
}

TEST(PathRulesTest, MakeAbsoluteUsesThisPlatformAndCurrentDirectory) {
  testlib::TempDir dir;
  const client_test::ScopedCurrentDir cwd(dir.path());
  const std::string here = platform::current_dir();
  std::string path = "x";
  ASSERT_TRUE(make_absolute(path));
  EXPECT_EQ(path, here + platform::kPathSeparator + "x");
  const std::string absolute = path;
  ASSERT_TRUE(make_absolute(path));
  EXPECT_EQ(path, absolute);
  std::string empty;
  EXPECT_FALSE(make_absolute(empty));
}

// A current directory longer than the C library's usual buffer is read
// whole: a relative path never becomes one that hangs from the root, here a
// decoy that exists there.
TEST(PathRulesTest, CurrentDirectoryOfAnyLength) {
  if constexpr (platform::kWindows) {
    GTEST_SKIP() << "Windows keeps the current directory within MAX_PATH";
  }
  testlib::TempDir dir;
  testlib::write_file(dir.file("a"), "a");
  testlib::write_file(dir.file("b"), "b");
  const std::string from_root = dir.path().substr(1);  // "tmp/..." names the decoys from "/"
  const testlib::DeepDir deep(dir.path(), 24, std::string(200, 'd'));
  ASSERT_TRUE(deep.ok());
  ASSERT_GT(deep.path().size(), 4096u);
  EXPECT_EQ(platform::current_dir(), deep.path());

  std::string path = from_root + "/a";
  ASSERT_TRUE(make_absolute(path));
  EXPECT_EQ(path, deep.path() + "/" + from_root + "/a");

  CompareOptions options;
  options.contributors = {from_root + "/a", from_root + "/b"};
  int entry = -2;
  EXPECT_FALSE(options.validate(&entry));  // such long paths cannot be opened
  EXPECT_EQ(options.contributors[0], deep.path() + "/" + from_root + "/a");
}

// Without a current directory a relative path has no absolute form: it is
// refused, while an absolute one stays usable.
TEST(PathRulesTest, UnreadableCurrentDirectoryRefusesRelativePaths) {
  if constexpr (platform::kWindows) {
    GTEST_SKIP() << "Windows cannot remove a process's current directory";
  }
  testlib::TempDir dir;
  const std::string gone = dir.file("gone");
  ASSERT_TRUE(std::filesystem::create_directory(gone));
  const client_test::ScopedCurrentDir cwd(gone);
  ASSERT_TRUE(std::filesystem::remove(gone));
  ASSERT_EQ(platform::current_dir(), "");
  std::string relative = "x";
  EXPECT_FALSE(make_absolute(relative));
  EXPECT_EQ(relative, "x");
  std::string absolute = "/w/x";
  EXPECT_TRUE(make_absolute(absolute));
  EXPECT_EQ(absolute, "/w/x");
}

TEST(AtoiTest, RuntimeSemantics) {
  EXPECT_EQ(atoi_value("42"), 42);
  EXPECT_EQ(atoi_value(" \t\n42"), 42);
  EXPECT_EQ(atoi_value("+7"), 7);
  EXPECT_EQ(atoi_value("-3"), -3);
  EXPECT_EQ(atoi_value("2abc"), 2);
  EXPECT_EQ(atoi_value("abc"), 0);
  EXPECT_EQ(atoi_value(""), 0);
  EXPECT_EQ(atoi_value("- 3"), 0);
  EXPECT_EQ(atoi_value("99999999999"), INT_MAX);
  EXPECT_EQ(atoi_value("-99999999999"), INT_MIN);
}

}  // namespace

}  // namespace tarnwick
