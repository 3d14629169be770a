#!/usr/bin/env python3
"""Mines three-way merge cases from a git repository's history.

For each two-parent merge commit whose tree differs from both parents'
trees (merges made with the "ours" strategy are left out), and for each
file changed on both sides since the merge base, that is text (no NUL byte),
at most --max-bytes in every version, and present in the base, both parents
and the merge, the case is kept when `git merge-file` leaves it conflicted.
A case is written as four files, base, current (first parent), other
(second parent) and committed (the merge's version), under
OUT/<name>/<NNNNN>/, and one line "repository<TAB>merge<TAB>path" is added to
OUT/<name>/manifest.tsv.

With --from-manifest, the cases of a manifest are rebuilt instead (for
anyone who has the repositories); nothing else is searched.

Usage:
  mine_merges.py --git-dir REPO.git --name owner/repo --out DIR [--merges N]
                 [--max-bytes B] [--max-cases C]
  mine_merges.py --git-dir REPO.git --name owner/repo --out DIR --from-manifest FILE
"""

import argparse
import os
import subprocess
import sys
import tempfile


class Repo:
    def __init__(self, git_dir):
        self.git_dir = git_dir
        self._cat = subprocess.Popen(
            ["git", "--git-dir", git_dir, "cat-file", "--batch"],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE)

    def git(self, *args):
        return subprocess.run(["git", "--git-dir", self.git_dir, *args], check=True,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout

    def blob(self, name):
        """The object's bytes, or None when it does not exist."""
        self._cat.stdin.write(name.encode() + b"\n")
        self._cat.stdin.flush()
        header = self._cat.stdout.readline().split()
        if len(header) < 3 or header[1] == b"missing":
            return None
        size = int(header[2])
        data = self._cat.stdout.read(size)
        self._cat.stdout.read(1)  # the line feed after the object
        return data if header[1] == b"blob" else None

    def tree(self, commit):
        return self.git("rev-parse", commit + "^{tree}").strip().decode()

    def changed(self, a, b):
        """{path: new blob id} of the files that differ between two commits."""
        out = self.git("diff-tree", "-r", "-z", "--no-renames", a, b)
        fields = out.split(b"\0")
        changes = {}
        for i in range(0, len(fields) - 1, 2):
            meta = fields[i].split()
            if len(meta) < 5:
                continue
            changes[fields[i + 1].decode("utf-8", "surrogateescape")] = meta[3].decode()
        return changes


def merge_file_conflicts(base, current, other, tmp):
    paths = []
    for name, data in (("current", current), ("base", base), ("other", other)):
        path = os.path.join(tmp, name)
        with open(path, "wb") as f:
            f.write(data)
        paths.append(path)
    result = subprocess.run(["git", "merge-file", "-p", *paths], stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    return result.returncode


def usable(data, max_bytes):
    return data is not None and len(data) <= max_bytes and b"\0" not in data


def write_case(out_dir, index, versions):
    case = os.path.join(out_dir, "%05d" % index)
    os.makedirs(case, exist_ok=True)
    for name, data in versions.items():
        with open(os.path.join(case, name), "wb") as f:
            f.write(data)


def case_versions(repo, merge, first, second, base, path, max_bytes):
    versions = {}
    for name, rev in (("base", base), ("current", first), ("other", second), ("committed", merge)):
        data = repo.blob(rev + ":" + path)
        if not usable(data, max_bytes):
            return None
        versions[name] = data
    return versions


def mine(args):
    repo = Repo(args.git_dir)
    out_dir = os.path.join(args.out, args.name.replace("/", "+"))
    os.makedirs(out_dir, exist_ok=True)
    manifest = open(os.path.join(out_dir, "manifest.tsv"), "w", encoding="utf-8",
                    errors="surrogateescape")
    lines = repo.git("rev-list", "--merges", "--parents", "-n", str(args.merges),
                     args.rev).decode().splitlines()
    kept = 0
    with tempfile.TemporaryDirectory() as tmp:
        for line in lines:
            commits = line.split()
            if len(commits) != 3:
                continue  # octopus merges
            merge, first, second = commits
            tree = repo.tree(merge)
            if tree == repo.tree(first) or tree == repo.tree(second):
                continue
            bases = repo.git("merge-base", "--all", first, second).decode().split()
            if len(bases) != 1:
                continue  # criss-cross history: git would merge against a made-up base
            base = bases[0]
            ours = repo.changed(base, first)
            theirs = repo.changed(base, second)
            for path in sorted(set(ours) & set(theirs)):
                if ours[path] == theirs[path]:
                    continue  # the same new version on both sides
                versions = case_versions(repo, merge, first, second, base, path, args.max_bytes)
                if versions is None:
                    continue
                if merge_file_conflicts(versions["base"], versions["current"],
                                        versions["other"], tmp) <= 0:
                    continue
                write_case(out_dir, kept, versions)
                manifest.write("%s\t%s\t%s\n" % (args.name, merge, path))
                manifest.flush()
                kept += 1
                if kept >= args.max_cases:
                    print("%s: %d cases" % (args.name, kept))
                    return
    print("%s: %d cases" % (args.name, kept))


def rebuild(args):
    repo = Repo(args.git_dir)
    out_dir = os.path.join(args.out, args.name.replace("/", "+"))
    os.makedirs(out_dir, exist_ok=True)
    index = 0
    with open(args.from_manifest, encoding="utf-8", errors="surrogateescape") as f, \
            open(os.path.join(out_dir, "manifest.tsv"), "w", encoding="utf-8",
                 errors="surrogateescape") as manifest:
        for line in f:
            name, merge, path = line.rstrip("\n").split("\t", 2)
            if name != args.name:
                continue
            parents = repo.git("rev-list", "--parents", "-n", "1", merge).decode().split()
            base = repo.git("merge-base", parents[1], parents[2]).decode().strip()
            versions = case_versions(repo, merge, parents[1], parents[2], base, path, 1 << 62)
            if versions is None:
                print("missing: %s %s" % (merge, path), file=sys.stderr)
                continue
            write_case(out_dir, index, versions)
            manifest.write(line)
            index += 1
    print("%s: %d cases rebuilt" % (args.name, index))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--git-dir", required=True)
    parser.add_argument("--name", required=True, help="owner/repo, as written in the manifest")
    parser.add_argument("--out", required=True)
    parser.add_argument("--rev", default="HEAD")
    parser.add_argument("--merges", type=int, default=3000, help="the most recent N merges")
    parser.add_argument("--max-bytes", type=int, default=200 * 1024)
    parser.add_argument("--max-cases", type=int, default=400)
    parser.add_argument("--from-manifest")
    args = parser.parse_args()
    if args.from_manifest:
        rebuild(args)
    else:
        mine(args)


if __name__ == "__main__":
    main()
