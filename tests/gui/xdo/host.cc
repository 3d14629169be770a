// Opens one real window for the X11 input test and reports on stdout, one
// line per change, where its views stand, so that the test can wait for
// what a key press or a wheel turn did:
//
//   gui_xdo_host compare FILE FILE...
//   gui_xdo_host merge OUT BASE ONE OTHER
//
// First "ready" with the centres of the panes (and of the merged result) in
// window coordinates, then lines of "tops T0 T1 ... [result R] max M zoom Z
// fonts same|differ" after every scroll or zoom, once it has settled. A
// merge adds the conflict editor's centre to "ready", and to every report
// "open N editor TEXT" (the editor's text, spaces as "_", "-" when empty),
// then "current C row TEXT at X Y": the current conflict, the text of its
// first row in the merged result and where that row is in the window; sent
// also after each change of the editor's or the result's text.
#include <QApplication>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTimer>
#include <cstdio>
#include <string>
#include <vector>

#include "app/compare_window.h"
#include "app/merge_window.h"
#include "serve/xmlrpc.h"
#include "tests/gui/qtest_files.h"

namespace {

std::vector<QPlainTextEdit*> views;
QPlainTextEdit* result = nullptr;
marlow::PaneSync* pane_sync = nullptr;
marlow::MergeWindow* merge = nullptr;
QWidget* shown_window = nullptr;
bool report_due = false;

void report() {
  report_due = false;
  std::string line = "tops";
  for (QPlainTextEdit* view : views)
    line += " " + std::to_string(view->verticalScrollBar()->value());
  if (result != nullptr) line += " result " + std::to_string(result->verticalScrollBar()->value());
  line += " max " + std::to_string(views.front()->verticalScrollBar()->maximum());
  line += " zoom " + std::to_string(pane_sync->zoom());
  bool same = true;
  for (QPlainTextEdit* view : views) same = same && view->font() == views.front()->font();
  if (result != nullptr) same = same && result->font() == views.front()->font();
  line += same ? " fonts same" : " fonts differ";
  const auto word = [](const QString& text) {
    std::string out = text.toStdString();
    for (char& c : out) {
      if (c == ' ' || c == '\n') c = '_';
    }
    return out.empty() ? std::string("-") : out;
  };
  if (merge != nullptr) {
    line += " open " + std::to_string(merge->unresolved_count()) + " editor " +
            word(merge->conflict_editor()->toPlainText());
    const QTextBlock row = result->document()->findBlockByNumber(
        merge->result_row_of_conflict(merge->current_conflict()));
    const QPoint at =
        result->viewport()->mapTo(shown_window, result->cursorRect(QTextCursor(row)).center());
    line += " current " + std::to_string(merge->current_conflict()) + " row " + word(row.text()) +
            " at " + std::to_string(at.x() + 4) + " " + std::to_string(at.y());
  }
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

// Reports at the next turn of the event loop, when every view has followed.
void schedule() {
  if (report_due) return;
  report_due = true;
  QTimer::singleShot(0, report);
}

std::string centre(QWidget* window, QWidget* view) {
  const QPoint at = view->mapTo(window, view->rect().center());
  return std::to_string(at.x()) + " " + std::to_string(at.y());
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const QStringList args = QApplication::arguments();
  if (args.size() < 4) return 2;
  std::vector<std::string> paths;
  for (qsizetype i = 2; i < args.size(); ++i) paths.push_back(args[i].toStdString());
  QWidget* window = nullptr;
  if (args[1] == QStringLiteral("compare")) {
    marlow::Preparation prep =
        marlow::prepare(marlow::testing::call("RequestHandler.Compare", "", paths), false);
    if (!prep.needs_window) return 3;
    auto* compare =
        new marlow::CompareWindow(prep.job, [](const std::string&) { QApplication::quit(); });
    for (int i = 0; i < compare->pane_count(); ++i) views.push_back(compare->pane(i));
    pane_sync = compare->sync();
    window = compare;
  } else {
    const std::string out = paths.front();
    paths.erase(paths.begin());
    marlow::Preparation prep =
        marlow::prepare(marlow::testing::call("RequestHandler.CompareMerge", out, paths), false);
    if (!prep.needs_window) return 3;
    merge = new marlow::MergeWindow(prep.job, [](const std::string&) { QApplication::quit(); });
    merge->set_ask_on_close(false);
    for (std::size_t i = 0; i < paths.size(); ++i) views.push_back(merge->pane(i));
    result = merge->result_view();
    pane_sync = merge->sync();
    window = merge;
  }
  std::vector<QPlainTextEdit*> all = views;
  if (result != nullptr) all.push_back(result);
  for (QPlainTextEdit* view : all) {
    QObject::connect(view->verticalScrollBar(), &QScrollBar::valueChanged, schedule);
    QObject::connect(view->verticalScrollBar(), &QScrollBar::rangeChanged, schedule);
  }
  if (merge != nullptr) {
    QObject::connect(merge->conflict_editor(), &QPlainTextEdit::textChanged, schedule);
    QObject::connect(result, &QPlainTextEdit::textChanged, schedule);
  }
  shown_window = window;
  window->show();
  QTimer::singleShot(0, [window, all] {
    std::string line = "ready";
    for (QPlainTextEdit* view : all) line += " " + centre(window, view);
    if (merge != nullptr) line += " " + centre(window, merge->conflict_editor());
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    report();
  });
  return QApplication::exec();
}
