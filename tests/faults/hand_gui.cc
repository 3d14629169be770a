#include "tests/faults/hand_gui.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace faults {
namespace fs = std::filesystem;

namespace {

int count_entries(const std::string& dir) {
  if constexpr (platform::kWindows) return -1;
  std::error_code ec;
  int count = 0;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) ++count;
  return ec ? -1 : count;
}

}  // namespace

bool HandGui::connect(const std::string& name) {
  return platform::open_client_pipe(name, platform::PipeAccess::read, true, &wrapper_).kind ==
         platform::OpenStatus::opened;
}

bool HandGui::next_notice(Notice* notice) {
  for (;;) {
    if (auto names = notices_.next()) {
      notice->request_pipe = std::move(names->first);
      notice->response_pipe = std::move(names->second);
      return true;
    }
    if (!wrapper_) return false;
    char buffer[4096];
    std::size_t got = 0;
    if (!wrapper_->read(buffer, sizeof buffer, &got) || got == 0) return false;
    notices_.feed(buffer, got);
  }
}

bool HandGui::serve(const Notice& notice, const std::string& reply, std::string* framed) {
  framed->clear();
  std::unique_ptr<platform::ClientPipe> in;
  std::unique_ptr<platform::ClientPipe> out;
  if (platform::open_client_pipe(notice.request_pipe, platform::PipeAccess::read, false, &in)
              .kind != platform::OpenStatus::opened ||
      platform::open_client_pipe(notice.response_pipe, platform::PipeAccess::write, false, &out)
              .kind != platform::OpenStatus::opened) {
    return false;
  }
  *framed = support::read_framed_request(*in);
  // The test sees what became of the reply in the client's outcome.
  if (!reply.empty()) static_cast<void>(out->write(reply.data(), reply.size()));
  return true;
}

std::string reply_with_boolean(char value) {
  const std::string body =
      std::string("<?xml version=\"1.0\"?><methodResponse><params><param><value><boolean>") +
      value + "</boolean></value></param></params></methodResponse>";
  return "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

int open_descriptors(std::uint32_t pid) {
  return count_entries("/proc/" + std::to_string(pid) + "/fd");
}

#ifdef TW_THREAD_SANITIZER
constexpr bool kThreadSanitizer = true;
#else
constexpr bool kThreadSanitizer = false;
#endif

int threads(std::uint32_t pid) { return count_entries("/proc/" + std::to_string(pid) + "/task"); }

std::vector<std::string> socket_files(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code type_ec;
    if (it->symlink_status(type_ec).type() == fs::file_type::socket) {
      names.push_back(it->path().filename().string());
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

HandServed::HandServed(e2e::Sandbox& box)
    : box_(box), a_(box.contributor("a.txt")), b_(box.contributor("b.txt")) {
  request_pipe_ = box.pipe_base() + "_request" + platform::login_name();
  service_ = box.start_service({testlib::join(testlib::root_dir(), "Brightdesk"), "-debug"});
  if (!service_.valid() || box.service_pid() != service_.pid()) {
    error_ = "the debug-mode service did not start";
    return;
  }
  // The first client makes the service print its wrapper pipe's name.
  platform::Process first = box.start_tarnwick(args(), "first");
  const std::string wrapper = box.service_stdout_line();
  if (!first.valid() || wrapper.empty() || !gui_.connect(wrapper)) {
    error_ = "cannot reach the wrapper pipe \"" + wrapper + "\"";
    return;
  }
  std::string framed;
  if (!serve_next(&framed) || framed != e2e::framed(call())) {
    error_ = "the first request arrived as \"" + framed + "\"";
    return;
  }
  const int status = e2e::Sandbox::wait(first, "the first client");
  if (status != 0) {
    error_ = "the first client ended with " + std::to_string(status);
    return;
  }
  if constexpr (!platform::kWindows) {
    // At rest a debug-mode service runs its main thread and the thread that
    // takes the termination signals; its descriptors are counted once the
    // first worker has gone.
    const std::uint32_t pid = service_.pid();
    // The thread sanitizer's runtime adds a thread of its own once the
    // process has started its first thread.
    constexpr int kRestThreads = kThreadSanitizer ? 3 : 2;
    if (!settle([&] { return threads(pid) == kRestThreads; })) {
      error_ = "the first relay worker did not end";
      return;
    }
    rest_threads_ = kRestThreads;
    rest_fds_ = open_descriptors(pid);
  }
}

HandServed::~HandServed() {
  if (service_.kill()) e2e::Sandbox::wait(service_, "the killed service");
}

std::string HandServed::call() const {
  return e2e::expected_call(false, "", {a_, b_}, {a_, b_}, "");
}

bool HandServed::serve_next(std::string* framed) {
  Notice notice;
  return gui_.next_notice(&notice) && HandGui::serve(notice, reply_with_boolean('1'), framed);
}

std::string HandServed::back_at_rest() {
  if constexpr (platform::kWindows) return std::string();
  const std::uint32_t pid = service_.pid();
  const std::string request_file = fs::path(request_pipe_).filename().string();
  const auto at_rest = [&] {
    return threads(pid) == rest_threads_ && open_descriptors(pid) == rest_fds_ &&
           socket_files(box_.work_dir()) == std::vector<std::string>{request_file};
  };
  if (settle(at_rest, 10)) return std::string();
  std::string sockets;
  for (const std::string& name : socket_files(box_.work_dir())) sockets += " " + name;
  return "threads " + std::to_string(threads(pid)) + " (at rest " + std::to_string(rest_threads_) +
         "), descriptors " + std::to_string(open_descriptors(pid)) + " (at rest " +
         std::to_string(rest_fds_) + "), sockets:" + sockets;
}

}  // namespace faults
