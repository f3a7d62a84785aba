#!/usr/bin/env python3
"""Writes ten payload files under the product's file names, each of the real
product file's size and packing about as well as it does, for benchmarking the
packing and the start-up extraction. The contents are generated (fixed seed, the
same bytes on every run); nothing is downloaded. The two RTF documents are valid.

Usage: make-realistic-payload.py OUTDIR
"""
import os
import random
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..",
                                "resources", "payload"))
import make_rtf  # noqa: E402

SEED = "Portvane payload 1.0.0"

# File name, size in bytes, and the share of each kind of content in a program:
# machine code, incompressible data (embedded compressed resources), strings and
# zero padding. The shares were tuned until LZMA (lc3 lp0 pb2, 16 MiB dictionary)
# packed each file to about the size the real product file packs to.
PROGRAMS = [
    ("Portvane.exe", 6962688, {"code": 0.25, "data": 0.057, "text": 0.593, "zero": 0.10}),
    ("Portvane_PService.exe", 63488, {"code": 0.38, "data": 0.06, "text": 0.44, "zero": 0.12}),
    ("Portvane_DService.exe", 61440, {"code": 0.38, "data": 0.042, "text": 0.458, "zero": 0.12}),
    ("Portvane_Tray.exe", 435712, {"code": 0.50, "data": 0.209, "text": 0.241, "zero": 0.05}),
    ("dm.exe", 56832, {"code": 0.38, "data": 0.053, "text": 0.447, "zero": 0.12}),
    ("DiskInfo.dll", 149504, {"code": 0.60, "data": 0.041, "text": 0.309, "zero": 0.05}),
    ("SQLite.Interop.dll", 1321160, {"code": 0.60, "data": 0.147, "text": 0.203, "zero": 0.05}),
    ("Uninst.exe", 471552, {"code": 0.50, "data": 0.223, "text": 0.227, "zero": 0.05}),
]
# File name, size, source text, and the share of the file taken by the hex data
# block that word processors append (it packs to about half its size).
DOCUMENTS = [
    ("Readme.rtf", 79691, "Readme.txt", 0.18),
    ("License.rtf", 52624, "License.txt", 0.165),
]

# Paragraph properties as a word processor writes them before every paragraph.
WORD_PARAGRAPH = ("\\pard\\plain\\ltrpar\\ql\\li0\\ri0\\widctlpar\\wrapdefault\\faauto"
                  "\\rin0\\lin0\\itap0\\fs18\\lang1033\\langfe1041\\loch\\f0")

# Byte values frequent in x86 code (opcodes, ModRM bytes, small immediates).
OPCODES = bytes.fromhex(
    "00 01 02 04 08 0c 10 14 18 1c 24 33 3b 45 4d 50 51 52 53 55 56 57 59 5b 5d 5e 5f"
    " 68 6a 74 75 7c 7d 80 83 84 85 89 8b 8d 90 c0 c3 c7 cc d8 e8 e9 eb ec f0 f8 ff")
SYLLABLES = ["ka", "to", "ri", "en", "po", "rt", "va", "ne", "dis", "vice", "set", "get",
             "reg", "key", "usb", "dev", "info", "lock", "stor", "mon", "tray", "ser",
             "log", "file", "path", "name", "conf", "pol", "icy", "rule", "id", "ex"]


class Vocabulary:
    """Tokens drawn with Zipf weights: a few are very common, most are rare."""

    def __init__(self, tokens):
        self.tokens = tokens
        self.cumulative_weights = []
        total = mean = 0.0
        for rank, token in enumerate(tokens):
            total += 1.0 / (rank + 1)
            mean += len(token) / (rank + 1)
            self.cumulative_weights.append(total)
        self.mean_length = mean / total

    def draw(self, rng, length):
        # Draw a little more than the expected count, then cut to the exact length.
        out = b""
        while len(out) < length:
            count = int(length / self.mean_length * 1.1) + 8
            out += b"".join(rng.choices(self.tokens, cum_weights=self.cumulative_weights,
                                        k=count))
        return out[:length]


def code_tokens(rng):
    """Instruction-like byte sequences and operands: a few (prologues, calls) are
    very common, most are rare, as in real code."""
    sequences = [bytes(rng.choices(OPCODES, k=rng.randint(1, 6))) for _ in range(4000)]
    operands = [rng.randbytes(4) for _ in range(6000)]
    tokens = sequences + operands
    rng.shuffle(tokens)
    return Vocabulary(tokens)


def text_tokens(rng):
    """Identifier-like strings, half of them UTF-16, each ending in a zero."""
    tokens = []
    for _ in range(3000):
        words = ["".join(rng.choices(SYLLABLES, k=rng.randint(1, 3))).capitalize()
                 for _ in range(rng.randint(1, 4))]
        name = "".join(words)
        tokens.append(name.encode("ascii") + b"\0")
        tokens.append(name.encode("utf-16-le") + b"\0\0")
    return Vocabulary(tokens)


def program_bytes(rng, size, shares):
    """Each kind of content takes exactly its share of the file, in pieces of a few
    kilobytes laid out in a shuffled order, so that small files pack as
    predictably as large ones."""
    code = code_tokens(rng)
    text = text_tokens(rng)
    pieces = []
    for kind, share in shares.items():
        left = int(size * share)
        while left > 0:
            length = min(left, rng.randint(512, 8192))
            pieces.append((kind, length))
            left -= length
    rng.shuffle(pieces)
    parts = []
    for kind, length in pieces:
        if kind == "code":
            parts.append(code.draw(rng, length))
        elif kind == "text":
            parts.append(text.draw(rng, length))
        elif kind == "data":
            parts.append(rng.randbytes(length))
        else:
            parts.append(bytes(length))
    # Rounding leaves a few bytes short of the size: code fills them.
    data = b"".join(parts)[:size]
    return data + code.draw(rng, size - len(data))


def rtf_bytes(rng, size, text, hex_share):
    """A word-processor-like RTF document: the text repeated with per-paragraph
    revision marks, then a hex data block that fills the file to `size` bytes."""
    revisions = [rng.randrange(1000000, 16777215) for _ in range(60)]
    head = (make_rtf.DOCUMENT_START + make_rtf.FONT_TABLE
            + "{\\colortbl;\\red0\\green0\\blue0;\\red0\\green0\\blue255;}\n{\\*\\rsidtbl "
            + "".join("\\rsid%d" % r for r in revisions) + "}\n" + make_rtf.TEXT_START + "\n")
    body_limit = size - int(size * hex_share)
    lines = text.splitlines()
    parts, length, index = [head], len(head), 0
    while length < body_limit:
        marks = "\\sa%d\\insrsid%d\\charrsid%d " % (
            rng.choice((0, 40, 60, 120)), rng.choice(revisions), rng.choice(revisions))
        source = make_rtf.wrap(make_rtf.paragraph(lines[index % len(lines)]))
        paragraph = "{" + WORD_PARAGRAPH + marks + source.replace("\\pard", "") + "}\n"
        parts.append(paragraph)
        length += len(paragraph)
        index += 1
    document = "".join(parts).replace("\n", "\r\n").encode("ascii")
    tail = b"{\\*\\datastore }}"
    fill = size - len(document) - len(tail)
    if fill < 0:
        raise ValueError("RTF text longer than the file size")
    digits = rng.randbytes(fill // 2 + 1).hex().encode("ascii")[:fill]
    return document + tail[:-2] + digits + tail[-2:]


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make-realistic-payload.py OUTDIR")
    outdir = sys.argv[1]
    os.makedirs(outdir, exist_ok=True)
    source_dir = os.path.dirname(make_rtf.__file__)
    files = {}
    for name, size, shares in PROGRAMS:
        files[name] = program_bytes(random.Random(SEED + name), size, shares)
    for name, size, source, hex_share in DOCUMENTS:
        with open(os.path.join(source_dir, source), encoding="utf-8") as text:
            files[name] = rtf_bytes(random.Random(SEED + name), size, text.read(), hex_share)
    for name, data in files.items():
        with open(os.path.join(outdir, name), "wb") as out:
            out.write(data)


if __name__ == "__main__":
    main()
