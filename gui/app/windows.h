// The windows of the graphical client: a side-by-side comparison and a
// merge. Each answers its call once, when it closes, through `finish`.
#pragma once

#include <QPlainTextEdit>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "serve/serve.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace marlow {

// Receives the reply message of the window's call.
using Finish = std::function<void(const std::string& reply)>;

// Contributor 0 on the left, any other on the right (chosen in a list when
// there are more than two), lines aligned with blank fillers, differences
// highlighted, next/previous difference. Closing answers 1.
class CompareWindow : public QWidget {
  Q_OBJECT
 public:
  CompareWindow(Job job, Finish finish);
  ~CompareWindow() override;

  int difference_count() const { return static_cast<int>(differences_.size()); }
  int current_difference() const { return current_; }
  QPlainTextEdit* left() const { return left_; }
  QPlainTextEdit* right() const { return right_; }
  void show_pair(int right_contributor);
  void go_to_difference(int index);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  Job job_;
  Finish finish_;
  QPlainTextEdit* left_ = nullptr;
  QPlainTextEdit* right_ = nullptr;
  QComboBox* chooser_ = nullptr;
  QLabel* status_ = nullptr;
  std::vector<int> differences_;  // first display row of each difference
  int current_ = -1;
};

// One conflict at a time: every contributor's lines side by side, buttons
// to take one of them or all changed ones, and an editable result. Save
// writes the output in its encoding (once every conflict is settled); the
// window then answers 1 when it closes, 0 when it closes unsaved.
class MergeWindow : public QWidget {
  Q_OBJECT
 public:
  MergeWindow(Job job, Finish finish);
  ~MergeWindow() override;

  std::size_t conflict_count() const { return resolutions_.size(); }
  std::size_t unresolved_count() const;
  void go_to_conflict(std::size_t index);
  void take(std::size_t side);
  void take_all();
  void edit_result(const QString& text);
  bool save();
  bool saved() const { return saved_; }
  QString result_text() const;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void refresh();
  std::vector<Line> lines_from_editor(const QString& text) const;

  Job job_;
  Finish finish_;
  MergePlan plan_;
  std::vector<std::size_t> conflict_regions_;  // region index of each conflict
  std::vector<Resolution> resolutions_;
  std::size_t current_ = 0;
  bool saved_ = false;
  bool updating_ = false;
  std::vector<QPlainTextEdit*> sides_;
  std::vector<QPushButton*> take_buttons_;
  QPlainTextEdit* result_ = nullptr;
  QPushButton* save_button_ = nullptr;
  QLabel* status_ = nullptr;
};

}  // namespace marlow
