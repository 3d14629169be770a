// The panes' syntax colouring in the Windows client: the switch that turns
// it on and off in every window at once (remembered in the registry), and
// the highlighting of a window's texts on a thread of its own, so that a
// window opens as fast with it as without.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "engine/highlight.h"
#include "engine/text_codec.h"

namespace marlow::win32 {

// Whether the panes colour their text now.
bool syntax_highlighting_on();
// Turns it on or off, remembers it, and sends kSyntaxSwitched to every
// window that listens.
void set_syntax_highlighting(bool on);
inline constexpr UINT kSyntaxSwitched = WM_APP + 40;
// `window` gets kSyntaxSwitched (wparam: on) when the switch turns, until
// it stops listening.
void listen_to_syntax_switch(HWND window);
void stop_listening_to_syntax_switch(HWND window);

// The tokens of a window's texts, found on a thread of its own. Each text
// that is done is announced to the window by `message` (wparam: the side);
// take() then hands it over on the window's thread. While it lives, the
// window listens to the switch.
class SyntaxHighlighter {
 public:
  SyntaxHighlighter(HWND window, UINT message);
  SyntaxHighlighter(const SyntaxHighlighter&) = delete;
  SyntaxHighlighter& operator=(const SyntaxHighlighter&) = delete;
  // Stops the thread and waits for it; the window stops listening.
  ~SyntaxHighlighter();

  // Highlights each of `texts` as a file named by `names` (same index;
  // texts of no known kind get no tokens). A run under way is stopped.
  void start(const std::vector<std::string>& names, const std::vector<const TextDocument*>& texts);
  // Whether start() was called: a window highlights its texts once, when
  // it opens or when the switch is first turned on.
  bool started() const { return started_; }
  // On the message: takes over what the thread finished for `side`.
  void take(std::size_t side);
  // The tokens of a line of `side`; none before they are taken.
  std::span<const Token> tokens(std::size_t side, std::size_t line) const;
  bool has_tokens(std::size_t side) const { return side < tokens_.size() && tokens_[side]; }

 private:
  struct Text {
    const SyntaxLanguage* language = nullptr;
    std::string bytes;
    std::vector<std::size_t> ends;  // where each line ends in `bytes`
  };
  void stop();

  HWND window_;
  UINT message_;
  bool started_ = false;
  std::vector<std::unique_ptr<const LineTokens>> tokens_;
  // Shared with the thread: what it finished, by side.
  std::mutex lock_;
  std::vector<std::unique_ptr<const LineTokens>> done_;
  std::shared_ptr<std::atomic<bool>> cancel_;
  std::thread worker_;
};

}  // namespace marlow::win32
