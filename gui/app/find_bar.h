// Search in a window's text views: Ctrl+F opens a bar under the views, F3
// and Shift+F3 (or Enter and Shift+Enter in the bar) find the next and the
// previous match in the view last used, wrapping round at either end;
// Escape in the bar closes it. Matches ignore case and may be parts of words
// unless the bar's boxes say otherwise.
#pragma once

#include <QMetaObject>
#include <QPointer>
#include <QString>
#include <QTextDocument>
#include <QWidget>
#include <vector>

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;

namespace marlow {

class FindBar : public QWidget {
  Q_OBJECT
 public:
  // `window` gets the commands (their keys); `views` are searched, the first one until
  // another is used.
  FindBar(QWidget* window, std::vector<QPlainTextEdit*> views);

  void open();
  // Finds the next (or previous) match of the bar's text after (before) the
  // view's cursor; false when there is none in the whole view.
  bool find(bool backwards);
  QPlainTextEdit* view() const { return view_; }
  QLineEdit* field() const { return field_; }
  QCheckBox* match_case_box() const { return match_case_; }
  QCheckBox* whole_words_box() const { return whole_words_; }
  // The window's commands: open the bar, the next and the previous match.
  QAction* find_command() const { return find_; }
  QAction* find_next_command() const { return find_next_; }
  QAction* find_previous_command() const { return find_previous_; }
  // What the bar says of the last search: "3 of 12", where it wrapped round,
  // or that nothing was found.
  QString note() const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::vector<QPlainTextEdit*> views_;
  QPointer<QPlainTextEdit> view_;
  QLineEdit* field_ = nullptr;
  QCheckBox* match_case_ = nullptr;
  QCheckBox* whole_words_ = nullptr;
  QLabel* note_ = nullptr;
  QAction* find_ = nullptr;
  QAction* find_next_ = nullptr;
  QAction* find_previous_ = nullptr;

  // Where the matches of the last search start, counted once per text,
  // options and document rather than at every step through them (a pass
  // over a large document takes tens of milliseconds). An edit of the
  // document, or its end, makes it count again.
  struct Matches {
    QPointer<QTextDocument> doc;
    QString text;
    QTextDocument::FindFlags flags;
    std::vector<int> starts;  // ascending; at most kMostCounted + 1
    QMetaObject::Connection edits;
  };
  Matches matches_;
  const Matches& matches_in(QTextDocument* doc, const QString& text,
                            QTextDocument::FindFlags flags);
};

}  // namespace marlow
