#include "app/broker.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <future>
#include <memory>

#include "app/compare_window.h"
#include "app/merge_window.h"

namespace marlow {

std::string WindowBroker::handle(const std::string& framed) {
  Preparation prep = prepare(framed, automatic_);
  if (!prep.needs_window) return prep.reply;
  auto answer = std::make_shared<std::promise<std::string>>();
  std::future<std::string> reply = answer->get_future();
  auto job = std::make_shared<Job>(std::move(prep.job));
  QMetaObject::invokeMethod(
      this,
      [this, answer, job] {
        ++open_windows_;
        // Called once, when the window closes; the window may go on existing
        // a little while Qt deletes it.
        Finish finish = [this, answer](const std::string& text) {
          answer->set_value(text);
          QMetaObject::invokeMethod(this, [this] { window_closed(); }, Qt::QueuedConnection);
        };
        QWidget* window = job->request.method == Method::compare_merge
                              ? static_cast<QWidget*>(new MergeWindow(std::move(*job), finish))
                              : static_cast<QWidget*>(new CompareWindow(std::move(*job), finish));
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
