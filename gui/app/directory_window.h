// The comparison of two directories as a tree: folders with their files,
// each file marked only left, only right, identical or different with its
// size and modification time on both sides, a folder marked by what is
// under it. The states shown and the names left out are filters (kept for
// the next window); the chosen files copy to the other side; F5 reads both
// directories again. The model is the engine's (engine/directory_compare.h):
// this window only shows it.
#pragma once

#include <QPointer>
#include <QSet>
#include <QString>
#include <QWidget>
#include <array>
#include <string>
#include <vector>

#include "app/finish.h"
#include "engine/directory_compare.h"
#include "serve/xmlrpc.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QTreeWidget;
class QTreeWidgetItem;

namespace marlow {

// Whether the call compares two directories: the window for it is then a
// DirectoryWindow rather than a file comparison.
bool is_directory_call(const CompareRequest& request);

// Enter or a double click on a file opens its comparison in a window of its
// own (a file on one side only is compared with nothing, and its pane says
// it is absent); on a folder it opens or closes the folder. Closing (Close,
// Escape, Ctrl+W) answers 1.
class DirectoryWindow : public QWidget {
  Q_OBJECT
 public:
  // The tree's columns.
  enum Column { kName, kState, kLeftSize, kLeftTime, kRightSize, kRightTime, kColumns };
  // The data role of an item's relative path (a file's or a folder's).
  static constexpr int kPathRole = Qt::UserRole + 1;
  // The data role of an item's state (a DirectoryEntry::State as int).
  static constexpr int kStateRole = Qt::UserRole + 2;

  DirectoryWindow(CompareRequest request, Finish finish);
  ~DirectoryWindow() override;

  const std::vector<DirectoryEntry>& entries() const { return entries_; }
  QTreeWidget* list() const { return list_; }
  // The item of a file or folder by its relative path; null when not shown.
  QTreeWidgetItem* item_of(const QString& path) const;
  // Opens the comparison of entries()[index] in a window of its own, which
  // it returns (a CompareWindow, or an ErrorWindow for a file that cannot
  // be read).
  QWidget* open_entry(std::size_t index);
  // Shows or hides the files in a state, as its check box does.
  void set_shown(DirectoryEntry::State state, bool show);
  // Leaves out the names the patterns match ("*.o; build/"), as the field does.
  void set_exclude(const QString& patterns);
  // Reads both directories again; the open folders and the selection stay.
  void refresh();
  // Copies the selected files (those under a selected folder too) to the
  // other side. Replacing a file asks first, in a window-modal question
  // that names every file it replaces; failures are shown in a message
  // that stays until it is closed.
  void copy_selected(CopyDirection direction);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void fill();
  void run_copy(const CopyPlan& plan, CopyDirection direction);
  QTreeWidgetItem* add_node(const DirectoryNode& node, QTreeWidgetItem* parent);
  std::vector<std::size_t> selected_entries() const;

  CompareRequest request_;
  Finish finish_;
  std::vector<DirectoryEntry> entries_;
  StateFilter shown_;
  QString exclude_;
  bool filled_ = false;
  QTreeWidget* list_ = nullptr;
  QLabel* status_ = nullptr;
  QLabel* note_ = nullptr;
  std::array<QCheckBox*, DirectoryEntry::kStates> state_boxes_{};
  QLineEdit* exclude_field_ = nullptr;
  std::vector<QPointer<QWidget>> opened_;
};

}  // namespace marlow
