"""Prints each benchmark's time relative to its baseline, from a pyperf JSON file.

Benchmarks are named "<job> | <variant>"; the variant named `qel` is compared
with every other variant of the same job measured in the same run: the ratio
of the means, then that of the medians, which a few processes that ran while
the machine was busy with something else shift less.

    python bench/ratios.py bench/string.json
"""
import sys
from collections import defaultdict

import pyperf


def main(path):
    suite = pyperf.BenchmarkSuite.load(path)
    jobs = defaultdict(dict)
    for bench in suite.get_benchmarks():
        job, _, variant = bench.get_name().rpartition(" | ")
        jobs[job][variant] = (bench.mean(), bench.median())
    for job, variants in jobs.items():
        ours = variants.get("qel")
        if ours is None:
            continue
        for variant, (mean, median) in variants.items():
            if variant == "qel":
                continue
            print(f"{job:40} qel {ours[0] * 1e6:10.2f} us   {variant} {mean * 1e6:10.2f} us   "
                  f"qel/{variant} = {ours[0] / mean:6.3f}   {variant}/qel = {mean / ours[0]:7.2f}"
                  f"   (medians: {median / ours[1]:7.2f})")


if __name__ == "__main__":
    main(sys.argv[1])
