"""Ambrel's command hotkey on the real desktop (headless X server, window
manager, D-Bus session): from the key going down to the "dictation_ptt_down"
line, over 200 presses, p50 and p99.

Two ways of pressing: `xdotool keydown ctrl+shift+d` as its own process (what
a test does; the figure includes starting xdotool), and the same key sent with
XTEST from this process (the X server, the keyboard tap and the agent alone).

    /usr/bin/python3 bench/ambrel/desktop.py <build dir>
"""
import ctypes
import importlib.util
import os
import queue
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
PRESSES = 200
XK_CONTROL_L, XK_SHIFT_L, XK_D = 0xFFE3, 0xFFE1, 0x64

spec = importlib.util.spec_from_file_location("desktop_bench", os.path.join(HERE, "..", "desktop", "bench.py"))
desktop_bench = importlib.util.module_from_spec(spec)
spec.loader.exec_module(desktop_bench)


class Xtest:
    def __init__(self, display):
        self.x11 = ctypes.CDLL("libX11.so.6")
        self.xtst = ctypes.CDLL("libXtst.so.6")
        self.x11.XOpenDisplay.restype = ctypes.c_void_p
        self.x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x11.XKeysymToKeycode.restype = ctypes.c_ubyte
        self.x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        self.x11.XFlush.argtypes = [ctypes.c_void_p]
        self.xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
        self.display = self.x11.XOpenDisplay(display.encode())
        if not self.display:
            raise RuntimeError("cannot open " + display)

    def keys(self, keysyms, down):
        for keysym in keysyms:
            self.xtst.XTestFakeKeyEvent(self.display, self.x11.XKeysymToKeycode(self.display, keysym), down, 0)
        self.x11.XFlush(self.display)


def is_type(kind):
    return lambda line: line.get("type") == kind


def measure(lines, press, release):
    times = []
    for _ in range(PRESSES):
        start = time.perf_counter()
        press()
        lines.next(is_type("dictation_ptt_down"), timeout=5)
        times.append((time.perf_counter() - start) * 1000)
        release()
        lines.next(is_type("dictation_ptt_up"), timeout=5)
    return times


def summary(times):
    return f"p50 {desktop_bench.percentile(times, 50):.2f} ms, p99 {desktop_bench.percentile(times, 99):.2f} ms"


def main():
    ambrel_path = os.path.join(os.path.abspath(sys.argv[1]), "native", "source", "ambrel", "ambrel")
    desktop = desktop_bench.Desktop()
    try:
        agent = subprocess.Popen([ambrel_path], env=desktop.env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                 stderr=subprocess.DEVNULL, text=True)
        lines = desktop_bench.Lines(agent)
        lines.next(lambda line: line.get("event") == "startup")
        agent.stdin.write('{"type":"dictation_set_hotkey","command_accel":"control+shift+d"}\n')
        agent.stdin.flush()
        lines.next(lambda line: line.get("event") == "dictation_command_hotkey_updated")
        xtest = Xtest(desktop.display)
        # The tap records once its thread runs: press until a press is seen.
        for _ in range(50):
            xtest.keys([XK_CONTROL_L, XK_SHIFT_L, XK_D], 1)
            xtest.keys([XK_D, XK_SHIFT_L, XK_CONTROL_L], 0)
            try:
                lines.next(is_type("dictation_ptt_up"), timeout=0.2)
                break
            except queue.Empty:
                pass
        else:
            raise RuntimeError("the agent never saw the hotkey: " + repr(list(lines.lines.queue)))

        def xdotool(*args):
            subprocess.run(["xdotool", *args], env=desktop.env, check=True)

        by_xdotool = measure(lines, lambda: xdotool("keydown", "ctrl+shift+d"),
                             lambda: xdotool("keyup", "ctrl+shift+d"))
        xtest.keys([XK_CONTROL_L, XK_SHIFT_L], 1)
        by_xtest = measure(lines, lambda: xtest.keys([XK_D], 1), lambda: xtest.keys([XK_D], 0))
        xtest.keys([XK_SHIFT_L, XK_CONTROL_L], 0)
        print(f"{PRESSES} presses of the command hotkey, key down -> dictation_ptt_down")
        print(f"  xdotool keydown (process start included): {summary(by_xdotool)}")
        print(f"  XTEST from the bench:                     {summary(by_xtest)}")
        agent.send_signal(signal.SIGTERM)
        agent.wait(timeout=5)
    finally:
        desktop.stop()


if __name__ == "__main__":
    main()
