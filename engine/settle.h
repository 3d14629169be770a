// Settling a line conflict of a three-way merge from the structure of the
// two changes. By default: both sides raised the same version numbers (the
// higher stays). On request, finer rules: one side's change is already in
// the other side's lines (that side stays); the merge redone over words
// (or characters) of the conflict, settling only when every change of one
// side stands clear of every change of the other or both made the same
// change; and one side's change of blanks giving way to the other's change
// of content.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "engine/text_codec.h"

namespace marlow {

// What settled a conflict; `none` for one left to the user.
enum class SettleRule {
  none,
  whitespace,  // one side changed only spaces, tabs or line ends
  words,       // the two sides' changes touch different words
  touching,    // the two sides' changes meet but do not overlap
  characters,  // the two sides' changes touch different characters
  contained,   // one side's change is already in the other side's lines
  versions,    // both sides raised the same version numbers: the higher stays
  bump,        // one side only changed version numbers: the other side's change stays
  deletion,    // one side deleted the lines the other changed: they stay deleted
  releases,    // both sides added a release section at one place: both stay, newest first
};

// Which rules the engine may use.
struct SettleOptions {
  // On by default: the rules that, measured conflict by conflict on real
  // merges, settle at least twenty as their authors did for each one
  // settled otherwise (docs/merge-quality.md). The others are there to be
  // asked for: `contained` is right about seven times in eight, the finer
  // ones about as often wrong as right.
  bool whitespace = false;
  bool words = false;
  bool touching = false;
  bool characters = false;
  bool contained = false;
  bool versions = true;
  bool bump = false;
  // With `versions`: also lists of versioned lines with lines added or removed.
  bool version_lists = false;
  bool deletion = false;
  // Finer rules only where no line holds changes of both sides.
  bool separate_lines = true;
  bool releases = false;
  // With `whitespace`: only where the side that changed blanks kept every line.
  bool whitespace_lines = false;

  static SettleOptions none() {
    return SettleOptions{false, false, false, false, false, false,
                         false, false, false, true,  false, false};
  }
};

struct Settlement {
  SettleRule rule = SettleRule::none;
  std::vector<Line> lines;
};

// The merged lines of a conflict whose base lines are `base` and whose two
// sides' lines are `one` and `other`, or nullopt when no allowed rule
// settles it. `after` holds base lines that follow the conflict (as many as
// the caller has at hand; `releases` looks there for the section the new
// ones go above). The result is made of the three texts' own bytes.
std::optional<Settlement> settle_conflict(const std::vector<Line>& base,
                                          const std::vector<Line>& one,
                                          const std::vector<Line>& other,
                                          const SettleOptions& options,
                                          const std::vector<Line>& after = {});

}  // namespace marlow
