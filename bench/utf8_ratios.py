#!/usr/bin/env python3
"""Ratios from one run of Utf8_bench, written with --benchmark_format=json.

Takes the fastest repetition of each benchmark in CPU time (noise only ever adds
time, and CPU time leaves out the time other programs hold a shared machine's
processors) and prints, per direction, text and size, how many times faster the
codec is than iconv and than the ICU macro loop: the buffer-filling form against
iconv and ICU writing into a buffer, the allocating form against iconv and ICU that
allocate their result too, and the allocating form against ICU writing into a buffer.

  build/release/bench/Utf8_bench --benchmark_filter='Fill|Alloc' --benchmark_repetitions=10 \\
      --benchmark_enable_random_interleaving=true --benchmark_format=json > utf8.json
  python3 bench/utf8_ratios.py utf8.json
"""
import collections
import json
import sys


def main(path):
    runs = collections.defaultdict(dict)
    for b in json.load(open(path))["benchmarks"]:
        if b.get("run_type") == "aggregate":
            continue
        direction, impl, text, size = b["run_name"].split("/")
        best = runs[(direction, text, int(size))]
        best[impl] = min(best.get(impl, float("inf")), b["cpu_time"])
    print(f"{'case':22} {'fill ns':>8} {'x iconv':>7} {'x ICU':>6} | "
          f"{'alloc ns':>8} {'x iconv':>7} {'x ICU':>6} {'x ICU fill':>10}")
    for direction in ("Decode", "Encode"):
        for size in (16384, 128, 16):
            for text in ("ascii", "mixed", "cjk"):
                r = runs.get((direction, text, size))
                if not r or "QelFill" not in r or "QelAlloc" not in r:
                    continue
                fill, alloc = r["QelFill"], r["QelAlloc"]
                print(f"{direction + '/' + text + '/' + str(size):22} {fill:8.1f} "
                      f"{r['IconvFill'] / fill:7.2f} {r.get('IcuFill', 0) / fill:6.2f} | "
                      f"{alloc:8.1f} {r['IconvAlloc'] / alloc:7.2f} "
                      f"{r.get('IcuAlloc', 0) / alloc:6.2f} {r.get('IcuFill', 0) / alloc:10.2f}")


if __name__ == "__main__":
    main(sys.argv[1])
