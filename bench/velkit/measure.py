#!/usr/bin/env python3
"""Runs Velkit's commands on one scene and prints, per command, the
accessibility requests it made (counted by the simulated desktop) and its
best wall time, next to check-permissions on the same scene, which loads the same
scene and makes no read.

usage: measure.py <velkit binary> <scene.json> [runs]
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

COMMANDS = [["check-permissions"], ["get-focused"], ["get-context"], ["capture-selection"],
            ["write-text", "Thanks, all."]]


def run(binary, scene_file, args, env_extra, cwd):
    env = dict(os.environ, NOLARI_PLATFORM="sim", NOLARI_SIM_SCENE=scene_file)
    env.pop("NOLARI_SIM_COUNTS", None)
    env.update(env_extra)
    start = time.perf_counter()
    done = subprocess.run([binary] + args, env=env, cwd=cwd, capture_output=True)
    elapsed = time.perf_counter() - start
    lines = done.stdout.decode().splitlines()
    if done.returncode != 0 or len(lines) != 1:
        sys.exit(f"{args}: status {done.returncode}, output {done.stdout[:200]!r}")
    return elapsed


def main():
    binary, scene, runs = sys.argv[1], sys.argv[2], int(sys.argv[3]) if len(sys.argv) > 3 else 5
    with tempfile.TemporaryDirectory() as tmp:
        print(f"{'command':<20}{'requests':>10}{'reads':>8}{'AXRole':>8}{'AXChildren':>12}"
              f"{'best ms':>9}{'minus check ms':>16}")
        baseline = None
        for args in COMMANDS:
            # A fresh copy per command: write-text changes the scene.
            scene_file = os.path.join(tmp, "scene.json")
            shutil.copy(scene, scene_file)
            counts_file = os.path.join(tmp, "counts.json")
            run(binary, scene_file, args, {"NOLARI_SIM_COUNTS": counts_file}, tmp)
            with open(counts_file) as f:
                counts = json.load(f)
            requests = sum(op["total"] for op in counts.values())
            reads = counts.get("copyAttributeValue", {})
            times = []
            for _ in range(runs):
                shutil.copy(scene, scene_file)
                times.append(run(binary, scene_file, args, {}, tmp))
            # The best of several runs: the machine's other work only ever adds time.
            best = min(times) * 1000
            if baseline is None:
                baseline = best
            print(f"{args[0]:<20}{requests:>10}{reads.get('total', 0):>8}{reads.get('AXRole', 0):>8}"
                  f"{reads.get('AXChildren', 0):>12}{best:>9.1f}{best - baseline:>16.1f}")


if __name__ == "__main__":
    main()
