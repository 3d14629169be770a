#include "app/settings.h"

#include <QSettings>
#include <algorithm>
#include <string>

#include "support/platform.h"

namespace marlow {
namespace {

constexpr const char* kAutomaticKey = "merge/automatic";
constexpr const char* kIgnoreLineEndsKey = "compare/ignore_line_ends";
constexpr const char* kIgnoreWhitespaceKey = "compare/ignore_whitespace";

QSettings settings() { return QSettings(QStringLiteral("Brightdesk"), QStringLiteral("marlow")); }

}  // namespace

bool automatic_merge_preference() { return settings().value(kAutomaticKey, false).toBool(); }

void set_automatic_merge_preference(bool on) { settings().setValue(kAutomaticKey, on); }

bool automatic_merge_enabled() {
  const std::string forced = platform::get_env("MARLOW_AUTOMATIC");
  if (!forced.empty()) return forced != "0";
  return automatic_merge_preference();
}

}  // namespace marlow

namespace marlow {

QSize window_size_preference(const QString& window) {
  return settings().value(QStringLiteral("windows/%1_size").arg(window)).toSize();
}

void set_window_size_preference(const QString& window, QSize size) {
  settings().setValue(QStringLiteral("windows/%1_size").arg(window), size);
}

int tab_width_preference() {
  bool ok = false;
  const int columns = settings().value(QStringLiteral("view/tab_width"), 8).toInt(&ok);
  return ok && columns >= 1 && columns <= 16 ? columns : 8;
}

void set_tab_width_preference(int columns) {
  settings().setValue(QStringLiteral("view/tab_width"), std::clamp(columns, 1, 16));
}

bool ignore_line_ends_preference() { return settings().value(kIgnoreLineEndsKey, false).toBool(); }

void set_ignore_line_ends_preference(bool on) { settings().setValue(kIgnoreLineEndsKey, on); }

bool ignore_whitespace_preference() {
  return settings().value(kIgnoreWhitespaceKey, false).toBool();
}

void set_ignore_whitespace_preference(bool on) { settings().setValue(kIgnoreWhitespaceKey, on); }

bool directory_shows_preference(const QString& state) {
  return settings().value(QStringLiteral("directories/show_%1").arg(state), true).toBool();
}

void set_directory_shows_preference(const QString& state, bool shown) {
  settings().setValue(QStringLiteral("directories/show_%1").arg(state), shown);
}

QString directory_exclude_preference() {
  return settings().value(QStringLiteral("directories/exclude")).toString();
}

void set_directory_exclude_preference(const QString& patterns) {
  settings().setValue(QStringLiteral("directories/exclude"), patterns);
}

bool advance_after_take_preference() {
  return settings().value(QStringLiteral("merge/advance_after_take"), false).toBool();
}

void set_advance_after_take_preference(bool on) {
  settings().setValue(QStringLiteral("merge/advance_after_take"), on);
}

IgnoreOptions ignore_options_preference() {
  const QSettings kept = settings();
  IgnoreOptions options;
  options.ignore_whitespace = kept.value(kIgnoreWhitespaceKey, false).toBool();
  options.ignore_line_ends = kept.value(kIgnoreLineEndsKey, false).toBool();
  options.ignore_case = kept.value(QStringLiteral("compare/ignore_case"), false).toBool();
  options.ignore_whitespace_amount =
      kept.value(QStringLiteral("compare/ignore_whitespace_amount"), false).toBool();
  options.ignore_blank_lines =
      kept.value(QStringLiteral("compare/ignore_blank_lines"), false).toBool();
  options.line_filter =
      kept.value(QStringLiteral("compare/line_filter"), QString()).toString().toStdString();
  return options;
}

void set_ignore_options_preference(const IgnoreOptions& options) {
  QSettings kept = settings();
  kept.setValue(kIgnoreWhitespaceKey, options.ignore_whitespace);
  kept.setValue(kIgnoreLineEndsKey, options.ignore_line_ends);
  kept.setValue(QStringLiteral("compare/ignore_case"), options.ignore_case);
  kept.setValue(QStringLiteral("compare/ignore_whitespace_amount"),
                options.ignore_whitespace_amount);
  kept.setValue(QStringLiteral("compare/ignore_blank_lines"), options.ignore_blank_lines);
  kept.setValue(QStringLiteral("compare/line_filter"), QString::fromStdString(options.line_filter));
}

bool syntax_highlighting_preference() {
  return settings().value(QStringLiteral("view/syntax_highlighting"), true).toBool();
}

void set_syntax_highlighting_preference(bool on) {
  settings().setValue(QStringLiteral("view/syntax_highlighting"), on);
}

bool wrap_lines_preference() {
  return settings().value(QStringLiteral("view/wrap_lines"), false).toBool();
}

void set_wrap_lines_preference(bool on) {
  settings().setValue(QStringLiteral("view/wrap_lines"), on);
}

}  // namespace marlow
