// A scripted server pipe end for the service tests. It serves one message
// in message-read mode (chunks with more_data, the last one complete) and
// records every call, in order, in a record shared by all fakes of a test,
// which outlives the pipes (the code under test closes them).
#pragma once

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "support/platform.h"

namespace hollin_service {

namespace servicetest {

struct PipeRecord {
  std::vector<std::string> journal;                        // "<pipe>.<call>", in call order
  std::map<std::string, std::vector<std::string>> writes;  // per pipe, one entry per write
};

class FakePipe : public platform::ServerPipe {
 public:
  FakePipe(std::string name, PipeRecord* record) : name_(std::move(name)), record_(record) {}
  ~FakePipe() override { record_->journal.push_back(name_ + ".close"); }

  // The message that reads deliver. An empty message is one complete read
  // of 0 bytes.
  void set_message(std::string message) { message_ = std::move(message); }
  // Read number `n` (0-based) and every later one fail.
  void set_fail_from_read(std::size_t n) { fail_from_read_ = n; }
  void set_connect_result(platform::ConnectResult result) { connect_result_ = result; }
  void set_write_result(bool ok) { write_ok_ = ok; }
  // Reads that leave more of the message report how much is left, off by
  // `error` bytes (as a platform that can tell does), at least 1.
  void set_left_hint(long long error) {
    hint_ = true;
    hint_error_ = error;
  }

  platform::ConnectResult connect() override {
    record_->journal.push_back(name_ + ".connect");
    return connect_result_;
  }
  platform::ReadResult read(char* buffer, std::size_t size) override {
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
  bool write(const char* data, std::size_t size) override {
    record_->journal.push_back(name_ + ".write");
    record_->writes[name_].emplace_back(data, size);
    return write_ok_;
  }
  bool flush() override {
    record_->journal.push_back(name_ + ".flush");
    return true;
  }
  void disconnect() override { record_->journal.push_back(name_ + ".disconnect"); }

  std::vector<std::size_t> read_sizes;  // the size asked for by each read

 private:
  std::string name_;
  PipeRecord* record_;
  std::string message_;
  std::size_t offset_ = 0;
  bool delivered_ = false;
  std::size_t fail_from_read_ = static_cast<std::size_t>(-1);
  bool write_ok_ = true;
  bool hint_ = false;
  long long hint_error_ = 0;
  platform::ConnectResult connect_result_ = platform::ConnectResult::connected;
};

}  // namespace servicetest

}  // namespace hollin_service
