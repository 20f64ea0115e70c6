"""Speed and accuracy of Sondra on speech made by the flite synthesiser, and on
recordings of real speech.

Builds a small synthetic corpus, then sends every file to one long-lived sondra
over its protocol and to the plain engine (pocketsphinx_continuous -infile, one
process per file), and prints word error rates, real-time factors, latencies,
memory and the error of phrase start times. Then scores sondra on the real
recordings (realspeech.py), part by part.
"""

import argparse
import array
import json
import math
import os
import re
import select
import subprocess
import sys
import tempfile
import time
import wave

RATE = 16000

COMMANDS = [
    "Open the calendar.",
    "Call my sister.",
    "Turn off the lights in the kitchen.",
    "Set a timer for ten minutes.",
    "What is the weather tomorrow?",
    "Play some music in the living room.",
]

EMAIL = ("Hi John, thanks for your note. I will send the slides by Tuesday afternoon. "
         "Please let me know if the meeting moves to another day. Best regards, Anna.")

NUMBERS = ("My phone number is five five five, one two three four. "
           "The meeting is at three thirty on the twenty first of May, in room four hundred and twelve.")

PARAGRAPH = ("The city council met on Monday evening to discuss the new budget for the coming year. "
             "Most of the money will go to schools, roads and public transport, while a smaller part "
             "is set aside for parks and libraries. Several residents spoke about the need for better "
             "bus service in the northern neighbourhoods, where many people still drive to work because "
             "the buses are slow and often late. The mayor said that the council would study the problem "
             "and present a plan before the end of the summer. A final vote on the budget is expected next "
             "month, after two more public hearings where anyone can ask questions or suggest changes.")

PHRASES = ["Open the calendar.", "Call my sister.", "What is the weather tomorrow?"]
PAUSE_SECONDS = 1.5

RARE = [
    ("Please schedule a call with Siobhan Okonkwo on Thursday.", ["Siobhan Okonkwo"]),
    ("Forward the invoice to Thandiwe Nakamura.", ["Thandiwe Nakamura"]),
    ("Ask Przemek about the Kubernetes cluster.", ["Przemek", "Kubernetes"]),
    ("Book a table for Ngozi and Aurelio tonight.", ["Ngozi", "Aurelio"]),
    ("Send the draft to Quagliarella before noon.", ["Quagliarella"]),
]

VOICES = ["kal16", "slt", "rms", "awb"]


ABBREVIATIONS = {"mr": "mister", "mrs": "missus", "dr": "doctor", "st": "saint", "ok": "okay"}
SYMBOLS = {"%": " percent ", "&": " and ", "@": " at ", "+": " plus "}

ONES = ["zero", "one", "two", "three", "four", "five", "six", "seven", "eight", "nine", "ten", "eleven",
        "twelve", "thirteen", "fourteen", "fifteen", "sixteen", "seventeen", "eighteen", "nineteen"]
TENS = ["", "", "twenty", "thirty", "forty", "fifty", "sixty", "seventy", "eighty", "ninety"]
ORDINALS = {"one": "first", "two": "second", "three": "third", "five": "fifth", "eight": "eighth",
            "nine": "ninth", "twelve": "twelfth"}


def spell_number(n):
    """Cardinal words of 0 <= n < 10**9, as a speaker would say them."""
    if n < 20:
        return [ONES[n]]
    if n < 100:
        return [TENS[n // 10]] + ([ONES[n % 10]] if n % 10 else [])
    for size, name in ((10 ** 6, "million"), (1000, "thousand"), (100, "hundred")):
        if n >= size:
            rest = n % size
            return spell_number(n // size) + [name] + (spell_number(rest) if rest else [])
    return []


def spell_ordinal(n):
    spoken = spell_number(n)
    last = spoken[-1]
    if last in ORDINALS:
        spoken[-1] = ORDINALS[last]
    elif last.endswith("y"):
        spoken[-1] = last[:-1] + "ieth"
    else:
        spoken[-1] = last + "th"
    return spoken


def _spell(match):
    digits, suffix = match.group(1).replace(",", ""), match.group(2)
    if len(digits) > 9:
        return " ".join(ONES[int(d)] for d in digits)
    n = int(digits)
    return " " + " ".join(spell_ordinal(n) if suffix else spell_number(n)) + " "


def words(text):
    """Lower-case words without punctuation, numbers spelled out, common
    abbreviations written in full, so that only what was heard is compared."""
    text = text.lower().replace("-", " ")
    for symbol, spoken in SYMBOLS.items():
        text = text.replace(symbol, spoken)
    text = re.sub(r"(\d[\d,]*)(st|nd|rd|th)?\b", _spell, text)
    out = []
    for word in re.sub(r"[^a-z' ]+", " ", text).split():
        word = word.strip("'")
        if word:
            out.append(ABBREVIATIONS.get(word, word))
    return out


def edit_distance(ref, hyp):
    previous = list(range(len(hyp) + 1))
    for i, r in enumerate(ref, 1):
        current = [i]
        for j, h in enumerate(hyp, 1):
            current.append(min(previous[j] + 1, current[j - 1] + 1, previous[j - 1] + (r != h)))
        previous = current
    return previous[-1]


class Tally:
    def __init__(self):
        self.errors = 0
        self.words = 0

    def add(self, ref, hyp):
        r, h = words(ref), words(hyp)
        self.errors += edit_distance(r, h)
        self.words += len(r)

    def wer(self):
        return 100.0 * self.errors / max(1, self.words)


def read_pcm(path):
    with wave.open(path) as w:
        assert w.getframerate() == RATE and w.getnchannels() == 1
        samples = array.array("h")
        samples.frombytes(w.readframes(w.getnframes()))
    return samples


def write_pcm(path, samples):
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(samples.tobytes())


def onset_seconds(samples):
    """The first 10 ms frame loud enough to be speech."""
    frame = RATE // 100
    for at in range(0, len(samples) - frame, frame):
        energy = sum(x * x for x in samples[at:at + frame]) / frame
        if math.sqrt(energy) >= 300:
            return at / RATE
    return 0.0


def speak(directory, name, text, voice):
    path = os.path.join(directory, name)
    subprocess.run(["flite", "-voice", voice, "-t", text, "-o", path], check=True)
    return path


def build_corpus(directory):
    """[(category, path, reference text, contextual strings)], the pause file's onsets."""
    corpus = []
    for i, text in enumerate(COMMANDS):
        voice = VOICES[i % len(VOICES)]
        corpus.append(("commands", speak(directory, f"command{i}.wav", text, voice), text, []))
    corpus.append(("email", speak(directory, "email.wav", EMAIL, "slt"), EMAIL, []))
    corpus.append(("numbers", speak(directory, "numbers.wav", NUMBERS, "kal16"), NUMBERS, []))
    corpus.append(("paragraph", speak(directory, "paragraph.wav", PARAGRAPH, "kal16"), PARAGRAPH, []))
    for i, (text, names) in enumerate(RARE):
        corpus.append(("rare names", speak(directory, f"rare{i}.wav", text, VOICES[i % len(VOICES)]), text, names))

    joined = array.array("h")
    onsets = []
    for i, text in enumerate(PHRASES):
        part = read_pcm(speak(directory, f"phrase{i}.wav", text, "kal16"))
        if joined:
            joined.extend([0] * int(PAUSE_SECONDS * RATE))
        onsets.append(len(joined) / RATE + onset_seconds(part))
        joined.extend(part)
    pauses = os.path.join(directory, "pauses.wav")
    write_pcm(pauses, joined)
    corpus.append(("pauses", pauses, " ".join(PHRASES), []))
    return corpus, onsets


def duration(path):
    with wave.open(path) as w:
        return w.getnframes() / w.getframerate()


class Sondra:
    def __init__(self, program, workdir, engine_env=None):
        env = {k: v for k, v in os.environ.items() if not k.startswith("NOLARI_")}
        env.update(engine_env or {})
        self.started = time.monotonic()
        self.process = subprocess.Popen([program], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, cwd=workdir, env=env, bufsize=0)
        self.buffer = b""
        self.startup_line = self.read_line()
        self.startup_ms = (time.monotonic() - self.started) * 1000
        self.next_id = 0

    def read_line(self, timeout=600):
        while b"\n" not in self.buffer:
            ready, _, _ = select.select([self.process.stdout], [], [], timeout)
            if not ready:
                raise TimeoutError("sondra gave no line")
            chunk = os.read(self.process.stdout.fileno(), 65536)
            if not chunk:
                raise EOFError("sondra closed its output")
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\n", 1)
        return json.loads(line)

    def ask(self, request):
        self.next_id += 1
        request = dict(request, id=str(self.next_id))
        began = time.monotonic()
        self.process.stdin.write((json.dumps(request) + "\n").encode())
        reply = self.read_line()
        return reply, time.monotonic() - began

    def cpu_seconds(self):
        with open(f"/proc/{self.process.pid}/stat") as stat:
            fields = stat.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def resident_memory_mb(self):
        with open(f"/proc/{self.process.pid}/status") as status:
            for line in status:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1]) / 1024
        return float("nan")

    def peak_memory_mb(self):
        with open(f"/proc/{self.process.pid}/status") as status:
            for line in status:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1]) / 1024
        return float("nan")

    def close(self):
        self.process.stdin.close()
        return self.process.wait(timeout=60)


def plain_engine(path):
    began = time.monotonic()
    out = subprocess.run(["pocketsphinx_continuous", "-infile", path], stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL, text=True, check=False).stdout
    return " ".join(line.strip() for line in out.splitlines() if line.strip()), time.monotonic() - began


def alternate_phrase_sets(program, directory, corpus, requests):
    """A fresh sondra given the rare-name files in turn, each with its own names:
    a line telling resident memory after the first round and at the end, and CPU
    time per request for a set met the first time, a cached one and none."""
    rare = [(path, names) for category, path, _, names in corpus if category == "rare names"][:2]
    sondra = Sondra(program, directory)

    def cpu_of(path, names):
        before = sondra.cpu_seconds()
        reply, _ = sondra.ask({"op": "transcribe", "audio_path": path, "contextual_strings": names})
        assert reply["status"] == "ok", reply
        return sondra.cpu_seconds() - before

    cpu_of(rare[0][0], [])  # the model's load
    plain = cpu_of(rare[0][0], [])
    first = [cpu_of(path, names) for path, names in rare]
    warm = sondra.resident_memory_mb()
    cached = [cpu_of(*rare[i % len(rare)]) for i in range(requests)]
    end = sondra.resident_memory_mb()
    status = sondra.close()
    return (f"phrase sets in turn ({len(rare)} sets, {requests} more requests): resident memory {warm:.0f} MB "
            f"after the first round, {end:.0f} MB after; CPU per request {plain * 1000:.0f} ms without "
            f"contextual strings, {sum(first) / len(first) * 1000:.0f} ms with a new set, "
            f"{sum(cached) / len(cached) * 1000:.0f} ms with a cached one; exit status {status}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("sondra")
    parser.add_argument("--alternations", type=int, default=60,
                        help="requests alternating between two phrase sets")
    which = parser.add_mutually_exclusive_group()
    which.add_argument("--real-only", action="store_true", help="only the recordings of real speech")
    which.add_argument("--synthetic-only", action="store_true", help="only the synthetic corpus")
    parser.add_argument("--part", choices=["all", "tune", "held-out"], default="all",
                        help="which part of the real recordings")
    parser.add_argument("--sources", default="prompts,librivox,cards,raw",
                        help="comma-separated real sources: prompts, librivox, cards, raw")
    parser.add_argument("--every", type=int, default=1, help="only each n-th prompt of the part")
    parser.add_argument("--hypotheses", help="write each real recording's reference and hypothesis here (JSON lines)")
    args = parser.parse_args()

    if not args.real_only:
        synthetic(args)
    if not args.synthetic_only:
        import realspeech

        with tempfile.TemporaryDirectory() as directory:
            print()
            realspeech.main(args.sondra, args, directory)
    return 0


def synthetic(args):
    with tempfile.TemporaryDirectory() as directory:
        corpus, onsets = build_corpus(directory)
        sondra = Sondra(args.sondra, directory)
        _, ping_first = sondra.ask({"op": "ping"})

        first_file = corpus[0][1]
        reply, first_latency = sondra.ask({"op": "transcribe", "audio_path": first_file})
        assert reply["status"] == "ok", reply
        _, later_latency = sondra.ask({"op": "transcribe", "audio_path": first_file})
        _, ping_later = sondra.ask({"op": "ping"})

        ours, plain = {}, {}
        ours_all, plain_all = Tally(), Tally()
        ours_time = plain_time = audio_time = 0.0
        command_ours, command_plain = [], []
        rare_with, rare_without, others_with = Tally(), Tally(), Tally()
        all_names = [name for _, names in RARE for name in names]
        pause_reply = None
        ours_cpu = 0.0
        for category, path, reference, names in corpus:
            cpu_before = sondra.cpu_seconds()
            reply, elapsed = sondra.ask({"op": "transcribe", "audio_path": path})
            ours_cpu += sondra.cpu_seconds() - cpu_before
            assert reply["status"] == "ok", reply
            hyp_plain, elapsed_plain = plain_engine(path)
            ours.setdefault(category, Tally()).add(reference, reply["text"])
            plain.setdefault(category, Tally()).add(reference, hyp_plain)
            if category != "rare names":
                ours_all.add(reference, reply["text"])
                plain_all.add(reference, hyp_plain)
            ours_time += elapsed
            plain_time += elapsed_plain
            audio_time += duration(path)
            if category == "commands":
                command_ours.append(elapsed)
                command_plain.append(elapsed_plain)
            if category == "pauses":
                pause_reply = reply
            if category == "rare names":
                rare_without.add(reference, reply["text"])
                with_names, _ = sondra.ask({"op": "transcribe", "audio_path": path, "contextual_strings": names})
                rare_with.add(reference, with_names["text"])
                print(f"  rare: {reference!r}\n        without: {reply['text']!r}\n        with:    {with_names['text']!r}")
            else:
                biased, _ = sondra.ask({"op": "transcribe", "audio_path": path, "contextual_strings": all_names})
                others_with.add(reference, biased["text"])
        peak = sondra.peak_memory_mb()
        status = sondra.close()
        alternation = alternate_phrase_sets(args.sondra, directory, corpus, args.alternations)

    print()
    print("Sondra (one process over its protocol) beside pocketsphinx_continuous -infile (one run per file)")
    print(f"{'category':<12} {'words':>5} {'WER sondra':>11} {'WER plain':>10}")
    for category in ours:
        print(f"{category:<12} {ours[category].words:>5} {ours[category].wer():>10.1f}% {plain[category].wer():>9.1f}%")
    print(f"{'pooled*':<12} {ours_all.words:>5} {ours_all.wer():>10.1f}% {plain_all.wer():>9.1f}%   "
          "(* all but the rare names)")
    print()
    print(f"real-time factor after the first request: sondra {ours_time / audio_time:.3f}, "
          f"plain engine {plain_time / audio_time:.3f} (wall time / audio time, {audio_time:.1f} s of audio); "
          f"sondra's CPU time / audio time {ours_cpu / audio_time:.3f}; load average {os.getloadavg()[0]:.1f} "
          f"on {os.cpu_count()} cores")
    mean_command = sum(command_ours) / len(command_ours)
    mean_command_plain = sum(command_plain) / len(command_plain)
    print(f"2-second commands: sondra {mean_command * 1000:.0f} ms, plain engine {mean_command_plain * 1000:.0f} ms "
          f"({mean_command / mean_command_plain:.2f} of the plain engine's wall time)")
    print(f"start-up line: {sondra.startup_ms:.1f} ms after start; first ping {ping_first * 1000:.1f} ms, "
          f"later ping {ping_later * 1000:.1f} ms")
    print(f"first transcription (model load included): {first_latency * 1000:.0f} ms; "
          f"the same file again: {later_latency * 1000:.0f} ms")
    print(f"peak memory (VmHWM): {peak:.1f} MB; exit status {status}")
    print(f"rare-name sentences: WER {rare_without.wer():.1f}% without contextual strings, "
          f"{rare_with.wer():.1f}% with them")
    print(f"other files with all the names as contextual strings: WER {others_with.wer():.1f}% "
          f"(without: {ours_all.wer():.1f}%)")
    starts = [segment["start"] for segment in pause_reply["segments"]]
    print(f"pauses file: {len(starts)} segments for {len(onsets)} phrases: "
          + ", ".join(f"{s['text']!r} {s['start']:.2f}-{s['end']:.2f}" for s in pause_reply["segments"]))
    if len(starts) == len(onsets):
        errors = [abs(s - o) for s, o in zip(starts, onsets)]
        print("segment start error vs the known onsets after each pause: "
              + ", ".join(f"{e:.3f} s" for e in errors) + f" (max {max(errors):.3f} s)")
    print(alternation)


if __name__ == "__main__":
    sys.exit(main())
