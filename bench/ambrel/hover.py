"""Ambrel's hover: from a pointer move to its "hover" line, p50 and p99, on the
simulated desktop (moves through the control channel, beside the channel's own
echo and the agent's dictation_arm -> dictation_ptt_down) and on a headless X
desktop over the GTK compose window's "To" entry (moves with XTEST, the
accessibility bus's hit test included). Then a flood of 1,000 moves a second
for five seconds: hover lines a second and the agent's processor time.

    /usr/bin/python3 bench/ambrel/hover.py <build dir>
"""
import ctypes
import importlib.util
import json
import os
import queue
import signal
import socket
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SAMPLES = 150
FLOOD_SECONDS = 5

spec = importlib.util.spec_from_file_location("desktop_bench", os.path.join(HERE, "..", "desktop", "bench.py"))
desktop_bench = importlib.util.module_from_spec(spec)
spec.loader.exec_module(desktop_bench)
percentile = desktop_bench.percentile

SCENE = {"trusted": True,
         "screens": [{"frame": [0, 0, 1440, 900], "visible_frame": [0, 0, 1440, 875]}],
         "applications": [{"pid": 501, "name": "Mail", "windows": [
             {"id": "w", "AXRole": "AXWindow", "AXTitle": "New Message", "frame": [200, 100, 800, 600],
              "children": [{"id": "to", "AXRole": "AXTextField", "frame": [280, 140, 700, 22]}]}]}]}


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def is_type(kind):
    return lambda line: line.get("type") == kind


def summary(times):
    return f"p50 {percentile(times, 50):.2f} ms, p99 {percentile(times, 99):.2f} ms"


def timed(lines, act, wanted, gap=0.12):
    """`act` then the wanted line, SAMPLES times, `gap` apart so the throttle never drops one."""
    times = []
    for i in range(SAMPLES):
        time.sleep(gap)
        start = time.perf_counter()
        act(i)
        lines.next(wanted, timeout=5)
        times.append((time.perf_counter() - start) * 1000)
    return times


def flood(lines, pid, move):
    """1,000 moves a second: the hover lines a second and the processor time used."""
    while True:
        try:
            lines.lines.get_nowait()
        except queue.Empty:
            break
    before = cpu_seconds(pid)
    start = time.perf_counter()
    sent = 0
    while time.perf_counter() - start < FLOOD_SECONDS:
        due = int((time.perf_counter() - start) * 1000)
        while sent < due:
            move(sent)
            sent += 1
        time.sleep(0.001)
    elapsed = time.perf_counter() - start
    time.sleep(0.3)
    used = cpu_seconds(pid) - before
    hovers = 0
    while True:
        try:
            hovers += lines.lines.get_nowait().get("type") == "hover"
        except queue.Empty:
            break
    return (f"{sent} moves in {elapsed:.1f} s: {hovers / elapsed:.1f} hover lines a second, "
            f"{used * 1000 / elapsed:.0f} ms of processor time a second")


def simulated(ambrel):
    with tempfile.TemporaryDirectory() as directory:
        scene = os.path.join(directory, "scene.json")
        with open(scene, "w") as f:
            json.dump(SCENE, f)
        control = os.path.join(directory, "control")
        env = dict(os.environ, NOLARI_PLATFORM="sim", NOLARI_SIM_SCENE=scene, NOLARI_SIM_CONTROL=control)
        env.pop("NOLARI_CONFIG_PATH", None)
        agent = subprocess.Popen([ambrel], env=env, cwd=directory, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                 stderr=subprocess.DEVNULL, text=True)
        lines = desktop_bench.Lines(agent)
        lines.next(lambda line: line.get("event") == "startup")
        channel = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        for _ in range(100):
            try:
                channel.connect(control)
                break
            except OSError:
                time.sleep(0.05)

        def op(line):
            channel.sendall((json.dumps(line) + "\n").encode())

        op({"op": "key", "key": "a"})
        move = lambda i: op({"op": "mouse_move", "x": 400 + i % 2 * 10, "y": 750})
        echo = timed(lines, lambda i: op({"op": "echo", "data": "x"}), lambda line: line.get("echo") == "x", 0)

        def arm(_):
            agent.stdin.write('{"type":"dictation_arm"}\n')
            agent.stdin.flush()

        armed = timed(lines, arm, is_type("dictation_ptt_down"), 0)
        hover = timed(lines, move, is_type("hover"))
        print("simulated desktop")
        print(f"  control channel echo:              {summary(echo)}")
        print(f"  dictation_arm -> dictation_ptt_down: {summary(armed)}")
        print(f"  mouse_move -> hover:               {summary(hover)}")
        print("  flood: " + flood(lines, agent.pid, move))
        agent.kill()
        agent.wait()


def x11(ambrel):
    desktop = desktop_bench.Desktop()
    try:
        desktop.composer("body")
        active = subprocess.run(["xdotool", "getactivewindow"], env=desktop.env, capture_output=True,
                                text=True).stdout.strip()
        info = subprocess.run(["xwininfo", "-id", active], env=desktop.env, capture_output=True, text=True).stdout
        values = {k.strip(): int(v) for k, v in (line.split(":", 1) for line in info.splitlines()
                                                  if line.strip().startswith(("Absolute", "Width")))}
        x = values["Absolute upper-left X"] + values["Width"] // 2
        y = values["Absolute upper-left Y"] + 24
        agent = subprocess.Popen([ambrel], env=desktop.env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                 stderr=subprocess.DEVNULL, text=True)
        lines = desktop_bench.Lines(agent)
        lines.next(lambda line: line.get("event") == "startup")
        x11lib = ctypes.CDLL("libX11.so.6")
        xtst = ctypes.CDLL("libXtst.so.6")
        x11lib.XOpenDisplay.restype = ctypes.c_void_p
        x11lib.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x11lib.XFlush.argtypes = [ctypes.c_void_p]
        xtst.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_int,
                                              ctypes.c_ulong]
        display = x11lib.XOpenDisplay(desktop.display.encode())

        def move(i):
            xtst.XTestFakeMotionEvent(display, -1, x + i % 2 * 10, y, 0)
            x11lib.XFlush(display)

        for i in range(50):
            move(i)
            try:
                lines.next(is_type("hover"), timeout=0.2)
                break
            except queue.Empty:
                pass
        else:
            raise RuntimeError("no hover line over the To entry")
        hover = timed(lines, move, is_type("hover"))
        print("headless X desktop, GTK entry, hit test over the accessibility bus")
        print(f"  XTEST motion -> hover:             {summary(hover)}")
        print("  flood: " + flood(lines, agent.pid, move))
        agent.send_signal(signal.SIGTERM)
        agent.wait(timeout=5)
    finally:
        desktop.stop()


def main():
    ambrel = os.path.join(os.path.abspath(sys.argv[1]), "native", "source", "ambrel", "ambrel")
    simulated(ambrel)
    x11(ambrel)


if __name__ == "__main__":
    main()
