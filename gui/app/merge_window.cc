#include "app/merge_window.h"

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

MergeWindow::MergeWindow(Job job, Finish finish)
    : job_(std::move(job)), finish_(std::move(finish)) {
  setAttribute(Qt::WA_DeleteOnClose);
  std::vector<std::vector<Line>> texts;
  for (const TextDocument& doc : job_.docs) texts.push_back(doc.lines);
  plan_ = plan_merge(texts);
  for (std::size_t i = 0; i < plan_.regions.size(); ++i) {
    if (plan_.regions[i].kind == RegionKind::conflict) conflict_regions_.push_back(i);
  }
  resolutions_.resize(conflict_regions_.size());
  setWindowTitle(tr("Merge - %1").arg(q(job_.request.out_path)));

  auto* layout = new QVBoxLayout(this);
  auto* bar = new QHBoxLayout();
  auto* prev = new QPushButton(tr("Previous conflict"), this);
  auto* next = new QPushButton(tr("Next conflict"), this);
  status_ = new QLabel(this);
  bar->addWidget(prev);
  bar->addWidget(next);
  bar->addStretch();
  bar->addWidget(status_);
  layout->addLayout(bar);

  auto* sides = new QHBoxLayout();
  auto* take_row = new QHBoxLayout();
  for (std::size_t s = 0; s < job_.docs.size(); ++s) {
    auto* column = new QVBoxLayout();
    QString name = q(job_.request.display_names[s]);
    if (plan_.has_base && s == 0) name = tr("Base: %1").arg(name);
    column->addWidget(new QLabel(name, this));
    sides_.push_back(make_viewer(this));
    column->addWidget(sides_.back());
    sides->addLayout(column);
    auto* take_button = new QPushButton(tr("Take %1").arg(q(job_.request.display_names[s])), this);
    connect(take_button, &QPushButton::clicked, this, [this, s] { take(s); });
    take_buttons_.push_back(take_button);
    take_row->addWidget(take_button);
  }
  auto* all = new QPushButton(plan_.has_base ? tr("Take all changes") : tr("Take both"), this);
  connect(all, &QPushButton::clicked, this, [this] { take_all(); });
  take_row->addWidget(all);
  layout->addLayout(sides, 2);
  layout->addLayout(take_row);
  layout->addWidget(new QLabel(tr("Result for this conflict (editable):"), this));
  result_ = new QPlainTextEdit(this);
  result_->setLineWrapMode(QPlainTextEdit::NoWrap);
  layout->addWidget(result_, 1);
  connect(result_, &QPlainTextEdit::textChanged, this, [this] {
    if (!updating_) edit_result(result_->toPlainText());
  });

  auto* actions = new QHBoxLayout();
  save_button_ = new QPushButton(tr("Save"), this);
  auto* save_close = new QPushButton(tr("Save and close"), this);
  auto* close_button = new QPushButton(tr("Close"), this);
  actions->addStretch();
  actions->addWidget(save_button_);
  actions->addWidget(save_close);
  actions->addWidget(close_button);
  layout->addLayout(actions);
  connect(prev, &QPushButton::clicked, this, [this] {
    if (current_ > 0) go_to_conflict(current_ - 1);
  });
  connect(next, &QPushButton::clicked, this, [this] { go_to_conflict(current_ + 1); });
  connect(save_button_, &QPushButton::clicked, this, [this] { save(); });
  connect(save_close, &QPushButton::clicked, this, [this] {
    if (save()) close();
  });
  connect(close_button, &QPushButton::clicked, this, &QWidget::close);
  resize(1100, 750);
  go_to_conflict(0);
}

MergeWindow::~MergeWindow() {
  if (finish_) finish_(boolean_reply(saved_));
}

std::size_t MergeWindow::unresolved_count() const {
  std::size_t n = 0;
  for (const Resolution& r : resolutions_) n += r.kind == Resolution::Kind::unresolved ? 1 : 0;
  return n;
}

void MergeWindow::go_to_conflict(std::size_t index) {
  if (index >= conflict_regions_.size()) return;
  current_ = index;
  refresh();
}

void MergeWindow::refresh() {
  updating_ = true;
  if (!conflict_regions_.empty()) {
    const Region& region = plan_.regions[conflict_regions_[current_]];
    for (std::size_t s = 0; s < sides_.size(); ++s) {
      sides_[s]->setPlainText(shown(region.sides[s]));
      take_buttons_[s]->setEnabled(true);
    }
    const std::optional<std::vector<Line>> lines =
        resolve_region(plan_, region, resolutions_[current_]);
    result_->setPlainText(lines ? shown(*lines) : QString());
    result_->setEnabled(true);
  } else {
    result_->setPlainText(tr("No conflicts: every change merges cleanly."));
    result_->setEnabled(false);
    for (QPushButton* b : take_buttons_) b->setEnabled(false);
  }
  updating_ = false;
  const std::size_t open = unresolved_count();
  status_->setText(conflict_regions_.empty()
                       ? tr("No conflicts")
                       : tr("Conflict %1 of %2, %3 unresolved")
                             .arg(current_ + 1)
                             .arg(conflict_regions_.size())
                             .arg(open));
  save_button_->setEnabled(open == 0);
}

void MergeWindow::take(std::size_t side) {
  if (conflict_regions_.empty() || side >= job_.docs.size()) return;
  resolutions_[current_] = Resolution{Resolution::Kind::take, side, {}};
  refresh();
}

void MergeWindow::take_all() {
  if (conflict_regions_.empty()) return;
  resolutions_[current_] = Resolution{Resolution::Kind::take_all, 0, {}};
  refresh();
}

std::vector<Line> MergeWindow::lines_from_editor(const QString& text) const {
  std::vector<Line> lines = split_lines(text.toStdString());
  const bool last_region = conflict_regions_[current_] + 1 == plan_.regions.size();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    // The editor knows only line feeds: lines get the text's own line end,
    // and the last one keeps lines apart from what follows the conflict.
    const bool ends_text = i + 1 == lines.size() && last_region;
    if (!lines[i].eol.empty() || !ends_text) lines[i].eol = plan_.line_end;
  }
  return lines;
}

void MergeWindow::edit_result(const QString& text) {
  if (conflict_regions_.empty()) return;
  resolutions_[current_] = Resolution{Resolution::Kind::edited, 0, lines_from_editor(text)};
  if (result_->toPlainText() != text) {
    updating_ = true;
    result_->setPlainText(text);
    updating_ = false;
  }
  status_->setText(tr("Conflict %1 of %2, %3 unresolved")
                       .arg(current_ + 1)
                       .arg(conflict_regions_.size())
                       .arg(unresolved_count()));
  save_button_->setEnabled(unresolved_count() == 0);
}

QString MergeWindow::result_text() const {
  const std::optional<std::vector<Line>> lines = merged_lines(plan_, resolutions_);
  return lines ? q(join_lines(*lines)) : QString();
}

bool MergeWindow::save() {
  const std::optional<std::vector<Line>> lines = merged_lines(plan_, resolutions_);
  if (!lines) {
    status_->setText(tr("Settle every conflict before saving."));
    return false;
  }
  std::string error;
  if (!save_output(job_, *lines, &error)) {
    // Shown in the window rather than in a dialog: the window stays usable
    // and nothing waits on a modal box.
    status_->setText(tr("Not saved: %1").arg(q(error)));
    return false;
  }
  saved_ = true;
  status_->setText(tr("Saved to %1").arg(q(job_.request.out_path)));
  return true;
}

void MergeWindow::closeEvent(QCloseEvent* event) {
  if (finish_) {
    finish_(boolean_reply(saved_));
    finish_ = nullptr;
  }
  event->accept();
}

}  // namespace marlow
