"""Figures for Velkit and Tarnet on the live compose window.

- wall time of `velkit check-permissions` and `velkit get-context` (median of 30 runs);
- bus requests per command: D-Bus messages the program sends (counted with strace when it is
  installed), each one round trip to the accessibility bus or an application;
- Tarnet's delay from a keystroke to its focus_info line, and from the application's own focus
  change to that line, over 200 focus changes (median and 99th percentile).
"""
import json
import os
import queue
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
COMPOSER = os.path.join(HERE, "..", "..", "native", "tests", "desktop", "apps", "compose.py")
FOCUS_CHANGES = 200
RUNS = 30


class Lines:
    """The JSON lines of a child's standard output, read on a thread of their own."""

    def __init__(self, process):
        self.lines = queue.Queue()
        threading.Thread(target=self.pump, args=(process.stdout,), daemon=True).start()

    def pump(self, stream):
        for line in stream:
            try:
                self.lines.put(json.loads(line))
            except ValueError:
                pass

    def next(self, wanted=lambda line: True, timeout=10):
        deadline = time.time() + timeout
        while True:
            line = self.lines.get(timeout=max(0.001, deadline - time.time()))
            if wanted(line):
                return line


def percentile(values, p):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(p / 100 * (len(ordered) - 1))))]


class Desktop:
    def __init__(self):
        self.processes = []
        self.runtime = tempfile.mkdtemp(prefix="nolari-bench-")
        x = self.spawn(["Xvfb", "-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"])
        self.display = ":" + x.stdout.readline().strip()
        bus = self.spawn(["dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1"],
                         {"DISPLAY": self.display, "XDG_RUNTIME_DIR": self.runtime})
        self.env = dict(os.environ, DISPLAY=self.display, XDG_RUNTIME_DIR=self.runtime,
                        DBUS_SESSION_BUS_ADDRESS=bus.stdout.readline().strip(), NOLARI_PLATFORM="linux")
        self.env.pop("AT_SPI_BUS_ADDRESS", None)
        self.spawn(["openbox", "--sm-disable"], self.env)
        while subprocess.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=self.env,
                             capture_output=True, text=True).stdout.find("window id") < 0:
            time.sleep(0.05)

    def spawn(self, args, env=None):
        process = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL, text=True,
                                   env=dict(os.environ, **(env or {})))
        self.processes.append(process)
        return process

    def composer(self, field):
        app = self.spawn(["/usr/bin/python3", COMPOSER, field], self.env)
        lines = Lines(app)
        lines.next(lambda line: line["field"] == "focus")
        return app, lines

    def stop(self):
        for process in reversed(self.processes):
            process.send_signal(signal.SIGTERM)
            process.wait(timeout=5)
        shutil.rmtree(self.runtime, ignore_errors=True)


def wall(desktop, program, args):
    times = []
    for _ in range(RUNS):
        start = time.perf_counter()
        subprocess.run([program] + args, env=desktop.env, capture_output=True, check=True)
        times.append((time.perf_counter() - start) * 1000)
    return round(statistics.median(times), 1)


def messages(desktop, program, args):
    if not shutil.which("strace"):
        return None
    with tempfile.NamedTemporaryFile(suffix=".strace") as trace:
        subprocess.run(["strace", "-f", "-qq", "-e", "trace=sendmsg", "-o", trace.name, program] + args,
                       env=desktop.env, capture_output=True, check=True)
        return sum(1 for line in open(trace.name) if "sendmsg(" in line)


def tarnet_delays(desktop, tarnet, app_lines):
    process = subprocess.Popen([tarnet], env=desktop.env, stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, text=True)
    lines = Lines(process)
    try:
        # The delayed checks after start-up run out within a second and a half.
        lines.next(lambda line: line.get("type") == "focus_info")
        time.sleep(1.5)
        while not lines.lines.empty():
            lines.lines.get()
        from_key, from_app = [], []
        expected = ["Lunch on Friday", "ann@example.com"]
        for i in range(FOCUS_CHANGES):
            pressed = time.time()
            subprocess.run(["xdotool", "key", "Tab" if i % 2 == 0 else "shift+Tab"], env=desktop.env, check=True)
            line = lines.next(lambda l: l.get("type") == "focus_info" and l.get("value_preview") == expected[i % 2])
            report = app_lines.next(lambda r: r["field"] == "focus")
            from_key.append((line["timestamp"] - pressed) * 1000)
            from_app.append((line["timestamp"] - report["time"]) * 1000)
        return from_key, from_app
    finally:
        process.send_signal(signal.SIGTERM)
        process.wait(timeout=5)


def main():
    build = sys.argv[1]
    velkit = os.path.join(build, "native", "source", "velkit", "velkit")
    tarnet = os.path.join(build, "native", "source", "tarnet", "tarnet")
    desktop = Desktop()
    try:
        body, _ = desktop.composer("body")
        figures = {
            "velkit_check_permissions_ms": wall(desktop, velkit, ["check-permissions"]),
            "velkit_get_context_ms": wall(desktop, velkit, ["get-context"]),
            "velkit_get_focused_ms": wall(desktop, velkit, ["get-focused"]),
            "dbus_messages_check_permissions": messages(desktop, velkit, ["check-permissions"]),
            "dbus_messages_get_focused": messages(desktop, velkit, ["get-focused"]),
            "dbus_messages_get_context": messages(desktop, velkit, ["get-context"]),
            "dbus_messages_capture_selection": messages(desktop, velkit, ["capture-selection"]),
        }
        body.send_signal(signal.SIGTERM)
        body.wait(timeout=5)
        _, to_lines = desktop.composer("to")
        from_key, from_app = tarnet_delays(desktop, tarnet, to_lines)
        figures.update({
            "tarnet_focus_changes": len(from_key),
            "tarnet_key_to_focus_info_ms": {"median": round(statistics.median(from_key), 2),
                                            "p99": round(percentile(from_key, 99), 2)},
            "tarnet_app_focus_to_focus_info_ms": {"median": round(statistics.median(from_app), 2),
                                                  "p99": round(percentile(from_app, 99), 2)},
        })
        print(json.dumps(figures, indent=1))
    finally:
        desktop.stop()


if __name__ == "__main__":
    main()
