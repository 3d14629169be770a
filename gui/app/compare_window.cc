#include "app/compare_window.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QVBoxLayout>

#include "app/panes.h"
#include "engine/xmlrpc.h"

namespace marlow {

CompareWindow::CompareWindow(Job job, Finish finish)
    : job_(std::move(job)), finish_(std::move(finish)) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(tr("Compare - %1").arg(q(job_.request.display_names.front())));
  auto* layout = new QVBoxLayout(this);
  auto* bar = new QHBoxLayout();
  auto* prev = new QPushButton(tr("Previous difference"), this);
  auto* next = new QPushButton(tr("Next difference"), this);
  chooser_ = new QComboBox(this);
  for (std::size_t i = 1; i < job_.docs.size(); ++i) {
    chooser_->addItem(q(job_.request.display_names[i]));
  }
  chooser_->setVisible(job_.docs.size() > 2);
  status_ = new QLabel(this);
  bar->addWidget(prev);
  bar->addWidget(next);
  bar->addWidget(chooser_);
  bar->addStretch();
  bar->addWidget(status_);
  layout->addLayout(bar);
  auto* panes = new QHBoxLayout();
  left_ = make_viewer(this);
  right_ = make_viewer(this);
  panes->addWidget(left_);
  panes->addWidget(right_);
  layout->addLayout(panes);
  connect(left_->verticalScrollBar(), &QScrollBar::valueChanged, right_->verticalScrollBar(),
          &QScrollBar::setValue);
  connect(right_->verticalScrollBar(), &QScrollBar::valueChanged, left_->verticalScrollBar(),
          &QScrollBar::setValue);
  connect(prev, &QPushButton::clicked, this, [this] { go_to_difference(current_ - 1); });
  connect(next, &QPushButton::clicked, this, [this] { go_to_difference(current_ + 1); });
  connect(chooser_, &QComboBox::currentIndexChanged, this,
          [this](int index) { show_pair(index + 1); });
  resize(1000, 700);
  show_pair(1);
}

CompareWindow::~CompareWindow() {
  // A window destroyed without a close event (for example at exit) still answers.
  if (finish_) finish_(boolean_reply(true));
}

void CompareWindow::show_pair(int right_contributor) {
  const std::vector<Line>& a = job_.docs.front().lines;
  const std::vector<Line>& b = job_.docs[static_cast<std::size_t>(right_contributor)].lines;
  std::vector<Line> left_rows;
  std::vector<Line> right_rows;
  std::vector<QColor> left_colors;
  std::vector<QColor> right_colors;
  differences_.clear();
  for (const Block& block : align(a, b)) {
    const std::size_t rows = std::max(block.left_count, block.right_count);
    if (block.kind != BlockKind::same) differences_.push_back(static_cast<int>(left_rows.size()));
    QColor left_color = block.kind == BlockKind::left_only ? kRemoved : kChanged;
    QColor right_color = block.kind == BlockKind::right_only ? kAdded : kChanged;
    if (block.kind == BlockKind::same) left_color = right_color = QColor();
    for (std::size_t r = 0; r < rows; ++r) {
      const bool has_left = r < block.left_count;
      const bool has_right = r < block.right_count;
      left_rows.push_back(has_left ? a[block.left_start + r] : Line{});
      right_rows.push_back(has_right ? b[block.right_start + r] : Line{});
      left_colors.push_back(has_left ? left_color : kFiller);
      right_colors.push_back(has_right ? right_color : kFiller);
    }
  }
  left_->setPlainText(shown(left_rows));
  right_->setPlainText(shown(right_rows));
  highlight_rows(left_, left_colors);
  highlight_rows(right_, right_colors);
  current_ = -1;
  status_->setText(differences_.empty() ? tr("The texts are identical")
                                        : tr("%n difference(s)", nullptr, difference_count()));
  if (!differences_.empty()) go_to_difference(0);
}

void CompareWindow::go_to_difference(int index) {
  if (index < 0 || index >= difference_count()) return;
  current_ = index;
  show_row(left_, differences_[static_cast<std::size_t>(index)]);
  show_row(right_, differences_[static_cast<std::size_t>(index)]);
  status_->setText(tr("Difference %1 of %2").arg(index + 1).arg(difference_count()));
}

void CompareWindow::closeEvent(QCloseEvent* event) {
  if (finish_) {
    finish_(boolean_reply(true));
    finish_ = nullptr;
  }
  event->accept();
}

}  // namespace marlow
