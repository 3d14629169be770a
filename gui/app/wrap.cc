#include "app/wrap.h"

#include <QAction>
#include <QCheckBox>
#include <QPlainTextEdit>
#include <QTextLayout>
#include <QThread>
#include <QWidget>
#include <algorithm>

#include "app/settings.h"

namespace marlow {
namespace {

// A line separator ends a line of the layout without being part of the
// document: the text of the row stays what it is for copying, finding and
// typing, and each separator after it adds one empty line.
QString empty_lines(int count) { return QString(count, QChar(QChar::LineSeparator)); }

// Lays `block` out in its own document's way when it is not, without
// asking for its height to be evened out again.
void lay_out(QPlainTextEdit* view, const QTextBlock& block) {
  auto* layout = static_cast<QPlainTextDocumentLayout*>(view->document()->documentLayout());
  static_cast<void>(layout->QPlainTextDocumentLayout::blockBoundingRect(block));
}

}  // namespace

RowLayout::RowLayout(QTextDocument* doc, std::function<void(const QTextBlock&)> laid_out)
    : QPlainTextDocumentLayout(doc), laid_out_(std::move(laid_out)) {}

QRectF RowLayout::blockBoundingRect(const QTextBlock& block) const {
  // Only rows laid out afresh, and only on the window's thread: a document
  // filled on a thread of its own lays nothing out there that needs it.
  if (laid_out_ && block.isValid() && block.layout()->lineCount() == 0 &&
      QThread::currentThread() == thread()) {
    static_cast<void>(QPlainTextDocumentLayout::blockBoundingRect(block));
    laid_out_(block);
  }
  return QPlainTextDocumentLayout::blockBoundingRect(block);
}

int RowLayout::added_lines(const QTextBlock& block) {
  return block.isValid() ? std::max(0, block.userState()) : 0;
}

void RowLayout::set_added_lines(const QTextBlock& block, int lines) {
  QTextBlock row = block;
  lines = std::max(0, lines);
  QTextLayout* layout = row.layout();
  const int at = row.length() - 1;
  if (lines == 0
          ? layout->preeditAreaText().isEmpty()
          : layout->preeditAreaPosition() == at && layout->preeditAreaText().size() == lines) {
    row.setUserState(lines > 0 ? lines : -1);
    return;
  }
  row.setUserState(lines > 0 ? lines : -1);
  // Clears the row's layout: it is laid out again when next asked for.
  layout->setPreeditArea(lines > 0 ? at : -1, empty_lines(lines));
  if (lines > 0) ++padded_rows_;
}

void RowLayout::remove_added_lines() {
  if (padded_rows_ == 0) return;
  for (QTextBlock block = document()->firstBlock(); block.isValid(); block = block.next()) {
    if (block.userState() > 0) set_added_lines(block, 0);
  }
  padded_rows_ = 0;
}

void RowLayout::documentChanged(int from, int removed, int added) {
  const bool here = QThread::currentThread() == thread();
  // Rows edited keep their added lines after their text, where it now ends.
  if (padded_rows_ > 0 && here) {
    const QTextBlock last = document()->findBlock(from + added);
    for (QTextBlock block = document()->findBlock(from); block.isValid(); block = block.next()) {
      if (block.userState() > 0) set_added_lines(block, block.userState());
      if (block == last) break;
    }
  }
  QPlainTextDocumentLayout::documentChanged(from, removed, added);
  // A row whose text changed within it may now need more lines or fewer,
  // here or in the other views (rows laid out afresh are evened out then).
  if (laid_out_ && here) {
    const QTextBlock block = document()->findBlock(from);
    if (block.isValid() && block.layout()->lineCount() > 0) laid_out_(block);
  }
}

void RowHeights::even_out(int row) {
  if (std::find(busy_.begin(), busy_.end(), row) != busy_.end()) return;
  busy_.push_back(row);
  struct Each {
    QPlainTextEdit* view;
    QTextBlock block;
    int own;  // the lines its text takes
  };
  std::vector<Each> each;
  int tallest = 1;
  for (QPlainTextEdit* view : views_) {
    const QTextBlock block = view->document()->findBlockByNumber(row);
    if (!block.isValid()) continue;
    lay_out(view, block);
    const int own = std::max(1, block.layout()->lineCount() - RowLayout::added_lines(block));
    tallest = std::max(tallest, own);
    each.push_back({view, block, own});
  }
  for (const Each& e : each) {
    auto* layout = dynamic_cast<RowLayout*>(e.view->document()->documentLayout());
    if (layout == nullptr || RowLayout::added_lines(e.block) == tallest - e.own) continue;
    layout->set_added_lines(e.block, tallest - e.own);
    lay_out(e.view, e.block);
    e.view->viewport()->update();
  }
  busy_.erase(std::find(busy_.begin(), busy_.end(), row));
}

QAction* make_wrap_action(QWidget* window, const std::function<void(bool)>& apply) {
  auto* action = new QAction(QObject::tr("Wrap lines"), window);
  action->setObjectName(QStringLiteral("wrap_lines"));
  action->setCheckable(true);
  action->setChecked(wrap_lines_preference());
  action->setToolTip(
      QObject::tr("Show long lines on as many lines as they need, with the rows of every pane "
                  "side by side (remembered)"));
  window->addAction(action);
  QObject::connect(action, &QAction::toggled, window, [apply](bool on) {
    set_wrap_lines_preference(on);
    apply(on);
  });
  return action;
}

QCheckBox* wrap_box(QAction* action, QWidget* parent) {
  auto* box = new QCheckBox(action->text(), parent);
  box->setObjectName(QStringLiteral("wrap_lines_box"));
  box->setToolTip(action->toolTip());
  box->setChecked(action->isChecked());
  QObject::connect(box, &QCheckBox::toggled, action, &QAction::setChecked);
  QObject::connect(action, &QAction::toggled, box, &QCheckBox::setChecked);
  return box;
}

}  // namespace marlow
