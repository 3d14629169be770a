#include "app/settings.h"

#include <QSettings>
#include <string>

#include "support/platform.h"

namespace marlow {
namespace {

constexpr const char* kAutomaticKey = "merge/automatic";

QSettings settings() { return QSettings(QStringLiteral("Brightdesk"), QStringLiteral("marlow")); }

}  // namespace

bool automatic_merge_preference() { return settings().value(kAutomaticKey, false).toBool(); }

void set_automatic_merge_preference(bool on) { settings().setValue(kAutomaticKey, on); }

bool automatic_merge_enabled() {
  const std::string forced = platform::get_env("MARLOW_AUTOMATIC");
  if (!forced.empty()) return forced != "0";
  return automatic_merge_preference();
}

}  // namespace marlow
