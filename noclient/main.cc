// marlow for an installation that has no graphical client (the Windows
// packages, a Linux build without Qt). It keeps the service's contract -- it
// connects to the wrapper pipe named on its command line, reads the notices,
// opens each notice's two pipes and reads the framed request -- and answers
// every call with an XML-RPC fault saying so. The fault holds no <boolean>,
// so the client ends with -1: a merge is never reported done when nothing was
// written. Each call and its answer go to marlow.log in the user's work
// directory, beside the service's log.
#include <cstddef>
#include <memory>
#include <string>

#include "support/graphical_client.h"
#include "support/platform.h"
#include "support/work_dir.h"

namespace {

constexpr const char* kReason =
    "this installation has no graphical client: nothing was compared or merged";
// The graphical client's own fault codes are 1 to 4.
constexpr int kFaultNoClient = 5;

std::string fault_reply() {
  const std::string body =
      "<?xml version=\"1.0\"?><methodResponse><fault><value><struct>"
      "<member><name>faultCode</name><value><int>" +
      std::to_string(kFaultNoClient) +
      "</int></value></member>"
      "<member><name>faultString</name><value><string>" +
      kReason +
      "</string></value></member>"
      "</struct></value></fault></methodResponse>";
  return "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

// The method named in a framed request, or "a call" when none can be found.
std::string method_of(const std::string& request) {
  const std::string open = "<methodName>";
  const std::size_t start = request.find(open);
  if (start == std::string::npos) return "a call";
  const std::size_t end = request.find("</methodName>", start);
  if (end == std::string::npos) return "a call";
  return request.substr(start + open.size(), end - start - open.size());
}

// The answer is immediate, so notices are served one after the other.
void answer(const std::string& request_name, const std::string& response_name) {
  const std::unique_ptr<platform::ClientPipe> in =
      support::open_request_pipe(request_name, platform::PipeAccess::read);
  const std::unique_ptr<platform::ClientPipe> out =
      support::open_request_pipe(response_name, platform::PipeAccess::write);
  if (!in || !out) return;
  const std::string method = method_of(support::read_framed_request(*in));
  const std::string reply = fault_reply();
  if (!out->write(reply.data(), reply.size())) {
    support::log_line(method + ": the fault could not be written");
    return;
  }
  support::log_line(method + ": answered with a fault: " + kReason);
}

}  // namespace

int main(int argc, char** argv) {
  // Without a work directory the lines go to standard output.
  if (support::init_work_dir()) support::init_log("marlow.log");
  support::log_line(std::string("marlow: ") + kReason);
  const std::unique_ptr<platform::ClientPipe> wrapper =
      support::connect_wrapper_pipe(support::wrapper_pipe_name(argc, argv));
  if (!wrapper) return 1;
  support::NoticeSplitter notices;
  char buffer[4096];
  for (;;) {
    std::size_t got = 0;
    if (!wrapper->read(buffer, sizeof buffer, &got) || got == 0) break;
    notices.feed(buffer, got);
    while (auto names = notices.next()) answer(names->first, names->second);
  }
  // The service has gone: so has the reason to run.
  return 0;
}
