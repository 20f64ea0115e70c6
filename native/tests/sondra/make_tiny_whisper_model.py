#!/usr/bin/python3
"""Writes a tiny whisper model file with random weights, for the whisper engine's
tests: it loads and decodes like a real model but recognises nothing, so the
tests that use it check loading, segments, errors and memory, never accuracy.

Usage: make_tiny_whisper_model.py OUTPUT
"""

import array
import os
import random
import struct
import sys

MAGIC = 0x67676D6C
N_VOCAB = 51864  # English-only: the special tokens follow the 50256 text ones
N_AUDIO_CTX = 1500
N_TEXT_CTX = 448
STATE = 64
HEADS = 1
AUDIO_LAYERS = 1
TEXT_LAYERS = 1
N_MELS = 80
N_FFT = 201
FTYPE = 1  # 2-D weights in f16
F32, F16 = 0, 1


def tensors():
    """(name, shape as ne[0] first, type) in the order the loader expects."""
    s = STATE
    out = [
        ("encoder.positional_embedding", [s, N_AUDIO_CTX], F32),
        ("encoder.conv1.weight", [3, N_MELS, s], F16),
        ("encoder.conv1.bias", [1, s], F32),
        ("encoder.conv2.weight", [3, s, s], F16),
        ("encoder.conv2.bias", [1, s], F32),
        ("encoder.ln_post.weight", [s], F32),
        ("encoder.ln_post.bias", [s], F32),
    ]

    def block(prefix, cross):
        parts = [
            ("mlp_ln.weight", [s], F32),
            ("mlp_ln.bias", [s], F32),
            ("mlp.0.weight", [s, 4 * s], F16),
            ("mlp.0.bias", [4 * s], F32),
            ("mlp.2.weight", [4 * s, s], F16),
            ("mlp.2.bias", [s], F32),
        ]
        for kind in ["attn"] + (["cross_attn"] if cross else []):
            parts += [
                (kind + "_ln.weight", [s], F32),
                (kind + "_ln.bias", [s], F32),
                (kind + ".query.weight", [s, s], F16),
                (kind + ".query.bias", [s], F32),
                (kind + ".key.weight", [s, s], F16),
                (kind + ".value.weight", [s, s], F16),
                (kind + ".value.bias", [s], F32),
                (kind + ".out.weight", [s, s], F16),
                (kind + ".out.bias", [s], F32),
            ]
        return [(prefix + name, shape, t) for name, shape, t in parts]

    for i in range(AUDIO_LAYERS):
        out += block("encoder.blocks.%d." % i, False)
    out += [
        ("decoder.positional_embedding", [s, N_TEXT_CTX], F32),
        ("decoder.token_embedding.weight", [s, N_VOCAB], F16),
        ("decoder.ln.weight", [s], F32),
        ("decoder.ln.bias", [s], F32),
    ]
    for i in range(TEXT_LAYERS):
        out += block("decoder.blocks.%d." % i, True)
    return out


def words():
    """Every printable character, so that any English prompt can be split into
    tokens, then distinct short words, so that random output reads like text."""
    for code in range(32, 127):
        yield chr(code)
    letters = "abcdefghijklmnopqrstuvwxyz"
    for length in (3, 4):
        for index in range(len(letters) ** length):
            word = ""
            for _ in range(length):
                index, letter = divmod(index, len(letters))
                word += letters[letter]
            yield " " + word


def main():
    rng = random.Random(16)
    out = bytearray()
    out += struct.pack("<I", MAGIC)
    out += struct.pack(
        "<11i", N_VOCAB, N_AUDIO_CTX, STATE, HEADS, AUDIO_LAYERS,
        N_TEXT_CTX, STATE, HEADS, TEXT_LAYERS, N_MELS, FTYPE)
    out += struct.pack("<ii", N_MELS, N_FFT)
    out += array.array("f", [rng.random() * 0.02 for _ in range(N_MELS * N_FFT)]).tobytes()
    # The text tokens only; the loader names the special ones itself.
    out += struct.pack("<i", 50256)
    source = words()
    for _ in range(50256):
        token = next(source).encode()
        out += struct.pack("<I", len(token)) + token
    for name, shape, kind in tensors():
        count = 1
        for n in shape:
            count *= n
        encoded = name.encode()
        out += struct.pack("<iii", len(shape), len(encoded), kind)
        out += struct.pack("<%di" % len(shape), *shape)
        out += encoded
        if "ln" in name.split(".")[-2] and name.endswith(".weight"):
            values = [1.0] * count  # layer norms keep their scale
        else:
            values = [rng.uniform(-0.2, 0.2) for _ in range(count)]
        out += struct.pack("<%d%s" % (count, "e" if kind == F16 else "f"), *values)
    partial = sys.argv[1] + ".part"
    with open(partial, "wb") as f:
        f.write(out)
    os.replace(partial, sys.argv[1])


if __name__ == "__main__":
    main()
