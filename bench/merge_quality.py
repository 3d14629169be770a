#!/usr/bin/env python3
"""Measures tarnwickmerge against git merge-file on a corpus of real merges.

The corpus is what bench/mine_merges.py writes: CORPUS/<repo>/manifest.tsv
and one directory per case with base, current, other and committed. Every
case is one that `git merge-file` leaves conflicted. For each repository and
in total the report gives: files; resolved automatically and equal to the
committed file; resolved but different; left conflicted; and the time of
tarnwickmerge and of git merge-file over the same files. Then, per rule,
what each rule alone and each rule left out of the default set changes.

Usage:
  merge_quality.py --tool BUILD/root/bin/tarnwickmerge --corpus DIR
                   [--markdown OUT.md] [--wrong-list FILE] [--repeat N]
"""

import argparse
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
