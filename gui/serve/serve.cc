#include "serve/serve.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <thread>

#include "serve/script_parse.h"
#include "support/mutex.h"
#include "support/thread_annotations.h"
#include "support/work_dir.h"

namespace marlow {
namespace {

// Counts the serving threads that have not yet answered, so that
// serve_notices can wait for them when the wrapper pipe ends.
class Outstanding {
 public:
  void add() TW_EXCLUDES(mutex_) {
    const support::MutexLock lock(mutex_);
    ++count_;
  }
  void done() TW_EXCLUDES(mutex_) {
    const support::MutexLock lock(mutex_);
    if (--count_ == 0) idle_.notify_all();
  }
  // Returns once every thread counted has answered.
  void wait_idle() TW_EXCLUDES(mutex_) {
    const support::MutexLock lock(mutex_);
    while (count_ != 0) idle_.wait(mutex_);
  }

 private:
  support::Mutex mutex_;
  std::condition_variable_any idle_;
  std::size_t count_ TW_GUARDED_BY(mutex_) = 0;
};

void serve_one(std::string request_name, std::string response_name, RequestHandler handler) {
  std::unique_ptr<platform::ClientPipe> in =
      support::open_request_pipe(request_name, platform::PipeAccess::read);
  std::unique_ptr<platform::ClientPipe> out =
      support::open_request_pipe(response_name, platform::PipeAccess::write);
  if (!in || !out) return;
  const std::string request = support::read_framed_request(*in);
  in.reset();
  const std::string reply = handler(request);
  if (!out->write(reply.data(), reply.size())) {
    std::fprintf(stderr, "marlow: the reply could not be written\n");
  }
}

}  // namespace

std::size_t serve_notices(platform::ClientPipe& wrapper, const RequestHandler& handler) {
  support::NoticeSplitter splitter;
  std::size_t count = 0;
  auto outstanding = std::make_shared<Outstanding>();
  char buffer[4096];
  for (;;) {
    std::size_t got = 0;
    if (!wrapper.read(buffer, sizeof buffer, &got) || got == 0) break;
    splitter.feed(buffer, got);
    while (auto notice = splitter.next()) {
      ++count;
      outstanding->add();
      std::thread(
          [outstanding, handler](std::string request_name, std::string response_name) {
            serve_one(std::move(request_name), std::move(response_name), handler);
            outstanding->done();
          },
          std::move(notice->first), std::move(notice->second))
          .detach();
    }
  }
  outstanding->wait_idle();
  return count;
}

TextDocument output_document(const Job& job, std::vector<Line> lines) {
  TextDocument doc;
  const MergeEncoding chosen = merge_encoding(job.docs, encoding_for_type(job.request.type_name));
  doc.encoding = chosen.encoding;
  doc.bom = chosen.bom;
  doc.lines = std::move(lines);
  return doc;
}

std::string output_conversion(const Job& job) {
  const MergeEncoding chosen = merge_encoding(job.docs, encoding_for_type(job.request.type_name));
  std::string text;
  for (std::size_t i : chosen.converted) {
    text += (text.empty() ? "" : ", ") + job.request.display_names[i] + " (" +
            encoding_name(job.docs[i].encoding) + ")";
  }
  if (!text.empty())
    text = "the lines of " + text + " are converted to " + encoding_name(chosen.encoding);
  return text;
}

support::Status save_output(const Job& job, std::vector<Line> lines, Files& files) {
  const support::Result<std::string> encoded = encode_text(output_document(job, std::move(lines)));
  if (!encoded)
    return support::Status::failure("cannot encode the result: " + encoded.status().text());
  return files.replace_whole(job.request.out_path, encoded.value(), kStalledWriteMs);
}

support::Status save_output(const Job& job, std::vector<Line> lines) {
  return save_output(job, std::move(lines), real_files());
}

Preparation prepare(const std::string& framed, bool automatic, Files& files) {
  Preparation prep;
  ParsedCall call = parse_call(framed);
  if (!call.ok) {
    prep.reply = fault_reply(call.fault_code, call.error);
    return prep;
  }
  Job& job = prep.job;
  job.request = std::move(call.request);
  // A file that cannot be served: shown to the user where windows can be.
  const auto file_fault = [&prep](const std::string& message, const std::string& fault) {
    prep.shows_error = true;
    prep.message = message;
    prep.reply = fault_reply(kFaultCannotServe, fault);
    return prep;
  };
  const Encoding encoding = encoding_for_type(job.request.type_name);
  for (std::size_t i = 0; i < job.request.contributors.size(); ++i) {
    const std::string& path = job.request.contributors[i];
    const std::string& name = job.request.display_names[i];
    // The display name says which file to the user; the path says where.
    const std::string where = name == path ? std::string() : "\n(" + path + ")";
    support::Result<std::string> bytes = files.read_whole(path);
    if (!bytes) {
      const std::string why = bytes.status().reason();
      return file_fault(name + " cannot be read: " + why + where,
                        "cannot read " + path + ": " + why);
    }
    support::Result<TextDocument> decoded = decode_text(bytes.value(), encoding);
    if (!decoded) {
      const std::string as =
          std::string(" as ") + encoding_name(encoding) + ": " + decoded.status().text();
      return file_fault(name + " cannot be read" + as + where, "cannot decode " + path + as);
    }
    job.docs.push_back(std::move(decoded).value());
  }
  if (automatic) {
    if (job.request.method == Method::compare_merge) {
      std::vector<std::vector<Line>> texts;
      for (const TextDocument& doc : job.docs) texts.push_back(doc.lines);
      // A result that would convert some contributor's lines into another
      // encoding is not written unseen: the window says so before saving.
      std::optional<std::vector<Line>> merged = automatic_merge(plan_merge(texts));
      if (merged && output_conversion(job).empty()) {
        const support::Status saved = save_output(job, std::move(*merged), files);
        if (!saved)
          return file_fault("The merged result cannot be saved: " + saved.text(), saved.text());
        prep.reply = boolean_reply(true);
        return prep;
      }
    } else {
      const bool all_equal =
          std::all_of(job.docs.begin(), job.docs.end(),
                      [&](const TextDocument& d) { return d.lines == job.docs.front().lines; });
      if (all_equal) {
        prep.reply = boolean_reply(true);
        return prep;
      }
    }
  }
  prep.needs_window = true;
  return prep;
}

Preparation prepare(const std::string& framed, bool automatic) {
  return prepare(framed, automatic, real_files());
}

void open_call_log(const std::string& first_line) {
  if (support::init_work_dir()) support::init_log("marlow.log");
  support::log_line(first_line);
}

std::string call_log_line(const std::string& framed, const std::string& reply) {
  const ParsedCall call = parse_call(framed);
  std::string line;
  if (call.ok) {
    const CompareRequest& request = call.request;
    line = request.method == Method::compare_merge ? "RequestHandler.CompareMerge of "
                                                   : "RequestHandler.Compare of ";
    for (std::size_t i = 0; i < request.display_names.size(); ++i) {
      line += (i == 0 ? "" : ", ") + request.display_names[i];
    }
    if (request.method == Method::compare_merge) line += " into " + request.out_path;
  } else {
    line = "a call that cannot be served";
  }
  const std::string answer = answer_word(reply);
  line += ": answered " + answer;
  if (answer == "fault") {
    // The reason as the reply carries it (XML-escaped).
    const std::string open = "<name>faultString</name><value><string>";
    const std::size_t from = reply.find(open);
    const std::size_t to = from == std::string::npos ? from : reply.find("</string>", from);
    if (to != std::string::npos) {
      line += " (" + reply.substr(from + open.size(), to - from - open.size()) + ")";
    }
  }
  return line;
}

RequestHandler with_call_log(RequestHandler handler) {
  return [handler = std::move(handler)](const std::string& framed) {
    std::string reply = handler(framed);
    support::log_line(call_log_line(framed, reply));
    return reply;
  };
}

std::string answer_without_window_through(const std::string& framed, Files& files) {
  // A file fault is answered at once: there is no one to show it to.
  const Preparation prep = prepare(framed, true, files);
  return prep.needs_window ? boolean_reply(false) : prep.reply;
}

std::string answer_without_window(const std::string& framed) {
  return answer_without_window_through(framed, real_files());
}

}  // namespace marlow
