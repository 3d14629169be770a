#include "client/driver.h"

#include <clocale>
#include <string>
#include <utility>

#include "client/catalogue.h"
#include "client/channel.h"
#include "client/options.h"
#include "client/request.h"
#include "client/service_start.h"
#include "support/pipe_names.h"
#include "support/runtime_services.h"
#include "support/work_dir.h"

namespace tarnwick {

int run_client(int argc, const char* const* argv) {
  constexpr int kFailure = -1;
  support::svc_system_init();
  std::setlocale(LC_ALL, "");
  support::msg_set_app_name("tarnwick");

  // Before the work directory exists there is no log: the prompt tool is
  // the only way to tell the user.
  if (!support::init_work_dir()) {
    support::show_error(support::kWorkDirErrorText);
    return kFailure;
  }
  support::init_log(kClientLogName);

  // The service hands the graphical client each request's pipe names in a
  // notice that a line feed would split (one in the temporary directory's
  // name): refused before a service is started or waited for.
  const std::string problem = support::notice_name_problem(
      support::random_pipe_name(support::kLongestRandomPart, support::my_login_name()));
  if (!problem.empty()) {
    support::log_line(problem);
    return kFailure;
  }

  // The service is made to run before the command line is looked at, so that
  // even a wrong command line leaves a service for the next run.
  platform::Process started;
  if (!service_running() && !start_service(&started).ok()) {
    support::log_line(kServiceStartFailedLine);
    return kFailure;
  }

  CompareOptions options;
  if (options.parse(argc, argv) || !options.validate()) {
    // The log says which file and why; the console keeps to the usage.
    if (!options.refusal.empty()) support::log_line(options.refusal);
    print_entry(kUsageEntry);
    return kFailure;
  }

  const std::string request = build_request(options);
  std::string reply;
  // The wait for the service's pipe ends early when no service is left to
  // make it.
  RunningServiceWatch watch(std::move(started));
  if (!exchange_with_service(request, &reply, &watch)) return kFailure;
  if (reply_succeeded(reply)) return 0;
  // The console stays silent on a failed call; the log keeps the graphical
  // client's reason, when its reply gives one.
  const std::string fault = reply_fault_text(reply);
  if (!fault.empty()) support::log_line(kFaultLinePrefix + fault);
  return kFailure;
}

}  // namespace tarnwick
