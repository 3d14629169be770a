#include "win32/merge_window.h"

#include <commctrl.h>
#include <richedit.h>
#include <windowsx.h>

#include <algorithm>
#include <memory>

#include "serve/xmlrpc.h"
#include "win32/merge_model.h"
#include "win32/pane.h"
#include "win32/rtf.h"
#include "win32/syntax.h"
#include "win32/wide.h"

namespace marlow::win32 {
namespace {

enum Command : WORD {
  kPrevious = 500,
  kNext,
  kPreviousUnresolved,
  kNextUnresolved,
  kSave,
  kSaveAndClose,
  kKeys,
  kUndo,
  kRedo,
  kTakeAll,
  kUnresolve,
  kResult,
  kTake = 600,           // + side
  kTakeRemaining = 620,  // + side
  kTakeBlock = 640,      // + side
  kFirstPane = 700,
};

constexpr UINT kLoadMore = WM_APP + 20;
// A contributor's tokens are ready (wparam: the side).
constexpr UINT kSyntaxDone = WM_APP + 30;
// Rows of the result loaded at once, and in each later slice.
constexpr std::size_t kFirstSlice = 400;
constexpr std::size_t kSlice = 1000;

constexpr COLORREF kAutomaticRow = RGB(200, 225, 255);
constexpr COLORREF kEditedRow = RGB(230, 215, 255);
constexpr COLORREF kUnresolvedBar = RGB(220, 60, 60);

unsigned rgb_of(COLORREF c) {
  return (static_cast<unsigned>(GetRValue(c)) << 16) | (static_cast<unsigned>(GetGValue(c)) << 8) |
         GetBValue(c);
}

// The highlight of a region's rows in the result (1-based into the RTF
// colour table), and the bar beside them.
int highlight_of(RegionLook look) {
  switch (look) {
    case RegionLook::changed:
      return 1;
    case RegionLook::taken:
      return 2;
    case RegionLook::automatic:
      return 3;
    case RegionLook::edited:
      return 4;
    default:
      return 0;
  }
}
const std::vector<unsigned>& highlight_colours() {
  static const std::vector<unsigned> colours = {rgb_of(kChangedRow), rgb_of(kAddedRow),
                                                rgb_of(kAutomaticRow), rgb_of(kEditedRow)};
  return colours;
}
COLORREF bar_of(RegionLook look) {
  switch (look) {
    case RegionLook::changed:
      return kChangedText;
    case RegionLook::taken:
      return RGB(60, 170, 60);
    case RegionLook::automatic:
      return RGB(70, 130, 220);
    case RegionLook::edited:
      return RGB(150, 100, 220);
    case RegionLook::unresolved:
      return kUnresolvedBar;
    case RegionLook::common:
      break;
  }
  return kNoColour;
}

// Splits the rich edit's text into rows: it ends a paragraph with \r (and
// gives \r\n through some calls).
std::vector<std::string> split_rows(const std::wstring& text) {
  std::vector<std::string> rows;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == L'\r' || text[i] == L'\n') {
      rows.push_back(narrow(std::wstring_view(text).substr(start, i - start)));
      if (i + 1 < text.size() && text[i] == L'\r' && text[i + 1] == L'\n') ++i;
      start = i + 1;
    }
  }
  return rows;
}

struct StreamSource {
  const std::string* bytes;
  std::size_t at = 0;
};

DWORD CALLBACK stream_in(DWORD_PTR cookie, LPBYTE buffer, LONG wanted, LONG* given) {
  auto* source = reinterpret_cast<StreamSource*>(cookie);
  const std::size_t left = source->bytes->size() - source->at;
  const std::size_t n = std::min<std::size_t>(left, static_cast<std::size_t>(wanted));
  std::copy_n(source->bytes->data() + source->at, n, buffer);
  source->at += n;
  *given = static_cast<LONG>(n);
  return 0;
}

// The contributors' texts as the panes paint them, coloured by region.
class ContributorSource : public PaneSource {
 public:
  ContributorSource(const MergeModel* model, const std::vector<std::vector<Line>>* texts,
                    const std::unique_ptr<SyntaxHighlighter>* syntax)
      : model_(model), texts_(texts), syntax_(syntax) {
    line_regions_.resize(texts->size());
    for (std::size_t s = 0; s < texts->size(); ++s) {
      line_regions_[s].assign((*texts)[s].size(), 0);
      const auto& regions = model->plan().regions;
      for (std::size_t r = 0; r < regions.size(); ++r) {
        if (s >= regions[r].sides.size()) continue;
        for (std::size_t i = 0; i < regions[r].sides[s].size(); ++i) {
          const std::size_t line = regions[r].starts[s] + i;
          if (line < line_regions_[s].size()) line_regions_[s][line] = r;
        }
      }
    }
  }
  std::size_t rows_of(std::size_t side) const { return (*texts_)[side].size(); }
  std::size_t row_count() const override { return largest_; }
  void set_largest() {
    largest_ = 0;
    for (std::size_t s = 0; s < texts_->size(); ++s) largest_ = std::max(largest_, rows_of(s));
  }
  PaneRow row(std::size_t side, std::size_t r) const override {
    PaneRow out;
    if (r >= rows_of(side)) return out;
    out.text = (*texts_)[side][r].text.view();
    out.number = r + 1;
    if (*syntax_ && syntax_highlighting_on()) out.tokens = (*syntax_)->tokens(side, r);
    const std::size_t region = line_regions_[side][r];
    const Region& reg = model_->plan().regions[region];
    if (reg.kind == RegionKind::changed) {
      if (side < reg.changed_by.size() && reg.changed_by[side]) out.background = kChangedRow;
    } else if (reg.kind == RegionKind::conflict) {
      std::size_t conflict = 0;
      while (model_->conflict_region(conflict) != region) ++conflict;
      const Resolution& res = model_->resolution(conflict);
      if (res.kind == Resolution::Kind::unresolved) {
        out.background = kRemovedRow;
      } else if ((res.kind == Resolution::Kind::take && res.side == side) ||
                 res.kind == Resolution::Kind::take_all) {
        out.background = kAddedRow;
      } else if (res.kind == Resolution::Kind::automatic) {
        out.background = kAutomaticRow;
      } else {
        out.background = kFillerRow;
      }
    }
    return out;
  }
  std::size_t largest_number(std::size_t side) const override { return rows_of(side); }

 private:
  const MergeModel* model_;
  const std::vector<std::vector<Line>>* texts_;
  const std::unique_ptr<SyntaxHighlighter>* syntax_;
  std::vector<std::vector<std::size_t>> line_regions_;
  std::size_t largest_ = 0;
};

class MergeWindow : public TopWindow {
 public:
  MergeWindow(Job job, Finish finish)
      : TopWindow("merge", std::move(finish), boolean_reply(false)), job_(std::move(job)) {
    for (const TextDocument& doc : job_.docs) texts_.push_back(doc.lines);
    model_ = std::make_unique<MergeModel>(texts_);
    source_ = std::make_unique<ContributorSource>(model_.get(), &texts_, &syntax_);
    source_->set_largest();
  }

  bool open() {
    std::wstring title = L"Merge - ";
    for (std::size_t i = 0; i < job_.request.display_names.size(); ++i) {
      if (i != 0) title += L" / ";
      title += wide(job_.request.display_names[i]);
    }
    std::vector<Key> keys = {
        {0, VK_F8, kNext},
        {FALT, VK_DOWN, kNext},
        {FSHIFT, VK_F8, kPrevious},
        {FALT, VK_UP, kPrevious},
        {FCONTROL, VK_F8, kNextUnresolved},
        {FCONTROL | FSHIFT, VK_F8, kPreviousUnresolved},
        {FCONTROL, 'S', kSave},
        {FCONTROL, 'W', IDCANCEL},
        {FCONTROL, 'Z', kUndo},
        {FCONTROL | FSHIFT, 'Z', kRedo},
        {FCONTROL, 'Y', kRedo},
        {FCONTROL, 'B', kTakeAll},
        {0, VK_F1, kKeys},
    };
    for (std::size_t s = 0; s < texts_.size() && s < 9; ++s) {
      const WORD digit = static_cast<WORD>('1' + s);
      keys.push_back({FCONTROL, digit, static_cast<WORD>(kTake + s)});
      keys.push_back({FCONTROL | FALT, digit, static_cast<WORD>(kTakeRemaining + s)});
      keys.push_back({FCONTROL | FSHIFT, digit, static_cast<WORD>(kTakeBlock + s)});
    }
    if (!create(title, 200 + 420 * static_cast<int>(texts_.size()), 900, keys)) return false;
    make_controls();
    syntax_ = std::make_unique<SyntaxHighlighter>(hwnd(), kSyntaxDone);
    show();
    load_result();
    if (model_->conflict_count() != 0) {
      go_to_conflict(first_unresolved_or(0));
    }
    show_status();
    SetFocus(result_);
    log_usable(std::to_string(model_->rows().size()) + " rows, " +
               std::to_string(model_->conflict_count()) + " conflicts");
    // The contributors are highlighted once the window is up, on a thread.
    if (syntax_highlighting_on()) start_highlighting();
    return true;
  }

 protected:
  LRESULT handle(UINT message, WPARAM wparam, LPARAM lparam) override {
    switch (message) {
      case WM_COMMAND:
        if (LOWORD(wparam) == kResult && HIWORD(wparam) == EN_CHANGE) {
          if (!loading_) typed();
          return 0;
        }
        if (command(LOWORD(wparam))) return 0;
        break;
      case WM_MOUSEWHEEL:
        SendMessageW(panes_.front()->hwnd(), message, wparam, lparam);
        return 0;
      case kLoadMore: {
        append_slice(kSlice);
        continue_loading();
        return 0;
      }
      case kSyntaxDone:
        if (syntax_) syntax_->take(wparam);
        if (wparam < panes_.size()) panes_[wparam]->refresh();
        return 0;
      case kSyntaxSwitched:
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

  // Highlights every contributor as the file it names.
  void start_highlighting() {
    std::vector<std::string> names;
    std::vector<const TextDocument*> texts;
    for (std::size_t i = 0; i < job_.docs.size(); ++i) {
      names.push_back(i < job_.request.contributors.size() ? job_.request.contributors[i] : "");
      texts.push_back(&job_.docs[i]);
    }
    syntax_->start(names, texts);
  }

  void fonts_changed() override {
    for (HWND control : controls_) use_font(control, ui_font());
    for (HWND label : labels_) use_font(label, bold_font());
    for (auto& pane : panes_) pane->set_font(mono_font());
    // The result's font follows the DPI through its rich text; a long text
    // keeps its size, as loading it again would take the control seconds.
    if (result_ != nullptr && loaded_ && loading_rows_.empty() &&
        model_->rows().size() <= kFirstSlice * 10) {
      load_result();
    }
  }

  void lay_out(int width, int height) override {
    if (result_ == nullptr) return;
    const int margin = px(6);
    const int bar_h = px(26);
    const int label_h = px(18);
    int x = margin;
    int y = margin;
    const auto place = [&](HWND control, int w) {
      MoveWindow(control, x, y, w, bar_h, TRUE);
      x += w + margin;
    };
    place(previous_, px(120));
    place(next_, px(100));
    place(next_unresolved_, px(150));
    const int right = px(70) + px(120) + px(60) + px(80) + margin * 4;
    place(status_, std::max(px(80), width - x - right - margin));
    place(save_, px(70));
    place(save_close_, px(120));
    place(keys_, px(60));
    place(close_, px(80));
    x = margin;
    y += bar_h + margin;
    for (HWND take : takes_) place(take, px(150));
    place(take_all_, px(150));
    y += bar_h + margin;
    const int sides = static_cast<int>(panes_.size());
    const int pane_w = std::max(px(40), (width - margin * (sides + 1)) / sides);
    const int room = height - y - margin * 3 - label_h * 3;
    const int pane_h = std::max(px(40), room * 45 / 100);
    for (int i = 0; i < sides; ++i) {
      const int left = margin + i * (pane_w + margin);
      MoveWindow(labels_[static_cast<std::size_t>(i)], left, y, pane_w, label_h, TRUE);
      MoveWindow(panes_[static_cast<std::size_t>(i)]->hwnd(), left, y + label_h, pane_w, pane_h,
                 TRUE);
    }
    y += label_h + pane_h + margin;
    MoveWindow(result_label_, margin, y, width - margin * 2, label_h, TRUE);
    y += label_h;
    const int result_h = std::max(px(40), height - y - label_h - margin * 2);
    MoveWindow(result_, margin, y, width - margin * 2, result_h, TRUE);
    // Room on the left of the text for the bars that mark each row's region.
    RECT text_area{};
    GetClientRect(result_, &text_area);
    text_area.left += px(10);
    SendMessageW(result_, EM_SETRECT, 0, reinterpret_cast<LPARAM>(&text_area));
    y += result_h + margin;
    MoveWindow(message_, margin, y, width - margin * 2, label_h, TRUE);
  }

  void close_asked() override {
    if (unsaved_) {
      const std::size_t open = model_->unresolved_count();
      const std::wstring out = wide(job_.request.out_path);
      if (open != 0) {
        const std::wstring text = L"The merge is not finished (" + std::to_wstring(open) +
                                  L" unresolved) and has not been saved.\r\nClose without saving? "
                                  L"The output stays as it was.";
        if (MessageBoxW(hwnd(), text.c_str(), L"Unsaved merge", MB_OKCANCEL | MB_ICONWARNING) !=
            IDOK)
          return;
      } else {
        const std::wstring text =
            L"The merged result has not been saved.\r\nSave it to " + out + L" before closing?";
        const int choice =
            MessageBoxW(hwnd(), text.c_str(), L"Unsaved merge", MB_YESNOCANCEL | MB_ICONWARNING);
        if (choice == IDCANCEL) return;
        if (choice == IDYES && !save()) return;
      }
    }
    answer_and_close(boolean_reply(saved_));
  }

 private:
  void make_controls() {
    previous_ = add(L"BUTTON", L"&Previous conflict", BS_PUSHBUTTON | WS_TABSTOP, kPrevious);
    next_ = add(L"BUTTON", L"&Next conflict", BS_PUSHBUTTON | WS_TABSTOP, kNext);
    next_unresolved_ =
        add(L"BUTTON", L"Next &unresolved", BS_PUSHBUTTON | WS_TABSTOP, kNextUnresolved);
    status_ = add(L"STATIC", L"", SS_LEFTNOWORDWRAP | SS_CENTERIMAGE | SS_ENDELLIPSIS, 0);
    save_ = add(L"BUTTON", L"&Save", BS_PUSHBUTTON | WS_TABSTOP, kSave);
    save_close_ = add(L"BUTTON", L"Save and c&lose", BS_PUSHBUTTON | WS_TABSTOP, kSaveAndClose);
    keys_ = add(L"BUTTON", L"&Keys", BS_PUSHBUTTON | WS_TABSTOP, kKeys);
    close_ = add(L"BUTTON", L"Close", BS_PUSHBUTTON | WS_TABSTOP, IDCANCEL);
    const bool base = model_->plan().has_base;
    for (std::size_t s = 0; s < texts_.size(); ++s) {
      const std::string name =
          s < job_.request.display_names.size() ? job_.request.display_names[s] : "";
      std::wstring label = L"Take " + wide(name);
      if (s < 9) label += L" (Ctrl+" + std::to_wstring(s + 1) + L")";
      takes_.push_back(
          add(L"BUTTON", label.c_str(), BS_PUSHBUTTON | WS_TABSTOP, static_cast<int>(kTake + s)));
      std::wstring title = wide(name);
      if (base && s == 0) title += L"  (base)";
      HWND header = CreateWindowExW(0, L"STATIC", title.c_str(),
                                    WS_CHILD | WS_VISIBLE | SS_PATHELLIPSIS | SS_NOPREFIX, 0, 0, 10,
                                    10, hwnd(), nullptr, GetModuleHandleW(nullptr), nullptr);
      labels_.push_back(header);
      positions_.push_back(std::make_unique<PanePosition>());
      Pane::Events events;
      events.wheel = [this](int lines) { scroll_panes(lines); };
      events.key = [this](WPARAM key) { return pane_key(key); };
      auto pane = std::make_unique<Pane>(hwnd(), kFirstPane + static_cast<int>(s), source_.get(), s,
                                         positions_.back().get(), std::move(events));
      panes_.push_back(std::move(pane));
    }
    take_all_ = add(L"BUTTON", base ? L"Take both (Ctrl+B)" : L"Take all (Ctrl+B)",
                    BS_PUSHBUTTON | WS_TABSTOP, kTakeAll);
    result_label_ = add(L"STATIC", wide("Merged result, saved to " + job_.request.out_path).c_str(),
                        SS_PATHELLIPSIS | SS_NOPREFIX, 0);
    message_ = add(L"STATIC", L"", SS_LEFTNOWORDWRAP | SS_ENDELLIPSIS | SS_NOPREFIX, 0);
    result_ = CreateWindowExW(
        WS_EX_CLIENTEDGE, MSFTEDIT_CLASS, L"",
        WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE |
            ES_AUTOVSCROLL | ES_AUTOHSCROLL | ES_WANTRETURN | ES_NOHIDESEL,
        0, 0, 10, 10, hwnd(), reinterpret_cast<HMENU>(kResult), GetModuleHandleW(nullptr), nullptr);
    // One history: the window's, which takes and typing share.
    SendMessageW(result_, EM_SETUNDOLIMIT, 0, 0);
    SendMessageW(result_, EM_SETTARGETDEVICE, 0, 1);  // no wrapping: a row is a line
    SendMessageW(result_, EM_EXLIMITTEXT, 0, 0x7FFFFFFE);
    SendMessageW(result_, EM_SETTEXTMODE, TM_RICHTEXT | TM_SINGLELEVELUNDO, 0);
    SendMessageW(result_, EM_SETEVENTMASK, 0, ENM_CHANGE);
    SendMessageW(result_, EM_SETMARGINS, EC_LEFTMARGIN, MAKELPARAM(px(10), 0));
    SetWindowLongPtrW(result_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    result_procedure_ = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(
        result_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&MergeWindow::result_proc)));
  }

  HWND add(const wchar_t* cls, const wchar_t* text, DWORD style, int id) {
    HWND control = add_control(cls, text, style, id);
    controls_.push_back(control);
    return control;
  }

  bool command(WORD id) {
    if (id >= kTake && id < kTake + 9) {
      take(id - kTake);
      return true;
    }
    if (id >= kTakeBlock && id < kTakeBlock + 9) {
      if (current_ < model_->conflict_count()) {
        model_->take_block(current_, id - kTakeBlock);
        after_step("A block of conflict " + std::to_string(current_ + 1) + " took " +
                   side_name(id - kTakeBlock) + ".");
      }
      return true;
    }
    if (id >= kTakeRemaining && id < kTakeRemaining + 9) {
      model_->take_remaining(id - kTakeRemaining);
      after_step("Every unresolved conflict took " + side_name(id - kTakeRemaining) + ".");
      return true;
    }
    switch (id) {
      case kPrevious:
        go_to_conflict(current_ == 0 ? current_ : current_ - 1);
        return true;
      case kNext:
        go_to_conflict(current_ + 1);
        return true;
      case kNextUnresolved:
        go_to_unresolved(true);
        return true;
      case kPreviousUnresolved:
        go_to_unresolved(false);
        return true;
      case kSave:
        save();
        return true;
      case kSaveAndClose:
        if (save()) answer_and_close(boolean_reply(true));
        return true;
      case kUndo:
        if (model_->undo())
          after_step("Undone.");
        else
          say("Nothing to undo.");
        return true;
      case kRedo:
        if (model_->redo())
          after_step("Done again.");
        else
          say("Nothing to redo.");
        return true;
      case kTakeAll:
        if (current_ < model_->conflict_count()) {
          model_->take_all(current_);
          after_step("Conflict " + std::to_string(current_ + 1) + " took every changed side.");
        }
        return true;
      case kKeys:
        show_keys(hwnd(), L"Keyboard shortcuts", key_list());
        return true;
      case IDCANCEL:
        close_asked();
        return true;
      default:
        return false;
    }
  }

  std::vector<std::pair<std::wstring, std::wstring>> key_list() const {
    return {{L"F8, Alt+Down", L"Next conflict"},
            {L"Shift+F8, Alt+Up", L"Previous conflict"},
            {L"Ctrl+F8, Ctrl+Shift+F8", L"Next or previous unresolved conflict"},
            {L"Ctrl+1 ... Ctrl+" + std::to_wstring(std::min<std::size_t>(texts_.size(), 9)),
             L"Take that contributor's lines for the current conflict"},
            {L"Ctrl+Alt+1 ...", L"Take that contributor for every unresolved conflict"},
            {L"Ctrl+Shift+1 ...", L"Take that contributor for the conflict's next open block"},
            {L"Ctrl+B", L"Take every changed side, one after the other"},
            {L"Ctrl+Z; Ctrl+Y, Ctrl+Shift+Z", L"Undo; redo (takes and typing alike)"},
            {L"Ctrl+S", L"Save (once every conflict is settled)"},
            {L"Ctrl+W", L"Close (asks when something is unsaved)"},
            {L"Up, Down, Page Up, Page Down", L"Scroll the contributors together"},
            {L"F1", L"This list"}};
  }

  std::string side_name(std::size_t side) const {
    return side < job_.request.display_names.size() ? job_.request.display_names[side]
                                                    : std::to_string(side + 1);
  }

  void take(std::size_t side) {
    if (current_ >= model_->conflict_count() || side >= texts_.size()) return;
    model_->take(current_, side);
    after_step("Conflict " + std::to_string(current_ + 1) + " took " + side_name(side) + ".");
  }

  void after_step(const std::string& what) {
    unsaved_ = true;
    sync_result();
    for (auto& pane : panes_) pane->refresh();
    say(what);
    show_status();
  }

  void say(const std::string& text) { SetWindowTextW(message_, wide(text).c_str()); }

  std::size_t first_unresolved_or(std::size_t fallback) const {
    for (std::size_t c = 0; c < model_->conflict_count(); ++c) {
      if (model_->resolution(c).kind == Resolution::Kind::unresolved) return c;
    }
    return fallback;
  }

  void go_to_unresolved(bool forward) {
    const std::size_t n = model_->conflict_count();
    for (std::size_t step = 1; step <= n; ++step) {
      const std::size_t c = forward ? (current_ + step) % n : (current_ + n - step % n) % n;
      if (model_->resolution(c).kind == Resolution::Kind::unresolved) {
        go_to_conflict(c);
        return;
      }
    }
    say("No conflict is left unresolved.");
  }

  void go_to_conflict(std::size_t conflict) {
    if (conflict >= model_->conflict_count()) return;
    current_ = conflict;
    const std::size_t region = model_->conflict_region(conflict);
    const Region& r = model_->plan().regions[region];
    for (std::size_t s = 0; s < panes_.size(); ++s) {
      PanePosition& at = *positions_[s];
      at.current_first = r.starts[s];
      at.current_end = r.starts[s] + std::max<std::size_t>(r.sides[s].size(), 0);
      at.top = r.starts[s] > 3 ? r.starts[s] - 3 : 0;
      panes_[s]->refresh();
    }
    // The result: the caret at the conflict's first row, that row near the top.
    const std::size_t row = model_->first_row(region);
    const LRESULT index = SendMessageW(result_, EM_LINEINDEX, row, 0);
    if (index >= 0) {
      CHARRANGE caret{static_cast<LONG>(index), static_cast<LONG>(index)};
      SendMessageW(result_, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&caret));
      const LRESULT first = SendMessageW(result_, EM_GETFIRSTVISIBLELINE, 0, 0);
      const long target = static_cast<long>(row) - 3;
      SendMessageW(result_, EM_LINESCROLL, 0, std::max(0L, target) - static_cast<long>(first));
    }
    show_status();
  }

  void scroll_panes(int lines) {
    for (std::size_t s = 0; s < panes_.size(); ++s) {
      PanePosition& at = *positions_[s];
      const long long rows = static_cast<long long>(source_->rows_of(s));
      const long long visible = static_cast<long long>(panes_[s]->visible_rows());
      at.top = static_cast<std::size_t>(std::clamp<long long>(
          static_cast<long long>(at.top) + lines, 0, std::max<long long>(0, rows - visible)));
      panes_[s]->refresh();
    }
  }

  bool pane_key(WPARAM key) {
    const int page = static_cast<int>(std::max<std::size_t>(1, panes_.front()->visible_rows() - 1));
    switch (key) {
      case VK_UP:
        scroll_panes(-1);
        return true;
      case VK_DOWN:
        scroll_panes(1);
        return true;
      case VK_PRIOR:
        scroll_panes(-page);
        return true;
      case VK_NEXT:
        scroll_panes(page);
        return true;
      default:
        return false;
    }
  }

  void show_status() {
    const std::size_t n = model_->conflict_count();
    const std::size_t open = model_->unresolved_count();
    std::string text;
    if (n == 0) {
      text = "No conflicts";
    } else {
      text = "Conflict " + std::to_string(current_ + 1) + " of " + std::to_string(n) + ", " +
             std::to_string(open) + " unresolved";
      if (model_->plan().settled != 0)
        text += ", " + std::to_string(model_->plan().settled) + " settled automatically";
    }
    SetWindowTextW(status_, wide(text).c_str());
    EnableWindow(previous_, n != 0 && current_ > 0);
    EnableWindow(next_, current_ + 1 < n);
    EnableWindow(save_close_, open == 0);
  }

  bool save() {
    const std::optional<std::vector<Line>> lines = model_->merged();
    if (!lines) {
      const std::size_t open = model_->unresolved_count();
      if (current_ < model_->conflict_count() &&
          model_->resolution(current_).kind != Resolution::Kind::unresolved) {
        go_to_unresolved(true);
      }
      say("Settle every conflict before saving: " + std::to_string(open) +
          " unresolved, one is shown (Ctrl+F8 for the next).");
      return false;
    }
    if (const support::Status saved = save_output(job_, *lines); !saved) {
      say("Not saved: " + saved.text());
      return false;
    }
    saved_ = true;
    unsaved_ = false;
    const std::string conversion = output_conversion(job_);
    say(conversion.empty() ? "Saved to " + job_.request.out_path + "."
                           : "Saved to " + job_.request.out_path + "; " + conversion + ".");
    return true;
  }

  // ---- the result --------------------------------------------------------------

  std::string rtf_for(std::size_t first, std::size_t end) const {
    std::vector<RtfRow> rows;
    rows.reserve(end - first);
    const auto& all = model_->rows();
    for (std::size_t i = first; i < end; ++i) {
      rows.push_back({all[i].text.view(), highlight_of(model_->look(model_->row_regions()[i]))});
    }
    return rtf_document(rows, highlight_colours(), font_face(), 20);
  }

  void stream(const std::string& rtf, bool selection) {
    StreamSource source{&rtf, 0};
    EDITSTREAM es{};
    es.dwCookie = reinterpret_cast<DWORD_PTR>(&source);
    es.pfnCallback = &stream_in;
    loading_ = true;
    SendMessageW(result_, EM_STREAMIN, SF_RTF | (selection ? SFF_SELECTION : 0),
                 reinterpret_cast<LPARAM>(&es));
    loading_ = false;
  }

  std::wstring result_text() const {
    GETTEXTLENGTHEX length{GTL_DEFAULT | GTL_NUMCHARS, 1200};
    const LRESULT n =
        SendMessageW(result_, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&length), 0);
    std::wstring text(static_cast<std::size_t>(std::max<LRESULT>(0, n)) + 1, L'\0');
    GETTEXTEX get{};
    get.cb = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    get.flags = GT_DEFAULT;
    get.codepage = 1200;
    const LRESULT got = SendMessageW(result_, EM_GETTEXTEX, reinterpret_cast<WPARAM>(&get),
                                     reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(std::max<LRESULT>(0, got)));
    return text;
  }

  std::vector<std::string> model_rows() const {
    std::vector<std::string> rows;
    rows.reserve(model_->rows().size());
    for (const Line& line : model_->rows()) rows.push_back(line.text.str());
    return rows;
  }

  // Loads the whole result in one stream of rich text.
  // Loads the whole result: the first rows at once in one stream of rich
  // text, the others appended in slices while the window is already in use
  // (a long text takes the rich edit seconds). Until the last slice is in,
  // the result is read-only and steps wait to be shown in it.
  void load_result() {
    loaded_ = true;
    loading_rows_ = model_->rows();
    loading_colours_.clear();
    for (std::size_t row = 0; row < loading_rows_.size(); ++row) {
      loading_colours_.push_back(highlight_of(model_->look(model_->row_regions()[row])));
    }
    shown_ = model_rows();
    loaded_rows_ = 0;
    SendMessageW(result_, EM_SETREADONLY, TRUE, 0);
    append_slice(kFirstSlice);
    continue_loading();
  }

  void continue_loading() {
    if (loaded_rows_ < loading_rows_.size()) {
      PostMessageW(hwnd(), kLoadMore, 0, 0);
      return;
    }
    loading_rows_.clear();
    loading_colours_.clear();
    SendMessageW(result_, EM_SETREADONLY, FALSE, 0);
    if (stale_) {
      stale_ = false;
      sync_result();
    }
    InvalidateRect(result_, nullptr, TRUE);
  }

  void append_slice(std::size_t count) {
    const std::size_t first = loaded_rows_;
    const std::size_t end = std::min(loading_rows_.size(), first + count);
    std::vector<RtfRow> rows;
    rows.reserve(end - first + 1);
    // After the rows already in, a slice starts with the paragraph mark
    // that ends the last of them.
    if (first != 0) rows.push_back({std::string_view(), 0});
    for (std::size_t i = first; i < end; ++i) {
      rows.push_back({loading_rows_[i].text.view(), loading_colours_[i]});
    }
    if (first != 0) {
      GETTEXTLENGTHEX length{GTL_DEFAULT | GTL_NUMCHARS, 1200};
      const LONG at = static_cast<LONG>(
          SendMessageW(result_, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&length), 0));
      CHARRANGE saved{};
      SendMessageW(result_, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&saved));
      CHARRANGE range{at, at};
      SendMessageW(result_, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
      stream(rtf_document(rows, highlight_colours(), font_face(), 20), true);
      SendMessageW(result_, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&saved));
    } else {
      stream(rtf_document(rows, highlight_colours(), font_face(), 20), false);
    }
    loaded_rows_ = end;
  }

  // The face the fixed-pitch font really has (the one asked for may be missing).
  std::string font_face() const {
    HDC dc = GetDC(hwnd());
    HGDIOBJ old = SelectObject(dc, mono_font());
    wchar_t face[LF_FACESIZE] = {};
    GetTextFaceW(dc, LF_FACESIZE, face);
    SelectObject(dc, old);
    ReleaseDC(hwnd(), dc);
    return narrow(face);
  }

  // Replaces only the rows that changed (a take changes one region), so that
  // a step costs the same in a long text as in a short one; reloads all when
  // what the control then holds is not the model's text.
  void sync_result() {
    if (!loading_rows_.empty()) {
      stale_ = true;  // shown once the result is in
      return;
    }
    if (!loaded_) return;
    const std::vector<std::string> wanted = model_rows();
    const std::size_t old_n = shown_.size();
    const std::size_t new_n = wanted.size();
    std::size_t p = 0;
    while (p < old_n && p < new_n && shown_[p] == wanted[p]) ++p;
    std::size_t s = 0;
    while (s < old_n - p && s < new_n - p && shown_[old_n - 1 - s] == wanted[new_n - 1 - s]) ++s;
    if (p == old_n && p == new_n) {
      // The same text; the colours may differ (a take of equal lines).
      if (old_n != 0) replace_rows(0, old_n, 0, new_n);
      return;
    }
    // Both spans at least one row, so that no paragraph mark is streamed.
    if (p == old_n - s || p == new_n - s) {
      if (p > 0) {
        --p;
      } else if (s > 0) {
        --s;
      }
    }
    if (old_n == 0 || new_n == 0 || p == old_n - s || p == new_n - s) {
      load_result();
      return;
    }
    replace_rows(p, old_n - s, p, new_n - s);
    shown_ = wanted;
    if (split_rows(result_text()) != wanted) load_result();
    // The caret at the end of the first row that changed, where typing
    // would go on.
    const LRESULT at = SendMessageW(result_, EM_LINEINDEX, p, 0);
    if (at >= 0) {
      const LONG end = static_cast<LONG>(at + SendMessageW(result_, EM_LINELENGTH, at, 0));
      CHARRANGE caret{end, end};
      SendMessageW(result_, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&caret));
    }
    InvalidateRect(result_, nullptr, TRUE);
  }

  // Old rows [from, to) of the control become the model's rows [first, end).
  void replace_rows(std::size_t from, std::size_t to, std::size_t first, std::size_t end) {
    const LRESULT start = SendMessageW(result_, EM_LINEINDEX, from, 0);
    LRESULT stop = -1;
    if (to < shown_.size()) {
      stop = SendMessageW(result_, EM_LINEINDEX, to, 0) - 1;  // before the row's paragraph mark
    } else {
      GETTEXTLENGTHEX length{GTL_DEFAULT | GTL_NUMCHARS, 1200};
      stop = SendMessageW(result_, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&length), 0);
    }
    CHARRANGE range{static_cast<LONG>(start), static_cast<LONG>(stop)};
    SendMessageW(result_, WM_SETREDRAW, FALSE, 0);
    SendMessageW(result_, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
    stream(rtf_for(first, end), true);
    SendMessageW(result_, WM_SETREDRAW, TRUE, 0);
  }

  void typed() {
    const std::vector<std::string> rows = split_rows(result_text());
    model_->typed(rows);
    shown_ = rows;
    unsaved_ = true;
    for (auto& pane : panes_) pane->refresh();
    InvalidateRect(result_, nullptr, FALSE);
    show_status();
  }

  // The rich edit, with a bar left of each row in the colour of its region.
  static LRESULT CALLBACK result_proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    auto* window = reinterpret_cast<MergeWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    const LRESULT result =
        CallWindowProcW(window->result_procedure_, hwnd, message, wparam, lparam);
    if (message == WM_PAINT) window->paint_bars();
    return result;
  }

  void paint_bars() {
    RECT client{};
    GetClientRect(result_, &client);
    HDC dc = GetDC(result_);
    const std::size_t rows = model_->rows().size();
    const LRESULT first = SendMessageW(result_, EM_GETFIRSTVISIBLELINE, 0, 0);
    const int bar = px(6);
    for (std::size_t row = static_cast<std::size_t>(std::max<LRESULT>(0, first)); row < rows;
         ++row) {
      const LRESULT index = SendMessageW(result_, EM_LINEINDEX, row, 0);
      if (index < 0) break;
      POINTL top{};
      SendMessageW(result_, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&top), index);
      if (top.y > client.bottom) break;
      POINTL next{};
      long bottom = top.y + px(16);
      if (row + 1 < rows) {
        const LRESULT after = SendMessageW(result_, EM_LINEINDEX, row + 1, 0);
        SendMessageW(result_, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&next), after);
        if (next.y > top.y) bottom = next.y;
      }
      const COLORREF colour = bar_of(model_->look(model_->row_regions()[row]));
      RECT box{0, top.y, bar, bottom};
      if (colour != kNoColour) {
        SetBkColor(dc, colour);
      } else {
        SetBkColor(dc, GetSysColor(COLOR_WINDOW));
      }
      ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &box, nullptr, 0, nullptr);
    }
    ReleaseDC(result_, dc);
  }

  Job job_;
  std::vector<std::vector<Line>> texts_;
  std::unique_ptr<MergeModel> model_;
  std::unique_ptr<SyntaxHighlighter> syntax_;
  std::unique_ptr<ContributorSource> source_;
  std::vector<std::unique_ptr<PanePosition>> positions_;
  std::vector<std::unique_ptr<Pane>> panes_;
  std::vector<HWND> controls_;
  std::vector<HWND> labels_;
  std::vector<HWND> takes_;
  std::vector<std::string> shown_;  // the rows the rich edit holds
  HWND previous_ = nullptr;
  HWND next_ = nullptr;
  HWND next_unresolved_ = nullptr;
  HWND status_ = nullptr;
  HWND save_ = nullptr;
  HWND save_close_ = nullptr;
  HWND keys_ = nullptr;
  HWND close_ = nullptr;
  HWND take_all_ = nullptr;
  HWND result_label_ = nullptr;
  HWND result_ = nullptr;
  HWND message_ = nullptr;
  WNDPROC result_procedure_ = nullptr;
  std::size_t current_ = 0;
  bool loading_ = false;
  bool loaded_ = false;
  bool stale_ = false;              // steps not yet shown in the result
  std::vector<Line> loading_rows_;  // the rows being loaded, and their colours
  std::vector<int> loading_colours_;
  std::size_t loaded_rows_ = 0;
  bool saved_ = false;
  bool unsaved_ = false;
};

}  // namespace

void open_merge_window(Job job, Finish finish) {
  auto* window = new MergeWindow(std::move(job), std::move(finish));
  if (!window->open() && window->hwnd() == nullptr) delete window;
}

}  // namespace marlow::win32
