// The window that tells the user why a call cannot be served: which file
// cannot be read, decoded or written, and why.
#pragma once

#include <QString>
#include <QWidget>
#include <string>

#include "app/finish.h"

class QLabel;

namespace marlow {

// Shows `message` with a Close button (Escape closes too). When it closes it
// answers with `reply`, the fault of the call.
class ErrorWindow : public QWidget {
  Q_OBJECT
 public:
  ErrorWindow(const QString& title, const QString& message, std::string reply, Finish finish);
  ~ErrorWindow() override;

  QString message() const;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void answer();

  std::string reply_;
  Answer answer_;
  QLabel* message_ = nullptr;
};

}  // namespace marlow
