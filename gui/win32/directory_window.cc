#include "win32/directory_window.h"

#include <commctrl.h>
#include <windowsx.h>

#include <string>
#include <vector>

#include "engine/directory_compare.h"
#include "serve/directory_entry.h"
#include "serve/files.h"
#include "serve/serve.h"
#include "win32/compare_window.h"
#include "win32/error_window.h"
#include "win32/pane.h"
#include "win32/wide.h"

namespace marlow::win32 {
namespace {

enum Command : WORD { kList = 400, kOpen, kShowIdentical, kKeys };

COLORREF state_colour(DirectoryEntry::State state) {
  switch (state) {
    case DirectoryEntry::State::only_left:
    case DirectoryEntry::State::all_differ:
      return kRemovedRow;
    case DirectoryEntry::State::only_right:
    case DirectoryEntry::State::third_differs:
      return kAddedRow;
    case DirectoryEntry::State::different:
    case DirectoryEntry::State::first_differs:
      return kChangedRow;
    case DirectoryEntry::State::second_differs:
      return RGB(205, 225, 255);
    case DirectoryEntry::State::identical:
      break;
  }
  return kNoColour;
}

class DirectoryWindow : public TopWindow {
 public:
  DirectoryWindow(const CompareRequest& request, Finish finish)
      : TopWindow("directory", std::move(finish), boolean_reply(true)), request_(request) {}

  bool open() {
    entries_ = compare_directories(request_.contributors);
    std::wstring title = L"Compare directories - ";
    for (std::size_t side = 0; side < request_.display_names.size(); ++side) {
      title += (side == 0 ? L"" : L" / ") + wide(request_.display_names[side]);
    }
    const std::vector<Key> keys = {
        {FCONTROL, 'W', IDCANCEL}, {0, VK_ESCAPE, IDCANCEL}, {0, VK_F1, kKeys}};
    if (!create(title, 900, 700, keys)) return false;
    open_ = add(L"BUTTON", L"&Compare file", BS_PUSHBUTTON | WS_TABSTOP, kOpen);
    show_identical_ =
        add(L"BUTTON", L"Show &identical files", BS_AUTOCHECKBOX | WS_TABSTOP, kShowIdentical);
    status_ = add(L"STATIC", L"", SS_LEFTNOWORDWRAP | SS_CENTERIMAGE | SS_ENDELLIPSIS, 0);
    sides_ = add(L"STATIC", L"", SS_LEFTNOWORDWRAP | SS_CENTERIMAGE | SS_ENDELLIPSIS, 0);
    close_ = add(L"BUTTON", L"Close", BS_PUSHBUTTON | WS_TABSTOP, IDCANCEL);
    list_ = add(WC_LISTVIEWW, L"",
                LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | WS_TABSTOP | WS_BORDER, kList);
    ListView_SetExtendedListViewStyle(list_, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.cx = px(600);
    column.pszText = const_cast<wchar_t*>(L"File");
    ListView_InsertColumn(list_, 0, &column);
    column.cx = px(200);
    column.pszText = const_cast<wchar_t*>(L"State");
    ListView_InsertColumn(list_, 1, &column);
    // Of three directories, which side is which.
    if (request_.contributors.size() == 3) {
      const std::wstring sides = L"Base: " + wide(request_.display_names[0]) + L"    A: " +
                                 wide(request_.display_names[1]) + L"    B: " +
                                 wide(request_.display_names[2]);
      SetWindowTextW(sides_, sides.c_str());
    }
    fill();
    show();
    SetFocus(list_);
    return true;
  }

 protected:
  LRESULT handle(UINT message, WPARAM wparam, LPARAM lparam) override {
    switch (message) {
      case WM_COMMAND:
        switch (LOWORD(wparam)) {
          case kOpen:
          case IDOK:
            open_selected();
            return 0;
          case kShowIdentical:
            fill();
            return 0;
          case kKeys:
            show_keys(hwnd(), L"Keyboard shortcuts",
                      {{L"Up, Down", L"Choose a file"},
                       {L"Enter, double click", L"Compare the file"},
                       {L"Ctrl+W, Escape", L"Close the window"},
                       {L"F1", L"This list"}});
            return 0;
          case IDCANCEL:
            close_asked();
            return 0;
          default:
            break;
        }
        break;
      case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lparam);
        if (header->hwndFrom != list_) break;
        if (header->code == NM_DBLCLK || header->code == LVN_ITEMACTIVATE) {
          open_selected();
          return 0;
        }
        if (header->code == NM_CUSTOMDRAW) {
          auto* draw = reinterpret_cast<NMLVCUSTOMDRAW*>(lparam);
          if (draw->nmcd.dwDrawStage == CDDS_PREPAINT) return CDRF_NOTIFYITEMDRAW;
          if (draw->nmcd.dwDrawStage == CDDS_ITEMPREPAINT) {
            const std::size_t index = static_cast<std::size_t>(draw->nmcd.lItemlParam);
            if (index < entries_.size()) {
              const COLORREF colour = state_colour(entries_[index].state);
              if (colour != kNoColour) draw->clrTextBk = colour;
            }
            return CDRF_DODEFAULT;
          }
        }
        break;
      }
      case WM_DESTROY:
        // The file comparisons opened from here go with it.
        for (HWND window : opened_) {
          if (IsWindow(window) != 0) DestroyWindow(window);
        }
        break;
      default:
        break;
    }
    return TopWindow::handle(message, wparam, lparam);
  }

  void fonts_changed() override {
    for (HWND control : controls_) use_font(control, ui_font());
  }

  void lay_out(int width, int height) override {
    if (list_ == nullptr) return;
    const int margin = px(6);
    const int bar_h = px(26);
    MoveWindow(open_, margin, margin, px(120), bar_h, TRUE);
    MoveWindow(show_identical_, margin * 2 + px(120), margin, px(170), bar_h, TRUE);
    MoveWindow(close_, width - margin - px(80), margin, px(80), bar_h, TRUE);
    const int sides_h = request_.contributors.size() == 3 ? bar_h : 0;
    MoveWindow(sides_, margin, margin * 2 + bar_h, width - margin * 2, sides_h, TRUE);
    const int top = margin * 2 + bar_h + sides_h;
    // The counts have a line of their own under the list: with three
    // directories they name five states, too long for the bar.
    const int status_top = std::max(top, height - margin - bar_h);
    MoveWindow(list_, margin, top, width - margin * 2, status_top - top - margin, TRUE);
    MoveWindow(status_, margin, status_top, width - margin * 2, bar_h, TRUE);
  }

 private:
  HWND add(const wchar_t* cls, const wchar_t* text, DWORD style, int id) {
    HWND control = add_control(cls, text, style, id);
    controls_.push_back(control);
    return control;
  }

  void fill() {
    const bool identical = Button_GetCheck(show_identical_) == BST_CHECKED;
    ListView_DeleteAllItems(list_);
    std::size_t counts[DirectoryEntry::kStates] = {};
    int first_change = -1;
    int row = 0;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      const DirectoryEntry& entry = entries_[i];
      ++counts[static_cast<int>(entry.state)];
      if (entry.state == DirectoryEntry::State::identical && !identical) continue;
      const std::wstring path = wide(entry.path);
      LVITEMW item{};
      item.mask = LVIF_TEXT | LVIF_PARAM;
      item.iItem = row;
      item.pszText = const_cast<wchar_t*>(path.c_str());
      item.lParam = static_cast<LPARAM>(i);
      const int at = ListView_InsertItem(list_, &item);
      const std::wstring state = wide(state_name(entry));
      ListView_SetItemText(list_, at, 1, const_cast<wchar_t*>(state.c_str()));
      if (first_change < 0 && entry.state != DirectoryEntry::State::identical) first_change = at;
      ++row;
    }
    // The first file that is not identical is selected, so Enter opens it.
    const int start = first_change >= 0 ? first_change : (row > 0 ? 0 : -1);
    if (start >= 0) {
      ListView_SetItemState(list_, start, LVIS_SELECTED | LVIS_FOCUSED,
                            LVIS_SELECTED | LVIS_FOCUSED);
      ListView_EnsureVisible(list_, start, FALSE);
    }
    using State = DirectoryEntry::State;
    const std::vector<State> order =
        request_.contributors.size() == 3
            ? std::vector<State>{State::second_differs, State::third_differs, State::all_differ,
                                 State::first_differs, State::identical}
            : std::vector<State>{State::different, State::only_left, State::only_right,
                                 State::identical};
    std::string status;
    for (const State state : order) {
      if (!status.empty()) status += ", ";
      status += std::to_string(counts[static_cast<int>(state)]) + " " + folder_state_name(state);
    }
    SetWindowTextW(status_, wide(status).c_str());
  }

  void open_selected() {
    const int selected = ListView_GetNextItem(list_, -1, LVNI_SELECTED);
    if (selected < 0) return;
    LVITEMW item{};
    item.mask = LVIF_PARAM;
    item.iItem = selected;
    ListView_GetItem(list_, &item);
    open_entry(static_cast<std::size_t>(item.lParam));
  }

  void remember_last_window() {
    HWND window = GetForegroundWindow();
    if (window != nullptr && window != hwnd()) opened_.push_back(window);
  }

  void open_entry(std::size_t index) {
    if (index >= entries_.size()) return;
    EntryOpening opening = open_directory_entry(request_, entries_[index], real_files());
    if (opening.job) {
      open_compare_window(std::move(*opening.job), nullptr);
    } else {
      open_error_window(opening.title, opening.message, "", nullptr);
    }
    remember_last_window();
  }

  CompareRequest request_;
  std::vector<DirectoryEntry> entries_;
  std::vector<HWND> controls_;
  std::vector<HWND> opened_;
  HWND open_ = nullptr;
  HWND show_identical_ = nullptr;
  HWND status_ = nullptr;
  HWND sides_ = nullptr;
  HWND close_ = nullptr;
  HWND list_ = nullptr;
};

}  // namespace

bool is_directory_call(const CompareRequest& request) {
  const std::size_t sides = request.contributors.size();
  if (request.method != Method::compare || sides < 2 || sides > 3) return false;
  for (const std::string& path : request.contributors) {
    if (!is_directory(path)) return false;
  }
  return true;
}

void open_directory_window(const CompareRequest& request, Finish finish) {
  auto* window = new DirectoryWindow(request, std::move(finish));
  if (!window->open() && window->hwnd() == nullptr) delete window;
}

}  // namespace marlow::win32
