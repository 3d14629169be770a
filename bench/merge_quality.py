#!/usr/bin/env python3
"""Measures tarnwickmerge against git merge-file on a corpus of real merges.

The corpus is what bench/mine_merges.py writes: CORPUS/<repo>/manifest.tsv
and one directory per case with base, current, other and committed. Every
case is one that `git merge-file` leaves conflicted. For each repository and
in total the report gives: files; resolved automatically and equal to the
committed file; resolved but different; left conflicted; and the time of
tarnwickmerge and of git merge-file over the same files. Then, per rule,
what each rule alone and each rule added to the default set changes.

With --classify, the files the default rules leave conflicted are sorted by
how the committed file resolved git's conflicts (diff3 style): as the
current side, the other side, the base, both sides' lines in either order,
a sorted union, a deletion, other lines of the three versions, lines of its
own ("edited"), or with changes outside the conflicts ("outside"); a file
whose conflicts were resolved in different ways is "mixed".

Usage:
  merge_quality.py --tool BUILD/root/bin/tarnwickmerge --corpus DIR
                   [--markdown OUT.md] [--wrong-list FILE] [--no-rules-table]
                   [--classify]
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


def measure(tool, all_cases, rules, timing):
    """{repo: {"files", "equal", "different", "conflicted", "error", "time", "git_time"}}"""
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
                                      "error": 0, "time": 0.0, "git_time": 0.0})
        row["files"] += 1
        row[kind] += 1
        row["time"] += took
        outcomes[case] = kind
        if timing:
            _, git_took = run_timed(["git", "merge-file", "-p"] + files)
            row["git_time"] += git_took
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


def total(table):
    out = {}
    for row in table.values():
        for key, value in row.items():
            out[key] = out.get(key, 0) + value
    return out


def pct(part, whole):
    return "%.1f %%" % (100.0 * part / whole) if whole else "-"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    parser.add_argument("--corpus", required=True)
    parser.add_argument("--markdown")
    parser.add_argument("--wrong-list", help="write the cases resolved differently here")
    parser.add_argument("--no-rules-table", action="store_true")
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
    if args.wrong_list:
        with open(args.wrong_list, "w") as f:
            for name, merge, path, case in all_cases:
                if outcomes[case] == "different":
                    f.write("%s\t%s\t%s\t%s\n" % (case, name, merge, path))

    if args.classify:
        lines.append("")
        lines += classify_conflicted(all_cases, outcomes)

    if not args.no_rules_table:
        lines.append("")
        lines.append("| rules | resolved, equal | resolved, different |")
        lines.append("|---|---:|---:|")
        configs = [("none (narrowing only)", "none"),
                   ("versions alone", "versions"),
                   ("contained alone", "contained"),
                   ("releases alone", "releases"),
                   ("default (versions, contained)", None),
                   ("default + releases", "versions,contained,releases"),
                   ("default + whitespace", "versions,contained,whitespace"),
                   ("default + whitespace, line for line",
                    "versions,contained,whitespace-lines"),
                   ("default + words", "versions,contained,words"),
                   ("default + words, same line allowed", "versions,contained,words,same-line"),
                   ("default + words + touching", "versions,contained,words,touching"),
                   ("default + words + characters", "versions,contained,words,characters"),
                   ("all, same line allowed", "all")]
        for label, rules in configs:
            t = total(measure(args.tool, all_cases, rules, False)[0])
            lines.append("| %s | %d (%s) | %d (%s) |" % (
                label, t["equal"], pct(t["equal"], t["files"]), t["different"],
                pct(t["different"], t["files"])))
    text = "\n".join(lines) + "\n"
    sys.stdout.write(text)
    if args.markdown:
        with open(args.markdown, "w") as f:
            f.write(text)


if __name__ == "__main__":
    main()
