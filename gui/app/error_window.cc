#include "app/error_window.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "app/commands.h"
#include "app/keys.h"

namespace marlow {

ErrorWindow::ErrorWindow(const QString& title, const QString& message, std::string reply,
                         Finish finish)
    : reply_(std::move(reply)), answer_(std::move(finish)) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(title);
  auto* layout = new QVBoxLayout(this);
  auto* row = new QHBoxLayout();
  auto* icon = new QLabel(this);
  const int size = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
  icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxCritical, nullptr, this).pixmap(size));
  icon->setAlignment(Qt::AlignTop);
  row->addWidget(icon);
  message_ = new QLabel(message, this);
  message_->setTextFormat(Qt::PlainText);
  message_->setWordWrap(true);
  // The user may want to copy a path out of the message.
  message_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  message_->setMinimumWidth(360);
  row->addWidget(message_, 1);
  layout->addLayout(row);
  auto* buttons = new QHBoxLayout();
  QAction* close_command = add_command(
      this, tr("Close"), {keys::dismiss()}, [this] { close(); }, tr("Close the window"));
  auto* close_button = command_button(close_command, this);
  close_button->setDefault(true);
  close_button->setFocus();
  buttons->addStretch();
  buttons->addWidget(close_button);
  layout->addLayout(buttons);
}

ErrorWindow::~ErrorWindow() { answer(); }

QString ErrorWindow::message() const { return message_->text(); }

void ErrorWindow::answer() { answer_.give(reply_); }

void ErrorWindow::closeEvent(QCloseEvent* event) {
  answer();
  event->accept();
}

}  // namespace marlow
