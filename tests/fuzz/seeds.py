#!/usr/bin/env python3
"""Writes the state fuzzer's starting blocks.

Usage: seeds.py SEED_DIR REGRESSION_DIR

SEED_DIR gets small blocks for the fuzzer to mutate: the saved state of a fresh processor,
the variants it must take and the ones it must refuse. REGRESSION_DIR gets blocks that are
replayed once but are too large to mutate usefully (a million levels deep, 200 000 siblings).
"""
import pathlib
import struct
import sys

DECLARATION = '<?xml version="1.0" encoding="UTF-8"?> '
DEFAULTS = [("bypass", "0.0"), ("compLimit", "0.0"), ("emphasis", "0.0"), ("gain", "30.0"),
            ("meter", "1.0"), ("mix", "100.0"), ("peakReduction", "25.0"), ("power", "1.0")]


def block(text, length=None, magic=b"VC2!", terminator=b"\0"):
    data = text.encode("utf-8") if isinstance(text, str) else text
    n = len(data) if length is None else length
    return magic + struct.pack("<I", n & 0xFFFFFFFF) + data + terminator


def param(pid, value=None):
    return f'<PARAM id="{pid}"/>' if value is None else f'<PARAM id="{pid}" value="{value}"/>'


def document(children, root="QuillonState"):
    return f"{DECLARATION}<{root}>{children}</{root}>"


def state(**changes):
    return "".join(param(pid, changes.get(pid, value)) for pid, value in DEFAULTS)


def nested(levels, inner=""):
    return "<n>" * levels + inner + "</n>" * levels


def seeds():
    fresh = document(state())
    yield "fresh", block(fresh)
    yield "moved", block(document(state(gain="41.5", mix="55.0", compLimit="1.0", meter="2.0",
                                        peakReduction="33.29999923706055", power="0.0", bypass="1.0")))
    yield "lowercase-root", block(document(param("gain", "41.5"), "quillonstate"))
    yield "missing-mix", block(document(param("gain", "12.5") + param("peakReduction", "45.5")))
    yield "capital-gain", block(document(param("Gain", "77.0")))
    yield "no-value", block(document('<PARAM id="gain"/>'))
    yield "out-of-range", block(document(param("gain", "250") + param("mix", "-5") + param("meter", "7")))
    yield "not-numbers", block(document(param("gain", "loud") + param("mix", "nan") + param("emphasis", "-inf")))
    yield "duplicates", block(document(param("gain", "10") + param("mix", "20") + param("gain", "60")))
    yield "references", block(document(param("gain", "4&#x32;&#46;5") + "&amp;&lt;&n;"))
    yield "comments-cdata", block("<?pi?>" + document("<!-- <n> --><![CDATA[<n>]]>text" + param("gain", "1")))
    yield "instruction-then-text", block(document(param("gain", "1") + "<?pi?>text"))
    yield "other-child", block(document('<OTHER id="gain" value="12"><X a="1"/></OTHER>'))
    yield "base64", block(document('<PARAM id="gain" base64:value="AAAA"/>'))
    yield "huge-length", block(fresh, length=0x7FFFFFFF)
    yield "truncated", block(fresh[:-20], length=len(fresh))
    yield "sixteen-levels", block(document(param("gain", "12") + nested(14, param("x", "1"))))
    yield "seventeen-levels", block(document(param("gain", "13") + nested(15, param("x", "1"))))
    yield "doctype-recursion", block('<!DOCTYPE QuillonState [<!ENTITY e "x&e;">]><QuillonState>&e;</QuillonState>')
    yield "elements-in-reference", block(document(param("gain", "1") + "&<n><n></n></n>;"))
    yield "hex-reference-at-end", block(DECLARATION + "<QuillonState>&#x4", terminator=b"")
    yield "lead-byte-at-end", block(document(param("gain", "1")).encode() + b"\xf0", terminator=b"")
    yield "lead-byte-in-value-at-end", block((DECLARATION + '<QuillonState><PARAM id="g').encode() + b"\xff",
                                             terminator=b"")
    yield "repeated-attribute", block(document('<PARAM id="gain" value="10" value="20"/>'))
    yield "other-root", block(document(state(gain="77.0"), "QuillonPreset"))
    yield "other-magic", block(fresh, magic=b"VC3!")
    yield "zero-length", block(fresh, length=0)
    yield "negative-length", block(fresh, length=0xFFFFFFFF)
    yield "empty-text", block("", length=5)
    yield "short", b"VC2!\x05\0\0\0"


def regressions():
    yield "million-levels", block(document(param("gain", "1") + nested(1_000_000)))
    yield "million-levels-unclosed", block(DECLARATION + "<QuillonState>" + "<n>" * 1_000_000, terminator=b"")
    yield "many-siblings", block(document("<n/>" * 200_000))


def main():
    if len(sys.argv) == 2 and sys.argv[1] in ("-h", "--help"):
        print(__doc__.strip())
        return 0
    if len(sys.argv) != 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    for folder, blocks in ((sys.argv[1], seeds()), (sys.argv[2], regressions())):
        out = pathlib.Path(folder)
        out.mkdir(parents=True, exist_ok=True)
        for name, data in blocks:
            (out / name).write_bytes(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())
