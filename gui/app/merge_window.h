// The merge window: conflicts settled one by one, the result saved.
#pragma once

#include <QPlainTextEdit>
#include <QWidget>
#include <string>
#include <vector>

#include "app/finish.h"
#include "serve/serve.h"

class QLabel;
class QPushButton;

namespace marlow {

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
  std::size_t current_conflict() const { return current_; }
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
