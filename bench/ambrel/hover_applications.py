"""Ambrel's hover in the applications people write in: from the pointer's stop
over each one's text field (moved with XTEST) to the "hover" line, p50 and
p99 of SAMPLES stops, with the role and window title the line gave.

    /usr/bin/python3 bench/ambrel/hover_applications.py <build dir>
"""
import ctypes
import json
import os
import queue
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "desktop"))
from applications import applications  # noqa: E402
from bench import Desktop, Lines, percentile  # noqa: E402

SAMPLES = 30
FIELD = os.path.join(HERE, "..", "..", "native", "tests", "desktop", "apps", "field.py")
BUS_NAMES = {"mousepad": "mousepad", "featherpad": "featherpad", "libreoffice": "soffice",
             "chromium": "chromium", "firefox": "firefox"}


def field_extents(desktop, app, deadline=60):
    until = time.time() + deadline
    while time.time() < until:
        out = subprocess.run(["/usr/bin/python3", FIELD, app, "-"], env=desktop.env,
                             capture_output=True, text=True).stdout
        try:
            extents = json.loads(out).get("extents")
        except ValueError:
            extents = None
        if extents and extents[2] > 0 and extents[3] > 0:
            return extents
        time.sleep(0.3)
    return None


def main():
    ambrel = os.path.join(os.path.abspath(sys.argv[1]), "native", "source", "ambrel", "ambrel")
    desktop = Desktop()
    work = tempfile.mkdtemp(prefix="nolari-bench-hover-")
    x11 = ctypes.CDLL("libX11.so.6")
    xtst = ctypes.CDLL("libXtst.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    xtst.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_int,
                                          ctypes.c_ulong]
    display = x11.XOpenDisplay(desktop.display.encode())
    agent = subprocess.Popen([ambrel], env=desktop.env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, text=True)
    lines = Lines(agent)
    lines.next(lambda line: line.get("event") == "startup")
    rows = {}
    try:
        for name, command, env in applications(work):
            app = subprocess.Popen(command, env=dict(desktop.env, **env), stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL, start_new_session=True)
            try:
                extents = field_extents(desktop, BUS_NAMES[name])
                if not extents:
                    rows[name] = "no focused field on the bus"
                    continue
                x = int(extents[0] + min(40, extents[2] // 3))
                y = int(extents[1] + extents[3] // 2)
                times, last = [], None
                for i in range(SAMPLES + 5):
                    time.sleep(0.15)
                    column = x + i % 2 * 6
                    start = time.perf_counter()
                    xtst.XTestFakeMotionEvent(display, -1, column, y, 0)
                    x11.XFlush(display)
                    try:
                        last = lines.next(lambda line: line.get("type") == "hover"
                                          and line["mouse"]["carbon_x"] == column, timeout=2)
                    except queue.Empty:
                        continue
                    if i >= 5:
                        times.append((time.perf_counter() - start) * 1000)
                rows[name] = {"p50_ms": round(percentile(times, 50), 1) if times else None,
                              "p99_ms": round(percentile(times, 99), 1) if times else None,
                              "lines": len(times), "role": last and last["role"],
                              "window_title": last and last["window_title"]}
            finally:
                os.killpg(app.pid, signal.SIGTERM)
                app.wait(timeout=10)
    finally:
        agent.send_signal(signal.SIGTERM)
        agent.wait(timeout=5)
        desktop.stop()
        subprocess.run(["rm", "-rf", work])
    print(json.dumps(rows, indent=1))


if __name__ == "__main__":
    main()
