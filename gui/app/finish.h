// How a window answers its call.
#pragma once

#include <functional>
#include <string>

namespace marlow {

// Receives the reply message of the window's call, once, when it closes.
using Finish = std::function<void(const std::string& reply)>;

}  // namespace marlow
