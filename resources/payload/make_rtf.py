#!/usr/bin/env python3
"""Writes License.rtf and Readme.rtf from License.txt and Readme.txt (UTF-8).

The documents declare code page 932 and hold every Japanese character as
\\'xx escapes of its Shift-JIS bytes, so the files are pure ASCII: a raw
Shift-JIS trail byte 0x5C or 0x7B..0x7D would otherwise read as an RTF
backslash or brace.

Text markup, one paragraph per line:
  "= text"   document title (bold, larger, centred)
  "# text"   section heading (bold)
  "  text"   indented item
  anything else is a plain paragraph; an empty line is an empty paragraph.

Usage: make_rtf.py [OUTDIR]   (default: the folder of this script)
"""
import os
import sys

DOCUMENT_START = "{\\rtf1\\ansi\\ansicpg932\\deff0\\deflang1041"
FONT_TABLE = "{\\fonttbl{\\f0\\fnil\\fcharset128 MS UI Gothic;}}"
TEXT_START = "\\viewkind4\\uc1\\lang1041\\f0\\fs18"
HEADER = DOCUMENT_START + FONT_TABLE + "\n" + TEXT_START + "\n"
FOOTER = "}\n"
LINE_LIMIT = 100

PARAGRAPH_FORMATS = {
    "=": "\\pard\\qc\\sa120\\b\\fs24 ",
    "#": "\\pard\\sb120\\sa40\\b ",
    "  ": "\\pard\\li360\\sa20 ",
    "": "\\pard\\sa40 ",
}
# Paragraph kinds that switch bold (and size) on and must switch them off again.
PARAGRAPH_ENDS = {"=": "\\b0\\fs18", "#": "\\b0"}


def escape(text):
    """RTF for plain text: ASCII as is, specials escaped, the rest as \\'xx.

    A blank beside a Japanese character becomes a non-breaking space: a viewer
    that breaks Japanese lines only at blanks would otherwise end a line there
    early, far short of the margin."""
    out = []
    for index, ch in enumerate(text):
        neighbours = text[max(index - 1, 0):index + 2]
        if ch == " " and any(c > "~" for c in neighbours):
            out.append("\\~")
        elif ch in "\\{}":
            out.append("\\" + ch)
        elif " " <= ch <= "~":
            out.append(ch)
        else:
            # cp932 refuses anything it cannot encode: better than a wrong glyph.
            out.append("".join("\\'%02x" % byte for byte in ch.encode("cp932")))
    return out


def wrap(tokens):
    """Source lines of at most LINE_LIMIT characters, broken only between tokens,
    so that no control word and no double-byte character is split. RTF ignores
    these line breaks."""
    lines, line = [], ""
    for token in tokens:
        if len(line) + len(token) > LINE_LIMIT and line:
            lines.append(line)
            line = ""
        line += token
    lines.append(line)
    return "\n".join(lines) + "\n"


def paragraph(line):
    """The RTF tokens of one marked-up line."""
    marker = next((m for m in ("=", "#", "  ") if line.startswith(m)), "")
    text = line[1:] if marker in ("=", "#") else line
    end = PARAGRAPH_ENDS.get(marker, "") + "\\par"
    return [PARAGRAPH_FORMATS[marker]] + escape(text.strip()) + [end]


def rtf_body(text):
    """The paragraphs of a marked-up text, without the document header."""
    return "".join(wrap(paragraph(line)) for line in text.splitlines())


def rtf_document(text):
    return HEADER + rtf_body(text) + FOOTER


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    outdir = sys.argv[1] if len(sys.argv) > 1 else here
    for name in ("License", "Readme"):
        with open(os.path.join(here, name + ".txt"), encoding="utf-8") as source:
            document = rtf_document(source.read())
        path = os.path.join(outdir, name + ".rtf")
        with open(path, "w", encoding="ascii", newline="\r\n") as out:
            out.write(document)


if __name__ == "__main__":
    main()
