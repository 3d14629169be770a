#include "tests/fakes/fakes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace testfakes {

ScriptedServerPipe::~ScriptedServerPipe() { record_->journal.push_back(name_ + ".close"); }

platform::ConnectResult ScriptedServerPipe::connect() {
  record_->journal.push_back(name_ + ".connect");
  return connect_result_;
}

platform::ReadResult ScriptedServerPipe::read(char* buffer, std::size_t size) {
  record_->journal.push_back(name_ + ".read");
  read_sizes.push_back(size);
  if (delivered_ || read_sizes.size() > fail_from_read_) return {platform::ReadStatus::failed, 0};
  const std::size_t left = message_.size() - offset_;
  const std::size_t bytes = left < size ? left : size;
  std::memcpy(buffer, message_.data() + offset_, bytes);
  offset_ += bytes;
  if (offset_ < message_.size()) {
    platform::ReadResult result{platform::ReadStatus::more_data, bytes};
    if (hint_) {
      const long long told = static_cast<long long>(message_.size() - offset_) + hint_error_;
      result.left_in_message = static_cast<std::size_t>(told < 1 ? 1 : told);
    }
    return result;
  }
  delivered_ = true;
  return {platform::ReadStatus::complete, bytes};
}

bool ScriptedServerPipe::write(const char* data, std::size_t size) {
  record_->journal.push_back(name_ + ".write");
  record_->writes[name_].emplace_back(data, size);
  return write_ok_;
}

bool ScriptedServerPipe::flush() {
  record_->journal.push_back(name_ + ".flush");
  return true;
}

void ScriptedServerPipe::disconnect() { record_->journal.push_back(name_ + ".disconnect"); }

bool ScriptedClientPipe::write(const char* data, std::size_t size) {
  script_->writes.emplace_back(data, size);
  return script_->write_ok;
}

bool ScriptedClientPipe::read(char* buffer, std::size_t size, std::size_t* bytes) {
  script_->read_sizes.push_back(size);
  if (!script_->reply) return false;
  *bytes = std::min(size, script_->reply->size());
  std::copy_n(script_->reply->data(), *bytes, buffer);
  return true;
}

std::uint64_t VirtualClock::slept() const {
  std::uint64_t total = 0;
  for (const unsigned s : sleeps) total += s;
  return total;
}

void RecordingLog::write(const std::string& line) {
  lines.push_back(line);
  if (journal_ != nullptr) journal_->push_back("log " + line);
}

support::Status FakeProcesses::start(const platform::ProcessSpec& invocation, platform::Process*) {
  if (journal_ != nullptr) journal_->push_back("start process");
  started.push_back(invocation);
  dir_at_start = platform::current_dir();
  return start_ok ? support::Status() : support::Status::posix("posix_spawn", EAGAIN);
}

void FakeProcesses::watch(platform::Process, std::function<void(int status)> ended) {
  if (journal_ != nullptr) journal_->push_back("watch");
  watched.push_back(std::move(ended));
}

void TimedRequestPipe::check_name(const std::string& name) const { EXPECT_EQ(name, name_); }

support::Result<std::unique_ptr<platform::ServerPipe>> StrictPipes::create_server(
    const std::string& name, const platform::PipeParams&, const platform::PipeSecurity*) {
  ADD_FAILURE() << "unexpected creation of the server pipe " << name;
  return support::Status::posix("socket", EPERM);
}

platform::OpenResult StrictPipes::open_client(const std::string& name, platform::PipeAccess, bool,
                                              std::unique_ptr<platform::ClientPipe>*) {
  ADD_FAILURE() << "unexpected open of a client end of " << name;
  return {platform::OpenStatus::failed, support::Status::posix("connect", EPERM)};
}

bool StrictPipes::wait(const std::string& name, unsigned) {
  ADD_FAILURE() << "unexpected wait for " << name;
  return false;
}

support::PipeState StrictPipes::probe(const std::string& name) {
  ADD_FAILURE() << "unexpected look for " << name;
  return support::PipeState::none;
}

std::string StrictPipes::name_problem(const std::string& name) {
  ADD_FAILURE() << "unexpected check of the name " << name;
  return std::string();
}

void StrictPipes::remove_stale(const std::string& base_name) {
  ADD_FAILURE() << "unexpected removal of stale pipes " << base_name;
}

bool StrictPipes::served_elsewhere(const std::string& name) {
  ADD_FAILURE() << "unexpected look at who serves " << name;
  return false;
}

platform::OpenResult TimedRequestPipe::open_client(const std::string& name,
                                                   platform::PipeAccess access, bool notice_stream,
                                                   std::unique_ptr<platform::ClientPipe>* out) {
  check_name(name);
  EXPECT_EQ(access, platform::PipeAccess::read_write);
  EXPECT_FALSE(notice_stream);
  ++open_calls;
  platform::OpenStatus status = platform::OpenStatus::not_found;
  if (!opens.empty()) {
    status = opens.front();
    opens.pop_front();
  } else if (is_there()) {
    status = is_free() && clock_.clock_ms >= races_lost_until_ms ? platform::OpenStatus::opened
                                                                 : platform::OpenStatus::busy;
  }
  if (status == platform::OpenStatus::opened) {
    *out = std::make_unique<ScriptedClientPipe>(&script_);
    return {status, support::Status()};
  }
  return {status, support::Status::posix("connect", ECONNREFUSED)};
}

bool TimedRequestPipe::wait(const std::string& name, unsigned timeout_ms) {
  check_name(name);
  wait_times.push_back(clock_.clock_ms);
  wait_timeouts.push_back(timeout_ms);
  if (!is_there()) return false;
  if (is_free()) return true;
  clock_.clock_ms = std::min(clock_.clock_ms + timeout_ms, busy_until_ms);
  return is_free();
}

support::PipeState TimedRequestPipe::probe(const std::string& name) {
  check_name(name);
  if (!is_there()) return support::PipeState::none;
  return is_free() ? support::PipeState::free : support::PipeState::busy;
}

}  // namespace testfakes
