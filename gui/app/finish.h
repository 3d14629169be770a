// How a window answers its call.
#pragma once

#include <functional>
#include <string>
#include <utility>

namespace marlow {

// Receives the reply message of the window's call, once, when it closes.
using Finish = std::function<void(const std::string& reply)>;

// A window's answer to its call: given at most once, whichever comes first
// of the close, the window's destruction without a close (at exit), or an
// earlier answer. The callback is dropped before it runs, so that an answer
// given again from inside it (a window closed by its own reply) is ignored.
class Answer {
 public:
  Answer() = default;
  explicit Answer(Finish finish) : finish_(std::move(finish)) {}

  void give(const std::string& reply) {
    if (!finish_) return;
    Finish finish = std::move(finish_);
    finish_ = nullptr;
    finish(reply);
  }

 private:
  Finish finish_;
};

}  // namespace marlow
