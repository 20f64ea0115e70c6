"""The action blob on the real desktop (headless X server, window manager,
compositor): the agent's processor time and memory while the blob is hidden
and idle, hidden while a flood of audio levels comes in (the baseline: the
cost of reading the commands alone), shown recording with levels at the rate
the parent sends them (30 a second), and shown under a flood of 1,000 levels a
second. The frame rate is the agent's own; the compositor's time is not counted.

    /usr/bin/python3 bench/ambrel/blob.py <build dir> [seconds per phase, 30]
"""
import importlib.util
import json
import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
spec = importlib.util.spec_from_file_location("desktop_bench", os.path.join(HERE, "..", "desktop", "bench.py"))
desktop_bench = importlib.util.module_from_spec(spec)
spec.loader.exec_module(desktop_bench)
TICK = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICK


def resident_kib(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def phase(agent, seconds, levels_per_second):
    """Processor share of one core over the phase, and the memory at its end."""
    start_cpu, start = cpu_seconds(agent.pid), time.perf_counter()
    sent = 0
    while (elapsed := time.perf_counter() - start) < seconds:
        if levels_per_second:
            due = int(elapsed * levels_per_second)
            batch = "".join(json.dumps({"type": "action_blob_set_audio_level",
                                        "level": (n % 20) / 20}) + "\n" for n in range(sent, due))
            agent.stdin.write(batch)
            agent.stdin.flush()
            sent = due
        time.sleep(0.005 if levels_per_second else 0.5)
    used = cpu_seconds(agent.pid) - start_cpu
    return 100 * used / (time.perf_counter() - start), resident_kib(agent.pid)


def main():
    build = os.path.abspath(sys.argv[1])
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 30
    ambrel = os.path.join(build, "native", "source", "ambrel", "ambrel")
    desktop = desktop_bench.Desktop()
    config = tempfile.mkdtemp(prefix="nolari-blob-")
    try:
        desktop.spawn(["xcompmgr"], desktop.env)
        os.makedirs(os.path.join(config, "nolari"))
        with open(os.path.join(config, "nolari", "defaults.json"), "w") as out:
            json.dump({"migratedToHiddenBlob_v1": True}, out)
        env = dict(desktop.env, XDG_CONFIG_HOME=config)
        agent = subprocess.Popen([ambrel], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                 stderr=subprocess.DEVNULL, text=True, env=env)
        agent.stdout.readline()
        time.sleep(1)
        rows = [("hidden, idle", *phase(agent, seconds, 0)),
                ("hidden, 1,000 levels/s (baseline)", *phase(agent, seconds, 1000))]
        agent.stdin.write(json.dumps({"type": "action_blob_state", "state": "recording"}) + "\n")
        agent.stdin.flush()
        time.sleep(0.5)
        rows.append(("recording, 30 levels/s", *phase(agent, seconds, 30)))
        rows.append(("recording, 1,000 levels/s", *phase(agent, seconds, 1000)))
        agent.terminate()
        agent.wait(timeout=5)
    finally:
        desktop.stop()
        subprocess.run(["rm", "-rf", config])
    baseline = rows[1][1]
    print(f"ambrel with the blob on X11, {seconds:.0f} s a phase (share of one core, resident memory at the end):")
    for name, cpu, rss in rows:
        ratio = f"{cpu / baseline:5.1f}x the baseline" if baseline > 0 else ""
        print(f"  {name:36s} {cpu:5.2f} %  {rss / 1024:6.1f} MiB  {ratio}")


if __name__ == "__main__":
    main()
