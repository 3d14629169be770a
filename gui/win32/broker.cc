#include "win32/broker.h"

#include <chrono>
#include <cstdio>
#include <future>
#include <memory>

#include "engine/file_kind.h"
#include "serve/script_parse.h"
#include "serve/serve.h"
#include "support/platform.h"
#include "win32/compare_window.h"
#include "win32/directory_window.h"
#include "win32/error_window.h"
#include "win32/merge_window.h"
#include "win32/settings.h"

namespace marlow::win32 {
namespace {

constexpr UINT kOpenCall = WM_APP + 1;
constexpr UINT kWindowClosed = WM_APP + 2;
constexpr UINT kServiceGone = WM_APP + 3;

// A call on its way to the UI thread, and its answer on the way back.
struct PendingCall {
  const char* kind = "compare";  // for the answer log
  Preparation prep;
  bool directories = false;
  std::promise<std::string> answer;
  std::chrono::steady_clock::time_point arrived = std::chrono::steady_clock::now();
};

}  // namespace

bool Broker::start() {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &Broker::procedure;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"MarlowBroker";
  RegisterClassExW(&wc);
  hwnd_ = CreateWindowExW(0, L"MarlowBroker", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                          GetModuleHandleW(nullptr), nullptr);
  if (hwnd_ == nullptr) return false;
  SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  return true;
}

std::string Broker::handle(const std::string& framed) {
  auto call = std::make_unique<PendingCall>();
  if (const ParsedCall parsed = parse_call(framed); parsed.ok) {
    const bool merge = parsed.request.method == Method::compare_merge;
    // Two directories: their comparison, from which files open.
    if (is_directory_call(parsed.request)) {
      call->directories = true;
      call->prep.job.request = parsed.request;
    } else if (std::optional<std::string> problem = directory_call_problem(
                   parsed.request.contributors, parsed.request.display_names, merge)) {
      // Directories anywhere else: the window says what can be done with them.
      call->kind = "error";
      call->prep.job.request = parsed.request;
      call->prep.shows_error = true;
      call->prep.message = *problem;
      call->prep.reply = fault_reply(kFaultCannotServe, *problem);
    }
  }
  if (!call->directories && !call->prep.shows_error) {
    call->prep = prepare(framed, automatic_merge_enabled());
    if (!call->prep.needs_window && !call->prep.shows_error) return call->prep.reply;
    call->kind = call->prep.shows_error                                   ? "error"
                 : call->prep.job.request.method == Method::compare_merge ? "merge"
                                                                          : "compare";
  }
  std::future<std::string> reply = call->answer.get_future();
  PendingCall* raw = call.release();
  if (PostMessageW(hwnd_, kOpenCall, 0, reinterpret_cast<LPARAM>(raw)) == 0) {
    // The UI thread has gone: nothing can be shown.
    delete raw;
    return answer_without_window(framed);
  }
  return reply.get();
}

void Broker::service_gone() { PostMessageW(hwnd_, kServiceGone, 0, 0); }

void Broker::window_closed() {
  --open_windows_;
  if (gone_ && open_windows_ == 0) PostQuitMessage(0);
}

LRESULT CALLBACK Broker::procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* broker = reinterpret_cast<Broker*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (broker == nullptr) return DefWindowProcW(hwnd, message, wparam, lparam);
  switch (message) {
    case kOpenCall: {
      auto call = std::shared_ptr<PendingCall>(reinterpret_cast<PendingCall*>(lparam));
      ++broker->open_windows_;
      // Called when the window closes (or is destroyed); only the first
      // answer counts. The log line is written before the reply goes out,
      // so whoever reads the log after the reply finds it there.
      Finish finish = [broker, call, answered = false](const std::string& reply) mutable {
        if (answered) return;
        answered = true;
        const std::string log = platform::get_env("MARLOW_SCRIPT_LOG");
        if (!log.empty() && !append_answer_line(log, call->kind, reply)) {
          std::fprintf(stderr, "marlow: cannot append to %s\n", log.c_str());
        }
        call->answer.set_value(reply);
        PostMessageW(broker->hwnd_, kWindowClosed, 0, 0);
      };
      set_call_arrival(call->arrived);
      Job& job = call->prep.job;
      const bool merge = job.request.method == Method::compare_merge;
      if (call->directories) {
        open_directory_window(job.request, std::move(finish));
      } else if (call->prep.shows_error) {
        open_error_window(merge ? "Cannot merge" : "Cannot compare", call->prep.message,
                          call->prep.reply, std::move(finish));
      } else if (merge) {
        open_merge_window(std::move(job), std::move(finish));
      } else {
        open_compare_window(std::move(job), std::move(finish));
      }
      return 0;
    }
    case kWindowClosed:
      broker->window_closed();
      return 0;
    case kServiceGone:
      broker->gone_ = true;
      if (broker->open_windows_ == 0) PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(hwnd, message, wparam, lparam);
  }
}

}  // namespace marlow::win32
