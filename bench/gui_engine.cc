// The graphical client's engine on large texts: decoding and encoding, line
// differences (libgit2), the aligned blocks of a comparison and the regions
// of a three-way merge. Each figure stands beside its floor, the libgit2
// line difference of the same texts, which every comparison and merge pays.
//
// Usage: gui_engine [lines] [runs]   (default 200000 lines, 9 runs; 0 runs: the
// merge's peak memory alone)
// Writes a Markdown table to standard output.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "engine/diff.h"
#include "engine/text_codec.h"
#include "tests/testlib/proc_usage.h"

namespace {

using Clock = std::chrono::steady_clock;

// The median of `runs` timings of `work`, in milliseconds.
double median_ms(int runs, const std::function<void()>& work) {
  std::vector<double> ms;
  for (int i = 0; i < runs; ++i) {
    const Clock::time_point start = Clock::now();
    work();
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  std::sort(ms.begin(), ms.end());
  return ms[ms.size() / 2];
}

// A source-like text of `lines` lines; `variant` changes about one line in
// a hundred (and inserts one line in a thousand) at places of its own.
std::string text(std::size_t lines, unsigned variant) {
  std::string out;
  out.reserve(lines * 40);
  unsigned state = 12345;
  for (std::size_t i = 0; i < lines; ++i) {
    state = state * 1103515245u + 12345u;
    out += "    value_" + std::to_string(i % 977) + " = compute(" + std::to_string(i) + ");";
    if (variant != 0 && (i * 7 + variant * 13) % 100 == 0)
      out += " // changed " + std::to_string(variant);
    out += '\n';
    if (variant != 0 && (i * 3 + variant * 31) % 1000 == 0) out += "    inserted();\n";
  }
  out.shrink_to_fit();
  return out;
}

long peak_rss_kib() { return testlib::status_kib("self", "VmHWM"); }

// The three texts of a merge, decoded: each file's lines view its bytes.
std::vector<std::vector<marlow::Line>> decoded_texts(std::size_t lines, std::size_t* input_bytes) {
  using namespace marlow;
  std::vector<std::vector<Line>> texts;
  *input_bytes = 0;
  for (unsigned variant = 0; variant < 3; ++variant) {
    std::string bytes = text(lines, variant);
    *input_bytes += bytes.size();
    texts.push_back(std::move(decode_text(std::move(bytes), Encoding::automatic).value().lines));
  }
  return texts;
}

// The peak resident memory of `work` run in a child process of its own, in
// KiB (so that nothing else has raised it), or -1.
long child_peak_kib(const std::function<bool()>& work) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    close(fds[0]);
    const long peak = work() ? peak_rss_kib() : -1;
    const ssize_t n = write(fds[1], &peak, sizeof peak);
    _exit(n == sizeof peak ? 0 : 1);
  }
  close(fds[1]);
  long peak = -1;
  if (read(fds[0], &peak, sizeof peak) != sizeof peak) peak = -1;
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return peak;
}

// A three-way merge as the merge window and tarnwickmerge make it: the
// three files decoded, the merge's regions, and the merged text with
// conflict markers.
bool merge_work(std::size_t lines) {
  using namespace marlow;
  std::size_t input_bytes = 0;
  const std::vector<std::vector<Line>> texts = decoded_texts(lines, &input_bytes);
  const MergePlan plan = plan_merge(texts);
  return !render_with_markers(plan, {"base", "mine", "theirs"}).empty();
}

// Its floor: the same three files decoded, and the two libgit2 line diffs
// (base against each side) that every merge is built on.
bool merge_floor_work(std::size_t lines) {
  using namespace marlow;
  std::size_t input_bytes = 0;
  const std::vector<std::vector<Line>> texts = decoded_texts(lines, &input_bytes);
  return !diff_lines(texts[0], texts[1]).empty() && !diff_lines(texts[0], texts[2]).empty();
}

void row(const char* what, double ms, double floor_ms) {
  std::printf("| %s | %.1f | %.1f |\n", what, ms, floor_ms);
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t lines = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 200000;
  const int runs = argc > 2 ? std::atoi(argv[2]) : 9;
  using namespace marlow;

  // Memory first, each in a child of its own: peak resident sizes.
  const long start_kib = child_peak_kib([] { return true; });
  const long merge_peak = child_peak_kib([lines] { return merge_work(lines); });
  const long floor_peak = child_peak_kib([lines] { return merge_floor_work(lines); });
  std::size_t input_bytes = 0;
  for (unsigned variant = 0; variant < 3; ++variant) input_bytes += text(lines, variant).size();
  if (runs <= 0) {  // the memory figure alone, for a heap profiler
    merge_work(lines);
    std::printf("Peak resident memory: %ld KiB\n", peak_rss_kib());
    return 0;
  }
  const std::string base_bytes = text(lines, 0);
  const std::string mine_bytes = text(lines, 1);
  const std::string theirs_bytes = text(lines, 2);
  const std::vector<Line> base = decode_text(base_bytes, Encoding::automatic).value().lines;
  const std::vector<Line> mine = decode_text(mine_bytes, Encoding::automatic).value().lines;
  const std::vector<Line> theirs = decode_text(theirs_bytes, Encoding::automatic).value().lines;
  TextDocument utf16 = decode_text(base_bytes, Encoding::utf8).value();
  utf16.encoding = Encoding::utf16le;
  utf16.bom = true;
  const std::string utf16_bytes = encode_text(utf16).value();

  std::size_t sink = 0;
  const double diff_ms = median_ms(runs, [&] { sink += diff_lines(base, mine).size(); });
  const double diff3_ms = median_ms(
      runs, [&] { sink += diff_lines(base, mine).size() + diff_lines(base, theirs).size(); });
  const double align_ms = median_ms(runs, [&] { sink += align(base, mine).size(); });
  const double merge_ms = median_ms(runs, [&] {
    sink += plan_merge({base, mine, theirs}).regions.size();
  });
  const double decode_ms = median_ms(
      runs, [&] { sink += decode_text(base_bytes, Encoding::automatic).value().lines.size(); });
  const double decode16_ms = median_ms(
      runs, [&] { sink += decode_text(utf16_bytes, Encoding::utf16le).value().lines.size(); });
  const double encode16_ms = median_ms(runs, [&] { sink += encode_text(utf16).value().size(); });
  const double split_ms = median_ms(runs, [&] { sink += split_lines(base_bytes).size(); });

  std::printf("%zu lines (%.1f MB), %zu hunks between base and mine, median of %d runs.\n\n", lines,
              static_cast<double>(base_bytes.size()) / 1e6, diff_lines(base, mine).size(), runs);
  std::printf("| Step | ms | floor ms |\n|---|---:|---:|\n");
  row("comparison blocks (align), floor: one libgit2 line diff", align_ms, diff_ms);
  row("three-way merge regions (plan_merge), floor: two libgit2 line diffs", merge_ms, diff3_ms);
  row("decode, automatic (UTF-8 check and lines), floor: splitting lines", decode_ms, split_ms);
  row("decode UTF-16LE with mark, floor: splitting lines", decode16_ms, split_ms);
  row("encode UTF-16LE with mark, floor: splitting lines", encode16_ms, split_ms);
  const double mb = static_cast<double>(input_bytes) / 1e6;
  const auto times_input = [&](long kib) {
    return static_cast<double>(kib) * 1024 / static_cast<double>(input_bytes);
  };
  std::printf(
      "\nPeak resident memory: %ld KiB for a three-way merge of three texts of %.1f MB "
      "each (%.1f MB in all): %.1f× the input. Floor: %ld KiB (%.1f×), the three texts "
      "decoded and the two libgit2 line diffs the merge is built on. Each in a process of "
      "its own that holds %ld KiB before it begins.\n\n",
      merge_peak, static_cast<double>(base_bytes.size()) / 1e6, mb, times_input(merge_peak),
      floor_peak, times_input(floor_peak), start_kib);
  return sink == 0 ? 1 : 0;
}
