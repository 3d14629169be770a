#include "win32/merge_window.h"

#include "serve/xmlrpc.h"

namespace marlow::win32 {

void open_merge_window(Job job, Finish finish) {
  static_cast<void>(job);
  finish(boolean_reply(false));
}

}  // namespace marlow::win32
