"""Runs a program and compares its standard output with a file, byte for byte.

usage: check_output.py EXPECTED PROGRAM [ARGUMENT...]
"""
import subprocess
import sys


def main():
    expected_path, command = sys.argv[1], sys.argv[2:]
    with open(expected_path, "rb") as f:
        expected = f.read()
    run = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
    if run.returncode != 0:
        sys.exit(f"{command[0]} ended with {run.returncode}: {run.stderr.decode(errors='replace')}")
    if run.stdout != expected:
        sys.exit("output differs:\n--- got\n" + run.stdout.decode(errors="replace") +
                 "--- expected\n" + expected.decode(errors="replace"))


main()
