// The syntax highlighter: the tokens it finds in small texts of the
// languages built in, what it does with files of no known kind, with
// broken text, with line ends and characters of more than one byte.
#include "engine/highlight.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace marlow {
namespace {

using testing::Contains;
using testing::Not;

// The grammars come from npm packages that tools/install-deps.sh installs;
// a build configured without them has none (and says so).
#define SKIP_WITHOUT_GRAMMARS()                                                   \
  if (syntax_names().empty())                                                     \
  GTEST_SKIP() << "no grammars were built in: run tools/install-deps.sh gui and " \
                  "configure again"

// A token as the test reads it: its line, its text and its class.
using Seen = std::tuple<std::size_t, std::string, std::string>;

std::vector<std::string_view> views(const std::vector<std::string>& lines) {
  return {lines.begin(), lines.end()};
}

std::vector<std::string> split(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Every token of `lines` highlighted as a file named `name`, checking on
// the way that each lies inside its line and after the one before it.
std::vector<Seen> tokens_of(const std::string& name, const std::vector<std::string>& lines) {
  const SyntaxLanguage* language = syntax_for_file(name);
  EXPECT_NE(language, nullptr) << name;
  if (language == nullptr) return {};
  const std::optional<LineTokens> tokens = highlight_lines(*language, views(lines));
  EXPECT_TRUE(tokens.has_value());
  if (!tokens) return {};
  EXPECT_EQ(tokens->line_count(), lines.size());
  std::vector<Seen> seen;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::size_t end = 0;
    for (const Token& t : tokens->line(i)) {
      EXPECT_GE(t.start, end) << "line " << i << ": tokens overlap or are out of order";
      EXPECT_GT(t.length, 0u);
      EXPECT_LE(t.start + t.length, lines[i].size()) << "line " << i;
      end = t.start + t.length;
      seen.emplace_back(i, lines[i].substr(t.start, t.length),
                        std::string(token_class_name(t.kind)));
    }
  }
  return seen;
}

TEST(Highlight, CTokensByClass) {
  SKIP_WITHOUT_GRAMMARS();
  const auto seen = tokens_of("src/main.c", split("#include <stdio.h>\n"
                                                  "/* a comment\n"
                                                  "   over two lines */\n"
                                                  "int main(void) {\n"
                                                  "  return puts(\"hi\") + 42; // done\n"
                                                  "}\n"));
  EXPECT_THAT(seen, Contains(Seen{0, "#include", "preprocessor"}));
  EXPECT_THAT(seen, Contains(Seen{0, "<stdio.h>", "string"}));
  // A comment over two lines is a token on each, within each line.
  EXPECT_THAT(seen, Contains(Seen{1, "/* a comment", "comment"}));
  EXPECT_THAT(seen, Contains(Seen{2, "   over two lines */", "comment"}));
  EXPECT_THAT(seen, Contains(Seen{3, "int", "type"}));
  EXPECT_THAT(seen, Contains(Seen{3, "main", "function"}));
  EXPECT_THAT(seen, Contains(Seen{4, "return", "keyword"}));
  EXPECT_THAT(seen, Contains(Seen{4, "puts", "function"}));
  EXPECT_THAT(seen, Contains(Seen{4, "\"hi\"", "string"}));
  EXPECT_THAT(seen, Contains(Seen{4, "42", "number"}));
  EXPECT_THAT(seen, Contains(Seen{4, "// done", "comment"}));
}

TEST(Highlight, PythonAndOtherLanguagesByExtension) {
  SKIP_WITHOUT_GRAMMARS();
  const auto py = tokens_of("tool.PY", split("import os\n"
                                             "def f(x):\n"
                                             "    return 'it''s' if x else None  # note\n"));
  EXPECT_THAT(py, Contains(Seen{0, "import", "keyword"}));
  EXPECT_THAT(py, Contains(Seen{1, "def", "keyword"}));
  EXPECT_THAT(py, Contains(Seen{1, "f", "function"}));
  EXPECT_THAT(py, Contains(Seen{2, "return", "keyword"}));
  EXPECT_THAT(py, Contains(Seen{2, "None", "constant"}));
  EXPECT_THAT(py, Contains(Seen{2, "# note", "comment"}));
  // Two string pieces next to each other: one token, not two.
  EXPECT_THAT(py, Contains(Seen{2, "'it''s'", "string"}));

  // A C++ class, with the C patterns under the C++ ones.
  const auto cpp = tokens_of("a/b.hpp", split("namespace n { class Widget {}; }\n"));
  EXPECT_THAT(cpp, Contains(Seen{0, "namespace", "keyword"}));
  EXPECT_THAT(cpp, Contains(Seen{0, "class", "keyword"}));
  EXPECT_THAT(cpp, Contains(Seen{0, "Widget", "type"}));
  EXPECT_THAT(tokens_of("run.sh", split("if true; then echo \"x\"; fi\n")),
              Contains(Seen{0, "\"x\"", "string"}));
  EXPECT_THAT(tokens_of("app.ts", split("const n: number = 1;\n")),
              Contains(Seen{0, "const", "keyword"}));
}

TEST(Highlight, FileNamesOfNoKnownKind) {
  SKIP_WITHOUT_GRAMMARS();
  EXPECT_EQ(syntax_for_file("notes.txt"), nullptr);
  EXPECT_EQ(syntax_for_file("Makefile"), nullptr);
  EXPECT_EQ(syntax_for_file("trailing."), nullptr);
  EXPECT_EQ(syntax_for_file(""), nullptr);
  // Only the file's own name counts, not a directory's.
  EXPECT_EQ(syntax_for_file("src.c/README"), nullptr);
  EXPECT_EQ(syntax_for_file("C:\\work\\x.py\\notes"), nullptr);
  ASSERT_NE(syntax_for_file("C:\\work\\x.py"), nullptr);
  EXPECT_EQ(syntax_name(*syntax_for_file("C:\\work\\x.py")), "python");
  EXPECT_EQ(syntax_name(*syntax_for_file("x.c")), "c");
  EXPECT_EQ(syntax_name(*syntax_for_file("x.h")), "cpp");
}

TEST(Highlight, BrokenTextGetsWhatTokensItHasWithoutCrashOrHang) {
  SKIP_WITHOUT_GRAMMARS();
  std::vector<std::string> lines = {"int f( { return \"unterminated;", "}}}} ))) /* open",
                                    std::string("\xff\xfe bytes \xc3 not UTF-8 \x80", 23),
                                    std::string("nul \0 inside", 12)};
  // Deep nesting, which a recursive parser would overflow its stack on.
  lines.push_back(std::string(20000, '(') + "x" + std::string(20000, ')'));
  lines.push_back(std::string(4000, '{'));
  for (const char* name : {"broken.c", "broken.cpp", "broken.py", "broken.js", "broken.sh"}) {
    const auto start = std::chrono::steady_clock::now();
    const auto seen = tokens_of(name, lines);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20)) << name;
  }
  EXPECT_THAT(tokens_of("broken.c", lines), Contains(Seen{0, "int", "type"}));
  // No lines at all, and one empty line.
  EXPECT_TRUE(highlight_lines(*syntax_for_file("e.c"), {}).has_value());
  EXPECT_THAT(tokens_of("e.c", {""}), testing::IsEmpty());
}

TEST(Highlight, StopsWhenCancelled) {
  SKIP_WITHOUT_GRAMMARS();
  std::vector<std::string> lines(20000, "int value = compute(1, \"two\"); /* three */");
  std::atomic<bool> cancel{true};
  EXPECT_FALSE(highlight_lines(*syntax_for_file("big.c"), views(lines), &cancel).has_value());
  cancel = false;
  const auto tokens = highlight_lines(*syntax_for_file("big.c"), views(lines), &cancel);
  ASSERT_TRUE(tokens.has_value());
  EXPECT_EQ(tokens->line_count(), lines.size());
  EXPECT_EQ(tokens->line(19999).size(), tokens->line(0).size());
  EXPECT_TRUE(tokens->line(20000).empty());
}

TEST(Highlight, CarriageReturnsAndMultiByteCharacters) {
  SKIP_WITHOUT_GRAMMARS();
  const std::vector<std::string> lf = {"s = \"h\xc3\xa9llo\"  # \xc3\xbc \xf0\x9f\x98\x80",
                                       "x = 1  # end"};
  std::vector<std::string> crlf = lf;
  for (std::string& line : crlf) line += '\r';
  const auto seen_lf = tokens_of("u.py", lf);
  // Byte offsets: the string is 8 bytes, é taking two.
  EXPECT_THAT(seen_lf, Contains(Seen{0, "\"h\xc3\xa9llo\"", "string"}));
  EXPECT_THAT(seen_lf, Contains(Seen{0, "# \xc3\xbc \xf0\x9f\x98\x80", "comment"}));
  // A carriage return before the line's end changes no token and is in none.
  const auto seen_crlf = tokens_of("u.py", crlf);
  EXPECT_EQ(seen_crlf, seen_lf);
  EXPECT_THAT(seen_crlf, Not(Contains(Seen{1, "# end\r", "comment"})));
}

TEST(Highlight, LongTextsAreParsedInPiecesThatKeepWhatSpansTheirEnds) {
  SKIP_WITHOUT_GRAMMARS();
  // A text of many pieces whose only likely ends of a piece (a blank line,
  // then a line at the left edge) lie inside comments, one every thousand
  // lines: wherever a piece is cut, the comment it was cut in stays whole.
  std::vector<std::string> lines;
  std::vector<std::size_t> left_edges;
  while (lines.size() < 20000) {
    while (lines.size() % 1000 != 990)
      lines.push_back("  int a" + std::to_string(lines.size()) + ";");
    lines.push_back("/* open");
    lines.push_back("");
    left_edges.push_back(lines.size());
    lines.push_back("left edge, still inside */");
    lines.push_back("int after;");
  }
  lines.push_back("int f() { return \"s\"; }");
  const auto seen = tokens_of("pieces.c", lines);
  for (const std::size_t line : left_edges) {
    EXPECT_THAT(seen, Contains(Seen{line, "left edge, still inside */", "comment"})) << line;
    EXPECT_THAT(seen, Contains(Seen{line + 1, "int", "type"})) << line;
  }
  EXPECT_THAT(seen, Contains(Seen{lines.size() - 1, "\"s\"", "string"}));
  EXPECT_THAT(seen, Contains(Seen{lines.size() - 1, "return", "keyword"}));
}

TEST(Highlight, TokenLongerThanALengthHolds) {
  SKIP_WITHOUT_GRAMMARS();
  const std::string body(70000, 'a');
  const std::vector<std::string> lines = {"char* s = \"" + body + "\";"};
  const auto tokens = highlight_lines(*syntax_for_file("long.c"), views(lines));
  ASSERT_TRUE(tokens.has_value());
  std::size_t string_bytes = 0;
  std::size_t next = 10;
  for (const Token& t : tokens->line(0)) {
    if (t.kind != TokenClass::string) continue;
    EXPECT_EQ(t.start, next);
    next = t.start + t.length;
    string_bytes += t.length;
  }
  EXPECT_EQ(string_bytes, body.size() + 2);
}

}  // namespace
}  // namespace marlow
