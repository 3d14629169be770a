#include "app/window_fit.h"

#include <QEvent>
#include <QResizeEvent>
#include <QScreen>
#include <QWidget>
#include <algorithm>

#include "app/settings.h"

namespace marlow {
namespace {

// Keeps the sizes a shown window is given, as the user sizes it.
class SizeKeeper : public QObject {
 public:
  SizeKeeper(QWidget* window, QString kind) : QObject(window), kind_(std::move(kind)) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    auto* window = static_cast<QWidget*>(watched);
    if (event->type() == QEvent::Resize && window->isVisible() && !window->isMaximized() &&
        !window->isFullScreen()) {
      set_window_size_preference(kind_, static_cast<QResizeEvent*>(event)->size());
    }
    return false;
  }

 private:
  QString kind_;
};

}  // namespace

void fit_to_screen(QWidget* window, const QString& kind, QSize wanted) {
  const QSize kept = window_size_preference(kind);
  if (kept.isValid() && !kept.isEmpty()) wanted = kept;
  // Room for the frame and title bar the window manager adds.
  const QRect area = window->screen()->availableGeometry();
  const QSize room(std::max(320, area.width() - 24), std::max(240, area.height() - 48));
  window->resize(wanted.boundedTo(room).expandedTo(QSize(320, 240)));
  window->installEventFilter(new SizeKeeper(window, kind));
}

}  // namespace marlow
