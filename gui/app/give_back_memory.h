#pragma once

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <QTimer>

namespace marlow {

// Called as a large window goes: once the event loop runs again (after the
// window's members and its base are gone too), the C library returns its
// freed pages to the system. glibc otherwise keeps them for the process, so
// a large comparison's or merge's hundreds of megabytes would stay with the
// client while it waits for the next call.
inline void give_back_freed_memory_soon() {
#if defined(__GLIBC__)
  QTimer::singleShot(0, [] { malloc_trim(0); });
#endif
}

}  // namespace marlow
