// The graphical client's windows on large files, driven for real on a
// display (tools/bench.sh gives it a private Xvfb): a comparison of two
// 100,000-line files with about one line in a hundred changed, and a merge of
// 50,000 lines with 200 conflicts. Keys go through Qt's own input path
// (shortcuts included), and every figure waits until the panes have painted.
//
//   gui_windows [compare lines] [merge lines] [conflicts] [key presses]
//
// Writes Markdown to standard output: the timings of each step and the
// resident memory of the process before, while and after a window is open.
#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/compare_window.h"
#include "app/merge_window.h"
#include "serve/xmlrpc.h"
#include "serve/serve.h"
#include "tests/testlib/proc_usage.h"

namespace {

long resident_kib() { return testlib::status_kib("self", "VmRSS"); }

// Counts paints of the views it watches: a step is done once they painted.
class PaintCounter : public QObject {
 public:
  void watch(QWidget* view) { view->installEventFilter(this); }
  int paints = 0;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }
};

// Runs the event loop until the watched views painted after `step` (or 5 s
// passed: then -1), and returns the milliseconds from the start of `step`.
double until_painted(PaintCounter* counter, const std::function<void()>& step) {
  QElapsedTimer clock;
  clock.start();
  const int before = counter->paints;
  step();
  while (counter->paints == before) {
    if (clock.elapsed() > 5000) return -1;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  // Whatever the paint queued (the other panes, the overview) runs too.
  QCoreApplication::processEvents();
  return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

// `presses` presses of `key` on `target`, each timed until painted.
std::vector<double> timed_presses(PaintCounter* counter, QWidget* target, Qt::Key key,
                                  Qt::KeyboardModifiers modifiers, int presses) {
  std::vector<double> ms;
  for (int i = 0; i < presses; ++i) {
    ms.push_back(until_painted(counter, [&] { QTest::keyClick(target, key, modifiers); }));
  }
  return ms;
}

struct Stats {
  double median = 0;
  double max = 0;
};

Stats stats(std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  if (ms.empty()) return {};
  return Stats{ms[ms.size() / 2], ms.back()};
}

// A source-like line, changed in a way of `variant`'s own when `changed`.
std::string line_of(std::size_t i, bool changed, unsigned variant) {
  std::string line =
      "    value_" + std::to_string(i % 977) + " = compute(" + std::to_string(i) + ");";
  if (changed) line += " // changed by " + std::to_string(variant);
  return line + "\n";
}

void write_file(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string call(const std::string& method, const std::string& out,
                 const std::vector<std::string>& paths) {
  std::string text = "<methodCall><methodName>" + method + "</methodName><params>";
  if (!out.empty())
    text += "<param><value><string>" + marlow::xml_escape(out) + "</string></value></param>";
  std::string array = "<param><value><array>";
  for (const std::string& p : paths) {
    array += "<data><value><string>" + marlow::xml_escape(p) + "</string></value></data>";
  }
  array += "</array></value></param>";
  return text + array + array +
         "<param><value><string></string></value></param></params></methodCall>";
}

// Lets the deletions that a closed window left for the event loop run.
void settle_memory() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QCoreApplication::processEvents();
}

void row(const char* what, double ms) { std::printf("| %s | %.1f |\n", what, ms); }
void row(const char* what, const Stats& s) {
  std::printf("| %s | %.1f (slowest %.1f) |\n", what, s.median, s.max);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const std::size_t compare_lines = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100000;
  const std::size_t merge_lines = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 50000;
  const std::size_t conflicts = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 200;
  const int presses = argc > 4 ? std::atoi(argv[4]) : 20;
  QTemporaryDir dir;
  const std::string at = dir.path().toStdString();

  // The comparison's files: one line in a hundred changed, one in a
  // thousand inserted.
  std::string left;
  std::string right;
  for (std::size_t i = 0; i < compare_lines; ++i) {
    left += line_of(i, false, 0);
    right += line_of(i, i % 100 == 37, 1);
    if (i % 1000 == 500) right += "    inserted();\n";
  }
  write_file(at + "/left.txt", left);
  write_file(at + "/right.txt", right);
  const std::size_t compare_bytes = left.size() + right.size();
  std::string().swap(left);
  std::string().swap(right);
  // The merge's: both sides change the same lines differently (conflicts),
  // and each changes lines of its own in between (clean changes).
  std::string base;
  std::string mine;
  std::string theirs;
  const std::size_t every =
      std::max<std::size_t>(1, merge_lines / std::max<std::size_t>(1, conflicts));
  for (std::size_t i = 0; i < merge_lines; ++i) {
    const bool conflict = i % every == every / 2;
    base += line_of(i, false, 0);
    mine += line_of(i, conflict || i % every == every / 4, 1);
    theirs += line_of(i, conflict || i % every == 3 * every / 4, 2);
  }
  write_file(at + "/base.txt", base);
  write_file(at + "/mine.txt", mine);
  write_file(at + "/theirs.txt", theirs);

  // A small window first, so that fonts, styles and the platform's
  // connections are loaded before anything is measured.
  write_file(at + "/a.txt", "a\nb\n");
  write_file(at + "/b.txt", "a\nc\n");
  {
    marlow::Preparation prep =
        marlow::prepare(call("RequestHandler.Compare", "", {at + "/a.txt", at + "/b.txt"}), false);
    auto* warm = new marlow::CompareWindow(prep.job, [](const std::string&) {});
    warm->show();
    if (!QTest::qWaitForWindowExposed(warm)) {
      std::fprintf(stderr, "gui_windows: no window was shown (is there a display?)\n");
      return 1;
    }
    delete warm;
    settle_memory();
  }

  // Comparison: from the call's arrival (reading and decoding the files
  // included) to the first difference painted.
  const long before_compare = resident_kib();
  PaintCounter counter;
  marlow::CompareWindow* compare = nullptr;
  double prepare_ms = 0;
  double construct_ms = 0;
  const double open_ms = until_painted(&counter, [&] {
    QElapsedTimer step;
    step.start();
    marlow::Preparation prep = marlow::prepare(
        call("RequestHandler.Compare", "", {at + "/left.txt", at + "/right.txt"}), false);
    prepare_ms = static_cast<double>(step.nsecsElapsed()) / 1e6;
    step.restart();
    compare = new marlow::CompareWindow(prep.job, [](const std::string&) {});
    construct_ms = static_cast<double>(step.nsecsElapsed()) / 1e6;
    for (int i = 0; i < compare->pane_count(); ++i) counter.watch(compare->pane(i)->viewport());
    compare->show();
    compare->activateWindow();
  });
  QCoreApplication::processEvents();
  const long open_compare = resident_kib();
  const int differences = compare->difference_count();
  const std::vector<double> next_ms =
      timed_presses(&counter, compare, Qt::Key_F8, Qt::NoModifier, presses);
  const std::vector<double> prev_ms =
      timed_presses(&counter, compare, Qt::Key_F8, Qt::ShiftModifier, presses);
  // After as many presses forth as back, the first difference is current
  // again: the keys did what they should.
  const bool keys_worked = compare->current_difference() == 0 && differences > presses;
  compare->close();
  delete compare;
  settle_memory();
  const long closed_compare = resident_kib();

  // Merge: next and previous conflict, and typing into a conflict's editor.
  const long before_merge = resident_kib();
  marlow::MergeWindow* merge = nullptr;
  const double merge_open_ms = until_painted(&counter, [&] {
    marlow::Preparation prep =
        marlow::prepare(call("RequestHandler.CompareMerge", at + "/out.txt",
                             {at + "/base.txt", at + "/mine.txt", at + "/theirs.txt"}),
                        false);
    merge = new marlow::MergeWindow(prep.job, [](const std::string&) {});
    merge->set_ask_on_close(false);
    for (std::size_t s = 0; s < 3; ++s) counter.watch(merge->pane(s)->viewport());
    counter.watch(merge->result_view()->viewport());
    counter.watch(merge->conflict_editor()->viewport());
    merge->show();
    merge->activateWindow();
  });
  QCoreApplication::processEvents();
  const long open_merge = resident_kib();
  const std::size_t merge_conflicts = merge->conflict_count();
  const std::vector<double> merge_next_ms =
      timed_presses(&counter, merge, Qt::Key_F8, Qt::NoModifier, presses);
  const std::vector<double> merge_prev_ms =
      timed_presses(&counter, merge, Qt::Key_F8, Qt::ShiftModifier, presses);
  // Typing in the merged result itself, in the middle of the merge (the
  // typed text is given to the region it falls in), then in the current
  // conflict's editor.
  const char* typed = "typed_by_hand_";
  const auto type_into = [&](QPlainTextEdit* view) {
    view->setFocus();
    std::vector<double> ms;
    for (int i = 0; i < presses; ++i) {
      const char c = typed[static_cast<std::size_t>(i) % 14];
      ms.push_back(until_painted(&counter, [&] { QTest::keyClick(view, c); }));
    }
    return ms;
  };
  QPlainTextEdit* result = merge->result_view();
  QTextCursor middle(result->document()->findBlockByNumber(result->document()->blockCount() / 2));
  result->setTextCursor(middle);
  const std::vector<double> result_type_ms = type_into(result);
  const std::vector<double> type_ms = type_into(merge->conflict_editor());
  merge->close_without_asking();
  delete merge;
  settle_memory();
  const long closed_merge = resident_kib();

  std::printf(
      "Two files of %zu lines (%.1f MB together, %d differences); a merge of %zu lines "
      "with %zu conflicts. %d presses of each key; the first difference or conflict is "
      "current when the window opens.\n\n",
      compare_lines, static_cast<double>(compare_bytes) / 1e6, differences, merge_lines,
      merge_conflicts, presses);
  std::printf("| Step | ms |\n|---|---:|\n");
  row("compare: from the call to the first difference painted (reading, decoding, aligning, "
      "filling the panes)",
      open_ms);
  row("&nbsp;&nbsp;of which reading and decoding the files (the call's preparation)", prepare_ms);
  row("&nbsp;&nbsp;of which making the window (aligning, inline differences, filling the panes)",
      construct_ms);
  row("compare: next difference (F8), median", stats(next_ms));
  row("compare: previous difference (Shift+F8), median", stats(prev_ms));
  row("merge: from the call to the first conflict painted", merge_open_ms);
  row("merge: next conflict (F8), median", stats(merge_next_ms));
  row("merge: previous conflict (Shift+F8), median", stats(merge_prev_ms));
  row("merge: a key typed in the merged result, until painted, median", stats(result_type_ms));
  row("merge: a key typed into a conflict's editor, until painted, median", stats(type_ms));
  std::printf("\n| Resident memory of the process | KiB |\n|---|---:|\n");
  std::printf("| before the comparison opened | %ld |\n", before_compare);
  std::printf("| comparison open | %ld |\n", open_compare);
  std::printf("| after it closed | %ld |\n", closed_compare);
  std::printf("| before the merge opened | %ld |\n", before_merge);
  std::printf("| merge open | %ld |\n", open_merge);
  std::printf("| after it closed | %ld |\n", closed_merge);
  std::printf(
      "\nCompare window holds: %ld KiB. After closing: %.2f× the size before it opened. "
      "Merge window holds: %ld KiB. After closing: %.2f× the size before it opened.\n",
      open_compare - before_compare,
      static_cast<double>(closed_compare) / static_cast<double>(before_compare),
      open_merge - before_merge,
      static_cast<double>(closed_merge) / static_cast<double>(before_merge));
  return keys_worked ? 0 : 1;
}
