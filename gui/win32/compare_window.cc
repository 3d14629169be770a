#include "win32/compare_window.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <chrono>
#include <memory>

#include "engine/inline_diff.h"
#include "serve/xmlrpc.h"
#include "support/work_dir.h"
#include "win32/compare_rows.h"
#include "win32/pane.h"
#include "win32/settings.h"
#include "win32/syntax.h"
#include "win32/wide.h"

namespace marlow::win32 {
namespace {

enum Command : WORD {
  kPrevious = 200,
  kNext,
  kIgnoreWhitespace,
  kIgnoreLineEnds,
  kKeys,
  kFind,
  kFindNext,
  kFindPrevious,
  kFindBox,
  kMarkLong,
  kVertical,
  kHorizontal,
  kSyntax,
  kFirstPane = 300,
};

// A side's tokens are ready (wparam: the side).
constexpr UINT kSyntaxDone = WM_APP + 30;

// The rows of a comparison as the panes paint them, coloured by the
// highlighter's tokens while the switch is on.
class CompareSource : public PaneSource {
 public:
  CompareSource(const CompareRows* rows, const std::unique_ptr<SyntaxHighlighter>* syntax)
      : rows_(rows), syntax_(syntax) {}
  std::size_t row_count() const override { return rows_->rows(); }
  PaneRow row(std::size_t side, std::size_t r) const override {
    PaneRow out;
    const std::size_t line = rows_->line(side, r);
    out.text = rows_->text(side, r);
    out.number = line == kNoLine ? 0 : line + 1;
    out.background = row_colour(rows_->kind(side, r));
    out.marks = rows_->changed_bytes(side, r);
    out.note = rows_->line_end_note(side, r);
    if (line != kNoLine && *syntax_ && syntax_highlighting_on())
      out.tokens = (*syntax_)->tokens(side, line);
    return out;
  }
  std::size_t largest_number(std::size_t side) const override {
    return rows_->document(side).lines.size();
  }

 private:
  const CompareRows* rows_;
  const std::unique_ptr<SyntaxHighlighter>* syntax_;
};

class CompareWindow : public TopWindow {
 public:
  explicit CompareWindow(Job job, Finish finish)
      : TopWindow("compare", std::move(finish), boolean_reply(true)),
        request_(std::move(job.request)),
        rows_(std::move(job.docs),
              CompareOptions{.ignore_line_ends = ignore_line_ends_preference(),
                             .ignore_whitespace = ignore_whitespace_preference()}),
        source_(&rows_, &syntax_) {}

  bool open() {
    std::wstring title = L"Compare - ";
    for (std::size_t i = 0; i < request_.display_names.size(); ++i) {
      if (i != 0) title += L" / ";
      title += wide(request_.display_names[i]);
    }
    const int sides = static_cast<int>(rows_.sides());
    const std::vector<Key> keys = {{0, VK_F8, kNext},          {FALT, VK_DOWN, kNext},
                                   {FSHIFT, VK_F8, kPrevious}, {FALT, VK_UP, kPrevious},
                                   {FCONTROL, 'W', IDCANCEL},  {0, VK_ESCAPE, IDCANCEL},
                                   {0, VK_F1, kKeys},          {FCONTROL, 'F', kFind},
                                   {0, VK_F3, kFindNext},      {FSHIFT, VK_F3, kFindPrevious}};
    if (!create(title, 160 + 480 * sides, 860, keys)) return false;
    make_controls();
    syntax_.reset(new SyntaxHighlighter(hwnd(), kSyntaxDone));
    show();
    SetFocus(panes_.front()->hwnd());
    if (!rows_.differences().empty()) go_to_difference(0);
    show_status();
    log_usable(std::to_string(rows_.rows()) + " rows, " +
               std::to_string(rows_.differences().size()) + " differences");
    // The texts are highlighted once the window is up, away from its
    // thread; each pane is coloured when its text is done.
    if (syntax_highlighting_on()) start_highlighting();
    return true;
  }

 protected:
  LRESULT handle(UINT message, WPARAM wparam, LPARAM lparam) override {
    switch (message) {
      case WM_COMMAND:
        if (command(LOWORD(wparam), HIWORD(wparam))) return 0;
        break;
      case WM_VSCROLL:
        scroll_bar(SB_VERT, LOWORD(wparam));
        return 0;
      case WM_HSCROLL:
        scroll_bar(SB_HORZ, LOWORD(wparam));
        return 0;
      case WM_MOUSEWHEEL:
        // A wheel over the window's face (or the scroll bar) moves the panes.
        SendMessageW(panes_.front()->hwnd(), message, wparam, lparam);
        return 0;
      case kSyntaxDone:
        if (syntax_) syntax_->take(wparam);
        support::log_line("compare window: text " + std::to_string(wparam + 1) +
                          " highlighted after " +
                          std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(
                                             std::chrono::steady_clock::now() - highlight_start_)
                                             .count()) +
                          " ms");
        if (wparam < panes_.size()) panes_[wparam]->refresh();
        return 0;
      case kSyntaxSwitched:
        Button_SetCheck(syntax_box_, wparam != 0 ? BST_CHECKED : BST_UNCHECKED);
        if (wparam != 0 && syntax_ && !syntax_->started()) start_highlighting();
        for (auto& pane : panes_) pane->refresh();
        return 0;
      case WM_DESTROY:
        // The thread stops, and the switch is no longer heard, before the
        // window goes.
        syntax_.reset();
        break;
      default:
        break;
    }
    return TopWindow::handle(message, wparam, lparam);
  }

  void fonts_changed() override {
    for (HWND control : controls_) use_font(control, ui_font());
    for (HWND title : titles_) use_font(title, bold_font());
    for (auto& pane : panes_) pane->set_font(mono_font());
  }

  void lay_out(int width, int height) override {
    if (panes_.empty()) return;
    const int margin = px(6);
    const int bar_h = px(26);
    const int label_h = px(18);
    const int scroll_w = GetSystemMetrics(SM_CXVSCROLL);
    const int scroll_h = GetSystemMetrics(SM_CYHSCROLL);
    // The bar: buttons on the left, the options and Close on the right.
    int x = margin;
    const auto place = [&](HWND control, int w) {
      MoveWindow(control, x, margin, w, bar_h, TRUE);
      x += w + margin;
    };
    place(previous_, px(130));
    place(next_, px(110));
    const int right_w = px(150) + px(130) + px(120) + px(140) + px(60) + px(80) + margin * 6;
    const int status_w = std::max(px(80), width - x - right_w - margin);
    place(status_, status_w);
    place(find_box_, px(150));
    place(ignore_whitespace_, px(130));
    place(ignore_line_ends_, px(120));
    place(syntax_box_, px(140));
    place(keys_, px(60));
    place(close_, px(80));
    int y = margin * 2 + bar_h;
    if (IsWindowVisible(long_note_) != 0) {
      MoveWindow(long_note_, margin, y, width - px(160) - margin * 3, bar_h, TRUE);
      MoveWindow(mark_long_, width - px(160) - margin, y, px(160), bar_h, TRUE);
      y += bar_h + margin;
    }
    const int sides = static_cast<int>(panes_.size());
    const int room = width - margin * 2 - scroll_w - margin * (sides - 1);
    const int pane_w = std::max(px(40), room / sides);
    const int pane_top = y + label_h * 2;
    const int pane_h = std::max(px(40), height - pane_top - scroll_h - margin);
    for (int i = 0; i < sides; ++i) {
      const int left = margin + i * (pane_w + margin);
      MoveWindow(titles_[static_cast<std::size_t>(i)], left, y, pane_w, label_h, TRUE);
      MoveWindow(notes_[static_cast<std::size_t>(i)], left, y + label_h, pane_w, label_h, TRUE);
      MoveWindow(panes_[static_cast<std::size_t>(i)]->hwnd(), left, pane_top, pane_w, pane_h, TRUE);
    }
    const int panes_right = margin + sides * pane_w + (sides - 1) * margin;
    MoveWindow(vertical_, panes_right, pane_top, scroll_w, pane_h, TRUE);
    MoveWindow(horizontal_, margin, pane_top + pane_h, panes_right - margin, scroll_h, TRUE);
    update_scroll_bars();
  }

 private:
  void make_controls() {
    previous_ = add(L"BUTTON", L"&Previous difference", BS_PUSHBUTTON | WS_TABSTOP, kPrevious);
    next_ = add(L"BUTTON", L"&Next difference", BS_PUSHBUTTON | WS_TABSTOP, kNext);
    status_ = add(L"STATIC", L"", SS_LEFTNOWORDWRAP | SS_CENTERIMAGE | SS_ENDELLIPSIS, 0);
    find_box_ = add(L"EDIT", L"", ES_AUTOHSCROLL | WS_TABSTOP, kFindBox, WS_EX_CLIENTEDGE);
    SendMessageW(find_box_, EM_SETCUEBANNER, TRUE, reinterpret_cast<LPARAM>(L"Find (Ctrl+F)"));
    ignore_whitespace_ =
        add(L"BUTTON", L"Ignore &whitespace", BS_AUTOCHECKBOX | WS_TABSTOP, kIgnoreWhitespace);
    ignore_line_ends_ =
        add(L"BUTTON", L"Ignore line &ends", BS_AUTOCHECKBOX | WS_TABSTOP, kIgnoreLineEnds);
    syntax_box_ = add(L"BUTTON", L"&Syntax highlighting", BS_AUTOCHECKBOX | WS_TABSTOP, kSyntax);
    Button_SetCheck(syntax_box_, syntax_highlighting_on() ? BST_CHECKED : BST_UNCHECKED);
    keys_ = add(L"BUTTON", L"&Keys", BS_PUSHBUTTON | WS_TABSTOP, kKeys);
    close_ = add(L"BUTTON", L"Close", BS_DEFPUSHBUTTON | WS_TABSTOP, IDOK);
    long_note_ = add(L"STATIC", L"", SS_LEFTNOWORDWRAP | SS_CENTERIMAGE | SS_ENDELLIPSIS, 0);
    mark_long_ = add(L"BUTTON", L"&Mark them anyway", BS_PUSHBUTTON | WS_TABSTOP, kMarkLong);
    Button_SetCheck(ignore_whitespace_,
                    rows_.options().ignore_whitespace ? BST_CHECKED : BST_UNCHECKED);
    Button_SetCheck(ignore_line_ends_,
                    rows_.options().ignore_line_ends ? BST_CHECKED : BST_UNCHECKED);
    for (std::size_t i = 0; i < rows_.sides(); ++i) {
      const std::string name = i < request_.display_names.size() ? request_.display_names[i] : "";
      const std::string path = i < request_.contributors.size() ? request_.contributors[i] : "";
      HWND title = CreateWindowExW(0, L"STATIC", wide(name).c_str(),
                                   WS_CHILD | WS_VISIBLE | SS_PATHELLIPSIS | SS_NOPREFIX, 0, 0, 10,
                                   10, hwnd(), nullptr, GetModuleHandleW(nullptr), nullptr);
      titles_.push_back(title);
      notes_.push_back(add(L"STATIC",
                           wide(file_note(rows_.session().facts(i), is_absent(path))).c_str(),
                           SS_ENDELLIPSIS | SS_NOPREFIX, 0));
      Pane::Events events;
      events.wheel = [this](int lines) {
        scroll_to(static_cast<long long>(position_.top) + lines);
      };
      events.wheel_sideways = [this](int pixels) { scroll_sideways(position_.left + pixels); };
      events.key = [this](WPARAM key) { return pane_key(key); };
      auto pane = std::make_unique<Pane>(hwnd(), kFirstPane + static_cast<int>(i), &source_, i,
                                         &position_, std::move(events));
      pane->set_tab_width(tab_width_preference());
      panes_.push_back(std::move(pane));
    }
    vertical_ = CreateWindowExW(0, L"SCROLLBAR", nullptr, WS_CHILD | WS_VISIBLE | SBS_VERT, 0, 0,
                                10, 10, hwnd(), reinterpret_cast<HMENU>(kVertical),
                                GetModuleHandleW(nullptr), nullptr);
    horizontal_ = CreateWindowExW(0, L"SCROLLBAR", nullptr, WS_CHILD | WS_VISIBLE | SBS_HORZ, 0, 0,
                                  10, 10, hwnd(), reinterpret_cast<HMENU>(kHorizontal),
                                  GetModuleHandleW(nullptr), nullptr);
    show_long_note();
  }

  HWND add(const wchar_t* cls, const wchar_t* text, DWORD style, int id, DWORD ex = 0) {
    HWND control = add_control(cls, text, style, id, ex);
    controls_.push_back(control);
    return control;
  }

  bool command(WORD id, WORD code) {
    switch (id) {
      case kPrevious:
        go_to_difference(current_ - 1);
        return true;
      case kNext:
        go_to_difference(current_ + 1);
        return true;
      case kIgnoreWhitespace:
      case kIgnoreLineEnds:
        if (code == BN_CLICKED) relayout_options();
        return true;
      case kMarkLong: {
        CompareOptions options = rows_.options();
        options.mark_long_lines = true;
        relayout(options);
        return true;
      }
      case kSyntax:
        // Every window follows, this one included (kSyntaxSwitched).
        if (code == BN_CLICKED)
          set_syntax_highlighting(Button_GetCheck(syntax_box_) == BST_CHECKED);
        return true;
      case kKeys:
        show_keys(hwnd(), L"Keyboard shortcuts", key_list());
        return true;
      case kFind:
        SetFocus(find_box_);
        SendMessageW(find_box_, EM_SETSEL, 0, -1);
        return true;
      case kFindNext:
        find(true);
        return true;
      case kFindPrevious:
        find(false);
        return true;
      case IDOK:
        // Enter: in the search box it finds, anywhere else it closes.
        if (GetFocus() == find_box_) {
          find(true);
        } else {
          close_asked();
        }
        return true;
      case IDCANCEL:
        close_asked();
        return true;
      default:
        return false;
    }
  }

  static std::vector<std::pair<std::wstring, std::wstring>> key_list() {
    return {{L"F8, Alt+Down", L"Next difference"},
            {L"Shift+F8, Alt+Up", L"Previous difference"},
            {L"Ctrl+F", L"Find"},
            {L"F3, Shift+F3", L"Next or previous match"},
            {L"Up, Down, Page Up, Page Down", L"Scroll all panes together"},
            {L"Ctrl+Home, Ctrl+End", L"First or last row"},
            {L"Left, Right, Shift+wheel", L"Scroll sideways"},
            {L"Enter, Ctrl+W, Escape", L"Close the window"},
            {L"F1", L"This list"}};
  }

  // Highlights every side's text as the file it names.
  void start_highlighting() {
    highlight_start_ = std::chrono::steady_clock::now();
    std::vector<std::string> names;
    std::vector<const TextDocument*> texts;
    for (std::size_t i = 0; i < rows_.sides(); ++i) {
      names.push_back(i < request_.contributors.size() ? request_.contributors[i] : "");
      texts.push_back(&rows_.document(i));
    }
    syntax_->start(names, texts);
  }

  // ---- position -----------------------------------------------------------

  std::size_t visible_rows() const { return panes_.front()->visible_rows(); }

  void scroll_to(long long top) {
    const long long last = std::max<long long>(
        0, static_cast<long long>(rows_.rows()) - static_cast<long long>(visible_rows()));
    position_.top = static_cast<std::size_t>(std::clamp<long long>(top, 0, last));
    update_scroll_bars();
    for (auto& pane : panes_) pane->refresh();
  }

  int widest_text() const {
    // The widest row in characters (tabs to their stops) times the average
    // character width: good enough for a scroll range, and linear in bytes.
    std::size_t widest = 0;
    const std::size_t tab = static_cast<std::size_t>(tab_width_preference());
    for (std::size_t s = 0; s < rows_.sides(); ++s) {
      for (const Line& line : rows_.document(s).lines) {
        if (line.text.size() <= widest) continue;
        std::size_t column = 0;
        for (char c : line.text.view()) {
          if (c == '\t') {
            column += tab - column % tab;
          } else if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) {
            ++column;
          }
        }
        widest = std::max(widest, column);
      }
    }
    return static_cast<int>(widest + 8) * panes_.front()->char_width();
  }

  int text_area_width() const {
    RECT r{};
    GetClientRect(panes_.front()->hwnd(), &r);
    return std::max(1, static_cast<int>(r.right) - panes_.front()->gutter_width());
  }

  void scroll_sideways(int left) {
    position_.left = std::clamp(left, 0, std::max(0, widest_ - text_area_width()));
    update_scroll_bars();
    for (auto& pane : panes_) pane->refresh();
  }

  void update_scroll_bars() {
    if (panes_.empty()) return;
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_ALL | SIF_DISABLENOSCROLL;
    info.nMin = 0;
    info.nMax = static_cast<int>(std::max<std::size_t>(rows_.rows(), 1) - 1);
    info.nPage = static_cast<UINT>(visible_rows());
    info.nPos = static_cast<int>(position_.top);
    SetScrollInfo(vertical_, SB_CTL, &info, TRUE);
    info.nMax = std::max(0, widest_);
    info.nPage = static_cast<UINT>(text_area_width());
    info.nPos = position_.left;
    SetScrollInfo(horizontal_, SB_CTL, &info, TRUE);
  }

  void scroll_bar(int bar, WORD code) {
    HWND control = bar == SB_VERT ? vertical_ : horizontal_;
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_ALL;
    GetScrollInfo(control, SB_CTL, &info);
    const int line = bar == SB_VERT ? 1 : panes_.front()->char_width() * 4;
    const int page = static_cast<int>(info.nPage);
    long long pos = info.nPos;
    switch (code) {
      case SB_LINEUP:
        pos -= line;
        break;
      case SB_LINEDOWN:
        pos += line;
        break;
      case SB_PAGEUP:
        pos -= page;
        break;
      case SB_PAGEDOWN:
        pos += page;
        break;
      case SB_THUMBTRACK:
      case SB_THUMBPOSITION:
        pos = info.nTrackPos;
        break;
      case SB_TOP:
        pos = 0;
        break;
      case SB_BOTTOM:
        pos = info.nMax;
        break;
      default:
        return;
    }
    if (bar == SB_VERT) {
      scroll_to(pos);
    } else {
      scroll_sideways(static_cast<int>(std::clamp<long long>(pos, 0, 1 << 30)));
    }
  }

  bool pane_key(WPARAM key) {
    const bool control = GetKeyState(VK_CONTROL) < 0;
    const long long top = static_cast<long long>(position_.top);
    const long long page = std::max<long long>(1, static_cast<long long>(visible_rows()) - 1);
    switch (key) {
      case VK_UP:
        scroll_to(top - 1);
        return true;
      case VK_DOWN:
        scroll_to(top + 1);
        return true;
      case VK_PRIOR:
        scroll_to(top - page);
        return true;
      case VK_NEXT:
        scroll_to(top + page);
        return true;
      case VK_HOME:
        if (control)
          scroll_to(0);
        else
          scroll_sideways(0);
        return true;
      case VK_END:
        if (control)
          scroll_to(static_cast<long long>(rows_.rows()));
        else
          scroll_sideways(widest_);
        return true;
      case VK_LEFT:
        scroll_sideways(position_.left - panes_.front()->char_width() * 4);
        return true;
      case VK_RIGHT:
        scroll_sideways(position_.left + panes_.front()->char_width() * 4);
        return true;
      default:
        return false;
    }
  }

  // ---- differences ----------------------------------------------------------

  int difference_count() const { return static_cast<int>(rows_.differences().size()); }

  void go_to_difference(int index) {
    if (index < 0 || index >= difference_count()) return;
    current_ = index;
    const auto [first, end] = rows_.differences()[static_cast<std::size_t>(index)];
    position_.current_first = first;
    position_.current_end = end;
    // The whole difference in the middle when it fits, else its start near the top.
    const long long visible = static_cast<long long>(visible_rows());
    const long long span = static_cast<long long>(end - first);
    const long long top = span + 4 >= visible
                              ? static_cast<long long>(first) - 2
                              : static_cast<long long>(first) - (visible - span) / 2;
    scroll_to(top);
    place_sideways();
    show_status();
  }

  // Sideways: the first changed character of the difference in any pane,
  // from the left edge when that shows it.
  void place_sideways() {
    if (current_ < 0) return;
    const auto [first, end] = rows_.differences()[static_cast<std::size_t>(current_)];
    int x = -1;
    for (std::size_t s = 0; s < rows_.sides(); ++s) {
      for (std::size_t r = first; r < end && r < first + 200; ++r) {
        for (const ByteRange& range : rows_.changed_bytes(s, r)) {
          const int at = panes_[s]->text_x(rows_.text(s, r), range.start);
          if (x < 0 || at < x) x = at;
        }
      }
    }
    const int width = text_area_width();
    scroll_sideways(x < width * 3 / 4 ? 0 : x - width / 4);
  }

  void relayout_options() {
    CompareOptions options = rows_.options();
    options.ignore_whitespace = Button_GetCheck(ignore_whitespace_) == BST_CHECKED;
    options.ignore_line_ends = Button_GetCheck(ignore_line_ends_) == BST_CHECKED;
    set_ignore_whitespace_preference(options.ignore_whitespace);
    set_ignore_line_ends_preference(options.ignore_line_ends);
    relayout(options);
  }

  // Lays the rows out again and stays near the place in view.
  void relayout(const CompareOptions& options) {
    const std::size_t from = current_ >= 0
                                 ? rows_.differences()[static_cast<std::size_t>(current_)].first
                                 : position_.top;
    rows_.set_options(options);
    current_ = -1;
    position_.current_first = position_.current_end = 0;
    position_.found_side = static_cast<std::size_t>(-1);
    show_long_note();
    RECT client{};
    GetClientRect(hwnd(), &client);
    lay_out(client.right, client.bottom);
    scroll_to(static_cast<long long>(position_.top));
    if (!rows_.differences().empty()) {
      go_to_difference(static_cast<int>(
          std::min(rows_.difference_at_or_after(from), rows_.differences().size() - 1)));
    }
    show_status();
  }

  void show_long_note() {
    widest_ = widest_text();
    const std::size_t coarse = rows_.coarse_rows();
    const std::string what =
        coarse == 1 ? "1 changed line longer than " + std::to_string(kCharDiffLimit) + " bytes is"
                    : std::to_string(coarse) + " changed lines longer than " +
                          std::to_string(kCharDiffLimit) + " bytes are";
    SetWindowTextW(long_note_, wide(what + " marked only from the first to the last changed "
                                           "character, not the changes inside.")
                                   .c_str());
    ShowWindow(long_note_, coarse != 0 ? SW_SHOW : SW_HIDE);
    ShowWindow(mark_long_, coarse != 0 ? SW_SHOW : SW_HIDE);
  }

  void show_status() {
    std::string text;
    if (rows_.differences().empty()) {
      text = rows_.identical()                   ? "The texts are identical"
             : rows_.options().ignore_whitespace ? "The texts differ only in what is ignored"
                                                 : "The texts differ only in their line ends";
    } else if (current_ < 0) {
      text = difference_count() == 1 ? "1 difference"
                                     : std::to_string(difference_count()) + " differences";
    } else {
      text = "Difference " + std::to_string(current_ + 1) + " of " +
             std::to_string(difference_count());
    }
    if (!find_note_.empty()) text += "  \xE2\x80\x94  " + find_note_;
    SetWindowTextW(status_, wide(text).c_str());
    EnableWindow(previous_, current_ > 0);
    EnableWindow(next_, current_ + 1 < difference_count());
  }

  // ---- search ---------------------------------------------------------------

  // The next (or previous) row, after the last match or the top row, where a
  // pane's text holds what the search box holds, ignoring case; wraps round.
  void find(bool forward) {
    wchar_t buffer[512] = {};
    GetWindowTextW(find_box_, buffer, 512);
    const std::string needle = narrow(buffer);
    find_note_.clear();
    if (needle.empty()) {
      SetFocus(find_box_);
      show_status();
      return;
    }
    const std::size_t total = rows_.rows();
    const bool have = position_.found_side != static_cast<std::size_t>(-1);
    std::size_t start = have ? position_.found_row : position_.top;
    for (std::size_t step = have ? 1 : 0; step <= total; ++step) {
      const std::size_t r =
          forward ? (start + step) % total : (start + total - step % total) % total;
      for (std::size_t s = 0; s < rows_.sides(); ++s) {
        const std::size_t at = find_ignoring_case(rows_.text(s, r), needle);
        if (at == std::string_view::npos) continue;
        position_.found_side = s;
        position_.found_row = r;
        position_.found = ByteRange{at, needle.size()};
        if (r < position_.top || r >= position_.top + visible_rows()) {
          scroll_to(static_cast<long long>(r) - static_cast<long long>(visible_rows() / 2));
        }
        const int x = panes_[s]->text_x(rows_.text(s, r), at);
        if (x < position_.left ||
            x > position_.left + text_area_width() - panes_[s]->char_width()) {
          scroll_sideways(x - text_area_width() / 4);
        }
        for (auto& pane : panes_) pane->refresh();
        show_status();
        return;
      }
    }
    position_.found_side = static_cast<std::size_t>(-1);
    find_note_ = "not found: " + needle;
    for (auto& pane : panes_) pane->refresh();
    show_status();
  }

  CompareRequest request_;
  CompareRows rows_;
  std::unique_ptr<SyntaxHighlighter> syntax_;
  std::chrono::steady_clock::time_point highlight_start_;
  CompareSource source_;
  PanePosition position_;
  std::vector<std::unique_ptr<Pane>> panes_;
  std::vector<HWND> controls_;
  std::vector<HWND> titles_;
  std::vector<HWND> notes_;
  HWND previous_ = nullptr;
  HWND next_ = nullptr;
  HWND status_ = nullptr;
  HWND find_box_ = nullptr;
  HWND ignore_whitespace_ = nullptr;
  HWND ignore_line_ends_ = nullptr;
  HWND syntax_box_ = nullptr;
  HWND keys_ = nullptr;
  HWND close_ = nullptr;
  HWND long_note_ = nullptr;
  HWND mark_long_ = nullptr;
  HWND vertical_ = nullptr;
  HWND horizontal_ = nullptr;
  int current_ = -1;
  int widest_ = 0;
  std::string find_note_;
};

}  // namespace

void open_compare_window(Job job, Finish finish) {
  auto* window = new CompareWindow(std::move(job), std::move(finish));
  if (!window->open() && window->hwnd() == nullptr) delete window;
}

}  // namespace marlow::win32
