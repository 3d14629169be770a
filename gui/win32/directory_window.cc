#include "win32/directory_window.h"

#include <commctrl.h>
#include <windowsx.h>

#include <filesystem>

#include "engine/directory_compare.h"
#include "engine/file_kind.h"
#include "serve/files.h"
#include "serve/serve.h"
#include "win32/compare_window.h"
#include "win32/error_window.h"
#include "win32/pane.h"
#include "win32/wide.h"

namespace marlow::win32 {
namespace {

enum Command : WORD { kList = 400, kOpen, kShowIdentical, kKeys };

const wchar_t* state_text(DirectoryEntry::State state) {
  switch (state) {
    case DirectoryEntry::State::only_left:
      return L"only left";
    case DirectoryEntry::State::only_right:
      return L"only right";
    case DirectoryEntry::State::identical:
      return L"identical";
    case DirectoryEntry::State::different:
      return L"different";
  }
  return L"";
}

COLORREF state_colour(DirectoryEntry::State state) {
  switch (state) {
    case DirectoryEntry::State::only_left:
      return kRemovedRow;
    case DirectoryEntry::State::only_right:
      return kAddedRow;
    case DirectoryEntry::State::different:
      return kChangedRow;
    case DirectoryEntry::State::identical:
      break;
  }
  return kNoColour;
}

std::string joined_path(const std::string& directory, const std::string& relative) {
  std::filesystem::path path =
      std::filesystem::path(std::u8string(directory.begin(), directory.end())) /
      std::filesystem::path(std::u8string(relative.begin(), relative.end()));
  const std::u8string text = path.make_preferred().u8string();
  return std::string(text.begin(), text.end());
}

class DirectoryWindow : public TopWindow {
 public:
  DirectoryWindow(const CompareRequest& request, Finish finish)
      : TopWindow("directory", std::move(finish), boolean_reply(true)), request_(request) {}

  bool open() {
    entries_ = compare_directories(request_.contributors[0], request_.contributors[1]);
    const std::wstring title = L"Compare directories - " + wide(request_.display_names[0]) +
                               L" / " + wide(request_.display_names[1]);
    const std::vector<Key> keys = {
        {FCONTROL, 'W', IDCANCEL}, {0, VK_ESCAPE, IDCANCEL}, {0, VK_F1, kKeys}};
    if (!create(title, 900, 700, keys)) return false;
    open_ = add(L"BUTTON", L"&Compare file", BS_PUSHBUTTON | WS_TABSTOP, kOpen);
    show_identical_ =
        add(L"BUTTON", L"Show &identical files", BS_AUTOCHECKBOX | WS_TABSTOP, kShowIdentical);
    status_ = add(L"STATIC", L"", SS_LEFTNOWORDWRAP | SS_CENTERIMAGE | SS_ENDELLIPSIS, 0);
    close_ = add(L"BUTTON", L"Close", BS_PUSHBUTTON | WS_TABSTOP, IDCANCEL);
    list_ = add(WC_LISTVIEWW, L"",
                LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | WS_TABSTOP | WS_BORDER, kList);
    ListView_SetExtendedListViewStyle(list_, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.cx = px(600);
    column.pszText = const_cast<wchar_t*>(L"File");
    ListView_InsertColumn(list_, 0, &column);
    column.cx = px(140);
    column.pszText = const_cast<wchar_t*>(L"State");
    ListView_InsertColumn(list_, 1, &column);
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
    MoveWindow(status_, margin * 3 + px(290), margin,
               std::max(px(40), width - px(290) - px(80) - margin * 5), bar_h, TRUE);
    MoveWindow(close_, width - margin - px(80), margin, px(80), bar_h, TRUE);
    MoveWindow(list_, margin, margin * 2 + bar_h, width - margin * 2, height - margin * 3 - bar_h,
               TRUE);
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
    std::size_t counts[4] = {};
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
      ListView_SetItemText(list_, at, 1, const_cast<wchar_t*>(state_text(entry.state)));
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
    const auto count = [&](DirectoryEntry::State s) {
      return std::to_string(counts[static_cast<int>(s)]);
    };
    SetWindowTextW(status_, wide(count(DirectoryEntry::State::different) + " different, " +
                                 count(DirectoryEntry::State::only_left) + " only left, " +
                                 count(DirectoryEntry::State::only_right) + " only right, " +
                                 count(DirectoryEntry::State::identical) + " identical")
                                .c_str());
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
    const DirectoryEntry& entry = entries_[index];
    Job job;
    job.request = request_;
    const Encoding encoding = encoding_for_type(request_.type_name);
    std::vector<std::string> names(2);
    std::vector<std::string> paths(2);
    std::vector<bool> absent(2);
    bool binary = false;
    for (std::size_t side = 0; side < 2; ++side) {
      names[side] = request_.display_names[side] + "/" + entry.path;
      paths[side] = joined_path(request_.contributors[side], entry.path);
      absent[side] = (side == 0 && entry.state == DirectoryEntry::State::only_right) ||
                     (side == 1 && entry.state == DirectoryEntry::State::only_left);
      if (!absent[side]) binary = binary || file_is_binary(paths[side]);
    }
    // Binary files are not shown as text: the window says what they are.
    if (binary) {
      std::vector<std::string> present_paths = paths;
      for (std::size_t side = 0; side < 2; ++side) {
        if (absent[side]) present_paths[side].clear();
      }
      open_error_window("Binary files", binary_comparison_note(names, present_paths), "", nullptr);
      remember_last_window();
      return;
    }
    for (std::size_t side = 0; side < 2; ++side) {
      job.request.contributors[side] = paths[side];
      job.request.display_names[side] = names[side];
      TextDocument doc;
      if (!absent[side]) {
        support::Result<std::string> bytes = real_files().read_whole(paths[side]);
        if (!bytes) {
          open_error_window("Cannot compare",
                            names[side] + " cannot be read: " + bytes.status().reason() + "\n(" +
                                paths[side] + ")",
                            "", nullptr);
          remember_last_window();
          return;
        }
        support::Result<TextDocument> decoded = decode_text(std::move(bytes).value(), encoding);
        if (!decoded) {
          open_error_window("Cannot compare",
                            names[side] + " cannot be read as " + encoding_name(encoding) + ": " +
                                decoded.status().text() + "\n(" + paths[side] + ")",
                            "", nullptr);
          remember_last_window();
          return;
        }
        doc = std::move(decoded).value();
      }
      job.docs.push_back(std::move(doc));
    }
    open_compare_window(std::move(job), nullptr);
    remember_last_window();
  }

  CompareRequest request_;
  std::vector<DirectoryEntry> entries_;
  std::vector<HWND> controls_;
  std::vector<HWND> opened_;
  HWND open_ = nullptr;
  HWND show_identical_ = nullptr;
  HWND status_ = nullptr;
  HWND close_ = nullptr;
  HWND list_ = nullptr;
};

}  // namespace

bool is_directory_call(const CompareRequest& request) {
  return request.method == Method::compare && request.contributors.size() == 2 &&
         is_directory(request.contributors[0]) && is_directory(request.contributors[1]);
}

void open_directory_window(const CompareRequest& request, Finish finish) {
  auto* window = new DirectoryWindow(request, std::move(finish));
  if (!window->open() && window->hwnd() == nullptr) delete window;
}

}  // namespace marlow::win32
