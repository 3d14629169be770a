// The merge window: the contributors' panes above, the whole merged result
// below in a rich edit control the user may edit, one undo history for
// takes, blocks and typing, next/previous (unresolved) conflict, a side
// taken for a conflict, its block or every remaining conflict. Save writes
// the output and answers 1 once every conflict is settled; closing without
// saving answers 0 and leaves the output as it was.
#pragma once

#include "serve/serve.h"
#include "win32/window.h"

namespace marlow::win32 {

// Opens the window for `job`; it deletes itself when it closes.
void open_merge_window(Job job, Finish finish);

}  // namespace marlow::win32
