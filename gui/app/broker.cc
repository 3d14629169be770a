#include "app/broker.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <cstdio>
#include <functional>
#include <future>
#include <memory>
#include <optional>

#include "app/compare_window.h"
#include "app/directory_window.h"
#include "app/error_window.h"
#include "app/merge_window.h"
#include "app/panes.h"
#include "app/script.h"
#include "app/settings.h"
#include "engine/file_kind.h"
#include "serve/script_parse.h"
#include "support/platform.h"

namespace marlow {
namespace {

// The window for a prepared call; `finish` is handed to it.
QWidget* open_window(Preparation& prep, const Finish& finish) {
  Job& job = prep.job;
  const bool merge = job.request.method == Method::compare_merge;
  if (prep.shows_error) {
    auto* window =
        new ErrorWindow(merge ? QObject::tr("Cannot merge") : QObject::tr("Cannot compare"),
                        q(prep.message), prep.reply, finish);
    attach_environment_script(window);
    return window;
  }
  QWidget* window = nullptr;
  if (merge) {
    const std::size_t contributors = job.docs.size();
    auto* merge_window = new MergeWindow(std::move(job), finish);
    attach_environment_script(merge_window, contributors);
    window = merge_window;
  } else {
    auto* compare_window = new CompareWindow(std::move(job), finish);
    attach_environment_script(compare_window);
    window = compare_window;
  }
  return window;
}

}  // namespace

std::string WindowBroker::handle(const std::string& framed) {
  // Two directories: their comparison, from which files open.
  if (const ParsedCall call = parse_call(framed); call.ok && is_directory_call(call.request)) {
    return in_window("compare", [request = call.request](const Finish& finish) {
      auto* window = new DirectoryWindow(request, finish);
      attach_environment_script(window);
      return static_cast<QWidget*>(window);
    });
  }
  // Directories anywhere else: the window says what can be done with them.
  if (const ParsedCall call = parse_call(framed); call.ok) {
    const bool merge = call.request.method == Method::compare_merge;
    if (std::optional<std::string> problem =
            directory_call_problem(call.request.contributors, call.request.display_names, merge)) {
      auto prep = std::make_shared<Preparation>();
      prep->job.request = call.request;
      prep->shows_error = true;
      prep->message = *problem;
      prep->reply = fault_reply(kFaultCannotServe, *problem);
      return in_window("error",
                       [prep](const Finish& finish) { return open_window(*prep, finish); });
    }
  }
  auto prep = std::make_shared<Preparation>(prepare(framed, automatic_merge_enabled()));
  if (!prep->needs_window && !prep->shows_error) return prep->reply;
  const char* kind = prep->shows_error                                   ? "error"
                     : prep->job.request.method == Method::compare_merge ? "merge"
                                                                         : "compare";
  return in_window(kind, [prep](const Finish& finish) { return open_window(*prep, finish); });
}

std::string WindowBroker::in_window(const char* kind, std::function<QWidget*(const Finish&)> make) {
  auto answer = std::make_shared<std::promise<std::string>>();
  std::future<std::string> reply = answer->get_future();
  QMetaObject::invokeMethod(
      this,
      [this, answer, kind, make = std::move(make)] {
        ++open_windows_;
        auto answered = std::make_shared<bool>(false);
        // Called when the window closes (or, failing that, when it is
        // destroyed); only the first answer counts. The log line is written
        // before the reply goes out, so whoever reads the log after the
        // reply has arrived finds it there.
        Finish finish = [this, answer, answered, kind](const std::string& text) {
          if (*answered) return;
          *answered = true;
          const std::string log = platform::get_env("MARLOW_SCRIPT_LOG");
          if (!log.empty() && !append_answer_line(log, kind, text)) {
            std::fprintf(stderr, "marlow: cannot append to %s\n", log.c_str());
          }
          answer->set_value(text);
          QMetaObject::invokeMethod(
              this, [this] { window_closed(); }, Qt::QueuedConnection);
        };
        QWidget* window = make(finish);
        window->show();
        window->raise();
        window->activateWindow();
      },
      Qt::QueuedConnection);
  return reply.get();
}

void WindowBroker::service_gone() {
  QMetaObject::invokeMethod(
      this,
      [this] {
        gone_ = true;
        quit_if_done();
      },
      Qt::QueuedConnection);
}

void WindowBroker::window_closed() {
  --open_windows_;
  quit_if_done();
}

void WindowBroker::quit_if_done() {
  if (gone_ && open_windows_ == 0) QCoreApplication::quit();
}

}  // namespace marlow
