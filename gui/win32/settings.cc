#include "win32/settings.h"

#include <windows.h>

#include "support/platform.h"
#include "win32/wide.h"

namespace marlow::win32 {
namespace {

constexpr const wchar_t* kKey = L"Software\\Brightdesk\\marlow";

bool read_number(const std::string& name, DWORD* value) {
  DWORD size = sizeof *value;
  DWORD type = 0;
  return RegGetValueW(HKEY_CURRENT_USER, kKey, wide(name).c_str(), RRF_RT_REG_DWORD, &type, value,
                      &size) == ERROR_SUCCESS;
}

void write_number(const std::string& name, DWORD value) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return;
  }
  RegSetValueExW(key, wide(name).c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                 sizeof value);
  RegCloseKey(key);
}

bool read_flag(const std::string& name) {
  DWORD value = 0;
  return read_number(name, &value) && value != 0;
}

}  // namespace

bool automatic_merge_enabled() {
  const std::string env = platform::get_env("MARLOW_AUTOMATIC");
  if (!env.empty()) return env != "0";
  return read_flag("automatic_merge");
}

bool ignore_line_ends_preference() { return read_flag("ignore_line_ends"); }
void set_ignore_line_ends_preference(bool on) { write_number("ignore_line_ends", on ? 1 : 0); }
bool ignore_whitespace_preference() { return read_flag("ignore_whitespace"); }
void set_ignore_whitespace_preference(bool on) { write_number("ignore_whitespace", on ? 1 : 0); }

bool syntax_highlighting_preference() {
  DWORD value = 1;
  return !read_number("syntax_highlighting", &value) || value != 0;
}
void set_syntax_highlighting_preference(bool on) {
  write_number("syntax_highlighting", on ? 1 : 0);
}

int tab_width_preference() {
  DWORD value = 0;
  if (!read_number("tab_width", &value) || value < 1 || value > 16) return 8;
  return static_cast<int>(value);
}

bool window_size_preference(const std::string& kind, int* width, int* height) {
  DWORD w = 0;
  DWORD h = 0;
  if (!read_number(kind + "_width", &w) || !read_number(kind + "_height", &h)) return false;
  if (w < 200 || h < 150 || w > 20000 || h > 20000) return false;
  *width = static_cast<int>(w);
  *height = static_cast<int>(h);
  return true;
}

void set_window_size_preference(const std::string& kind, int width, int height) {
  write_number(kind + "_width", static_cast<DWORD>(width));
  write_number(kind + "_height", static_cast<DWORD>(height));
}

}  // namespace marlow::win32
