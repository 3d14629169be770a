// The scripted test hook of the graphical client, apart from any window:
// the text of MARLOW_SCRIPT turned into actions, and the answer log of
// MARLOW_SCRIPT_LOG.
//
//   MARLOW_SCRIPT="take 2; save; close"
//
// Actions are separated by ';'; blanks around an action and empty actions
// are ignored. The actions: next, prev, take N, take-all, edit TEXT, undo,
// redo, save, shot PATH, close; for the merged result as an editor also
// type TEXT (typed at the end of the current conflict's first row there),
// block N (contributor N for one block of the current conflict) and menu
// (the result's menu for that row, which a following shot shows). TEXT is everything after the one
// blank that follows "edit" (so it may start with blanks of its own); in it "\n" is a line break
// and "\\" a backslash, and any other backslash is an error.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace marlow {

struct ScriptAction {
  enum class Kind {
    next,
    prev,
    take,
    take_all,
    edit,
    undo,
    redo,
    save,
    shot,
    close,
    type,
    block,
    menu
  };
  Kind kind = Kind::close;
  std::size_t number = 0;  // take, block: the contributor, 0-based in call order
  std::string text;        // edit, type: the text with its escapes resolved; shot: the path
  std::string source;      // the action as written, for messages
};

struct Script {
  bool ok = true;
  std::string error;  // the first action that cannot be parsed, and why
  std::vector<ScriptAction> actions;
};

// Parses the whole script. When one action cannot be parsed, `ok` is false
// and `error` names it; the window then runs none of the actions.
Script parse_script(const std::string& text);

// What a reply answers, as the log writes it: "1" when its first boolean is
// 1, "fault" when it is a fault, else "0".
std::string answer_word(const std::string& reply);

// Appends "<kind> answered <answer word>\n" to `log_path` with one write,
// so that several windows (and processes) may share the file. False when
// the file cannot be opened or written.
bool append_answer_line(const std::string& log_path, const std::string& kind,
                        const std::string& reply);

}  // namespace marlow
