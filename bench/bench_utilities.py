"""Speed of `multiple` and `Solution.numberOfSteps` against plain-Python baselines.

Baselines, measured in the same run:
  * multiple(7, 10**7) against [i for i in range(0, 10**7 + 1) if i % 7 == 0],
    the list as testing every integer of the range gives it;
  * list(range(0, 10**7 + 1, 7)), the interpreter's own cost of making the
    same 1428572 int objects and their list: the floor for any list of them;
  * multiple(10**6, 10**12), whose range a test-every-integer loop could not
    walk in reasonable time, against the baseline above (absolute time shown);
  * numberOfSteps(n) against the counting loop in Python, for n = 2**62 + 12345.

    python bench/bench_utilities.py -o bench/utilities.json --fast
"""
import os

import pyperf

os.environ.setdefault("qel.no_info", "1")  # no start-up notice or version check

import qel


def every_integer(num, max, min=0):
    return [i for i in range(min, max + 1) if i % num == 0]


def counting_loop(num):
    step = 0
    while num != 0:
        num = num / 2 if num % 2 == 0 else num - 1
        step += 1
    return step


def main():
    runner = pyperf.Runner()
    baseline = runner.bench_func("baseline: comprehension over range(10**7 + 1), % 7", every_integer, 7, 10**7)
    stepping = runner.bench_func("qel.multiple(7, 10**7)", qel.multiple, 7, 10**7)
    floor = runner.bench_func("floor: list(range(0, 10**7 + 1, 7))", lambda: list(range(0, 10**7 + 1, 7)))
    sparse = runner.bench_func("qel.multiple(10**6, 10**12)", qel.multiple, 10**6, 10**12)
    loop = runner.bench_func("baseline: counting loop, n = 2**62 + 12345", counting_loop, 2**62 + 12345)
    steps = runner.bench_func("qel.Solution.numberOfSteps(2**62 + 12345)", qel.Solution.numberOfSteps, 2**62 + 12345)
    if None not in (baseline, stepping, floor, sparse, loop, steps):
        print(f"speed-up multiple(7, 10**7) over the comprehension: {baseline.mean() / stepping.mean():.1f}x")
        print(f"speed-up list(range(0, 10**7 + 1, 7)) over the comprehension: {baseline.mean() / floor.mean():.1f}x")
        print(f"multiple(10**6, 10**12): {sparse.mean() * 1e3:.3f} ms")
        print(f"speed-up numberOfSteps over the counting loop: {loop.mean() / steps.mean():.1f}x")


if __name__ == "__main__":
    main()
