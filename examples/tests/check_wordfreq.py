"""Checks wordfreq against a Python count of the same file, as it is and case-blind, and checks
its failure on a missing file.

usage: check_wordfreq.py WORDFREQ FILE
"""
import collections
import re
import subprocess
import sys


def run(command):
    return subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, timeout=60)


def parse(output):
    """The (count, word) lines, in order."""
    lines = []
    for line in output.decode("utf-8").splitlines():
        count, word = line.split(" ", 1)
        lines.append((int(count), word))
    return lines


def check(program, path, case_blind):
    # The reference: runs of letters and digits, bad UTF-8 replaced as the program does.
    text = open(path, encoding="utf-8", errors="replace").read()
    words = re.findall(r"[^\W_]+", text)
    expected = collections.Counter(w.lower() for w in words) if case_blind else \
        collections.Counter(words)
    result = run([program, "-i", path] if case_blind else [program, path])
    mode = "case-blind" if case_blind else "as it is"
    if result.returncode != 0:
        sys.exit(f"{mode}: ended with {result.returncode}: {result.stderr!r}")
    lines = parse(result.stdout)
    got = collections.Counter()
    for count, word in lines:
        got[word.lower() if case_blind else word] += count
    if len(got) != len(lines):
        sys.exit(f"{mode}: a word is listed twice")
    if got != expected:
        missing = (expected - got) + (got - expected)
        sys.exit(f"{mode}: counts differ, e.g. {list(missing.items())[:10]}")
    order = [(-count, word.encode("utf-16-be")) for count, word in lines]
    if order != sorted(order):
        sys.exit(f"{mode}: not most frequent first, ties in code-unit order")
    return len(lines)


def main():
    program, path = sys.argv[1], sys.argv[2]
    distinct = check(program, path, False)
    blind = check(program, path, True)
    if blind >= distinct:
        sys.exit("case-blind counting merged no spellings; the input cannot show it")
    missing = run([program, path + ".missing"])
    message = missing.stderr.decode()
    if missing.returncode == 0 or message.count("\n") != 1 or "cannot read" not in message:
        sys.exit(f"a missing file: status {missing.returncode}, message {message!r}")


main()
