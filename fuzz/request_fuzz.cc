// Fuzzes the request text and the reply reading. The whole input is one
// reply for reply_succeeded; cut at zero bytes, it also fills an option
// record field by field (the first byte of the first piece picks the flags),
// and the call built from that record must be well formed: every value
// escaped, nothing raw between the tags, the values unchanged once the
// escaping is undone.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "client/options.h"
#include "client/request.h"
#include "fuzz_util.h"
#include "request_check.h"

namespace {

// The rule as stated: the reply holds "<boolean>", and the 20 bytes from the
// start of its first occurrence hold a '1'.
bool expected_success(const std::string& reply) {
  const std::string tag = "<boolean>";
  for (std::size_t at = 0; at + tag.size() <= reply.size(); ++at) {
    if (reply.compare(at, tag.size(), tag) != 0) continue;
    for (std::size_t i = at; i < at + 20 && i < reply.size(); ++i) {
      if (reply[i] == '1') return true;
    }
    return false;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string reply(reinterpret_cast<const char*>(data), size);
  fuzz::check(tarnwick::reply_succeeded(reply) == expected_success(reply),
              "reply_succeeded follows its rule");

  std::vector<std::string> pieces = fuzz::split_on_zero(data, size);
  const std::uint8_t flags = pieces[0].empty() ? 0 : static_cast<std::uint8_t>(pieces[0][0]);
  if (!pieces[0].empty()) pieces[0].erase(0, 1);

  tarnwick::CompareOptions options;
  options.merge = (flags & 1) != 0;
  options.encoding_given = (flags & 2) != 0;
  options.blank_ignore = (flags & 4) != 0;
  std::size_t next = 0;
  auto take = [&]() { return next < pieces.size() ? pieces[next++] : std::string(); };
  options.out_path = take();
  options.type_name = take();
  // The rest alternate between contributors and display names; the top bits
  // of the flag byte leave one list short so that their lengths differ.
  const std::size_t skip = flags >> 4;
  for (std::size_t i = 0; next < pieces.size(); ++i) {
    if (i % 2 == 0 || i / 2 < skip) {
      options.contributors.push_back(take());
    } else {
      options.display_names.push_back(take());
    }
  }
  fuzz::check_request(options);

  // Escaping alone: the result holds no raw markup and undoes exactly.
  std::string undone;
  fuzz::check(fuzz::unescape_value(tarnwick::xml_escape(reply), &undone) && undone == reply,
              "xml_escape round-trips");
  return 0;
}
