// The four libgit2 functions the merge engine calls, for a tarnwickmerge
// that does not link libgit2: git runs a merge driver once per file, and
// loading libgit2 with the libraries it needs (TLS, SSH, Kerberos, ...)
// costs more than git's whole merge of a small file. The engine asks only
// for a diff of two buffers' lines with no context, which line_diff.cc
// computes as libgit2 does; any other request fails, and the engine then
// falls back to one change over the whole text (a conflict, never a wrong
// merge). Built only without TW_MERGE_STATIC_LIBGIT2.
#include <git2.h>

#include <cstring>
#include <string_view>

#include "line_diff.h"

extern "C" {

int git_libgit2_init(void) { return 1; }

// Only the allocator is ever set, and this diff allocates with new.
int git_libgit2_opts(int option, ...) { return option == GIT_OPT_SET_ALLOCATOR ? 0 : -1; }

int git_diff_options_init(git_diff_options* opts, unsigned int version) {
  if (opts == nullptr || version != GIT_DIFF_OPTIONS_VERSION) return -1;
  const git_diff_options defaults = GIT_DIFF_OPTIONS_INIT;
  *opts = defaults;
  return 0;
}

int git_diff_buffers(const void* old_buffer, size_t old_len, const char*,
                     const void* new_buffer, size_t new_len, const char*,
                     const git_diff_options* options, git_diff_file_cb file_cb,
                     git_diff_binary_cb binary_cb, git_diff_hunk_cb hunk_cb,
                     git_diff_line_cb line_cb, void* payload) {
  const bool supported = options != nullptr && options->context_lines == 0 &&
                         options->interhunk_lines == 0 &&
                         (options->flags & ~static_cast<uint32_t>(GIT_DIFF_FORCE_TEXT)) == 0 &&
                         file_cb == nullptr && binary_cb == nullptr && line_cb == nullptr;
  if (!supported) return -1;
  const std::string_view old_text(static_cast<const char*>(old_buffer), old_len);
  const std::string_view new_text(static_cast<const char*>(new_buffer), new_len);
  if (hunk_cb == nullptr || old_text == new_text) return 0;
  git_diff_delta delta;
  std::memset(&delta, 0, sizeof delta);
  for (const tarnwickmerge::LineChange& c :
       tarnwickmerge::diff_line_records(old_text, new_text)) {
    git_diff_hunk hunk;
    std::memset(&hunk, 0, sizeof hunk);
    // As in a unified diff: lines count from 1, and an empty side names the
    // line it follows.
    hunk.old_start = static_cast<int>(c.old_count == 0 ? c.old_start : c.old_start + 1);
    hunk.old_lines = static_cast<int>(c.old_count);
    hunk.new_start = static_cast<int>(c.new_count == 0 ? c.new_start : c.new_start + 1);
    hunk.new_lines = static_cast<int>(c.new_count);
    const int rc = hunk_cb(&delta, &hunk, payload);
    if (rc != 0) return rc;
  }
  return 0;
}

}  // extern "C"
