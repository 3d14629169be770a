#include "app/script.h"

#include <QApplication>
#include <QEvent>
#include <QPainter>
#include <QPixmap>
#include <QString>
#include <QTimer>
#include <cstdio>

#include "app/compare_window.h"
#include "app/directory_window.h"
#include "app/error_window.h"
#include "app/merge_window.h"
#include "support/platform.h"

namespace marlow {
namespace {

// The window as it looks, with an open menu of it drawn where it stands.
QPixmap shot_with_menu(QWidget* window) {
  QPixmap image = window->grab();
  QWidget* popup = QApplication::activePopupWidget();
  if (popup != nullptr && popup->window() != window &&
      window->isAncestorOf(popup->parentWidget())) {
    QPainter painter(&image);
    painter.drawPixmap(window->mapFromGlobal(popup->mapToGlobal(QPoint(0, 0))), popup->grab());
  }
  return image;
}

void report(const std::string& what) {
  std::fprintf(stderr, "marlow: script: %s\n", what.c_str());
  std::fflush(stderr);
}

// The script of the environment; empty (nothing to attach) when unset.
bool environment_script(Script* script) {
  const std::string text = platform::get_env("MARLOW_SCRIPT");
  if (text.empty()) return false;
  *script = parse_script(text);
  return true;
}

}  // namespace

ScriptRunner::ScriptRunner(QWidget* window, Script script)
    : QObject(window), window_(window), script_(std::move(script)) {
  if (window->isVisible()) {
    start();
  } else {
    window->installEventFilter(this);
  }
}

ScriptRunner* ScriptRunner::attach(CompareWindow* window, Script script) {
  auto* runner = new ScriptRunner(window, std::move(script));
  runner->compare_ = window;
  return runner;
}

ScriptRunner* ScriptRunner::attach(MergeWindow* window, std::size_t contributors, Script script) {
  auto* runner = new ScriptRunner(window, std::move(script));
  runner->merge_ = window;
  runner->contributors_ = contributors;
  return runner;
}

ScriptRunner* ScriptRunner::attach(DirectoryWindow* window, Script script) {
  auto* runner = new ScriptRunner(window, std::move(script));
  runner->directory_ = window;
  return runner;
}

ScriptRunner* ScriptRunner::attach(ErrorWindow* window, Script script) {
  auto* runner = new ScriptRunner(window, std::move(script));
  runner->error_ = window;
  return runner;
}

bool ScriptRunner::eventFilter(QObject* watched, QEvent* event) {
  if (watched == window_ && event->type() == QEvent::Show) {
    window_->removeEventFilter(this);
    start();
  }
  return QObject::eventFilter(watched, event);
}

void ScriptRunner::start() {
  if (started_) return;
  started_ = true;
  // Queued, so that the first action runs once the window has been shown
  // and laid out, and each further action on a turn of its own.
  QTimer::singleShot(0, this, &ScriptRunner::step);
}

void ScriptRunner::step() {
  if (done_ || !window_) return;
  if (!script_.ok) {
    report(script_.error);
    close_window();
    return;
  }
  if (next_ == script_.actions.size()) {
    close_window();
    return;
  }
  const ScriptAction& action = script_.actions[next_++];
  std::string why;
  if (!run(action, &why)) {
    report("\"" + action.source + "\": " + why);
    close_window();
    return;
  }
  if (!done_) QTimer::singleShot(0, this, &ScriptRunner::step);
}

bool ScriptRunner::run(const ScriptAction& action, std::string* why) {
  using Kind = ScriptAction::Kind;
  const auto no_conflict = [&] {
    *why = merge_ ? "the merge has no conflict" : "only a merge window has conflicts";
    return false;
  };
  switch (action.kind) {
    case Kind::next:
    case Kind::prev: {
      const int delta = action.kind == Kind::next ? 1 : -1;
      if (compare_) {
        compare_->go_to_difference(compare_->current_difference() + delta);
        return true;
      }
      if (merge_) {
        const std::size_t current = merge_->current_conflict();
        if (delta > 0 || current > 0) merge_->go_to_conflict(delta > 0 ? current + 1 : current - 1);
        return true;
      }
      *why = "this window has no differences";
      return false;
    }
    case Kind::take:
    case Kind::block:
      if (!merge_ || merge_->conflict_count() == 0) return no_conflict();
      if (action.number >= contributors_) {
        *why = "the merge has " + std::to_string(contributors_) + " contributors, counted from 0";
        return false;
      }
      action.kind == Kind::take ? merge_->take(action.number) : merge_->take_block(action.number);
      return true;
    case Kind::type:
    case Kind::menu:
      if (!merge_ || merge_->conflict_count() == 0) return no_conflict();
      action.kind == Kind::type ? merge_->type_in_result(QString::fromStdString(action.text))
                                : merge_->show_result_menu();
      return true;
    case Kind::take_all:
      if (!merge_ || merge_->conflict_count() == 0) return no_conflict();
      merge_->take_all();
      return true;
    case Kind::edit:
      if (!merge_ || merge_->conflict_count() == 0) return no_conflict();
      merge_->edit_result(QString::fromStdString(action.text));
      return true;
    case Kind::undo:
    case Kind::redo:
      if (!merge_) {
        *why = "only a merge window has undo";
        return false;
      }
      action.kind == Kind::undo ? merge_->undo() : merge_->redo();
      return true;
    case Kind::save:
      if (!merge_) {
        *why = "only a merge window saves";
        return false;
      }
      // A failed save is reported and the script goes on (so that a test
      // can close the window unsaved afterwards).
      if (!merge_->save()) {
        report("\"" + action.source +
               "\": not saved (a conflict is unsettled or the output cannot be written)");
      }
      return true;
    case Kind::shot:
      if (!shot_with_menu(window_).save(QString::fromStdString(action.text), "PNG")) {
        report("\"" + action.source + "\": the image cannot be written");
      }
      return true;
    case Kind::close:
      close_window();
      return true;
  }
  *why = "unknown action";
  return false;
}

void ScriptRunner::close_window() {
  if (done_) return;
  done_ = true;
  emit finished();
  if (!window_) return;
  if (merge_) {
    // As the user would close it, but without the Save/Discard question.
    merge_->close_without_asking();
    return;
  }
  window_->close();
}

void attach_environment_script(CompareWindow* window) {
  Script script;
  if (environment_script(&script)) ScriptRunner::attach(window, std::move(script));
}

void attach_environment_script(MergeWindow* window, std::size_t contributors) {
  Script script;
  if (environment_script(&script)) ScriptRunner::attach(window, contributors, std::move(script));
}

void attach_environment_script(DirectoryWindow* window) {
  Script script;
  if (environment_script(&script)) ScriptRunner::attach(window, std::move(script));
}

void attach_environment_script(ErrorWindow* window) {
  Script script;
  if (environment_script(&script)) ScriptRunner::attach(window, std::move(script));
}

}  // namespace marlow
