// Fuzzes the client's command line: the input, cut at zero bytes, is the
// argument vector after the program name. The record is parsed, validated
// (which reads the current directory and opens the contributors) and, when
// valid, turned into the call, which must be well formed.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "client/catalogue.h"
#include "client/options.h"
#include "fuzz_util.h"
#include "request_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string> pieces = fuzz::split_on_zero(data, size);
  std::vector<const char*> argv;
  argv.push_back("tarnwick");
  for (const std::string& piece : pieces) argv.push_back(piece.c_str());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(argv.size() - 1);

  tarnwick::CompareOptions options;
  const bool wrong = options.parse(argc, argv.data());
  fuzz::check(wrong == options.parse_error, "parse returns the parse_error flag");
  fuzz::check(options.merge || options.out_path.empty(), "an -out path implies merge");

  // Parsing the same arguments again into a fresh record is deterministic.
  tarnwick::CompareOptions again;
  again.parse(argc, argv.data());
  fuzz::check(again == options, "parse is deterministic");

  // Whatever the parser made, the call built from it is well formed.
  fuzz::check_request(options);
  if (wrong) return 0;

  int entry = -2;
  const bool valid = options.validate(&entry);
  fuzz::check(entry >= -1 && entry <= tarnwick::kUtf8UiUnavailableEntry, "message entry in range");
  if (valid) {
    fuzz::check(entry == -1, "a valid record has no message");
    fuzz::check(options.contributors.size() >= 2, "at least two contributors");
    fuzz::check(options.display_names.size() == options.contributors.size(),
                "one display name per contributor");
    for (std::size_t i = 0; i < options.contributors.size(); ++i) {
      fuzz::check(!options.contributors[i].empty() && options.contributors[i][0] == '/',
                  "contributors are absolute");
      fuzz::check(!options.display_names[i].empty(), "display names are filled in");
    }
    if (options.merge) {
      fuzz::check(!options.out_path.empty() && options.out_path[0] == '/',
                  "the merge output is absolute");
    }
    fuzz::check(options.encoding_given || options.type_name.empty(),
                "a type name only with -encoding");
    fuzz::check(!options.encoding_given || !options.type_name.empty(),
                "-encoding yields a type name");
    fuzz::check_request(options);
  } else {
    // The printing variant reports the same outcome (its text goes to stderr).
    tarnwick::CompareOptions printing = again;
    fuzz::check(!printing.validate(), "both validate variants agree");
  }
  return 0;
}
