"""What contextual strings and a cold process cost Sondra, as a user dictating into
ever new fields sees it.

One sondra process transcribes recordings of 1.5-5 s (spoken by flite) in turns:
without contextual strings, with a set it has seen before, and with a set it has
never seen (8-12 words of a field, among them names the dictionary lacks), and
prints the p50 and worst wall time of each, as a ratio to the requests without
context. The rare-name sentences are also scored with their names inside such a
new set. Then fresh processes each get their first request 3 s after their
startup line (ratio to a warm request), and one process gets a flood of requests,
each with a new set, its resident memory read along the way.
"""

import argparse
import os
import random
import statistics
import sys
import tempfile
import time

from bench import COMMANDS, RARE, Sondra, Tally, duration, speak

EXTRA = [
    "Remind me to water the plants tonight.",
    "The train leaves at half past seven.",
    "Send the report to the whole team before lunch.",
    "Can you move the meeting to Friday morning?",
]

# Ordinary words of a form or a draft: the rest of a field's context.
FIELD_WORDS = ("subject invoice project meeting draft budget review notes agenda client account "
               "summary deadline schedule update office travel contract order support design "
               "payment report team quarter launch shipping ticket survey proposal").split()

SYLLABLES = "ka zu mi tor vel quin dra osh pel nix bru fen gal yor thi wex lum sar kep zor".split()


def new_name(rng):
    """A made-up name: no dictionary has it, and no two requests share one."""
    return "".join(rng.choice(SYLLABLES) for _ in range(3)).capitalize()


def field_context(rng, names=()):
    """8-12 words: a field's ordinary words and two or three names."""
    names = list(names) or [new_name(rng) for _ in range(rng.randint(2, 3))]
    words = rng.sample(FIELD_WORDS, rng.randint(8, 12) - len(names))
    strings = [" ".join(words[i:i + 3]) for i in range(0, len(words), 3)]
    return strings + names


def ask_ok(sondra, path, strings=None):
    request = {"op": "transcribe", "audio_path": path}
    if strings is not None:
        request["contextual_strings"] = strings
    cpu = sondra.cpu_seconds()
    reply, elapsed = sondra.ask(request)
    assert reply.get("status") == "ok", reply
    return reply, elapsed, sondra.cpu_seconds() - cpu


def first_request(program, workdir, path, processes, delay):
    """Per fresh process: the startup line's delay, a ping at once, the first
    transcription `delay` seconds after start, then the same file warm."""
    rows = []
    for _ in range(processes):
        sondra = Sondra(program, workdir)
        _, ping = sondra.ask({"op": "ping"})
        time.sleep(max(0.0, delay - (time.monotonic() - sondra.started)))
        first = ask_ok(sondra, path)[1]
        warm = statistics.median(ask_ok(sondra, path)[1] for _ in range(3))
        rows.append((sondra.startup_ms, ping * 1000, first, warm))
        sondra.close()
    return rows


def flood(program, workdir, path, count, rng):
    sondra = Sondra(program, workdir)
    ask_ok(sondra, path)
    samples = []
    worst = 0.0
    for i in range(count):
        elapsed = ask_ok(sondra, path, field_context(rng))[1]
        worst = max(worst, elapsed)
        if i == 0 or (i + 1) % max(1, count // 10) == 0:
            samples.append((i + 1, sondra.resident_memory_mb()))
    peak = sondra.peak_memory_mb()
    sondra.close()
    return samples, peak, worst


def report_first(args, workdir, files):
    first = first_request(args.sondra, workdir, files[0], args.processes, args.first_delay)
    firsts = sorted(first, key=lambda row: row[2] / row[3])
    startup, ping, first_s, warm = firsts[len(firsts) // 2]
    print(f"first request {args.first_delay:.0f} s after start (median of {len(first)} processes): "
          f"{first_s * 1000:.0f} ms, {first_s / warm:.2f}x a warm one ({warm * 1000:.0f} ms); worst "
          f"{firsts[-1][2] / firsts[-1][3]:.2f}x; startup line {startup:.0f} ms, first ping {ping:.1f} ms; "
          f"load average {os.getloadavg()[0]:.1f}", flush=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("sondra")
    parser.add_argument("--rounds", type=int, default=3, help="turns over the recordings")
    parser.add_argument("--processes", type=int, default=3, help="fresh processes for the first request")
    parser.add_argument("--flood", type=int, default=1000, help="requests with a new set each")
    parser.add_argument("--first-delay", type=float, default=3.0,
                        help="seconds from start to the first request (more on a busy machine)")
    parser.add_argument("--first-only", action="store_true", help="only the first requests")
    args = parser.parse_args()
    rng = random.Random(7)

    with tempfile.TemporaryDirectory(prefix="sondra-context-bench-") as workdir:
        files = []
        for i, text in enumerate(COMMANDS + EXTRA):
            files.append(speak(workdir, f"field{i}.wav", text, ["kal16", "slt", "rms", "awb"][i % 4]))
        rare = [(speak(workdir, f"rare{i}.wav", text, "kal16"), text, names)
                for i, (text, names) in enumerate(RARE)]
        files += [path for path, _, _ in rare]
        files = [path for path in files if 1.5 <= duration(path) <= 5.0]
        seen = field_context(rng)

        if args.first_only:
            report_first(args, workdir, files)
            return 0
        sondra = Sondra(args.sondra, workdir)
        ask_ok(sondra, files[0])
        ask_ok(sondra, files[0], seen)
        times = {"none": [], "seen": [], "new": []}
        cpus = {"none": [], "seen": [], "new": []}
        for _ in range(args.rounds):
            for path in files:
                order = ["none", "seen", "new"]
                rng.shuffle(order)
                for kind in order:
                    strings = {"none": None, "seen": seen, "new": None}[kind]
                    if kind == "new":
                        strings = field_context(rng)
                    _, wall, cpu = ask_ok(sondra, path, strings)
                    times[kind].append(wall)
                    cpus[kind].append(cpu)
        with_names, without = Tally(), Tally()
        for path, text, names in rare:
            without.add(text, ask_ok(sondra, path)[0]["text"])
            with_names.add(text, ask_ok(sondra, path, field_context(rng, names))[0]["text"])
        sondra.close()
        audio = [duration(path) for path in files]
        print(f"Contextual strings and the first request: {len(files)} recordings of "
              f"{min(audio):.1f}-{max(audio):.1f} s, {args.rounds} rounds, one process; "
              f"load average {os.getloadavg()[0]:.1f} on {os.cpu_count()} cores", flush=True)
        base = statistics.median(times["none"])
        cpu_base = statistics.median(cpus["none"])
        print(f"{'requests':<26} {'p50 ms':>7} {'max ms':>7} {'p50 x':>6} {'max x':>6} {'CPU p50 ms':>11} "
              f"{'CPU x':>6}")
        labels = {"none": "no contextual strings", "seen": "a set seen before", "new": "a new set each request"}
        for kind, label in labels.items():
            p50, worst, cpu = statistics.median(times[kind]), max(times[kind]), statistics.median(cpus[kind])
            print(f"{label:<26} {p50 * 1000:>7.0f} {worst * 1000:>7.0f} {p50 / base:>6.2f} {worst / base:>6.2f} "
                  f"{cpu * 1000:>11.0f} {cpu / cpu_base:>6.2f}")
        print(f"rare-name sentences, names inside a new set: WER {with_names.wer():.1f}% "
              f"(without contextual strings {without.wer():.1f}%)", flush=True)

        report_first(args, workdir, files)

        samples, peak, flood_worst = flood(args.sondra, workdir, files[0], args.flood, rng)
        print(f"flood of {args.flood} new sets: resident MB "
              + ", ".join(f"{mb:.0f} after {n}" for n, mb in samples)
              + f"; peak {peak:.0f} MB; slowest request {flood_worst * 1000:.0f} ms")
    return 0


if __name__ == "__main__":
    sys.exit(main())
