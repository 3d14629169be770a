#!/usr/bin/env python3
"""Measures tarnwickmerge against git merge-file on a corpus of real merges.

The corpus is what bench/mine_merges.py writes: CORPUS/<repo>/manifest.tsv
and one directory per case with base, current, other and committed. Every
case is one that `git merge-file` leaves conflicted. For each repository and
in total the report gives: files; resolved automatically and equal to the
committed file; resolved but different; left conflicted; and the time of
tarnwickmerge and of git merge-file over the same files. Then the same per
conflict: each conflict `git merge-file -p` writes (its default style), in
files settled whole or not, is found in tarnwickmerge's output and in the
committed file by aligning the text around it, and counted as settled equal,
settled different or left; with the share of files with any conflict
settled differently. Then, per rule, what each rule alone and each rule
added to the default set changes, per file and per conflict.

With --suggestions, for every conflict tarnwickmerge leaves: whether the
committed resolution is its first suggestion (tarnwickmerge --suggest),
among the first three or among all, beside the naive list (current side,
other side, both current first); and the files that the engine's
settlements with the first suggestion everywhere make equal to the
committed file.

With --classify, the files the default rules leave conflicted are sorted by
how the committed file resolved git's conflicts (diff3 style): as the
current side, the other side, the base, both sides' lines in either order,
a sorted union, a deletion, other lines of the three versions, lines of its
own ("edited"), or with changes outside the conflicts ("outside"); a file
whose conflicts were resolved in different ways is "mixed".

Usage:
  merge_quality.py --tool BUILD/root/bin/tarnwickmerge --corpus DIR
                   [--markdown OUT.md] [--wrong-list FILE] [--no-rules-table]
                   [--classify] [--suggestions]
"""

import argparse
import collections
import os
import subprocess
import sys
import time

def cases(corpus):
    for repo in sorted(os.listdir(corpus)):
        manifest = os.path.join(corpus, repo, "manifest.tsv")
        if not os.path.exists(manifest):
            continue
        with open(manifest, encoding="utf-8", errors="surrogateescape") as f:
            for index, line in enumerate(f):
                name, merge, path = line.rstrip("\n").split("\t", 2)
                yield name, merge, path, os.path.join(corpus, repo, "%05d" % index)


def run_timed(command):
    start = time.perf_counter()
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    return result, time.perf_counter() - start


def classify(result, committed):
    if result.returncode == 0:
        return "equal" if result.stdout == committed else "different"
    if 0 < result.returncode < 128:
        return "conflicted"
    return "error"


GIT_OUTPUTS = {}


def git_output(files):
    """git merge-file -p's output (kept for the next run over the same case)."""
    key = tuple(files)
    if key not in GIT_OUTPUTS:
        GIT_OUTPUTS[key] = subprocess.run(["git", "merge-file", "-p"] + files,
                                          stdout=subprocess.PIPE).stdout
    return GIT_OUTPUTS[key]


def measure(tool, all_cases, rules, timing):
    """{repo: {"files", "equal", "different", "conflicted", "error", "time", "git_time",
    "hunks", "hunks equal", "hunks different", "hunks left", "files with a hunk different"}}"""
    table = {}
    outcomes = {}
    for name, merge, path, case in all_cases:
        files = [os.path.join(case, n) for n in ("current", "base", "other")]
        with open(os.path.join(case, "committed"), "rb") as f:
            committed = f.read()
        command = [tool, "-p"]
        if rules is not None:
            command += ["--rules", rules]
        result, took = run_timed(command + files)
        kind = classify(result, committed)
        row = table.setdefault(name, {"files": 0, "equal": 0, "different": 0, "conflicted": 0,
                                      "error": 0, "time": 0.0, "git_time": 0.0, "hunks": 0,
                                      "hunks equal": 0, "hunks different": 0, "hunks left": 0,
                                      "files with a hunk different": 0})
        row["files"] += 1
        row[kind] += 1
        row["time"] += took
        outcomes[case] = kind
        if timing:
            git_result, git_took = run_timed(["git", "merge-file", "-p"] + files)
            GIT_OUTPUTS[tuple(files)] = git_result.stdout
            row["git_time"] += git_took
        if kind != "error":
            hunks = hunk_outcomes(result.stdout, git_output(files), committed)
            row["hunks"] += len(hunks)
            for h in hunks:
                row["hunks " + h] += 1
            row["files with a hunk different"] += "different" in hunks
    return table, outcomes


def git_conflicts(case):
    """git merge-file's diff3 output as a list of ("text", lines) and
    ("conflict", current, base, other) parts."""
    files = [os.path.join(case, n) for n in ("current", "base", "other")]
    out = subprocess.run(["git", "merge-file", "-p", "--diff3"] + files,
                         stdout=subprocess.PIPE).stdout.split(b"\n")
    parts, text, i = [], [], 0
    while i < len(out):
        if out[i].startswith(b"<<<<<<< "):
            parts.append(("text", text))
            text, sides, side = [], ([], [], []), 0
            i += 1
            while not out[i].startswith(b">>>>>>> "):
                if out[i].startswith(b"||||||| "):
                    side = 1
                elif out[i] == b"=======":
                    side = 2
                else:
                    sides[side].append(out[i])
                i += 1
            parts.append(("conflict",) + sides)
        else:
            text.append(out[i])
        i += 1
    parts.append(("text", text))
    return parts


def resolution_kind(current, base, other, resolved):
    if resolved == current:
        return "current"
    if resolved == other:
        return "other"
    if resolved == base:
        return "base"
    if resolved == current + other:
        return "current+other"
    if resolved == other + current:
        return "other+current"
    if not resolved:
        return "deleted"
    if resolved == sorted(set(current + other)):
        return "sorted union"
    if set(resolved) <= set(current + other + base):
        return "lines of the three"
    return "edited"


def classify_file(case, committed):
    """How the committed file resolved each of git's conflicts: the text
    between the conflicts must be the committed file's; each conflict's
    resolution runs up to the first three lines of the text after it."""
    parts = git_conflicts(case)
    lines = committed.split(b"\n")
    at, kinds = 0, []
    for k, part in enumerate(parts):
        if part[0] == "text":
            if lines[at:at + len(part[1])] != part[1]:
                return "outside"
            at += len(part[1])
            continue
        after = parts[k + 1][1]
        if k + 2 == len(parts):
            end = len(lines) - len(after)
            if end < at or lines[end:] != after:
                return "outside"
        else:
            anchor = after[:3]
            end = next((j for j in range(at, len(lines) - len(anchor) + 1)
                        if lines[j:j + len(anchor)] == anchor), None)
            if not anchor or end is None:
                return "outside"
        kinds.append(resolution_kind(part[1], part[2], part[3], lines[at:end]))
        at = end
    return kinds[0] if len(set(kinds)) == 1 else "mixed"


def classify_conflicted(all_cases, outcomes):
    """Markdown lines: the conflicted files by resolution, overall and per file kind."""
    overall = collections.Counter()
    by_kind = collections.defaultdict(collections.Counter)
    for name, merge, path, case in all_cases:
        if outcomes[case] != "conflicted":
            continue
        with open(os.path.join(case, "committed"), "rb") as f:
            kind = classify_file(case, f.read())
        overall[kind] += 1
        base = os.path.basename(path)
        ext = os.path.splitext(base)[1] or base
        by_kind["changelog" if any(w in base.upper() for w in ("CHANGE", "HISTORY")) else ext][kind] += 1
    columns = [k for k, _ in overall.most_common()]
    lines = ["| file kind | files | " + " | ".join(columns) + " |",
             "|---|---:|" + "---:|" * len(columns)]
    rows = sorted(by_kind.items(), key=lambda item: -sum(item[1].values()))
    shown = rows[:12]
    rest = collections.Counter()
    for _, counts in rows[12:]:
        rest.update(counts)
    for label, counts in shown + [("others", rest), ("**total**", overall)]:
        lines.append("| %s | %d | " % (label, sum(counts.values())) +
                     " | ".join(str(counts[c]) for c in columns) + " |")
    return lines


MARKERS = (b"<<<<<<<", b"|||||||", b"=======", b">>>>>>>")


def marked_parts(output):
    """A merge's output with conflict markers as a list of ("text", [lines])
    and ("conflict", [block lines]) parts; lines keep their line ends."""
    parts, text, block = [], [], None
    for line in output.splitlines(keepends=True):
        if block is None and line.startswith(b"<<<<<<<"):
            parts.append(("text", text))
            text, block = [], [line]
            continue
        if block is not None:
            block.append(line)
            if line.startswith(b">>>>>>>"):
                parts.append(("conflict", block))
                block = None
            continue
        text.append(line)
    if block is not None:
        text = block + text
    parts.append(("text", text))
    return parts


class Placeholder:
    """A conflict in a sequence of lines: equal only to itself."""

    def __init__(self, index):
        self.index = index


def spans(parts, target):
    """For each conflict of `parts`, the bytes `target` (a list of lines) has
    in its place, found by aligning the text between the conflicts; None
    where the alignment cannot tell them apart from changes around them."""
    import difflib
    sequence, count = [], 0
    for part in parts:
        if part[0] == "text":
            sequence += part[1]
        else:
            sequence.append(Placeholder(count))
            count += 1
    found = [None] * count
    matcher = difflib.SequenceMatcher(None, sequence, target, autojunk=False)
    for tag, i1, i2, j1, j2 in matcher.get_opcodes():
        if tag == "equal":
            continue
        holders = [x for x in sequence[i1:i2] if isinstance(x, Placeholder)]
        if len(holders) != 1:
            continue
        # Lines of the text around the conflict that the target also has
        # at the edges of the span are not the conflict's.
        at = sequence.index(holders[0], i1, i2)
        before, after = sequence[i1:at], sequence[at + 1:i2]
        lines = target[j1:j2]
        if lines[:len(before)] != before or (after and lines[len(lines) - len(after):] != after) \
                or len(lines) < len(before) + len(after):
            continue
        found[holders[0].index] = b"".join(lines[len(before):len(lines) - len(after)])
    return found


def hunk_outcomes(tool_output, git_output, committed):
    """Per conflict git's merge leaves (its default style): "equal",
    "different" (settled otherwise than committed) or "left"."""
    git_parts = marked_parts(git_output)
    conflicts = sum(1 for p in git_parts if p[0] == "conflict")
    tool_conflicted = any(p[0] == "conflict" for p in marked_parts(tool_output))
    if tool_output == committed and not tool_conflicted:
        return ["equal"] * conflicts
    in_tool = spans(git_parts, tool_output.splitlines(keepends=True))
    in_committed = spans(git_parts, committed.splitlines(keepends=True))
    out = []
    for mine, theirs in zip(in_tool, in_committed):
        if mine is None and not tool_conflicted:
            out.append("different")
        elif mine is None or any(line.startswith(MARKERS) for line in mine.splitlines()):
            out.append("left")
        elif mine == theirs:
            out.append("equal")
        else:
            out.append("different")
    return out


def total(table):
    out = {}
    for row in table.values():
        for key, value in row.items():
            out[key] = out.get(key, 0) + value
    return out


def block_sides(block):
    """The current and other lines of a conflict block in git's default style."""
    current, other, at = [], [], 0
    for line in block[1:-1]:
        if at == 0 and line.startswith(b"|||||||"):
            at = 1
        elif at < 2 and line.rstrip(b"\r\n") == b"=======":
            at = 2
        elif at == 0:
            current.append(line)
        elif at == 2:
            other.append(line)
    return b"".join(current), b"".join(other)


def naive_list(block):
    """What a merge tool without a ranking offers: current, other, both."""
    current, other = block_sides(block)
    both = current + (b"\n" if current and not current.endswith(b"\n") else b"") + other
    out = []
    for text in (current, other, both):
        if text not in out:
            out.append(text)
    return out


def suggestion_texts(entry):
    import base64
    return [s["text"].encode("utf-8", "surrogatepass") if "text" in s
            else base64.b64decode(s["text_base64"]) for s in entry["suggestions"]]


def measure_suggestions(tool, all_cases):
    """{repo: counts}: for each conflict tarnwickmerge leaves, where the
    committed resolution stands in its suggestions and in the naive list;
    and the files that engine and first suggestions together make equal."""
    import json
    table = {}
    for name, merge, path, case in all_cases:
        files = [os.path.join(case, n) for n in ("current", "base", "other")]
        with open(os.path.join(case, "committed"), "rb") as f:
            committed = f.read()
        row = table.setdefault(name, collections.Counter())
        row["files"] += 1
        merged = subprocess.run([tool, "-p"] + files, stdout=subprocess.PIPE)
        if not 0 <= merged.returncode < 128:
            continue
        suggested = subprocess.run([tool, "--suggest"] + files, stdout=subprocess.PIPE)
        conflicts = json.loads(suggested.stdout.decode("utf-8"))["conflicts"]
        parts = marked_parts(merged.stdout)
        blocks = [p[1] for p in parts if p[0] == "conflict"]
        if len(blocks) != len(conflicts):
            row["mismatched files"] += 1
            continue
        resolutions = spans(parts, committed.splitlines(keepends=True))
        first_everywhere = []
        k = 0
        for part in parts:
            if part[0] == "text":
                first_everywhere += part[1]
                continue
            texts = suggestion_texts(conflicts[k])
            naive = naive_list(part[1])
            wanted = resolutions[k]
            row["left"] += 1
            if wanted is not None:
                rank = texts.index(wanted) + 1 if wanted in texts else 0
                naive_rank = naive.index(wanted) + 1 if wanted in naive else 0
                row["first"] += rank == 1
                row["top3"] += 1 <= rank <= 3
                row["listed"] += rank >= 1
                row["naive first"] += naive_rank == 1
                row["naive top3"] += naive_rank >= 1
            first_everywhere.append(texts[0] if texts else b"".join(part[1]))
            k += 1
        row["first everywhere equal"] += b"".join(first_everywhere) == committed
    return table


def suggestion_table(table):
    lines = ["| repository | files | conflicts left | committed is the first suggestion "
             "| among the first three | among all | naive: first | naive: among its three "
             "| engine + first suggestions give the committed file |",
             "|---|---:|---:|---:|---:|---:|---:|---:|---:|"]
    overall = collections.Counter()
    for row in table.values():
        overall.update(row)
    for name, row in sorted(table.items()) + [("**total**", overall)]:
        lines.append("| %s | %d | %d | %s | %s | %s | %s | %s | %d (%s) |" % (
            name, row["files"], row["left"], pct(row["first"], row["left"]),
            pct(row["top3"], row["left"]), pct(row["listed"], row["left"]),
            pct(row["naive first"], row["left"]), pct(row["naive top3"], row["left"]),
            row["first everywhere equal"], pct(row["first everywhere equal"], row["files"])))
    return lines


def hunk_table(table):
    """Markdown lines: git's conflicts by what tarnwickmerge made of them."""
    lines = ["| repository | conflicts | settled, equal | settled, different | left "
             "| files with a conflict settled differently |",
             "|---|---:|---:|---:|---:|---:|"]
    for name, row in sorted(table.items()) + [("**total**", total(table))]:
        lines.append("| %s | %d | %d (%s) | %d (%s) | %d (%s) | %d (%s) |" % (
            name, row["hunks"], row["hunks equal"], pct(row["hunks equal"], row["hunks"]),
            row["hunks different"], pct(row["hunks different"], row["hunks"]),
            row["hunks left"], pct(row["hunks left"], row["hunks"]),
            row["files with a hunk different"],
            pct(row["files with a hunk different"], row["files"])))
    return lines


def pct(part, whole):
    return "%.1f %%" % (100.0 * part / whole) if whole else "-"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    parser.add_argument("--corpus", required=True)
    parser.add_argument("--markdown")
    parser.add_argument("--wrong-list", help="write the cases resolved differently here")
    parser.add_argument("--no-rules-table", action="store_true")
    parser.add_argument("--suggestions", action="store_true",
                        help="rank the committed resolutions among tarnwickmerge --suggest's")
    parser.add_argument("--classify", action="store_true",
                        help="sort the files left conflicted by how they were resolved")
    args = parser.parse_args()

    all_cases = list(cases(args.corpus))
    table, outcomes = measure(args.tool, all_cases, None, True)
    lines = []
    lines.append("| repository | files | resolved, equal | resolved, different | left conflicted "
                 "| errors | tarnwickmerge | git merge-file | ratio |")
    lines.append("|---|---:|---:|---:|---:|---:|---:|---:|---:|")
    for name, row in sorted(table.items()) + [("**total**", total(table))]:
        lines.append("| %s | %d | %d (%s) | %d (%s) | %d | %d | %.2f s | %.2f s | %.2f |" % (
            name, row["files"], row["equal"], pct(row["equal"], row["files"]),
            row["different"], pct(row["different"], row["files"]), row["conflicted"],
            row["error"], row["time"], row["git_time"],
            row["time"] / row["git_time"] if row["git_time"] else 0))
    lines.append("")
    lines += hunk_table(table)
    if args.wrong_list:
        with open(args.wrong_list, "w") as f:
            for name, merge, path, case in all_cases:
                if outcomes[case] == "different":
                    f.write("%s\t%s\t%s\t%s\n" % (case, name, merge, path))

    if args.suggestions:
        lines.append("")
        lines += suggestion_table(measure_suggestions(args.tool, all_cases))

    if args.classify:
        lines.append("")
        lines += classify_conflicted(all_cases, outcomes)

    if not args.no_rules_table:
        lines.append("")
        lines.append("| rules | resolved, equal | resolved, different | conflicts settled, equal "
                     "| conflicts settled, different | files with a conflict settled differently |")
        lines.append("|---|---:|---:|---:|---:|---:|")
        configs = [("none (narrowing only)", "none"),
                   ("versions alone (the default)", None),
                   ("contained alone", "contained"),
                   ("releases alone", "releases"),
                   ("whitespace alone", "whitespace"),
                   ("whitespace, line for line, alone", "whitespace-lines"),
                   ("words alone", "words"),
                   ("default + contained", "versions,contained"),
                   ("default + releases", "versions,releases"),
                   ("default + words", "versions,words"),
                   ("default + words, same line allowed", "versions,words,same-line"),
                   ("default + words + touching", "versions,words,touching"),
                   ("default + words + characters", "versions,words,characters"),
                   ("all, same line allowed", "all")]
        for label, rules in configs:
            t = total(measure(args.tool, all_cases, rules, False)[0])
            lines.append("| %s | %d (%s) | %d (%s) | %d (%s) | %d (%s) | %d (%s) |" % (
                label, t["equal"], pct(t["equal"], t["files"]), t["different"],
                pct(t["different"], t["files"]), t["hunks equal"],
                pct(t["hunks equal"], t["hunks"]), t["hunks different"],
                pct(t["hunks different"], t["hunks"]), t["files with a hunk different"],
                pct(t["files with a hunk different"], t["files"])))
    text = "\n".join(lines) + "\n"
    sys.stdout.write(text)
    if args.markdown:
        with open(args.markdown, "w") as f:
            f.write(text)


if __name__ == "__main__":
    main()
