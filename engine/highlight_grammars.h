// The grammars built in: a table that cmake/highlight-grammars.cmake
// generates from cmake/tree-sitter-grammars.txt and the grammars' packages.
#pragma once

#include <cstddef>

struct TSLanguage;

namespace marlow::highlight_detail {

struct Grammar {
  const char* name;                 // "cpp"
  const TSLanguage* (*language)();  // the parser's language function
  const char* query;                // its highlight queries, joined
  std::size_t query_size;
  const char* extensions;  // " cc cpp h ": each between blanks
};

extern const Grammar kGrammars[];
extern const std::size_t kGrammarCount;

}  // namespace marlow::highlight_detail
