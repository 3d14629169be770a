// Fuzzes the graphical client's reading of a framed XML-RPC call. Any input
// is either served or refused with a fault code and a reason; a served call
// has one display name per contributor, none of them empty, and an output
// path exactly when it is a merge. Replies built from any text are well
// formed: a fault never carries a boolean.
#include <cstddef>
#include <cstdint>
#include <string>

#include "serve/xmlrpc.h"
#include "fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const marlow::ParsedCall call = marlow::parse_call(input);
  if (!call.ok) {
    fuzz::check(
        call.fault_code >= marlow::kFaultMalformed && call.fault_code <= marlow::kFaultCannotServe,
        "a refused call has a known fault code");
    fuzz::check(!call.error.empty(), "a refused call says why");
  } else {
    const marlow::CompareRequest& r = call.request;
    fuzz::check(r.display_names.size() == r.contributors.size(),
                "one display name per contributor");
    for (const std::string& name : r.display_names) {
      fuzz::check(!name.empty(), "display names are never empty");
    }
    fuzz::check((r.method == marlow::Method::compare_merge) || r.out_path.empty(),
                "only a merge has an output path");
  }
  const std::string fault = marlow::fault_reply(marlow::kFaultCannotServe, input);
  fuzz::check(fault.find("<boolean>") == std::string::npos, "a fault carries no boolean");
  fuzz::check(marlow::xml_escape(input).find('<') == std::string::npos, "escaped text has no '<'");
  return 0;
}
