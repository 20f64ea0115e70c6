"""Latency and rate of Tarnet's focus reports on the simulated desktop.

One tarnet runs on a generated scene and is driven through the simulated
desktop's control channel. Each measurement is made twice in the same run:
with focus changes, which go through the observer, the focus resolution and
the report with its frame walk, and with echo lines, which only cross the same
channel and the same main run loop (the baseline).

Latency: one change at a time, from writing the control line to reading the
line it caused. Rate: all changes written at once, lines read per second, and
the processor time the program spent per line (which a busy machine disturbs
less than the wall-clock figures).
"""

import argparse
import collections
import json
import os
import select
import statistics
import subprocess
import sys
import tempfile
import threading
import time

FIELDS = 100


def make_scene():
    """One editor whose fields sit three levels down; every other field has no
    frame of its own, so its report walks up to an ancestor's."""
    fields = []
    for i in range(FIELDS):
        field = {"id": f"f{i}", "AXRole": "AXTextField", "AXTitle": f"Field {i}",
                 "AXValue": f"value of field {i} " * (1 + i % 5), "settable": ["AXValue"]}
        if i % 2 == 0:
            field["frame"] = [20, 20 + 24 * i, 400, 22]
        fields.append(field)
    group = {"id": "form", "AXRole": "AXGroup", "frame": [10, 10, 600, 24 * FIELDS + 40],
             "children": fields}
    scroll = {"id": "scroll", "AXRole": "AXScrollArea", "frame": [0, 0, 640, 800], "children": [group]}
    window = {"id": "window", "AXRole": "AXWindow", "AXTitle": "Form", "frame": [0, 0, 640, 800],
              "children": [scroll]}
    return {"screens": [{"frame": [0, 0, 1440, 900], "visible_frame": [0, 0, 1440, 875]}],
            "frontmost": 501,
            "applications": [{"pid": 501, "name": "Editor", "focused": "f0", "windows": [window]}]}


class Tarnet:
    def __init__(self, program, directory):
        scene = os.path.join(directory, "scene.json")
        config = os.path.join(directory, "nolari.json")
        self.control_path = os.path.join(directory, "control")
        with open(scene, "w") as f:
            json.dump(make_scene(), f)
        with open(config, "w") as f:
            json.dump({"observer": {"enabled": True, "focus_retry_delays": [],
                                    "max_tree_depth": 5, "max_tree_children": 50}}, f)
        os.mkfifo(self.control_path)
        env = dict(os.environ, NOLARI_PLATFORM="sim", NOLARI_SIM_SCENE=scene,
                   NOLARI_SIM_CONTROL=self.control_path, NOLARI_CONFIG_PATH=config)
        self.process = subprocess.Popen([program], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                        cwd=directory, env=env)
        self.out = self.process.stdout.fileno()
        self.lines = collections.deque()
        self.partial = b""
        first = json.loads(self.line())
        assert first.get("event") == "started", first
        self.control = os.open(self.control_path, os.O_WRONLY)
        observing = json.loads(self.line())
        assert observing.get("status", "").startswith("Observing pid 501"), observing

    def line(self, timeout=10.0):
        while not self.lines:
            ready, _, _ = select.select([self.out], [], [], timeout)
            if not ready:
                raise TimeoutError("no line from tarnet")
            chunk = os.read(self.out, 1 << 16)
            if not chunk:
                raise EOFError("tarnet ended")
            *complete, self.partial = (self.partial + chunk).split(b"\n")
            self.lines.extend(complete)
        return self.lines.popleft()

    def cpu_seconds(self):
        """User and system time the program has used so far."""
        with open(f"/proc/{self.process.pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def send(self, text):
        data = text.encode()
        while data:
            data = data[os.write(self.control, data):]

    def close(self):
        os.close(self.control)
        self.process.kill()
        self.process.wait()


def focus_line(i):
    return json.dumps({"op": "focus", "element": f"f{i % FIELDS}"}) + "\n"


def echo_line(i):
    return json.dumps({"op": "echo", "data": i}) + "\n"


def is_focus(line):
    return line.startswith(b'{"app_name"') or b'"type":"focus_info"' in line


def is_echo(line):
    return line.startswith(b'{"echo"')


def latencies(tarnet, count, make, accept):
    out = []
    for i in range(count):
        start = time.perf_counter_ns()
        tarnet.send(make(i))
        while not accept(tarnet.line()):
            pass
        out.append((time.perf_counter_ns() - start) / 1000.0)
    return out


def rate(tarnet, count, make, accept):
    """Lines per second, and the program's processor time per line in us."""
    text = "".join(make(i) for i in range(count))
    cpu = tarnet.cpu_seconds()
    start = time.perf_counter()
    writer = threading.Thread(target=tarnet.send, args=(text,))
    writer.start()
    got = 0
    while got < count:
        if accept(tarnet.line()):
            got += 1
    elapsed = time.perf_counter() - start
    writer.join()
    return count / elapsed, (tarnet.cpu_seconds() - cpu) / count * 1e6


def percentile(values, p):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(p / 100.0 * (len(ordered) - 1))))]


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("tarnet")
    parser.add_argument("--count", type=int, default=10000)
    args = parser.parse_args()

    with tempfile.TemporaryDirectory(prefix="tarnet-bench-") as directory:
        tarnet = Tarnet(args.tarnet, directory)
        try:
            # A short warm-up of both paths.
            latencies(tarnet, 200, echo_line, is_echo)
            latencies(tarnet, 200, focus_line, is_focus)
            results = {
                "channel echo (baseline)": (latencies(tarnet, args.count, echo_line, is_echo),
                                            rate(tarnet, args.count, echo_line, is_echo)),
                "focus change -> focus_info": (latencies(tarnet, args.count, focus_line, is_focus),
                                               rate(tarnet, args.count, focus_line, is_focus)),
            }
        finally:
            tarnet.close()

    print(f"tarnet: {args.count} changes through the simulated desktop's control channel")
    print(f"{'':28} {'median us':>10} {'p99 us':>10} {'lines/s':>10} {'cpu us/line':>12}")
    for name, (lat, (per_second, cpu)) in results.items():
        print(f"{name:28} {statistics.median(lat):10.1f} {percentile(lat, 99):10.1f} {per_second:10.0f}"
              f" {cpu:12.1f}")
    base = statistics.median(results["channel echo (baseline)"][0])
    work = statistics.median(results["focus change -> focus_info"][0])
    print(f"Tarnet's own work per report (median difference): {work - base:.1f} us")


if __name__ == "__main__":
    sys.exit(main())
