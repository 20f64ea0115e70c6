"""Latency of the whisper engine beside the default engine, on the same audio.

The whisper model is the tests' tiny one with random weights: it recognises
nothing, so this measures latency only (model load and real-time factor), never
accuracy. Random weights also make the engine fall back to its sampling passes
until the step budget ends them, so its figures are pessimistic for a model of
that size. Both engines run in one sondra process each, over the protocol.
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time

from bench import EMAIL, PARAGRAPH, Sondra, duration, speak

HERE = os.path.dirname(os.path.abspath(__file__))
MODEL_SCRIPT = os.path.join(HERE, "..", "..", "native", "tests", "sondra", "make_tiny_whisper_model.py")

CORPUS = [
    ("command.wav", "Open the calendar for tomorrow."),
    ("email.wav", EMAIL),
    ("paragraph.wav", PARAGRAPH),
]


def run_engine(program, workdir, env, files, rounds):
    sondra = Sondra(program, workdir, env)
    # The first request comes as a user's would, a few seconds after start.
    time.sleep(max(0.0, 3.0 - (time.monotonic() - sondra.started)))
    first, first_latency = sondra.ask({"op": "transcribe", "audio_path": files[0]})
    if first.get("status") != "ok":
        raise RuntimeError(f"first transcription failed: {first}")
    _, steady = sondra.ask({"op": "transcribe", "audio_path": files[0]})
    audio = 0.0
    spent = 0.0
    for _ in range(rounds):
        for path in files:
            reply, latency = sondra.ask({"op": "transcribe", "audio_path": path})
            if reply.get("status") != "ok":
                raise RuntimeError(f"transcription failed: {reply}")
            audio += duration(path)
            spent += latency
    # The same short file with and without a prompt from contextual strings,
    # a new one each time.
    plain, prompted = [], []
    for i in range(rounds * 3):
        plain.append(sondra.ask({"op": "transcribe", "audio_path": files[0]})[1])
        strings = [f"Field {i} notes", f"Okonkwo{i}", "budget review", "Siobhan"]
        prompted.append(sondra.ask({"op": "transcribe", "audio_path": files[0], "contextual_strings": strings})[1])
    peak = sondra.peak_memory_mb()
    sondra.close()
    return {"load": max(0.0, first_latency - steady), "first": first_latency, "rtf": spent / audio,
            "peak": peak, "first_x": first_latency / steady,
            "context_x": statistics.median(prompted) / statistics.median(plain)}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("sondra")
    parser.add_argument("--rounds", type=int, default=2)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="sondra-whisper-bench-") as workdir:
        model = os.path.join(workdir, "tiny-whisper-model.bin")
        subprocess.run(["/usr/bin/python3", MODEL_SCRIPT, model], check=True)
        files = [speak(workdir, name, text, "kal16") for name, text in CORPUS]
        engines = [
            ("pocketsphinx", {}),
            ("whisper tiny", {"NOLARI_SPEECH_ENGINE": "whisper", "NOLARI_SPEECH_MODEL": model}),
        ]
        results = {}
        for name, env in engines:
            try:
                results[name] = run_engine(args.sondra, workdir, env, files, args.rounds)
            except (RuntimeError, EOFError) as failure:
                print(f"{name}: not measured ({failure})")
        total = sum(duration(path) for path in files)
        print(f"Whisper engine beside the default, latency only (random-weight tiny model, no accuracy); "
              f"{len(files)} files, {total:.1f} s of audio, {args.rounds} rounds")
        print("(the first request 3 s after start, beside the same file warm; p50 with a new set of "
              "contextual strings each request beside none)")
        print(f"{'engine':<14} {'load ms':>8} {'first ms':>9} {'first x':>8} {'context x':>10} {'RTF':>7} "
              f"{'peak MB':>8}")
        for name, r in results.items():
            print(f"{name:<14} {r['load'] * 1000:>8.0f} {r['first'] * 1000:>9.0f} {r['first_x']:>8.2f} "
                  f"{r['context_x']:>10.2f} {r['rtf']:>7.3f} {r['peak']:>8.1f}")
        if len(results) == 2:
            base, other = results["pocketsphinx"], results["whisper tiny"]
            print(f"ratio whisper/pocketsphinx: load {other['load'] / max(base['load'], 1e-6):.2f}, "
                  f"RTF {other['rtf'] / base['rtf']:.2f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
