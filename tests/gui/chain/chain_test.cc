// The real chain from cold: tarnwick -> hollin_service -> marlow (Qt,
// offscreen), each test in a sandbox of its own.
#include <filesystem>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/gui/chain/chain.h"
#include "tests/testlib/deep_dir.h"

namespace chain {
namespace {

using ::testing::ElementsAre;

const std::string kBase = "one\ntwo\nthree\nfour\nfive\nsix\nseven\n";
// A clean change (four) and two conflicts with theirs (two, six).
const std::string kMine = "one\ntwo mine\nthree\nFOUR\nfive\nsix mine\nseven\n";
// Also a clean change: a line added at the end.
const std::string kTheirs = "one\ntwo theirs\nthree\nfour\nfive\nsix theirs\nseven\neight\n";

// Another side that merges cleanly with kMine, and the result.
const std::string kClean = "one\ntwo\nthree\nfour\nfive\nsix\nseven\neight\n";
const std::string kCleanMerge = "one\ntwo mine\nthree\nFOUR\nfive\nsix mine\nseven\neight\n";

// The programs are copies: each finds its installation from its own resolved
// path, so a link would lead to <build>/root and its stand-in marlow.
TEST(Chain, GuiRootIsAnInstallationOfItsOwn) {
  for (const char* name : {"tarnwick", "hollin_service", "tarnwickutf8", "fernask"}) {
    EXPECT_FALSE(std::filesystem::is_symlink(gui_bin(name))) << name;
    EXPECT_TRUE(testlib::file_exists(gui_bin(name))) << name;
  }
  EXPECT_TRUE(testlib::file_exists(gui_marlow()));
}

TEST(Chain, ComparesAnswerOneFromColdAndWarm) {
  Sandbox box;
  box.script("next; next; close");
  const std::string a = box.write("a.txt", kBase);
  const std::string b = box.write("b.txt", kMine);
  const std::string c = box.write("c.txt", kTheirs);

  const std::string pid_file = platform::login_name() + ".tarnwick/hollin_service.pid";
  const Outcome two = box.tarnwick({a, b});
  EXPECT_EQ(two.status, 0) << two.err;
  const std::string first_service = box.read(pid_file);
  // The second request goes to the service and marlow that the first started.
  const Outcome three = box.tarnwick({"-fname", "left", a, b, c});
  EXPECT_EQ(three.status, 0) << three.err;
  EXPECT_FALSE(first_service.empty());
  EXPECT_EQ(box.read(pid_file), first_service);
  EXPECT_THAT(three.log, ElementsAre("compare answered 1", "compare answered 1"));
}

TEST(Chain, MergeResolvedByTheScriptWritesExactBytes) {
  Sandbox box;
  // The first conflict takes theirs (contributor 2: 0 is the base), the
  // second is edited by hand.
  box.script("take 2; next; edit six edited\\nsix more; save; close");
  const Outcome merged =
      box.tarnwick({"-out", box.file("out.txt"), box.write("base.txt", kBase),
                    box.write("mine.txt", kMine), box.write("theirs.txt", kTheirs)});
  EXPECT_EQ(merged.status, 0) << merged.err;
  EXPECT_THAT(merged.log, ElementsAre("merge answered 1"));
  EXPECT_EQ(box.read("out.txt"),
            "one\ntwo theirs\nthree\nFOUR\nfive\nsix edited\nsix more\nseven\neight\n");
}

TEST(Chain, MergeClosedUnsavedAnswersMinusOneAndLeavesTheOutput) {
  Sandbox box;
  box.script("take 1; close");
  const std::string out = box.write("out.txt", "what was there before\n");
  const Outcome merged =
      box.tarnwick({"-out", out, box.write("base.txt", kBase), box.write("mine.txt", kMine),
                    box.write("theirs.txt", kTheirs)});
  EXPECT_EQ(merged.status, testlib::minus_one_status());
  EXPECT_THAT(merged.log, ElementsAre("merge answered 0"));
  EXPECT_EQ(box.read("out.txt"), "what was there before\n");
}

TEST(Chain, Utf16LittleEndianWithMarkAndCrLfKeepsItsBytes) {
  Sandbox box;
  box.script("take 1; save; close");
  const std::string bom = "\xFF\xFE";
  const auto file = [&](const char* name, const std::string& utf8) {
    return box.write(name, bom + utf16le(utf8));
  };
  const Outcome merged = box.tarnwick({"-encoding", "utf-16le", "-out", box.file("out.txt"),
                                       file("base.txt",
                                            "alpha\r\nbeta\r\nGr\xC3\xBC\xC3\x9F"
                                            "e\r\n"),
                                       file("mine.txt",
                                            "alpha\r\nbeta mine\r\nGr\xC3\xBC\xC3\x9F"
                                            "e\r\n"),
                                       file("theirs.txt",
                                            "alpha\r\nbeta theirs\r\nGr\xC3\xBC\xC3\x9F"
                                            "e\r\n\xCE\xA9 end\r\n")});
  EXPECT_EQ(merged.status, 0) << merged.err;
  EXPECT_EQ(box.read("out.txt"), bom + utf16le("alpha\r\nbeta mine\r\nGr\xC3\xBC\xC3\x9F"
                                               "e\r\n\xCE\xA9 end\r\n"));
}

TEST(Chain, Utf8LauncherMergesTakingBothSides) {
  Sandbox box;
  box.script("take-all; save; close");
  const Outcome merged = box.run(gui_bin("tarnwickutf8"),
                                 {"-fname", "Basis", "-fname", "Meins", "-fname", "Deins", "-out",
                                  box.file("out.txt"), box.write("base.txt", "K\xC3\xA4se\nBrot\n"),
                                  box.write("mine.txt", "K\xC3\xA4se\nBrot\xC3\xA9\n"),
                                  box.write("theirs.txt", "K\xC3\xA4se\n\xE2\x82\xAC Brot\n")});
  EXPECT_EQ(merged.status, 0) << merged.err;
  EXPECT_THAT(merged.log, ElementsAre("merge answered 1"));
  EXPECT_EQ(box.read("out.txt"), "K\xC3\xA4se\nBrot\xC3\xA9\n\xE2\x82\xAC Brot\n");
}

TEST(Chain, WithoutAnyDisplayCleanMergesAreWrittenAndConflictsRefused) {
  Sandbox box(Sandbox::Display::none);
  const std::string base = box.write("base.txt", kBase);
  const Outcome clean =
      box.tarnwick({"-out", box.file("clean.txt"), base, box.write("mine.txt", kMine),
                    box.write("theirs.txt", "one\ntwo\nthree\nfour\nfive\nsix\nseven\neight\n")});
  EXPECT_EQ(clean.status, 0) << clean.err;
  EXPECT_EQ(box.read("clean.txt"), "one\ntwo mine\nthree\nFOUR\nfive\nsix mine\nseven\neight\n");

  const Outcome conflicting = box.tarnwick(
      {"-out", box.file("conflict.txt"), base, box.file("mine.txt"), box.write("t2.txt", kTheirs)});
  EXPECT_EQ(conflicting.status, testlib::minus_one_status());
  EXPECT_FALSE(testlib::file_exists(box.file("conflict.txt")));
}

// Names with a carriage return reach marlow as they were typed: the merge
// goes to exactly that file, not to one with a line feed. A control
// character that the call cannot carry is the usage error, and no call is
// made at all.
TEST(Chain, AnOutputNameWithACarriageReturnNamesThatFile) {
  Sandbox box(Sandbox::Display::none);
  box.write("base.txt", kBase);
  box.write("mine\r.txt", kMine);
  box.write("theirs.txt", kClean);
  const Outcome merged =
      box.tarnwick({"-out", "out\r.txt", "base.txt", "mine\r.txt", "theirs.txt"});
  EXPECT_EQ(merged.status, 0) << merged.err;
  EXPECT_EQ(box.read("out\r.txt"), kCleanMerge);
  EXPECT_FALSE(testlib::file_exists(box.file("out\n.txt")));

  const Outcome refused =
      box.tarnwick({"-out", "out\x01.txt", "base.txt", "mine\r.txt", "theirs.txt"});
  EXPECT_EQ(refused.status, testlib::minus_one_status());
  EXPECT_NE(refused.err.find("Usage: tarnwick"), std::string::npos) << refused.err;
  EXPECT_FALSE(testlib::file_exists(box.file("out\x01.txt")));
  const std::string calls = box.read(platform::login_name() + ".tarnwick/marlow.log");
  ASSERT_NE(calls.find("RequestHandler."), std::string::npos) << calls;
  EXPECT_EQ(calls.find("RequestHandler."), calls.rfind("RequestHandler.")) << calls;
}

// From a current directory longer than the system's path limit, relative
// names are made absolute against the whole of it (and so cannot be
// opened): the usage error, never the files those names denote from "/".
TEST(Chain, FromACurrentDirectoryBeyondThePathLimitNoOtherFileIsUsed) {
  Sandbox box(Sandbox::Display::none);
  box.write("base.txt", kBase);
  box.write("mine.txt", kMine);
  box.write("theirs.txt", kClean);
  const std::string from_root = box.dir().substr(1);  // "tmp/..." names them from "/"
  const testlib::DeepDir deep(box.dir(), 24, std::string(200, 'd'));
  ASSERT_TRUE(deep.ok());
  const Outcome run = box.run(gui_bin("tarnwick"),
                              {"-out", from_root + "/out.txt", from_root + "/base.txt",
                               from_root + "/mine.txt", from_root + "/theirs.txt"},
                              ".");
  EXPECT_EQ(run.status, testlib::minus_one_status());
  EXPECT_NE(run.err.find("Usage: tarnwick"), std::string::npos) << run.err;
  EXPECT_FALSE(testlib::file_exists(box.file("out.txt")));
}

}  // namespace
}  // namespace chain
