#include "win32/syntax.h"

#include <algorithm>
#include <utility>

#include "win32/settings.h"

namespace marlow::win32 {
namespace {

int switch_state = -1;  // -1: not yet read from the preference

std::vector<HWND>& listeners() {
  static std::vector<HWND> windows;
  return windows;
}

}  // namespace

bool syntax_highlighting_on() {
  if (switch_state < 0) switch_state = syntax_highlighting_preference() ? 1 : 0;
  return switch_state == 1;
}

void set_syntax_highlighting(bool on) {
  if (on == syntax_highlighting_on()) return;
  switch_state = on ? 1 : 0;
  set_syntax_highlighting_preference(on);
  for (HWND window : listeners()) PostMessageW(window, kSyntaxSwitched, on ? 1 : 0, 0);
}

void listen_to_syntax_switch(HWND window) { listeners().push_back(window); }

void stop_listening_to_syntax_switch(HWND window) { std::erase(listeners(), window); }

SyntaxHighlighter::SyntaxHighlighter(HWND window, UINT message)
    : window_(window), message_(message) {
  listen_to_syntax_switch(window_);
}

SyntaxHighlighter::~SyntaxHighlighter() {
  stop();
  stop_listening_to_syntax_switch(window_);
}

void SyntaxHighlighter::stop() {
  if (cancel_) *cancel_ = true;
  if (worker_.joinable()) worker_.join();
  cancel_.reset();
}

void SyntaxHighlighter::start(const std::vector<std::string>& names,
                              const std::vector<const TextDocument*>& texts) {
  started_ = true;
  stop();
  tokens_.clear();
  tokens_.resize(texts.size());
  {
    std::lock_guard<std::mutex> guard(lock_);
    done_.clear();
    done_.resize(texts.size());
  }
  // The thread gets a copy of the texts: a window may lay its documents out
  // again while it runs.
  std::vector<Text> work(texts.size());
  bool any = false;
  for (std::size_t i = 0; i < texts.size(); ++i) {
    work[i].language = i < names.size() ? syntax_for_file(names[i]) : nullptr;
    if (work[i].language == nullptr || texts[i] == nullptr) continue;
    any = true;
    std::size_t size = 0;
    for (const Line& line : texts[i]->lines) size += line.text.size();
    work[i].bytes.reserve(size);
    work[i].ends.reserve(texts[i]->lines.size());
    for (const Line& line : texts[i]->lines) {
      const std::string_view text = line.text.view();
      work[i].bytes.append(text.data(), text.size());
      work[i].ends.push_back(work[i].bytes.size());
    }
  }
  if (!any) return;
  cancel_ = std::make_shared<std::atomic<bool>>(false);
  worker_ = std::thread([this, work = std::move(work), cancel = cancel_] {
    // Below the window's thread: painting and keys come first.
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
    for (std::size_t side = 0; side < work.size() && !*cancel; ++side) {
      const Text& text = work[side];
      if (text.language == nullptr) continue;
      std::vector<std::string_view> lines;
      lines.reserve(text.ends.size());
      std::size_t from = 0;
      for (const std::size_t end : text.ends) {
        lines.emplace_back(text.bytes.data() + from, end - from);
        from = end;
      }
      std::optional<LineTokens> found = highlight_lines(*text.language, lines, cancel.get());
      if (!found || *cancel) continue;
      {
        std::lock_guard<std::mutex> guard(lock_);
        done_[side] = std::make_unique<const LineTokens>(std::move(*found));
      }
      PostMessageW(window_, message_, side, 0);
    }
  });
}

void SyntaxHighlighter::take(std::size_t side) {
  std::lock_guard<std::mutex> guard(lock_);
  if (side >= done_.size() || side >= tokens_.size() || !done_[side]) return;
  tokens_[side] = std::move(done_[side]);
}

std::span<const Token> SyntaxHighlighter::tokens(std::size_t side, std::size_t line) const {
  if (side >= tokens_.size() || !tokens_[side]) return {};
  return tokens_[side]->line(line);
}

}  // namespace marlow::win32
