#!/usr/bin/env python3
"""The per-conflict counting of bench/merge_quality.py: each conflict git's
merge leaves is found in the tool's output and in the committed file."""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "bench"))
import merge_quality  # noqa: E402


def conflict(current, other):
    return (b"<<<<<<< current\n" + current + b"=======\n" + other + b">>>>>>> other\n")


HEAD = b"one\ntwo\nthree\n"
MIDDLE = b"four\nfive\nsix\nseven\n"
TAIL = b"eight\nnine\n"
GIT = HEAD + conflict(b"a1\n", b"a2\n") + MIDDLE + conflict(b"b1\n", b"b2\n") + TAIL


class HunkOutcomes(unittest.TestCase):
    def test_each_conflict_settled_equal_different_or_left(self):
        tool = HEAD + b"a1\n" + MIDDLE + conflict(b"b1\n", b"b2\n") + TAIL
        committed = HEAD + b"a1\n" + MIDDLE + b"b2\n" + TAIL
        self.assertEqual(merge_quality.hunk_outcomes(tool, GIT, committed), ["equal", "left"])
        tool = HEAD + b"a2\n" + MIDDLE + b"b2\n" + TAIL
        self.assertEqual(merge_quality.hunk_outcomes(tool, GIT, committed),
                         ["different", "equal"])

    def test_a_file_equal_to_the_committed_one_settles_every_conflict_equal(self):
        committed = HEAD + b"a1\nb\n" + MIDDLE + b"b1\nb2\n" + TAIL
        self.assertEqual(merge_quality.hunk_outcomes(committed, GIT, committed),
                         ["equal", "equal"])

    def test_edits_elsewhere_in_the_committed_file_do_not_hide_a_resolution(self):
        tool = HEAD + b"a1\n" + MIDDLE + b"b1\nb2\n" + TAIL
        committed = b"zero\n" + HEAD + b"a1\n" + b"four\nFIVE\nsix\nseven\n" + b"b1\nb2\n" + TAIL
        self.assertEqual(merge_quality.hunk_outcomes(tool, GIT, committed), ["equal", "equal"])

    def test_a_resolution_that_deletes_the_conflict_and_one_that_keeps_markers(self):
        tool = HEAD + MIDDLE + conflict(b"b1\n", b"b2\n") + TAIL
        committed = HEAD + MIDDLE + conflict(b"b1\n", b"b2\n") + TAIL
        self.assertEqual(merge_quality.hunk_outcomes(tool, GIT, committed), ["equal", "left"])

    def test_marked_parts_keep_line_ends_and_text_between(self):
        parts = merge_quality.marked_parts(b"x\r\n" + conflict(b"c\r\n", b"d\r\n") + b"y")
        self.assertEqual([p[0] for p in parts], ["text", "conflict", "text"])
        self.assertEqual(parts[0][1], [b"x\r\n"])
        self.assertEqual(len(parts[1][1]), 5)
        self.assertEqual(parts[2][1], [b"y"])


if __name__ == "__main__":
    unittest.main()
