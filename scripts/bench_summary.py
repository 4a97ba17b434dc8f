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
# Repetitions run interleaved, so the report's order is random: sort sizes
# by pixel count and keep the measures in a fixed order.
sizes.sort(key=lambda s: (int(s.split("x")[0]) * int(s.split("x")[1]), s))
ORDER = ["memcpy_output", "straightforward", "convert_plain", "convert_sse2", "convert_ssse3",
         "fill_convert_plain", "fill_convert_sse2", "fill_convert_ssse3", "fresh_block_fill",
         "whole_memory_straightforward", "whole_memory_best", "whole_file_best"]
measures = [m for m in ORDER if any(m == k[0] for k in rates)]
measures += sorted({m for (m, _s) in rates} - set(measures))

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
    ("fill+convert: ssse3 vs plain", "fill_convert_ssse3", "fill_convert_plain"),
    ("whole call: best vs straightfwd", "whole_memory_best", "whole_memory_straightforward"),
    ("file vs memory (time)", "whole_memory_best", "whole_file_best"),
]:
    print("  %-30s%s" % (label, "".join(ratio(a, b, s) for s in sizes)))
