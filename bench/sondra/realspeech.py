"""Recordings of real speech from Debian packages, and sondra's scores on them.

Two sources, installed when missing:
- the word-only English prompts of asterisk-core-sounds-en-g722 (one studio
  speaker, 16 kHz G.722, decoded here through libspandsp), with their cased and
  punctuated transcripts from asterisk-core-sounds-en;
- pocketsphinx-testdata: read book sentences, card commands, goforward.raw and
  one connected-digits file, lower case without punctuation.

The prompts sorted by key are split by index: even ones form the tune part,
odd ones the held-out part. The pocketsphinx recordings are all held out.

Another script can score its own program or settings with
    items = load_items(workdir, part="tune")
    run = transcribe(program, items, workdir)
    for line in report(run): print(line)
"""

import ctypes
import dataclasses
import gzip
import json
import os
import re
import subprocess
import sys
import time
import wave

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from bench import Sondra, edit_distance, words  # noqa: E402

PACKAGES = ["asterisk-core-sounds-en-g722", "asterisk-core-sounds-en", "pocketsphinx-testdata", "libspandsp2"]
PROMPTS_DIR = "/usr/share/asterisk/sounds/en_US_f_Allison"
PROMPTS_TEXT = "/usr/share/doc/asterisk-core-sounds-en/core-sounds-en.txt.gz"
TESTDATA = "/usr/share/pocketsphinx/test/data"
RATE = 16000
# The order of the report's lines.
ORDER = ["prompts tune", "prompts held-out", "librivox", "cards", "raw", "held-out pooled"]

# The texts of the raw files: goforward.raw's from its grammar, the digits' from
# the file name.
RAW_FILES = [("goforward", "goforward.raw", "go forward ten meters"),
             ("dhd.2934z", "tidigits/dhd.2934z.raw", "two nine three four zero")]

def is_formatted(text):
    """Written as a sentence: a capital first and . ? or ! last."""
    text = text.strip()
    return bool(text) and text[0].isupper() and text[-1] in ".?!"


@dataclasses.dataclass
class Item:
    source: str  # "prompts", "librivox", "cards" or "raw"
    key: str
    path: str
    reference: str
    part: str  # "tune" or "held-out"
    cased: bool  # the reference is cased and punctuated
    seconds: float = 0.0


def ensure_packages():
    missing = []
    for package in PACKAGES:
        status = subprocess.run(["dpkg-query", "-W", "-f=${Status}", package], stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, text=True, check=False).stdout
        if status != "install ok installed":
            missing.append(package)
    if not missing:
        return
    print(f"bench: installing {' '.join(missing)}", file=sys.stderr)
    sudo = [] if os.getuid() == 0 else ["sudo"]
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    subprocess.run(sudo + ["apt-get", "update", "-q"], check=True, env=env, stdout=subprocess.DEVNULL)
    subprocess.run(sudo + ["apt-get", "install", "-y", "-q", "-o", "DPkg::Lock::Timeout=300",
                           "--no-install-recommends"] + missing, check=True, env=env, stdout=subprocess.DEVNULL)


class G722Decoder:
    """64 kbit/s G.722 to 16 kHz 16-bit samples, by libspandsp."""

    def __init__(self):
        self.lib = ctypes.CDLL("libspandsp.so.2")
        self.lib.g722_decode_init.restype = ctypes.c_void_p
        self.lib.g722_decode_init.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int]
        self.lib.g722_decode.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_int16), ctypes.c_char_p,
                                         ctypes.c_int]
        self.lib.g722_decode_free.argtypes = [ctypes.c_void_p]

    def decode(self, data):
        state = self.lib.g722_decode_init(None, 64000, 0)
        if not state:
            raise RuntimeError("g722_decode_init failed")
        try:
            out = (ctypes.c_int16 * (2 * len(data)))()
            count = self.lib.g722_decode(state, out, data, len(data))
        finally:
            self.lib.g722_decode_free(state)
        return bytes(out)[:2 * count]


def write_wav(path, pcm):
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(pcm)
    return len(pcm) / 2 / RATE


def wav_seconds(path):
    with wave.open(path) as w:
        return w.getnframes() / w.getframerate()


def prompt_texts():
    texts = {}
    with gzip.open(PROMPTS_TEXT, "rt", errors="replace") as lines:
        for line in lines:
            if ":" in line and not line.startswith(";"):
                key, text = line.split(":", 1)
                texts[key.strip()] = text.strip()
    return texts


def prompt_keys(texts):
    """The word-only prompts (no digits, no tones) sorted by key."""
    return sorted(k for k, v in texts.items()
                  if os.path.exists(f"{PROMPTS_DIR}/{k}.g722") and not v.startswith("[") and not re.search(r"\d", v))


def sphinx_transcripts(path):
    """{utterance id: text} from lines "<s> text </s> (id)"."""
    out = {}
    with open(path) as lines:
        for line in lines:
            match = re.match(r"<s>\s*(.*?)\s*</s>\s*\((.*)\)", line.strip())
            if match:
                out[match.group(2)] = match.group(1)
    return out


def load_items(workdir, part="all", sources=("prompts", "librivox", "cards", "raw"), every=1):
    """The recordings of one part ("tune", "held-out" or "all") as 16 kHz WAV
    files written under workdir; every: keep only each n-th prompt of the part."""
    ensure_packages()
    items = []
    if "prompts" in sources:
        texts = prompt_texts()
        decoder = G722Decoder()
        keys = prompt_keys(texts)
        chosen = []
        for this_part, first in (("tune", 0), ("held-out", 1)):
            if part in ("all", this_part):
                # Beeps ("<beep ascending>") hold their places in the split but
                # have no words to score.
                chosen += [(key, this_part) for key in keys[first::2][::every] if not texts[key].startswith("<")]
        for key, this_part in chosen:
            with open(f"{PROMPTS_DIR}/{key}.g722", "rb") as f:
                pcm = decoder.decode(f.read())
            path = os.path.join(workdir, "prompt-" + key.replace("/", "-") + ".wav")
            seconds = write_wav(path, pcm)
            # "at [@]": the bracket shows the symbol meant, it is not spoken.
            reference = re.sub(r"\s*\[[^]]*\]", "", texts[key]).strip()
            items.append(Item("prompts", key, path, reference, this_part, True, seconds))
    if part == "tune":
        return items
    for source, folder, listing in (("librivox", "librivox", "transcription"),
                                    ("cards", "cards", "cards.transcription")):
        if source in sources:
            for key, text in sphinx_transcripts(f"{TESTDATA}/{folder}/{listing}").items():
                path = f"{TESTDATA}/{folder}/{key}.wav"
                items.append(Item(source, key, path, text, "held-out", False, wav_seconds(path)))
    if "raw" in sources:
        for key, name, text in RAW_FILES:
            with open(f"{TESTDATA}/{name}", "rb") as f:
                pcm = f.read()
            path = os.path.join(workdir, f"raw-{key}.wav")
            items.append(Item("raw", key, path, text, "held-out", False, write_wav(path, pcm)))
    return items


@dataclasses.dataclass
class Result:
    item: Item
    hypothesis: str
    wall_seconds: float
    cpu_seconds: float


@dataclasses.dataclass
class Run:
    results: list
    peak_mb: float


def transcribe(program, items, workdir, contextual_strings=None):
    """Each item through one fresh sondra, after one request that loads the model."""
    sondra = Sondra(program, workdir)
    try:
        if items:
            reply, _ = sondra.ask({"op": "transcribe", "audio_path": items[0].path})
            assert reply["status"] == "ok", reply
        results = []
        for item in items:
            request = {"op": "transcribe", "audio_path": item.path}
            if contextual_strings:
                request["contextual_strings"] = contextual_strings
            cpu = sondra.cpu_seconds()
            reply, wall = sondra.ask(request)
            assert reply["status"] == "ok", (item.path, reply)
            results.append(Result(item, reply["text"], wall, sondra.cpu_seconds() - cpu))
        peak = sondra.peak_memory_mb()
    finally:
        sondra.close()
    return Run(results, peak)


@dataclasses.dataclass
class Score:
    utterances: int = 0
    words: int = 0
    errors: int = 0
    written_words: int = 0
    written_errors: int = 0
    formatted: int = 0
    audio: float = 0.0
    wall: float = 0.0
    cpu: float = 0.0

    def add(self, result):
        ref, hyp = words(result.item.reference), words(result.hypothesis)
        self.utterances += 1
        self.words += len(ref)
        self.errors += edit_distance(ref, hyp)
        written = result.item.reference.split()
        self.written_words += len(written)
        self.written_errors += edit_distance(written, result.hypothesis.split())
        self.formatted += is_formatted(result.hypothesis)
        self.audio += result.item.seconds
        self.wall += result.wall_seconds
        self.cpu += result.cpu_seconds

    def wer(self):
        return 100.0 * self.errors / max(1, self.words)

    def written_wer(self):
        return 100.0 * self.written_errors / max(1, self.written_words)


def scores(run):
    """{line name: Score}: each source and part, the prompts of three words or
    more on their own, and the whole held-out part."""
    lines = {}
    for result in run.results:
        item = result.item
        names = [f"{item.source} {item.part}" if item.source == "prompts" else item.source]
        if item.source == "prompts" and len(words(item.reference)) >= 3:
            names.append(f"prompts {item.part} >=3 words")
        # Fragments ("...has joined") are not written as sentences, and no
        # formatter should make them so.
        if item.source == "prompts" and is_formatted(item.reference):
            names.append(f"prompts {item.part} sentences")
        if item.part == "held-out":
            names.append("held-out pooled")
        for name in names:
            lines.setdefault(name, Score()).add(result)
    return lines


def sort_key(line):
    name = line[0]
    for suffix in (" >=3 words", " sentences"):
        name = name.removesuffix(suffix)
    return ORDER.index(name), line[0]


def report(run):
    lines = [f"{'set':<28} {'utt':>4} {'words':>5} {'WER norm':>9} {'WER written':>12} {'formatted':>10} "
             f"{'RTF wall':>9} {'RTF cpu':>8}"]
    cased = {r.item.source for r in run.results if r.item.cased}
    for name, s in sorted(scores(run).items(), key=sort_key):
        written = f"{s.written_wer():>11.1f}%" if name.split()[0] in cased else f"{'-':>12}"
        lines.append(f"{name:<28} {s.utterances:>4} {s.words:>5} {s.wer():>8.1f}% {written} "
                     f"{100.0 * s.formatted / max(1, s.utterances):>9.0f}% "
                     f"{s.wall / max(1e-9, s.audio):>9.3f} {s.cpu / max(1e-9, s.audio):>8.3f}")
    lines.append(f"peak memory (VmHWM) {run.peak_mb:.1f} MB; WER written compares the texts as written "
                 "(only where the reference is cased and punctuated); formatted: share of outputs with a capital "
                 "first and . ? or ! last")
    return lines


def write_hypotheses(run, path):
    with open(path, "w") as out:
        for r in run.results:
            out.write(json.dumps({"source": r.item.source, "key": r.item.key, "part": r.item.part,
                                  "reference": r.item.reference, "hypothesis": r.hypothesis}) + "\n")


def main(program, args, workdir):
    """The real-speech part of the benchmark, as bench.py's options ask."""
    sources = tuple(args.sources.split(","))
    began = time.monotonic()
    items = load_items(workdir, args.part, sources, args.every)
    audio = sum(i.seconds for i in items)
    print(f"real speech: {len(items)} recordings, {audio / 60:.1f} min of audio (part {args.part})")
    run = transcribe(program, items, workdir)
    for line in report(run):
        print(line)
    if args.hypotheses:
        write_hypotheses(run, args.hypotheses)
    print(f"({time.monotonic() - began:.0f} s; load average {os.getloadavg()[0]:.1f})")
    return run
