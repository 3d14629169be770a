// The comparison of two or three directories as a tree: folders with their
// files, each file marked by its state (only left, only right, identical or
// different of two; changed in A, changed in B, the same change in both,
// changed in both differently of a base and two trees) with its size and
// modification time on every side, a folder marked by what is under it. The
// states shown and the names left out are filters (kept for the next
// window); of two directories the chosen files copy to the other side; F5
// reads the directories again. Every command is one action of the window,
// which its button, its key and the tree's menu share. The model is the
// engine's (engine/directory_compare.h): this window only shows it.
#pragma once

#include <QKeySequence>
#include <QList>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QWidget>
#include <array>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/finish.h"
#include "engine/directory_compare.h"
#include "serve/xmlrpc.h"

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QTreeWidget;
class QTreeWidgetItem;

namespace marlow {

// Whether the call compares two or three directories: the window for it is
// then a DirectoryWindow rather than a file comparison.
bool is_directory_call(const CompareRequest& request);

// Enter or a double click on a file opens its comparison in a window of its
// own, of two or three files (a side without the file is compared as
// nothing, and its pane says it is absent); on a folder it opens or closes
// the folder. Closing (Close, Escape, Ctrl+W) answers 1.
class DirectoryWindow : public QWidget {
  Q_OBJECT
 public:
  // The tree's columns: the name, the state, then each side's size and
  // time (of three: the base's, A's, B's).
  enum Column { kName, kState, kLeftSize, kLeftTime, kRightSize, kRightTime, kColumns };
  static int size_column(std::size_t side) { return kLeftSize + 2 * static_cast<int>(side); }
  static int time_column(std::size_t side) { return kLeftTime + 2 * static_cast<int>(side); }
  // The window's commands, each one action.
  enum class Command {
    open,
    copy_to_right,
    copy_to_left,
    expand_all,
    collapse_all,
    refresh,
    close
  };
  // The data role of an item's relative path (a file's or a folder's).
  static constexpr int kPathRole = Qt::UserRole + 1;
  // The data role of an item's state (a DirectoryEntry::State as int).
  static constexpr int kStateRole = Qt::UserRole + 2;

  DirectoryWindow(CompareRequest request, Finish finish);
  ~DirectoryWindow() override;

  const std::vector<DirectoryEntry>& entries() const { return entries_; }
  std::size_t sides() const { return request_.contributors.size(); }
  QAction* action(Command command) const { return actions_.at(command); }
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
  // other side; of three directories nothing is copied (its actions are
  // disabled and say why). Replacing a file asks first, in a window-modal question
  // that names every file it replaces; failures are shown in a message
  // that stays until it is closed.
  void copy_selected(CopyDirection direction);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void fill();
  void open_current();
  QAction* make_action(Command command, const QString& text, const QString& tip,
                       const QList<QKeySequence>& keys, std::function<void()> handler);
  void run_copy(const CopyPlan& plan, CopyDirection direction);
  QTreeWidgetItem* add_node(const DirectoryNode& node, QTreeWidgetItem* parent);
  std::vector<std::size_t> selected_entries() const;

  CompareRequest request_;
  Answer answer_;
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
  std::map<Command, QAction*> actions_;
};

}  // namespace marlow
