#!/bin/sh
# Soak test (POSIX): many tarnwick clients against one hollin_service and the
# marlow stand-in, mixing normal, failing, empty-reply, slow and killed
# clients, with the service under a low open-file limit. Checks that no
# request is lost and that the service's descriptors, threads and resident
# memory come back to their level after the warm-up.
#
# Usage: tools/soak.sh [requests] [concurrency]   (defaults: 10000 8)
# The build directory is $SOAK_BUILD_DIR, else build/native; the driver is
# built there when missing. Further driver options (--seed S, --keep,
# --fd-limit L) can be given in $SOAK_OPTIONS.
set -eu
requests=${1:-10000}
concurrency=${2:-8}
here=$(cd "$(dirname "$0")/.." && pwd)
build=${SOAK_BUILD_DIR:-$here/build/native}
driver=$build/soak/soak_driver
if [ ! -x "$driver" ]; then
  cmake --build "$build" --target soak_driver -j2
fi
# shellcheck disable=SC2086 # the options are words on purpose
exec "$driver" --requests "$requests" --concurrency "$concurrency" ${SOAK_OPTIONS:-}
