#!/usr/bin/python3
"""Runs every benchmark beside its anchor and prints one markdown table: work, ours, anchor and
the ratio anchor / ours (above 1 means ours is faster), followed by the start sequence and the
game's start, idle and memory figures.

The game sets the locale en_US.UTF-8 at start. Where that locale is not installed, setting it
fails at once; the start figures are then given twice: as the machine is, and with a private copy
of the locale built by localedef into a temporary folder and found through LOCPATH (nothing is
installed). glibc reads such a folder file by file, which costs more than the locale archive an
installed locale usually lives in.

Each benchmark program runs once with all its pairs: Google Benchmark repeats every benchmark
REPS times and interleaves the repetitions of all of them in a random order, so that ours and its
anchor alternate in one process under the same load. Each figure is the median CPU time per
iteration over the repetitions (CPU time, not wall time: on a shared machine the wall clock also
counts the time other processes held the core).

With a number of runs above one, the whole report is taken that many times, one run after the
other, and each row shows the run with the median ratio and every run's ratio beside it, in run
order (rows that fell together in a noisy run show it), then the spread a target has to hold over.

Usage: report.py [bench build folder] [repetitions] [runs]   (make bench-report builds it first;
RUNS=5 passes the runs)
"""

import json
import os
import re
import statistics
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "bench", "game"))

import measure_rps  # noqa: E402  (the game's own measurements, shared with its script)

# (program, [(work, ours, anchor), ...][, most repetitions]); names are Google Benchmark's run
# names. Where both sides report a "bytes_per_element" counter, the row gives both figures.
PAIRS = [
    ("containers/containers_bench", [
        ("PoolTake/PoolGive, LIFO bursts, 1,000 live", "BM_Lifo<PoolAllocator>/1000",
         "BM_Lifo<MallocAllocator>/1000"),
        ("PoolTake/PoolGive, LIFO bursts, 100,000 live", "BM_Lifo<PoolAllocator>/100000",
         "BM_Lifo<MallocAllocator>/100000"),
        ("PoolTake/PoolGive, LIFO bursts, 100,000 live (vs a bare out-of-line free list: the "
         "floor)", "BM_Lifo<PoolAllocator>/100000", "BM_Lifo<BareListAllocator>/100000"),
        ("PoolTake/PoolGive, random order, 100,000 live", "BM_Random<PoolAllocator>/100000",
         "BM_Random<MallocAllocator>/100000"),
        ("PoolTake/PoolGive, one block ping-pong", "BM_PingPong<PoolAllocator>",
         "BM_PingPong<MallocAllocator>"),
        ("MapFind hit, \"keyN\" in random order, 1,000 keys", "BM_MapFindRandom/1000",
         "BM_UnorderedFindRandom/1000"),
        ("MapFind hit, \"keyN\" in random order, 10,000 keys", "BM_MapFindRandom/10000",
         "BM_UnorderedFindRandom/10000"),
        ("MapFind hit, \"keyN\" in random order, 100,000 keys", "BM_MapFindRandom/100000",
         "BM_UnorderedFindRandom/100000"),
        ("MapFind hit, binding keys in order, 10,000 keys", "BM_MapFind/10000",
         "BM_UnorderedFind/10000"),
        ("MapAdd mode 1, build 10,000 \"keyN\" keys", "BM_MapAddNumbered/10000",
         "BM_UnorderedAddNumbered/10000"),
        ("MapAdd mode 1, build 10,000 binding keys", "BM_MapAdd/10000", "BM_UnorderedAdd/10000"),
        # The same map rows against absl::flat_hash_map, the second anchor.
        ("MapFind hit, \"keyN\" in random order, 1,000 keys (vs absl::flat_hash_map)",
         "BM_MapFindRandom/1000", "BM_AbslFindRandom/1000"),
        ("MapFind hit, \"keyN\" in random order, 10,000 keys (vs absl::flat_hash_map)",
         "BM_MapFindRandom/10000", "BM_AbslFindRandom/10000"),
        ("MapFind hit, \"keyN\" in random order, 100,000 keys (vs absl::flat_hash_map)",
         "BM_MapFindRandom/100000", "BM_AbslFindRandom/100000"),
        ("MapFind hit, binding keys in order, 10,000 keys (vs absl::flat_hash_map)",
         "BM_MapFind/10000", "BM_AbslFind/10000"),
        ("MapAdd mode 1, build 10,000 \"keyN\" keys (vs absl::flat_hash_map)",
         "BM_MapAddNumbered/10000", "BM_AbslAddNumbered/10000"),
        ("MapAdd mode 1, build 10,000 binding keys (vs absl::flat_hash_map)", "BM_MapAdd/10000",
         "BM_AbslAdd/10000"),
    ]),
    # Seconds to a minute per iteration on a shared machine: three repetitions.
    ("containers/containers_bench", [
        ("growing map, add then find 10^6 \"itemN\" keys", "BM_GrowingMapAddFind/1000000",
         "BM_UnorderedAddFind/1000000"),
        ("growing map, add then find 10^7 \"itemN\" keys", "BM_GrowingMapAddFind/10000000",
         "BM_UnorderedAddFind/10000000"),
        ("growing map, add then find 10^6 \"itemN\" keys (vs absl::flat_hash_map)",
         "BM_GrowingMapAddFind/1000000", "BM_AbslAddFind/1000000"),
        ("growing map, add then find 10^7 \"itemN\" keys (vs absl::flat_hash_map)",
         "BM_GrowingMapAddFind/10000000", "BM_AbslAddFind/10000000"),
    ], 3),
    ("strings/strings_bench", [
        ("StringToUtf8, 1 MB ASCII (vs ICU u_strToUTF8)", "BM_StringToUtf8/0", "BM_IcuToUtf8/0"),
        ("StringToUtf8, 1 MB mixed", "BM_StringToUtf8/1", "BM_IcuToUtf8/1"),
        ("StringToUtf8, 30 characters", "BM_StringToUtf8/2", "BM_IcuToUtf8/2"),
        ("StringFromUtf8, 1 MB ASCII (vs ICU u_strFromUTF8)", "BM_StringFromUtf8/0",
         "BM_IcuFromUtf8/0"),
        ("StringFromUtf8, 1 MB mixed", "BM_StringFromUtf8/1", "BM_IcuFromUtf8/1"),
        ("StringFromUtf8, 30 characters", "BM_StringFromUtf8/2", "BM_IcuFromUtf8/2"),
        ("numbering the lines of a 10 M-unit text with StringFieldCursor (vs a hand-written "
         "loop; target 0.5x or more)", "BM_NumberLinesCursor", "BM_NumberLinesLoop"),
    ]),
    ("images/images_bench", [
        ("BMP decode 4096 x 4096, 24-bit (vs stb_image)", "BmpDecode24", "StbLoadFromMemory24"),
        ("BMP encode 4096 x 4096, 24-bit, fresh output (vs stbi_write_bmp_to_func)",
         "BmpEncode24", "StbWriteBmpToFunc"),
        ("BMP encode 4096 x 4096, 24-bit, reused output", "BmpEncode24Reused",
         "StbWriteBmpToFuncReused"),
    ]),
    ("face/face_bench", [
        ("zn::Map<int64_t> find hit vs MapFind, 100,000 keys", "BM_FaceMapFind/100000",
         "BM_CMapFind/100000"),
        ("zn::Map<int64_t> try_emplace vs MapFind + MapAdd, build 10,000", "BM_FaceMapInsert/10000",
         "BM_CMapInsert/10000"),
        ("zn::Map<int64_t> vs std::unordered_map, add + find 10^6 keys",
         "BM_FaceMapMillion/1000000", "BM_UnorderedMapMillion/1000000"),
        ("String::from_utf8 vs StringFromUtf8Flags, 30 bytes", "BM_FaceFromUtf8/0",
         "BM_CFromUtf8/0"),
        ("String::from_utf8 vs StringFromUtf8Flags, 1 MiB", "BM_FaceFromUtf8/1", "BM_CFromUtf8/1"),
        ("String::to_utf8 vs StringToUtf8Flags, 30 bytes", "BM_FaceToUtf8/0", "BM_CToUtf8/0"),
        ("String::to_utf8 vs StringToUtf8Flags, 1 MiB", "BM_FaceToUtf8/1", "BM_CToUtf8/1"),
        ("zn::format vs snprintf, three fields", "BM_FaceFormat", "BM_Snprintf"),
    ]),
    ("events/events_bench", [
        ("EventPost + EventFetch (vs deque push + pop)", "BM_EventPostFetchAlternating",
         "BM_AnchorDequePushPop"),
        ("dispatch, 100 bound keys (vs four unordered_map lookups)", "BM_EventDispatchHundredKeys",
         "BM_AnchorUnorderedMapFourLookups"),
    ]),
]

UNIT_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def regex_literal(name):
    # Benchmark filters are POSIX extended expressions; < and > stay bare (escaped they would
    # be GNU word boundaries).
    return re.sub(r"([.\[\](){}*+?|^$\\])", r"\\\1", name)


def run_pairs(program, pairs, repetitions):
    """Median CPU nanoseconds per iteration of every benchmark named in `pairs`, and the median
    of each one's bytes_per_element counter where it has one."""
    names = sorted({name for _, ours, anchor in pairs for name in (ours, anchor)})
    command = [program, "--benchmark_format=json", "--benchmark_repetitions=%d" % repetitions,
               "--benchmark_enable_random_interleaving=true", "--benchmark_min_time=0.2",
               "--benchmark_filter=^(%s)$" % "|".join(regex_literal(n) for n in names)]
    result = subprocess.run(command, capture_output=True, text=True, check=False)
    if result.returncode != 0:
        raise RuntimeError("%s failed: %s" % (program, result.stderr.strip()[-300:]))
    times = {}
    bytes_per_element = {}
    for run in json.loads(result.stdout)["benchmarks"]:
        if run.get("run_type") != "iteration" or run.get("error_occurred"):
            continue
        name = run.get("run_name", run["name"])
        times.setdefault(name, []).append(run["cpu_time"] * UNIT_NS[run["time_unit"]])
        if "bytes_per_element" in run:
            bytes_per_element.setdefault(name, []).append(run["bytes_per_element"])
    return ({name: statistics.median(values) for name, values in times.items()},
            {name: statistics.median(values) for name, values in bytes_per_element.items()})


def show_time(ns):
    for unit, scale in (("s", 1e9), ("ms", 1e6), ("us", 1e3)):
        if ns >= scale:
            return "%.3g %s" % (ns / scale, unit)
    return "%.3g ns" % ns


def start_sequence(folder, environment=None):
    """Median microseconds of the whole start sequence and of its locale step, or None."""
    program = os.path.join(folder, "bench", "core", "start_cost")
    if not os.access(program, os.X_OK):
        return None
    output = subprocess.run([program, "200"], capture_output=True, text=True, check=False,
                            env=environment).stdout
    whole = re.search(r"whole start sequence\s+median\s+([\d.]+) us", output)
    locale = re.search(r"step\s+\d+ locale\s+median\s+([\d.]+) us", output)
    if whole is None or locale is None:
        return None
    return float(whole.group(1)), float(locale.group(1))


def start_rows(folder, rps, environment, label):
    """The start sequence and exec-to-title rows for one locale set-up."""
    rows = []
    start = start_sequence(folder, environment)
    if start is not None:
        rows.append(("the 17 start steps, %s (start_cost, median of 200; locale step %.0f us)"
                     % (label, start[1]), "%.0f us" % start[0], "target 250 us",
                     "%.2fx" % (250.0 / start[0])))
    if os.access(rps, os.X_OK):
        waits = []
        title = statistics.median(measure_rps.measure_start(rps, 30, environment, waits))
        rows.append(("exec to complete title frame, %s (measure_rps, median of 30; waiting for "
                     "a processor %.2f ms)" % (label, statistics.median(waits)),
                     "%.2f ms" % title, "target 1.5 ms", "%.2fx" % (1.5 / title)))
    return rows


def collect(folder, repetitions):
    """Every row of one whole report: (work, ours, anchor, ratio) as text."""
    rows = []
    for program, pairs, *most in PAIRS:
        path = os.path.join(folder, "bench", program)
        if not os.access(path, os.X_OK):
            rows.append(("%s: not built" % program, "", "", ""))
            continue
        medians, sizes = run_pairs(path, pairs, min([repetitions] + most))
        for work, ours, anchor in pairs:
            missing = [name for name in (ours, anchor) if name not in medians]
            if missing:
                # A benchmark left out of the build (an anchor library not installed) is said,
                # not dropped, so that a report never looks complete without it.
                rows.append(("%s: not measured, %s not in %s" % (work, " and ".join(missing),
                                                                  program), "", "", ""))
                continue
            if ours in sizes and anchor in sizes:
                work += " (heap bytes per element: ours %.1f, anchor %.1f)" % (sizes[ours],
                                                                              sizes[anchor])
            rows.append((work, show_time(medians[ours]), show_time(medians[anchor]),
                         "%.2fx" % (medians[anchor] / medians[ours])))
    rps = os.path.join(folder, "game", "rps")
    installed = measure_rps.locale_installed()
    rows += start_rows(folder, rps, None, "%s %s" % (measure_rps.LOCALE,
                                                    "installed" if installed else "not installed"))
    if not installed:
        with tempfile.TemporaryDirectory(prefix="rps-locale-") as locales:
            environment = measure_rps.private_locale(locales)
            if environment is None:
                rows.append(("start with %s: localedef cannot build it" % measure_rps.LOCALE,
                             "", "", ""))
            else:
                rows += start_rows(folder, rps, environment,
                                   "private %s (localedef, LOCPATH)" % measure_rps.LOCALE)
    if os.access(rps, os.X_OK):
        used, wall, _ = measure_rps.measure_idle(rps, seconds=5.0)
        idle = used / (wall * 1e9) * 100
        rows.append(("idle CPU of the waiting game (5 s)", "%.4f %% of a core" % idle,
                     "target 0.1 %", "%.1fx" % (0.1 / idle) if idle > 0 else "-"))
        peak, _ = measure_rps.measure_memory(rps)
        rows.append(("peak resident memory after 30 rounds (VmHWM)", "%d KiB" % peak,
                     "target 2048 KiB", "%.2fx" % (2048.0 / peak)))
    return rows


def ratio_of(row):
    try:
        return float(row[3].rstrip("x"))
    except ValueError:
        return None


def combine(runs):
    """One row per row of the runs: the run with the median ratio, and every run's ratio."""
    combined = []
    for rows in zip(*runs):
        ratios = [ratio_of(row) for row in rows]
        if None in ratios:
            combined.append(rows[0] + ("",))
            continue
        ranked = sorted(range(len(rows)), key=lambda run: ratios[run])
        middle = rows[ranked[(len(ranked) - 1) // 2]]
        # In run order, so that rows that fell together in a noisy run show it; the spread after.
        combined.append(middle + ("%s (%.2f-%.2f)" % (", ".join("%.2f" % ratio for ratio in ratios),
                                                      min(ratios), max(ratios)),))
    return combined


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "bench")
    repetitions = int(sys.argv[2]) if len(sys.argv) > 2 else 7
    count = int(sys.argv[3]) if len(sys.argv) > 3 else 1
    runs = [collect(folder, repetitions) for _ in range(count)]
    if any(len(rows) != len(runs[0]) for rows in runs):
        raise RuntimeError("the runs gave different rows; compare them one by one")
    print("Median CPU time per iteration over %d interleaved repetitions; ratio = anchor / ours "
          "(above 1: ours is faster or within the target)." % repetitions)
    print()
    if count == 1:
        print("| Work | Ours | Anchor | Ratio |")
        print("|---|---|---|---|")
        rows = runs[0]
    else:
        print("%d whole runs one after the other; each row shows the run with the median ratio."
              % count)
        print()
        print("| Work | Ours | Anchor | Ratio | Ratios of the runs in order (lowest-highest) |")
        print("|---|---|---|---|---|")
        rows = combine(runs)
    for row in rows:
        print("| %s |" % " | ".join(row))
    return 0


if __name__ == "__main__":
    if "--help" in sys.argv:
        print(__doc__)
        sys.exit(0)
    sys.exit(main())
