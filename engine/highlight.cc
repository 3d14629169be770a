#include "engine/highlight.h"

#include <tree_sitter/api.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <memory>
#include <mutex>
#include <regex>
#include <utility>

#include "engine/highlight_grammars.h"

namespace marlow {

namespace hd = highlight_detail;

std::string_view token_class_name(TokenClass kind) {
  static constexpr std::array<std::string_view, kTokenClassCount> kNames = {
      "keyword", "type", "function", "string", "comment", "number", "constant", "preprocessor"};
  return kNames[static_cast<std::size_t>(kind)];
}

std::span<const Token> LineTokens::line(std::size_t line) const {
  if (line + 1 >= firsts_.size()) return {};
  return std::span<const Token>(tokens_.data() + firsts_[line], firsts_[line + 1] - firsts_[line]);
}

// Gathers the tokens line by line, in order.
class LineTokensBuilder {
 public:
  explicit LineTokensBuilder(std::size_t lines) { out_.firsts_.reserve(lines + 1); }

  // Tokens come by line, and by start within a line.
  void add(std::size_t line, std::size_t start, std::size_t length, TokenClass kind) {
    close_lines_before(line);
    while (length > 0) {
      const auto piece = static_cast<std::uint16_t>(std::min<std::size_t>(length, UINT16_MAX));
      if (!joins_last(line, start, piece, kind)) {
        out_.tokens_.push_back(Token{static_cast<std::uint32_t>(start), piece, kind});
      }
      start += piece;
      length -= piece;
    }
  }

  LineTokens finish(std::size_t lines) {
    // The entry after the last line's is where its tokens end.
    close_lines_before(lines);
    out_.tokens_.shrink_to_fit();
    return std::move(out_);
  }

 private:
  // Lines [firsts_.size(), line) get their first token index.
  void close_lines_before(std::size_t line) {
    while (out_.firsts_.size() <= line) {
      out_.firsts_.push_back(static_cast<std::uint32_t>(out_.tokens_.size()));
    }
  }
  // A token right after one of the same class on the line lengthens it:
  // a string with an escape in it is one token, not three.
  bool joins_last(std::size_t line, std::size_t start, std::uint16_t length, TokenClass kind) {
    if (out_.tokens_.size() == out_.firsts_[line]) return false;
    Token& last = out_.tokens_.back();
    if (last.kind != kind || last.start + last.length != start ||
        last.length + std::size_t{length} > UINT16_MAX) {
      return false;
    }
    last.length = static_cast<std::uint16_t>(last.length + length);
    return true;
  }

  LineTokens out_;
};

namespace {

constexpr int kPlain = -1;

// A query's capture name ("function.method", "string.special") to a class,
// kPlain for what the panes leave in the text's colour (operators,
// punctuation, variables, properties).
int class_of_capture(std::string_view name) {
  const std::string_view head = name.substr(0, name.find('.'));
  const auto is = [&](std::string_view what) { return head == what; };
  if (name == "variable.builtin") return static_cast<int>(TokenClass::keyword);
  if (is("keyword") || is("include") || is("conditional") || is("repeat") || is("exception"))
    return static_cast<int>(TokenClass::keyword);
  if (is("type") || is("constructor")) return static_cast<int>(TokenClass::type);
  if (is("function") || is("method")) return static_cast<int>(TokenClass::function);
  if (is("string") || is("escape") || is("character")) return static_cast<int>(TokenClass::string);
  if (is("comment")) return static_cast<int>(TokenClass::comment);
  if (is("number") || is("float")) return static_cast<int>(TokenClass::number);
  if (is("constant") || is("boolean")) return static_cast<int>(TokenClass::constant);
  if (is("attribute") || is("preproc")) return static_cast<int>(TokenClass::preprocessor);
  return kPlain;
}

// A text predicate of a pattern ("#match? @constant \"^[A-Z]\"").
struct Predicate {
  enum class Kind { match, eq_string, eq_capture, any_of };
  Kind kind = Kind::match;
  bool negated = false;
  std::uint32_t capture = 0;
  std::uint32_t other_capture = 0;
  std::vector<std::string> strings;
  std::shared_ptr<const std::regex> regex;  // null: a pattern that could not be read
};

struct QueryDeleter {
  void operator()(TSQuery* query) const { ts_query_delete(query); }
};
struct ParserDeleter {
  void operator()(TSParser* parser) const { ts_parser_delete(parser); }
};
struct TreeDeleter {
  void operator()(TSTree* tree) const { ts_tree_delete(tree); }
};
struct CursorDeleter {
  void operator()(TSQueryCursor* cursor) const { ts_query_cursor_delete(cursor); }
};

}  // namespace

class SyntaxLanguage {
 public:
  explicit SyntaxLanguage(const hd::Grammar* grammar) : grammar_(grammar) {}

  const hd::Grammar& grammar() const { return *grammar_; }

  // The query, read once on first use from any thread; null when the
  // grammar or its query could not be loaded.
  const TSQuery* query() const {
    std::call_once(once_, [this] { load(); });
    return query_.get();
  }
  int capture_class(std::uint32_t capture) const {
    return capture < capture_classes_.size() ? capture_classes_[capture] : kPlain;
  }
  const std::vector<Predicate>& predicates(std::uint32_t pattern) const {
    static const std::vector<Predicate> kNone;
    return pattern < predicates_.size() ? predicates_[pattern] : kNone;
  }

 private:
  void load() const {
    const TSLanguage* language = grammar_->language();
    if (ts_language_version(language) > TREE_SITTER_LANGUAGE_VERSION ||
        ts_language_version(language) < TREE_SITTER_MIN_COMPATIBLE_LANGUAGE_VERSION) {
      return;
    }
    std::uint32_t error_offset = 0;
    TSQueryError error = TSQueryErrorNone;
    std::unique_ptr<TSQuery, QueryDeleter> query(
        ts_query_new(language, grammar_->query, static_cast<std::uint32_t>(grammar_->query_size),
                     &error_offset, &error));
    if (!query) return;
    const std::uint32_t captures = ts_query_capture_count(query.get());
    for (std::uint32_t i = 0; i < captures; ++i) {
      std::uint32_t length = 0;
      const char* name = ts_query_capture_name_for_id(query.get(), i, &length);
      capture_classes_.push_back(class_of_capture(std::string_view(name, length)));
    }
    const std::uint32_t patterns = ts_query_pattern_count(query.get());
    predicates_.resize(patterns);
    for (std::uint32_t p = 0; p < patterns; ++p) read_predicates(query.get(), p);
    query_ = std::move(query);
  }

  void read_predicates(const TSQuery* query, std::uint32_t pattern) const {
    std::uint32_t count = 0;
    const TSQueryPredicateStep* steps = ts_query_predicates_for_pattern(query, pattern, &count);
    const auto text = [&](const TSQueryPredicateStep& step) {
      std::uint32_t length = 0;
      const char* s = ts_query_string_value_for_id(query, step.value_id, &length);
      return std::string(s, length);
    };
    std::size_t i = 0;
    while (i < count) {
      std::size_t end = i;
      while (end < count && steps[end].type != TSQueryPredicateStepTypeDone) ++end;
      // [i, end): the predicate's name, then its arguments.
      if (end - i >= 3 && steps[i].type == TSQueryPredicateStepTypeString &&
          steps[i + 1].type == TSQueryPredicateStepTypeCapture) {
        const std::string name = text(steps[i]);
        Predicate p;
        p.capture = steps[i + 1].value_id;
        p.negated = name.starts_with("not-");
        const std::string_view base = p.negated ? std::string_view(name).substr(4) : name;
        bool known = true;
        if (base == "match?" && steps[i + 2].type == TSQueryPredicateStepTypeString) {
          p.kind = Predicate::Kind::match;
          try {
            p.regex =
                std::make_shared<const std::regex>(text(steps[i + 2]), std::regex::ECMAScript);
          } catch (const std::regex_error&) {
            // A pattern this regex dialect cannot read matches nothing.
          }
        } else if (base == "eq?" && steps[i + 2].type == TSQueryPredicateStepTypeString) {
          p.kind = Predicate::Kind::eq_string;
          p.strings.push_back(text(steps[i + 2]));
        } else if (base == "eq?") {
          p.kind = Predicate::Kind::eq_capture;
          p.other_capture = steps[i + 2].value_id;
        } else if (base == "any-of?") {
          p.kind = Predicate::Kind::any_of;
          for (std::size_t k = i + 2; k < end; ++k) {
            if (steps[k].type == TSQueryPredicateStepTypeString)
              p.strings.push_back(text(steps[k]));
          }
        } else {
          // Others ("is-not? local": about scopes) hold.
          known = false;
        }
        if (known) predicates_[pattern].push_back(std::move(p));
      }
      i = end + 1;
    }
  }

  const hd::Grammar* grammar_;
  mutable std::once_flag once_;
  mutable std::unique_ptr<TSQuery, QueryDeleter> query_;
  mutable std::vector<int> capture_classes_;
  mutable std::vector<std::vector<Predicate>> predicates_;
};

namespace {

const std::vector<std::unique_ptr<SyntaxLanguage>>& languages() {
  static const auto* all = [] {
    auto* list = new std::vector<std::unique_ptr<SyntaxLanguage>>;
    for (std::size_t i = 0; i < hd::kGrammarCount; ++i) {
      list->push_back(std::make_unique<SyntaxLanguage>(&hd::kGrammars[i]));
    }
    return list;
  }();
  return *all;
}

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// The joined text of lines [first_line, ...) that the parser reads, with
// where each line starts in it and how long its text is without a carriage
// return at its end.
struct Source {
  std::size_t first_line = 0;
  std::string text;
  std::vector<std::uint32_t> starts;
  std::vector<std::uint32_t> lengths;

  std::string_view slice(std::uint32_t from, std::uint32_t to) const {
    return std::string_view(text).substr(from, to - from);
  }
};

std::optional<Source> join(const std::vector<std::string_view>& all, std::size_t first,
                           std::size_t end) {
  const std::span<const std::string_view> lines(all.data() + first, end - first);
  Source source;
  source.first_line = first;
  std::size_t total = 0;
  for (std::string_view line : lines) total += line.size() + 1;
  // Tree-sitter counts bytes in 32 bits.
  if (total >= UINT32_MAX) return std::nullopt;
  source.text.reserve(total);
  source.starts.reserve(lines.size());
  source.lengths.reserve(lines.size());
  for (std::string_view line : lines) {
    source.starts.push_back(static_cast<std::uint32_t>(source.text.size()));
    std::size_t length = line.size();
    if (length > 0 && line[length - 1] == '\r') --length;
    source.lengths.push_back(static_cast<std::uint32_t>(length));
    source.text.append(line);
    source.text += '\n';
  }
  return source;
}

bool holds(const Predicate& p, const TSQueryMatch& match, const Source& source) {
  const auto text_of = [&](std::uint32_t capture) -> std::optional<std::string_view> {
    for (std::uint16_t i = 0; i < match.capture_count; ++i) {
      if (match.captures[i].index == capture) {
        const TSNode node = match.captures[i].node;
        return source.slice(ts_node_start_byte(node), ts_node_end_byte(node));
      }
    }
    return std::nullopt;
  };
  const std::optional<std::string_view> text = text_of(p.capture);
  if (!text) return true;
  bool result = false;
  switch (p.kind) {
    case Predicate::Kind::match:
      result = p.regex != nullptr && std::regex_search(text->begin(), text->end(), *p.regex);
      break;
    case Predicate::Kind::eq_string:
      result = *text == p.strings.front();
      break;
    case Predicate::Kind::eq_capture: {
      const std::optional<std::string_view> other = text_of(p.other_capture);
      result = !other || *text == *other;
      break;
    }
    case Predicate::Kind::any_of:
      result = std::find(p.strings.begin(), p.strings.end(), *text) != p.strings.end();
      break;
  }
  return result != p.negated;
}

// Turns the captures, which nest and come in order of their start, into
// runs of one class each: an inner capture wins over the one around it, and
// of the captures of one node the first with a class wins (the queries put
// the particular patterns before the general ones).
class Runs {
 public:
  // Tokens end at byte `limit` of the source.
  Runs(const Source& source, LineTokensBuilder* out, std::uint32_t limit)
      : source_(source), out_(out), limit_(limit) {}

  void capture(std::uint32_t start, std::uint32_t end, int kind) {
    if (end <= start) return;
    while (!open_.empty() && open_.back().end <= start) close_top();
    start = std::max(start, pos_);
    if (!open_.empty()) {
      Open& top = open_.back();
      if (top.start == start && top.end == end) {
        if (top.kind == kPlain) top.kind = kind;
        return;
      }
      emit(pos_, start, top.kind);
      end = std::min(end, top.end);
    }
    pos_ = start;
    open_.push_back(Open{start, end, kind});
  }

  void finish() {
    while (!open_.empty()) close_top();
  }

 private:
  struct Open {
    std::uint32_t start;
    std::uint32_t end;
    int kind;
  };

  void close_top() {
    const Open top = open_.back();
    open_.pop_back();
    emit(pos_, top.end, top.kind);
    pos_ = std::max(pos_, top.end);
  }

  // [from, to) of the joined text in class `kind`, cut at line ends.
  void emit(std::uint32_t from, std::uint32_t to, int kind) {
    to = std::min(to, limit_);
    if (kind == kPlain || to <= from) return;
    auto kind_here = static_cast<TokenClass>(kind);
    // Directives ("#include", "#define") are keywords to the C grammars.
    if (kind_here == TokenClass::keyword && source_.text[from] == '#')
      kind_here = TokenClass::preprocessor;
    while (line_ + 1 < source_.starts.size() && source_.starts[line_ + 1] <= from) ++line_;
    for (std::size_t line = line_; line < source_.starts.size(); ++line) {
      const std::uint32_t line_start = source_.starts[line];
      if (line_start >= to) break;
      const std::uint32_t a = std::max(from, line_start);
      const std::uint32_t b = std::min(to, line_start + source_.lengths[line]);
      if (b > a) out_->add(source_.first_line + line, a - line_start, b - a, kind_here);
    }
  }

  const Source& source_;
  LineTokensBuilder* out_;
  std::vector<Open> open_;
  std::uint32_t limit_;
  std::uint32_t pos_ = 0;
  std::size_t line_ = 0;
};

// How many lines a piece of text parsed on its own has at least.
constexpr std::size_t kPieceLines = 2000;

// Whether line `i` may begin a piece parsed on its own: one at the left
// edge after a blank line, where most languages begin a top-level item
// (a function, a class); a closing bracket there ends one.
bool starts_piece(const std::vector<std::string_view>& lines, std::size_t i) {
  const auto blank = [](std::string_view line) {
    return line.find_first_not_of(" \t\r\f\v") == std::string_view::npos;
  };
  if (i == 0 || i >= lines.size() || !blank(lines[i - 1]) || blank(lines[i])) return false;
  const char c = lines[i][0];
  return c != ' ' && c != '\t' && c != '}' && c != ')' && c != ']';
}

// Where a piece that should end near line `from` ends: at the first line
// from there that may begin the next piece, at the latest a piece's length
// further, or at the end of the text.
std::size_t piece_end(const std::vector<std::string_view>& lines, std::size_t from) {
  const std::size_t limit = std::min(lines.size(), from + kPieceLines);
  for (std::size_t i = from; i < limit; ++i) {
    if (starts_piece(lines, i)) return i;
  }
  return limit;
}

// The line (of the piece) where a parsed piece's last item begins when
// that item is broken; nullopt when it is whole.
std::optional<std::size_t> broken_end(TSNode root) {
  const std::uint32_t children = ts_node_child_count(root);
  if (children == 0) return std::nullopt;
  const TSNode last = ts_node_child(root, children - 1);
  if (!ts_node_has_error(last)) return std::nullopt;
  return ts_node_start_point(last).row;
}

}  // namespace

const SyntaxLanguage* syntax_for_file(std::string_view file_name) {
  const std::size_t slash = file_name.find_last_of("/\\");
  const std::string_view base =
      slash == std::string_view::npos ? file_name : file_name.substr(slash + 1);
  const std::size_t dot = base.rfind('.');
  if (dot == std::string_view::npos || dot + 1 == base.size()) return nullptr;
  const std::string extension = " " + lower(base.substr(dot + 1)) + " ";
  for (const auto& language : languages()) {
    if (std::string_view(language->grammar().extensions).find(extension) != std::string_view::npos)
      return language.get();
  }
  return nullptr;
}

std::string_view syntax_name(const SyntaxLanguage& language) { return language.grammar().name; }

std::vector<std::string> syntax_names() {
  std::vector<std::string> names;
  for (const auto& language : languages()) names.emplace_back(language->grammar().name);
  return names;
}

std::optional<LineTokens> highlight_lines(const SyntaxLanguage& language,
                                          const std::vector<std::string_view>& lines,
                                          const std::atomic<bool>* cancel) {
  const auto cancelled = [cancel] {
    return cancel != nullptr && cancel->load(std::memory_order_relaxed);
  };
  const TSQuery* query = language.query();
  if (query == nullptr) return std::nullopt;
  std::unique_ptr<TSParser, ParserDeleter> parser(ts_parser_new());
  if (!ts_parser_set_language(parser.get(), language.grammar().language())) return std::nullopt;
  // The parse stops every few milliseconds to look whether it is still
  // wanted, and goes on where it stopped when it is.
  ts_parser_set_timeout_micros(parser.get(), 20000);
  std::unique_ptr<TSQueryCursor, CursorDeleter> cursor(ts_query_cursor_new());
  LineTokensBuilder builder(lines.size());

  // The text is parsed a piece at a time: a syntax tree takes some thirty
  // times the bytes of its text, and a piece's goes before the next is made.
  std::size_t first = 0;
  while (first < lines.size()) {
    std::size_t end = piece_end(lines, first + kPieceLines);
    // Lines [first, keep) take this parse's tokens.
    std::size_t keep = end;
    std::optional<Source> source;
    std::unique_ptr<TSTree, TreeDeleter> tree;
    for (int tries = 0;; ++tries) {
      source = join(lines, first, end);
      if (!source) return std::nullopt;
      tree.reset();
      ts_parser_reset(parser.get());
      while (!tree) {
        if (cancelled()) return std::nullopt;
        tree.reset(ts_parser_parse_string(parser.get(), nullptr, source->text.data(),
                                          static_cast<std::uint32_t>(source->text.size())));
      }
      keep = end;
      if (end == lines.size()) break;
      // A piece whose last item is broken was most likely cut inside it (a
      // comment, a string, a function): the next piece begins with the line
      // it begins on. A piece of one broken item is parsed again twice as
      // long, up to twice.
      const std::optional<std::size_t> broken = broken_end(ts_tree_root_node(tree.get()));
      if (!broken) break;
      if (*broken > 0) {
        keep = first + *broken;
        break;
      }
      if (tries == 2) break;
      end = piece_end(lines, end + (end - first));
    }

    const std::uint32_t kept_bytes = keep == end ? UINT32_MAX : source->starts[keep - first];
    Runs runs(*source, &builder, kept_bytes);
    ts_query_cursor_set_byte_range(cursor.get(), 0, kept_bytes);
    ts_query_cursor_exec(cursor.get(), query, ts_tree_root_node(tree.get()));
    TSQueryMatch match;
    std::uint32_t index = 0;
    std::size_t seen = 0;
    while (ts_query_cursor_next_capture(cursor.get(), &match, &index)) {
      if (++seen % 4096 == 0 && cancelled()) return std::nullopt;
      const std::vector<Predicate>& predicates = language.predicates(match.pattern_index);
      if (!std::all_of(predicates.begin(), predicates.end(),
                       [&](const Predicate& p) { return holds(p, match, *source); })) {
        ts_query_cursor_remove_match(cursor.get(), match.id);
        continue;
      }
      const TSQueryCapture& capture = match.captures[index];
      runs.capture(ts_node_start_byte(capture.node), ts_node_end_byte(capture.node),
                   language.capture_class(capture.index));
    }
    runs.finish();
    first = keep;
  }
  return builder.finish(lines.size());
}

}  // namespace marlow
