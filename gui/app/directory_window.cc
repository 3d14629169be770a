#include "app/directory_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/compare_window.h"
#include "app/error_window.h"
#include "app/keys.h"
#include "app/panes.h"
#include "app/window_fit.h"
#include "engine/directory_compare.h"
#include "engine/file_kind.h"
#include "serve/serve.h"

namespace marlow {
namespace {

QString state_text(DirectoryEntry::State state) {
  switch (state) {
    case DirectoryEntry::State::only_left:
      return DirectoryWindow::tr("only left");
    case DirectoryEntry::State::only_right:
      return DirectoryWindow::tr("only right");
    case DirectoryEntry::State::identical:
      return DirectoryWindow::tr("identical");
    case DirectoryEntry::State::different:
      return DirectoryWindow::tr("different");
  }
  return QString();
}

QColor state_colour(DirectoryEntry::State state) {
  switch (state) {
    case DirectoryEntry::State::only_left:
      return kRemoved;
    case DirectoryEntry::State::only_right:
      return kAdded;
    case DirectoryEntry::State::different:
      return kChanged;
    case DirectoryEntry::State::identical:
      break;
  }
  return QColor();
}

// Reads and decodes a file for a comparison; false with the reason.
bool read_document(const std::string& path, Encoding encoding, TextDocument* doc,
                   std::string* why) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  if (in) bytes << in.rdbuf();
  if (!in || in.bad()) {
    *why = "cannot be read";
    return false;
  }
  support::Result<TextDocument> decoded = decode_text(bytes.str(), encoding);
  if (!decoded) {
    *why = std::string("cannot be read as ") + encoding_name(encoding) + ": " +
           decoded.status().text();
    return false;
  }
  *doc = std::move(decoded).value();
  return true;
}

}  // namespace

bool is_directory_call(const CompareRequest& request) {
  return request.method == Method::compare && request.contributors.size() == 2 &&
         is_directory(request.contributors[0]) && is_directory(request.contributors[1]);
}

DirectoryWindow::DirectoryWindow(CompareRequest request, Finish finish)
    : request_(std::move(request)), finish_(std::move(finish)) {
  setAttribute(Qt::WA_DeleteOnClose);
  const QString left = q(request_.display_names.at(0));
  const QString right = q(request_.display_names.at(1));
  setWindowTitle(tr("Compare directories - %1 / %2").arg(left, right));
  auto* layout = new QVBoxLayout(this);
  auto* bar = new QHBoxLayout();
  auto* open_button = new QPushButton(tr("&Compare file"), this);
  open_button->setToolTip(tr("Open the comparison of the selected file (Enter, double click)"));
  status_ = new QLabel(this);
  status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  show_identical_ = new QCheckBox(tr("Show &identical files"), this);
  show_identical_->setChecked(true);
  auto* close_button = new QPushButton(tr("C&lose"), this);
  close_button->setToolTip(tr("Close the window (Ctrl+W, Escape)"));
  bar->addWidget(open_button);
  bar->addSpacing(12);
  bar->addWidget(status_, 1);
  bar->addWidget(show_identical_);
  bar->addWidget(close_button);
  layout->addLayout(bar);
  auto* names = new ElidedLabel(tr("Left: %1    Right: %2").arg(left, right), this);
  layout->addWidget(names);
  list_ = new QTreeWidget(this);
  list_->setRootIsDecorated(false);
  list_->setUniformRowHeights(true);
  list_->setHeaderLabels({tr("File"), tr("State")});
  list_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  list_->header()->setStretchLastSection(false);
  layout->addWidget(list_, 1);

  entries_ = compare_directories(request_.contributors[0], request_.contributors[1]);
  fill();

  const auto open_current = [this] {
    if (QTreeWidgetItem* item = list_->currentItem()) {
      open_entry(item->data(0, Qt::UserRole).toULongLong());
    }
  };
  connect(open_button, &QPushButton::clicked, this, open_current);
  connect(list_, &QTreeWidget::itemActivated, this, open_current);
  connect(show_identical_, &QCheckBox::toggled, this, &DirectoryWindow::set_show_identical);
  connect(close_button, &QPushButton::clicked, this, &QWidget::close);
  for (const QKeySequence& keys : {keys::close(), keys::dismiss()}) {
    connect(new QShortcut(keys, this), &QShortcut::activated, this, &QWidget::close);
  }
  fit_to_screen(this, QStringLiteral("directories"), QSize(900, 700));
  // The list has the keys from the start: Up and Down move in it, Enter
  // opens the file.
  setTabOrder(list_, open_button);
  setTabOrder(open_button, show_identical_);
  setTabOrder(show_identical_, close_button);
  list_->setFocus();
}

DirectoryWindow::~DirectoryWindow() {
  if (finish_) finish_(boolean_reply(true));
}

void DirectoryWindow::fill() {
  list_->clear();
  std::size_t counts[4] = {};
  QTreeWidgetItem* first_change = nullptr;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    const DirectoryEntry& entry = entries_[i];
    ++counts[static_cast<int>(entry.state)];
    if (entry.state == DirectoryEntry::State::identical && !show_identical_->isChecked()) continue;
    auto* item = new QTreeWidgetItem(list_, {q(entry.path), state_text(entry.state)});
    item->setData(0, Qt::UserRole, static_cast<qulonglong>(i));
    if (const QColor colour = state_colour(entry.state); colour.isValid()) {
      item->setBackground(0, colour);
      item->setBackground(1, colour);
    }
    if (first_change == nullptr && entry.state != DirectoryEntry::State::identical)
      first_change = item;
  }
  // The first file that is not identical is selected, so Enter opens it.
  if (QTreeWidgetItem* start = first_change != nullptr ? first_change : list_->topLevelItem(0)) {
    list_->setCurrentItem(start);
  }
  status_->setText(tr("%1 different, %2 only left, %3 only right, %4 identical")
                       .arg(counts[static_cast<int>(DirectoryEntry::State::different)])
                       .arg(counts[static_cast<int>(DirectoryEntry::State::only_left)])
                       .arg(counts[static_cast<int>(DirectoryEntry::State::only_right)])
                       .arg(counts[static_cast<int>(DirectoryEntry::State::identical)]));
}

void DirectoryWindow::set_show_identical(bool show) {
  if (show_identical_->isChecked() != show) {
    show_identical_->setChecked(show);  // comes back here through the signal
    return;
  }
  fill();
}

QWidget* DirectoryWindow::open_entry(std::size_t index) {
  if (index >= entries_.size()) return nullptr;
  const DirectoryEntry& entry = entries_[index];
  Job job;
  job.request = request_;
  const Encoding encoding = encoding_for_type(request_.type_name);
  // Binary files are not shown as text: the window says what they are and
  // whether their bytes are equal.
  std::vector<std::string> names(2);
  std::vector<std::string> paths(2);
  bool binary = false;
  for (std::size_t side = 0; side < 2; ++side) {
    names[side] = request_.display_names[side] + "/" + entry.path;
    const bool absent = (side == 0 && entry.state == DirectoryEntry::State::only_right) ||
                        (side == 1 && entry.state == DirectoryEntry::State::only_left);
    if (absent) continue;
    paths[side] = (std::filesystem::path(request_.contributors[side]) / entry.path).string();
    binary = binary || file_is_binary(paths[side]);
  }
  if (binary) {
    auto* note = new ErrorWindow(tr("Binary files"), q(binary_comparison_note(names, paths)),
                                 std::string(), nullptr);
    note->setObjectName(QStringLiteral("binary"));
    note->show();
    opened_.push_back(note);
    return note;
  }
  for (std::size_t side = 0; side < 2; ++side) {
    const std::string path = (std::filesystem::path(request_.contributors[side]) / entry.path).string();
    job.request.contributors[side] = path;
    job.request.display_names[side] = request_.display_names[side] + "/" + entry.path;
    const bool absent = (side == 0 && entry.state == DirectoryEntry::State::only_right) ||
                        (side == 1 && entry.state == DirectoryEntry::State::only_left);
    TextDocument doc;
    std::string why;
    if (!absent && !read_document(path, encoding, &doc, &why)) {
      auto* error = new ErrorWindow(
          tr("Cannot compare"), q(job.request.display_names[side] + " " + why + "\n(" + path + ")"),
          std::string(), nullptr);
      error->show();
      opened_.push_back(error);
      return error;
    }
    job.docs.push_back(std::move(doc));
  }
  auto* window = new CompareWindow(std::move(job), nullptr);
  window->show();
  opened_.push_back(window);
  return window;
}

void DirectoryWindow::closeEvent(QCloseEvent* event) {
  // The file comparisons opened from here go with it.
  for (const QPointer<QWidget>& window : opened_) {
    if (window) window->close();
  }
  if (finish_) {
    finish_(boolean_reply(true));
    finish_ = nullptr;
  }
  event->accept();
}

}  // namespace marlow
