// Compiled, not run, by two tests under clang: without TW_CHECK_MISUSE it must
// compile clean with -Wthread-safety; with it, the analysis must report every
// use below that lacks the lock, the pipe registry's included.
#include "support/mutex.h"
#include "support/platform_posix_internal.h"
#include "support/thread_annotations.h"

namespace {

struct Counter {
  support::Mutex mutex;
  int value TW_GUARDED_BY(mutex) = 0;
};

void add_locked(Counter& counter) TW_REQUIRES(counter.mutex) { ++counter.value; }

}  // namespace

int main() {
  Counter counter;
  platform::posix::PipeRegistry& reg = platform::posix::registry();
#ifdef TW_CHECK_MISUSE
  ++counter.value;
  add_locked(counter);
  reg.socket_files.clear();
  platform::posix::remove_all_socket_files_locked(reg);
#else
  {
    const support::MutexLock lock(counter.mutex);
    add_locked(counter);
  }
  {
    const support::MutexLock lock(reg.mutex);
    reg.socket_files.clear();
    platform::posix::remove_all_socket_files_locked(reg);
  }
#endif
  return 0;
}
