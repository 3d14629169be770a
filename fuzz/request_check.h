// Checks that a call built by build_request is well formed and carries the
// record's values unchanged once the escaping is undone.
#pragma once

#include <string>
#include <vector>

#include "client/options.h"
#include "client/request.h"
#include "fuzz_util.h"

namespace fuzz {

inline void check_request(const tarnwick::CompareOptions& options) {
  const std::string call = tarnwick::build_request(options);
  CallReader reader(call);
  check(reader.expect("<methodCall>"), "call starts with <methodCall>");
  check(reader.expect(options.merge ? "<methodName>RequestHandler.CompareMerge</methodName>"
                                    : "<methodName>RequestHandler.Compare</methodName>"),
        "method name matches -out");
  check(reader.expect("<params>"), "<params> follows the method name");
  std::string value;
  if (options.merge) {
    check(reader.expect_string_param(&value), "merge output is a well-formed string");
    check(value == options.out_path, "merge output round-trips");
  }
  std::vector<std::string> values;
  check(reader.expect_array_param(&values), "display names are a well-formed array");
  check(values == options.display_names, "display names round-trip");
  check(reader.expect_array_param(&values), "contributors are a well-formed array");
  check(values == options.contributors, "contributors round-trip");
  check(reader.expect_string_param(&value), "type name is a well-formed string");
  check(value == (options.encoding_given ? options.type_name : std::string()),
        "type name round-trips");
  check(reader.expect("</params></methodCall>"), "call ends with </params></methodCall>");
  check(reader.done(), "nothing follows </methodCall>");
}

}  // namespace fuzz
