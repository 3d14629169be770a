// hollin_service: the per-user relay service between tarnwick clients and
// the graphical client.
#include <cstdio>

#include "service/service_main.h"
#include "support/platform.h"

int main(int argc, char** argv) {
  const int status = hollin_service::service_main(argc, argv);
  // Relay workers may still be running: end the process at once rather than
  // run static destructors beneath them.
  std::fflush(nullptr);
  platform::exit_now(status);
}
