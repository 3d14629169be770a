#include "serve/directory_entry.h"

#include <algorithm>
#include <filesystem>
#include <utility>
#include <vector>

#include "engine/file_kind.h"
#include "engine/text_codec.h"
#include "engine/utf8_path.h"

namespace marlow {

namespace {

// `relative` under `directory`, with the platform's separators (as a user
// of that platform reads a path).
std::string joined_path(const std::string& directory, const std::string& relative) {
  std::filesystem::path path = utf8_path(directory) / utf8_path(relative);
  const std::u8string text = path.make_preferred().u8string();
  return std::string(text.begin(), text.end());
}

EntryOpening refused(std::string title, std::string message) {
  EntryOpening opening;
  opening.title = std::move(title);
  opening.message = std::move(message);
  return opening;
}

}  // namespace

EntryOpening open_directory_entry(const CompareRequest& request, const DirectoryEntry& entry,
                                  Files& files) {
  const std::size_t count = std::min(request.contributors.size(), request.display_names.size());
  std::vector<std::string> names(count);
  std::vector<std::string> paths(count);
  std::vector<std::string> present(count);  // the path where the side has the file
  bool binary = false;
  for (std::size_t side = 0; side < count; ++side) {
    names[side] = request.display_names[side] + "/" + entry.path;
    paths[side] = joined_path(request.contributors[side], entry.path);
    if (!entry.side(side).present) continue;
    present[side] = paths[side];
    // What the comparison read already, else the first bytes.
    const Content content = entry.side(side).content;
    binary = binary || content == Content::binary ||
             (content == Content::unread && file_is_binary(paths[side]));
  }
  if (binary) return refused("Binary files", binary_comparison_note(names, present));

  Job job;
  job.request = request;
  const Encoding encoding = encoding_for_type(request.type_name);
  for (std::size_t side = 0; side < count; ++side) {
    job.request.contributors[side] = paths[side];
    job.request.display_names[side] = names[side];
    TextDocument doc;
    if (!present[side].empty()) {
      const std::string where = "\n(" + paths[side] + ")";
      support::Result<std::string> bytes = files.read_whole(paths[side]);
      if (!bytes) {
        return refused("Cannot compare",
                       names[side] + " cannot be read: " + bytes.status().reason() + where);
      }
      support::Result<TextDocument> decoded = decode_text(std::move(bytes).value(), encoding);
      if (!decoded) {
        return refused("Cannot compare", names[side] + " cannot be read as " +
                                             encoding_name(encoding) + ": " +
                                             decoded.status().text() + where);
      }
      doc = std::move(decoded).value();
    }
    job.docs.push_back(std::move(doc));
  }
  EntryOpening opening;
  opening.job = std::move(job);
  return opening;
}

}  // namespace marlow
