"""Ambrel through its pipes, on the simulated desktop.

Latency: "dictation_arm" written to standard input until "dictation_ptt_down"
is read, one command at a time, beside /bin/cat echoing lines through the same
kind of pipes (the baseline). Idle: the processor time an idle agent uses over
a window. Memory: resident size before and after a flood of commands.
"""

import argparse
import json
import os
import select
import subprocess
import tempfile
import threading
import time


class Child:
    def __init__(self, argv, env=None, cwd=None):
        self.process = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, env=env, cwd=cwd)
        self.out = self.process.stdout.fileno()
        self.buffer = b""

    def write(self, data):
        self.process.stdin.write(data)
        self.process.stdin.flush()

    def line(self, timeout=10.0):
        while b"\n" not in self.buffer:
            ready, _, _ = select.select([self.out], [], [], timeout)
            if not ready:
                raise TimeoutError("no line")
            chunk = os.read(self.out, 1 << 16)
            if not chunk:
                raise EOFError("output ended")
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\n", 1)
        return line

    def cpu_seconds(self):
        with open(f"/proc/{self.process.pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def rss_kib(self):
        with open(f"/proc/{self.process.pid}/status") as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        return 0

    def stop(self):
        self.process.kill()
        self.process.wait()


def latencies(child, command, rounds):
    times = []
    for _ in range(rounds):
        start = time.perf_counter()
        child.write(command)
        child.line()
        times.append(time.perf_counter() - start)
    return times


def percentile(values, p):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(p / 100 * len(ordered)))]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("ambrel")
    parser.add_argument("--rounds", type=int, default=2000)
    parser.add_argument("--idle", type=float, default=10.0, help="seconds of the idle window")
    parser.add_argument("--flood", type=int, default=100_000)
    args = parser.parse_args()

    with tempfile.TemporaryDirectory() as directory:
        scene = os.path.join(directory, "scene.json")
        with open(scene, "w") as f:
            json.dump({"trusted": True, "applications": [{"pid": 501, "name": "Editor"}]}, f)
        env = dict(os.environ, NOLARI_PLATFORM="sim", NOLARI_SIM_SCENE=scene)
        env.pop("NOLARI_CONFIG_PATH", None)
        agent = Child([os.path.abspath(args.ambrel)], env=env, cwd=directory)
        started = time.perf_counter()
        startup = json.loads(agent.line())
        assert startup.get("event") == "startup", startup
        echo = Child(["/bin/cat"])

        arm = b'{"type":"dictation_arm"}\n'
        latencies(agent, arm, 200)
        latencies(echo, arm, 200)
        agent_times = latencies(agent, arm, args.rounds)
        echo_times = latencies(echo, arm, args.rounds)
        for name, times in (("dictation_arm -> dictation_ptt_down", agent_times), ("cat echo (baseline)", echo_times)):
            print(f"{name}: p50 {percentile(times, 50) * 1e6:.0f} us, p99 {percentile(times, 99) * 1e6:.0f} us")
        print(f"ratio p50 {percentile(agent_times, 50) / percentile(echo_times, 50):.2f}x, "
              f"p99 {percentile(agent_times, 99) / percentile(echo_times, 99):.2f}x the echo")

        # The tap check is written three seconds after start; wait it out first.
        time.sleep(max(0.0, 3.5 - (time.perf_counter() - started)))
        before = agent.cpu_seconds()
        time.sleep(args.idle)
        used = agent.cpu_seconds() - before
        print(f"idle: {used * 1000:.0f} ms of processor time in {args.idle:.0f} s "
              f"({used / args.idle * 100:.3f}% of one core)")

        rss_before = agent.rss_kib()
        kinds = [b'{"type":"dictation_arm","mode":"command"}\n',
                 b'{"type":"dictation_set_space_hold","enabled":true,"delay_ms":300}\n',
                 b'{"type":"action_blob_state","state":"recording"}\n',
                 b'not json at all\n']
        flood = b"".join(kinds[i % len(kinds)] for i in range(args.flood))
        answered = sum(1 for i in range(args.flood) if i % len(kinds) < 2)
        start = time.perf_counter()
        # Written on a thread of its own, so that the agent's answers are read
        # meanwhile and neither pipe fills up.
        writer = threading.Thread(target=agent.write, args=(flood,))
        writer.start()
        for _ in range(answered):
            agent.line()
        elapsed = time.perf_counter() - start
        writer.join()
        rss_after = agent.rss_kib()
        print(f"flood of {args.flood} commands ({answered} answered) in {elapsed:.2f} s; "
              f"resident {rss_before} KiB before, {rss_after} KiB after ({rss_after / rss_before:.2f}x)")
        agent.stop()
        echo.stop()


if __name__ == "__main__":
    main()
