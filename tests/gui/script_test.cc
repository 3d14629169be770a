// The scripted test hook's parser and answer log (no windows).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "serve/xmlrpc.h"
#include "serve/script_parse.h"
#include "support/platform.h"

namespace marlow {
namespace {

using Kind = ScriptAction::Kind;

TEST(GuiScript, EveryActionWithBlanksAndEmptyActionsIgnored) {
  const Script script = parse_script(
      " next ;prev;;  take 2 ; take-all;\tsave\t; shot /tmp/a b.png ;close; undo ;redo; ");
  ASSERT_TRUE(script.ok) << script.error;
  ASSERT_EQ(script.actions.size(), 9u);
  const Kind kinds[] = {Kind::next, Kind::prev,  Kind::take, Kind::take_all, Kind::save,
                        Kind::shot, Kind::close, Kind::undo, Kind::redo};
  for (std::size_t i = 0; i < 9; ++i) EXPECT_EQ(script.actions[i].kind, kinds[i]) << i;
  EXPECT_EQ(script.actions[2].number, 2u);
  EXPECT_EQ(script.actions[2].source, "take 2");
  EXPECT_EQ(script.actions[5].text, "/tmp/a b.png");
  EXPECT_TRUE(parse_script("").ok);
  EXPECT_TRUE(parse_script(" ; ;").actions.empty());
}

TEST(GuiScript, EditTextTakesItsEscapes) {
  const Script script = parse_script(R"(edit one\ntwo \\n\\; edit  lead; edit)");
  ASSERT_TRUE(script.ok) << script.error;
  ASSERT_EQ(script.actions.size(), 3u);
  EXPECT_EQ(script.actions[0].kind, Kind::edit);
  EXPECT_EQ(script.actions[0].text, "one\ntwo \\n\\");
  EXPECT_EQ(script.actions[1].text, " lead");  // only the one separating blank goes
  EXPECT_EQ(script.actions[2].text, "");       // an empty result
  // type: the same text as edit; block: a contributor as take; menu: none.
  const Script result = parse_script(R"(type x\ny; block 1; menu)");
  ASSERT_TRUE(result.ok) << result.error;
  ASSERT_EQ(result.actions.size(), 3u);
  EXPECT_EQ(result.actions[0].kind, Kind::type);
  EXPECT_EQ(result.actions[0].text, "x\ny");
  EXPECT_EQ(result.actions[1].kind, Kind::block);
  EXPECT_EQ(result.actions[1].number, 1u);
  EXPECT_EQ(result.actions[2].kind, Kind::menu);
}

TEST(GuiScript, WhatCannotBeParsedStopsTheWholeScript) {
  for (const char* bad : {"take", "take x", "take -1", "take 1 2", "take 99999999999999999999999",
                          "next 2", "close now", "undo 1", "block", "menu 1", "Save", "jump",
                          "shot", R"(edit a\tb)", R"(edit a\)"}) {
    const Script script = parse_script(std::string("next; ") + bad + "; close");
    EXPECT_FALSE(script.ok) << bad;
    EXPECT_TRUE(script.actions.empty()) << bad;
    EXPECT_NE(script.error.find(std::string("\"") + bad), std::string::npos) << script.error;
  }
}

TEST(GuiScript, AnswerWordsAndOneLinePerAnswer) {
  EXPECT_EQ(answer_word(boolean_reply(true)), "1");
  EXPECT_EQ(answer_word(boolean_reply(false)), "0");
  EXPECT_EQ(answer_word(fault_reply(kFaultCannotServe, "cannot read x")), "fault");
  EXPECT_EQ(answer_word(""), "0");

  const std::string log = std::filesystem::temp_directory_path().string() + "/gscript-" +
                          std::to_string(platform::current_pid()) + ".log";
  std::filesystem::remove(log);
  EXPECT_TRUE(append_answer_line(log, "merge", boolean_reply(true)));
  EXPECT_TRUE(append_answer_line(log, "error", fault_reply(kFaultCannotServe, "x")));
  std::ostringstream text;
  {
    std::ifstream in(log);
    text << in.rdbuf();
  }  // closed: Windows removes no file that is open
  EXPECT_EQ(text.str(), "merge answered 1\nerror answered fault\n");
  std::filesystem::remove(log);
  EXPECT_FALSE(append_answer_line("/nonexistent-dir/x.log", "compare", boolean_reply(true)));
}

}  // namespace
}  // namespace marlow
