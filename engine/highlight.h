// Syntax highlighting of a text's lines, without any toolkit: which
// language a file name stands for, and for each line the byte ranges of its
// tokens with their class (keyword, string, comment...). The grammars and
// their highlight queries are built in (cmake/tree-sitter-grammars.txt);
// a file of any other kind has no tokens.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace marlow {

// The classes a token can have: few, so that a view can give each a colour.
enum class TokenClass : std::uint8_t {
  keyword,
  type,
  function,
  string,
  comment,
  number,
  constant,
  preprocessor,
};
inline constexpr std::size_t kTokenClassCount = 8;
std::string_view token_class_name(TokenClass kind);

// `length` bytes of a line's text from byte `start`. A token longer than a
// length can hold comes as several tokens one after the other.
struct Token {
  std::uint32_t start = 0;
  std::uint16_t length = 0;
  TokenClass kind = TokenClass::keyword;
  bool operator==(const Token&) const = default;
};

// The tokens of every line of a text, sorted by start and never
// overlapping, kept in one block (a text of many lines has few tokens per
// line: a vector per line would cost more than its tokens).
class LineTokens {
 public:
  std::size_t line_count() const { return firsts_.empty() ? 0 : firsts_.size() - 1; }
  // The tokens of line `line`; none past the last line.
  std::span<const Token> line(std::size_t line) const;
  std::size_t token_count() const { return tokens_.size(); }

 private:
  friend class LineTokensBuilder;
  std::vector<Token> tokens_;
  std::vector<std::uint32_t> firsts_;  // line i's tokens: [firsts_[i], firsts_[i + 1])
};

class SyntaxLanguage;

// The language a file is highlighted as, by its name's extension (any
// directories before it are ignored, case too); nullptr when none is built in.
const SyntaxLanguage* syntax_for_file(std::string_view file_name);
// "c", "cpp", "python"...
std::string_view syntax_name(const SyntaxLanguage& language);
// The names of the languages built in.
std::vector<std::string> syntax_names();

// The tokens of `lines` (each without its line end; a carriage return at a
// line's end is left out of its tokens) in `language`. Runs on any thread;
// nullopt when `cancel` turned true before it finished, or when the text
// could not be parsed at all. Text that is not valid in the language still
// gets the tokens of the parts that are.
std::optional<LineTokens> highlight_lines(const SyntaxLanguage& language,
                                          const std::vector<std::string_view>& lines,
                                          const std::atomic<bool>* cancel = nullptr);

}  // namespace marlow
