#!/usr/bin/env python3
"""Threshold sweep of the phone-loop check, offline, from `SCORES=1 bench/app_matrix.sh` output.

Usage: verification_sweep.py OUTPUT [--speech] [--every-pass] [--warped T|off]
                             [--table LANG=THRESHOLD ...]
  Prints, per garbage cost, language and half, commands right and unrelated sentences rejected at
  each threshold, and the threshold that keeps the most commands right on the tuning half while
  rejecting at least the goal's share of unrelated sentences (en 90 %, pt 75 %).
  --speech   the margin over speech frames only (silence and noise left out)
  --every-pass  check the names of the first pass too (by default only the second pass's)
  --warped   names of the warped passes held to threshold T of their own instead, or, with "off",
             dropped (as though the passes had not run)
  --table    per-condition figures at the given thresholds ("none": no check)
"""
import collections
import math
import sys

GOALS = {"en": 0.90, "pt": 0.75}


def margin(f, speech):
    g, gf, l, lf = (15, 16, 17, 18) if speech else (11, 12, 13, 14)
    if f[7] == "" or int(f[gf]) <= 0 or int(f[lf]) <= 0:
        return None if f[7] == "" else -math.inf
    return float(f[g]) / int(f[gf]) - float(f[l]) / int(f[lf])


def outcome(row, threshold):
    """(is a command, counts as right): right command, or unrelated sentence rejected."""
    command, named, m, checked, own = row
    if own is not None:
        threshold = own
    stands = m is not None and (threshold is None or not checked or m >= threshold)
    if command:
        return True, stands and named == "right"
    return False, not (stands and named != "none")


def tally(rows, threshold):
    counts = [0, 0, 0, 0]  # right, commands, rejected, unrelated
    for row in rows:
        command, good = outcome(row, threshold)
        counts[0 if command else 2] += good
        counts[1 if command else 3] += 1
    return counts


def share(part, whole):
    return 100.0 * part / whole if whole else 0.0


def main(argv):
    speech = "--speech" in argv
    every_pass = "--every-pass" in argv
    warped = argv[argv.index("--warped") + 1] if "--warped" in argv else None
    table = {}
    if "--table" in argv:
        for item in argv[argv.index("--table") + 1:]:
            language, value = item.split("=")
            table[language] = None if value == "none" else float(value)
    rows = collections.defaultdict(list)  # (garbage, language, half, condition) -> rows
    for line in open(argv[1], encoding="utf-8"):
        if not line.startswith("score\t"):
            continue
        f = line.rstrip("\n").split("\t")
        checked = every_pass or f[9] in ("2", "3")
        m = margin(f, speech)
        own = None
        if f[9] == "3" and warped == "off":
            m = None
        elif f[9] == "3" and warped is not None:
            own = float(warped)
        rows[(f[1], f[2], f[4], f[3])].append((f[5] != "", f[8], m, checked, own))
    groups = collections.defaultdict(list)
    for (garbage, language, half, _), value in rows.items():
        groups[(garbage, language, half)] += value
    for (garbage, language, half), group in sorted(groups.items()):
        print(f"== garbage {garbage}, {language}, {half} half"
              f"{' (speech frames)' if speech else ''}: threshold | commands right | rejected")
        best = None
        for step in [None] + [t / 10 for t in range(-60, 6)]:
            right, commands, rejected, unrelated = tally(group, step)
            print(f"  {'none' if step is None else f'{step:5.1f}'} | {right}/{commands} "
                  f"({share(right, commands):.1f} %) | {rejected}/{unrelated} "
                  f"({share(rejected, unrelated):.1f} %)")
            if rejected >= GOALS.get(language, 0.9) * unrelated and (best is None or right > best[1]):
                best = (step, right, commands, rejected, unrelated)
        if best:
            step, right, commands, rejected, unrelated = best
            print(f"  best meeting the rejection goal: {step} -> {right}/{commands} "
                  f"({share(right, commands):.1f} %), rejected {rejected}/{unrelated}")
        if language in table:
            threshold = table[language]
            print(f"  per condition at {threshold}:")
            for (g, l, h, condition), value in rows.items():
                if (g, l, h) != (garbage, language, half):
                    continue
                right, commands, rejected, unrelated = tally(value, threshold)
                print(f"  | {condition} | {half} | {right}/{commands} ({share(right, commands):.0f} %)"
                      f" | {rejected}/{unrelated} |")


if __name__ == "__main__":
    main(sys.argv)
