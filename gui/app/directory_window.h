// The comparison of two directories: every file under either, side by side
// by its path relative to its directory, marked as only on one side,
// identical or different; a file compare opens from any of them.
#pragma once

#include <QPointer>
#include <QWidget>
#include <string>
#include <vector>

#include "app/finish.h"
#include "engine/directory_compare.h"
#include "serve/xmlrpc.h"

class QCheckBox;
class QLabel;
class QTreeWidget;

namespace marlow {

// Whether the call compares two directories: the window for it is then a
// DirectoryWindow rather than a file comparison.
bool is_directory_call(const CompareRequest& request);

// The rows of compare_directories; Enter or a double click opens the file
// comparison of the row (a file on one side only is compared with nothing,
// and its pane says it is absent). Closing (Close, Escape, Ctrl+W) answers 1.
class DirectoryWindow : public QWidget {
  Q_OBJECT
 public:
  DirectoryWindow(CompareRequest request, Finish finish);
  ~DirectoryWindow() override;

  const std::vector<DirectoryEntry>& entries() const { return entries_; }
  QTreeWidget* list() const { return list_; }
  // Opens the comparison of entries()[index] in a window of its own, which
  // it returns (a CompareWindow, or an ErrorWindow for a file that cannot
  // be read).
  QWidget* open_entry(std::size_t index);
  void set_show_identical(bool show);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void fill();

  CompareRequest request_;
  Finish finish_;
  std::vector<DirectoryEntry> entries_;
  QTreeWidget* list_ = nullptr;
  QLabel* status_ = nullptr;
  QCheckBox* show_identical_ = nullptr;
  std::vector<QPointer<QWidget>> opened_;
};

}  // namespace marlow
