// Which of the ranked resolutions of each open conflict a front end shows,
// and whether the user accepted it. A conflict left to the user shows its
// current suggestion in place of its lines but stays unsettled: only
// accepting it settles the conflict (as lines of its own kind, which a
// later edit turns into a hand edit). Suggestions are worked out once per
// conflict, when first asked for, so that a merge with many conflicts
// opens as quickly as without them.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "engine/diff.h"
#include "engine/suggest.h"

namespace marlow {

struct SuggestionPick {
  std::size_t shown = 0;  // the current suggestion, counted from 0
  bool accepted = false;  // the conflict is settled with its lines
  bool operator==(const SuggestionPick&) const = default;
};

class SuggestionPicks {
 public:
  // One entry per conflict of `plan`; `conflict_regions` holds each
  // conflict's region index. The plan must outlive the picks (or the next
  // reset).
  void reset(const MergePlan& plan, std::vector<std::size_t> conflict_regions);

  // A conflict's suggestions, likeliest first; none unless it has a base
  // (or not) and exactly two changed sides.
  const std::vector<Suggestion>& suggestions(std::size_t conflict) const;
  // How many conflicts' suggestions have been worked out so far.
  std::size_t computed() const;

  SuggestionPick pick(std::size_t conflict) const;
  void set_pick(std::size_t conflict, SuggestionPick pick);

  // The suggestion a conflict with `resolution` shows in place of its
  // lines: only an unsettled one with no block chosen, and only while it
  // has suggestions; nullptr otherwise.
  const Suggestion* shown(std::size_t conflict, const Resolution& resolution) const;
  // The pick after moving `step` places round the list (kept accepted when
  // it was); the same pick when there are fewer than two suggestions.
  SuggestionPick cycled(std::size_t conflict, int step) const;
  // The settlement accepting the current suggestion makes, nullopt when
  // there is none.
  std::optional<Resolution> accepted_resolution(std::size_t conflict) const;
  // Whether `resolution` is the accepted current suggestion, untouched since.
  bool settled_by_suggestion(std::size_t conflict, const Resolution& resolution) const;
  // "suggestion 2 of 4: word merge"; empty when the conflict has none.
  std::string label(std::size_t conflict) const;

 private:
  struct Entry {
    bool computed = false;
    std::vector<Suggestion> list;
    SuggestionPick pick;
  };
  const MergePlan* plan_ = nullptr;
  std::vector<std::size_t> regions_;
  mutable std::vector<Entry> entries_;
};

}  // namespace marlow
