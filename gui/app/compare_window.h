// The comparison window: contributors side by side, differences highlighted.
#pragma once

#include <QPlainTextEdit>
#include <QWidget>
#include <string>
#include <vector>

#include "app/finish.h"
#include "serve/serve.h"

class QComboBox;
class QLabel;

namespace marlow {

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

}  // namespace marlow
