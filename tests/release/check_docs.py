#!/usr/bin/python3
"""Checks the release documents as a demo archive's reader meets them:
zephyra.nfo decoded as code page 437 with CRLF line ends, lines of at most
80 columns and no control characters; file_id.diz plain ASCII, at most 10
lines of at most 45 columns. Prints the .nfo's package list for the caller.
usage: check_docs.py zephyra.nfo file_id.diz"""
import sys

failures = []


def fail(what):
    failures.append(what)


def lines_of(data, name):
    if not data.endswith(b"\r\n"):
        fail(f"{name}: does not end with CRLF")
    body = data[:-2] if data.endswith(b"\r\n") else data
    lines = body.split(b"\r\n")
    for i, line in enumerate(lines, 1):
        if b"\r" in line or b"\n" in line:
            fail(f"{name}:{i}: a bare CR or LF (every line ends with CRLF)")
    return lines


def main():
    nfo = open(sys.argv[1], "rb").read()
    diz = open(sys.argv[2], "rb").read()

    for i, raw in enumerate(lines_of(nfo, "zephyra.nfo"), 1):
        text = raw.decode("cp437")
        if len(text) > 80:
            fail(f"zephyra.nfo:{i}: {len(text)} columns")
        if any(b < 0x20 and b != 0x09 for b in raw) or 0x7F in raw:
            fail(f"zephyra.nfo:{i}: control byte (shows as a glyph or nothing in CP437)")
        if 0x09 in raw:
            fail(f"zephyra.nfo:{i}: tab (column count depends on the viewer)")
    text = nfo.decode("cp437")
    # Box drawing must have survived the conversion, and the facts must be there.
    for needed in ["╔", "═", "Zephyra (Party)", "a zephyra crew production", "OpenGL 1.1",
                   "640 x 480", "Fullscreen?", "Escape", "zephyra-capture", "Code", "Music",
                   "Graphics", "Licence", "apt install "]:
        if needed not in text:
            fail(f"zephyra.nfo: does not mention {needed!r}")

    try:
        diz_text = diz.decode("ascii")
    except UnicodeDecodeError:
        fail("file_id.diz: not plain ASCII")
        diz_text = diz.decode("latin-1")
    diz_lines = diz_text.rstrip("\r\n").split("\r\n")
    if len(diz_lines) > 10:
        fail(f"file_id.diz: {len(diz_lines)} lines")
    for i, line in enumerate(diz_lines, 1):
        if len(line) > 45:
            fail(f"file_id.diz:{i}: {len(line)} columns")
        if any(ord(c) < 0x20 for c in line):
            fail(f"file_id.diz:{i}: control character")
    if ("ZEPHYRA (PARTY)" not in diz_text.upper() or "Linux" not in diz_text or "Windows" not in diz_text
            or "web" not in diz_text):
        fail("file_id.diz: title or platform missing")

    for f in failures:
        print("FAIL:", f)
    # The packages of every "apt install" line, for the library check.
    packages = [line.split("apt install ", 1)[1].strip() for line in text.split("\r\n") if "apt install " in line]
    print("PACKAGES:", " ".join(packages))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
