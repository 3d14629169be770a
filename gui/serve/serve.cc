#include "serve/serve.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace marlow {
namespace {

namespace fs = std::filesystem;

// Opens one per-request pipe, waiting while its only instance is busy.
std::unique_ptr<platform::ClientPipe> open_request_pipe(const std::string& name,
                                                        platform::PipeAccess access) {
  std::unique_ptr<platform::ClientPipe> pipe;
  for (int attempt = 0; attempt < 10; ++attempt) {
    const platform::OpenStatus status = platform::open_client_pipe(name, access, false, &pipe);
    if (status == platform::OpenStatus::opened) return pipe;
    if (status != platform::OpenStatus::busy) break;
    platform::wait_named_pipe(name, 5000);
  }
  std::fprintf(stderr, "marlow: cannot open %s\n", name.c_str());
  return nullptr;
}

void serve_one(std::string request_name, std::string response_name, RequestHandler handler) {
  std::unique_ptr<platform::ClientPipe> in =
      open_request_pipe(request_name, platform::PipeAccess::read);
  std::unique_ptr<platform::ClientPipe> out =
      open_request_pipe(response_name, platform::PipeAccess::write);
  if (!in || !out) return;
  const std::string request = read_framed_request(*in);
  in.reset();
  const std::string reply = handler(request);
  if (!out->write(reply.data(), reply.size())) {
    std::fprintf(stderr, "marlow: the reply could not be written\n");
  }
}

bool read_whole_file(const std::string& path, std::string* out) {
  std::ifstream in(fs::path(path), std::ios::binary);
  if (!in) return false;
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) return false;
  *out = text.str();
  return true;
}

}  // namespace

std::size_t serve_notices(platform::ClientPipe& wrapper, const RequestHandler& handler) {
  NoticeSplitter splitter;
  std::size_t count = 0;
  char buffer[4096];
  for (;;) {
    std::size_t got = 0;
    if (!wrapper.read(buffer, sizeof buffer, &got) || got == 0) break;
    splitter.feed(buffer, got);
    while (auto notice = splitter.next()) {
      ++count;
      std::thread(serve_one, std::move(notice->first), std::move(notice->second), handler)
          .detach();
    }
  }
  return count;
}

TextDocument output_document(const Job& job, std::vector<Line> lines) {
  TextDocument doc;
  const Encoding named = encoding_for_type(job.request.type_name);
  const TextDocument& base = job.docs.front();
  doc.encoding = named == Encoding::automatic ? base.encoding : named;
  doc.bom = base.bom;
  doc.lines = std::move(lines);
  return doc;
}

bool write_file_replacing(const std::string& path, const std::string& bytes, std::string* error) {
  const fs::path target(path);
  fs::path temp = target;
  temp += ".marlow-" + std::to_string(platform::current_pid()) + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      std::error_code ignored;
      fs::remove(temp, ignored);
      *error = "cannot write " + temp.string();
      return false;
    }
  }
  std::error_code ec;
  fs::rename(temp, target, ec);
  if (ec) {
    std::error_code ignored;
    fs::remove(temp, ignored);
    *error = "cannot replace " + path + ": " + ec.message();
    return false;
  }
  return true;
}

bool save_output(const Job& job, std::vector<Line> lines, std::string* error) {
  const EncodeResult encoded = encode_text(output_document(job, std::move(lines)));
  if (!encoded.ok) {
    *error = "cannot encode the result: " + encoded.error;
    return false;
  }
  return write_file_replacing(job.request.out_path, encoded.bytes, error);
}

Preparation prepare(const std::string& framed, bool automatic) {
  Preparation prep;
  ParsedCall call = parse_call(framed);
  if (!call.ok) {
    prep.reply = fault_reply(call.fault_code, call.error);
    return prep;
  }
  Job& job = prep.job;
  job.request = std::move(call.request);
  const Encoding encoding = encoding_for_type(job.request.type_name);
  for (const std::string& path : job.request.contributors) {
    std::string bytes;
    if (!read_whole_file(path, &bytes)) {
      prep.reply = fault_reply(kFaultCannotServe, "cannot read " + path);
      return prep;
    }
    DecodeResult decoded = decode_text(bytes, encoding);
    if (!decoded.ok) {
      prep.reply = fault_reply(kFaultCannotServe, "cannot decode " + path + " as " +
                                                      encoding_name(encoding) + ": " +
                                                      decoded.error);
      return prep;
    }
    job.docs.push_back(std::move(decoded.doc));
  }
  if (automatic) {
    if (job.request.method == Method::compare_merge) {
      std::vector<std::vector<Line>> texts;
      for (const TextDocument& doc : job.docs) texts.push_back(doc.lines);
      if (std::optional<std::vector<Line>> merged = automatic_merge(plan_merge(texts))) {
        std::string error;
        prep.reply = save_output(job, std::move(*merged), &error)
                         ? boolean_reply(true)
                         : fault_reply(kFaultCannotServe, error);
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

std::string answer_without_window(const std::string& framed) {
  const Preparation prep = prepare(framed, true);
  return prep.needs_window ? boolean_reply(false) : prep.reply;
}

}  // namespace marlow
