#!/usr/bin/env python3
"""Prints the medians of a convert_bench JSON report as Mpx/s, one column per
picture size, and the ratios that count, each from the same run."""
import json
import sys

report = json.load(open(sys.argv[1]))
rates = {}  # (measure, size) -> pixels per second
sizes = []
for b in report["benchmarks"]:
    if b.get("aggregate_name") != "median":
        continue
    name = b["run_name"].replace("/real_time", "")
    measure, size = name.split("/")
    rates[(measure, size)] = b["items_per_second"]
    if size not in sizes:
        sizes.append(size)
measures = []
for (m, _s) in rates:
    if m not in measures:
        measures.append(m)

print("  %-30s" % "Mpx/s" + "".join("%12s" % s for s in sizes))
for m in measures:
    cells = "".join("%12.1f" % (rates[(m, s)] / 1e6) if (m, s) in rates else "%12s" % "-"
                    for s in sizes)
    print("  %-30s%s" % (m, cells))


def ratio(a, b, size):
    if (a, size) in rates and (b, size) in rates:
        return "%11.2fx" % (rates[(a, size)] / rates[(b, size)])
    return "%12s" % "-"


print("  ratios" + " " * 24 + "".join("%12s" % s for s in sizes))
for label, a, b in [
    ("ssse3 vs straightforward", "convert_ssse3", "straightforward"),
    ("sse2 vs straightforward", "convert_sse2", "straightforward"),
    ("plain vs straightforward", "convert_plain", "straightforward"),
    ("whole call: best vs straightfwd", "whole_memory_best", "whole_memory_straightforward"),
    ("file vs memory (time)", "whole_memory_best", "whole_file_best"),
]:
    print("  %-30s%s" % (label, "".join(ratio(a, b, s) for s in sizes)))
