#!/usr/bin/env python3
"""Writes the fuzz harnesses' seed inputs, taken from the tests: the input lines
of the transcripts, the control lines, velkit's runs, the configurations and
the scenes. Usage: fuzz_seeds.py <tests dir> <output dir>; one folder per
harness, one file per seed, named by its content's hash so that a second run
adds nothing twice."""

import glob
import hashlib
import json
import os
import re
import sys


def unescape(text):
    # As the transcript runner reads ">~" lines: "\xHH" and "\t" written out.
    out = bytearray()
    i = 0
    raw = text.encode()
    while i < len(raw):
        if raw[i:i + 2] == b"\\x" and i + 3 < len(raw):
            out.append(int(raw[i + 2:i + 4], 16))
            i += 4
        elif raw[i:i + 2] == b"\\t":
            out.append(9)
            i += 2
        else:
            out.append(raw[i])
            i += 1
    return bytes(out)


def transcript_steps(path):
    """(head, bytes) for every line of a transcript."""
    with open(path, encoding="utf-8") as f:
        for line in f.read().split("\n"):
            head, _, rest = line.partition(" ")
            # Audio paths are relative in the sondra harness's working directory.
            rest = rest.replace("$DIR/", "")
            yield head, unescape(rest) if head == ">~" else rest.encode()


class Seeds:
    def __init__(self, root):
        self.root = root
        self.names = {}

    def add(self, harness, data):
        folder = os.path.join(self.root, harness)
        os.makedirs(folder, exist_ok=True)
        name = hashlib.sha1(data).hexdigest()
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
        self.names.setdefault(harness, set()).add(name)


def lines_of(seeds, harness, transcripts, heads):
    # Each transcript's lines together, and each line alone.
    for path in transcripts:
        lines = [data for head, data in transcript_steps(path) if head in heads]
        if lines:
            seeds.add(harness, b"\n".join(lines) + b"\n")
        for line in lines:
            seeds.add(harness, line)


def main():
    tests, out = sys.argv[1], sys.argv[2]
    seeds = Seeds(out)
    every = sorted(glob.glob(os.path.join(tests, "*", "transcripts", "*.transcript")))
    of = lambda program: [p for p in every if f"/{program}/transcripts/" in p]

    lines_of(seeds, "fuzz_sondra_requests", of("sondra"), {">", ">~"})
    lines_of(seeds, "fuzz_ambrel", of("ambrel"), {">", ">~"})
    lines_of(seeds, "fuzz_control", every, {"@>"})

    for path in of("velkit"):
        scene = b"mail_compose"
        for head, data in transcript_steps(path):
            if head == "scene:":
                scene = data
            elif head == "run:":
                args = [a.encode() for a in json.loads(data)]
                seeds.add("fuzz_velkit", b"\0".join([scene] + args))

    for path in every:
        for head, data in transcript_steps(path):
            if head == "config:":
                seeds.add("fuzz_config", data)
    # The configurations the decoder's tests spell out as raw strings.
    for path in glob.glob(os.path.join(tests, "core", "NolariConfig_test.cpp")):
        with open(path, encoding="utf-8") as f:
            for text in re.findall(r'R"\((.*?)\)"', f.read(), re.S):
                seeds.add("fuzz_config", text.encode())

    for path in sorted(glob.glob(os.path.join(tests, "scenes", "*.json"))):
        with open(path, "rb") as f:
            seeds.add("fuzz_scene", f.read())

    print("fuzz: seeds " + ", ".join(f"{k} {len(v)}" for k, v in sorted(seeds.names.items())))


if __name__ == "__main__":
    main()
