#!/usr/bin/env python3
"""Every translation of the message catalogue against the English one (data/qx.msg):
the same sets, the same message numbers in each, and in each text the same printf
conversions in the same order, since the program passes a text that has them as a
format. Usage: test_catalogues.py ENGLISH TRANSLATION..."""
import re
import sys

# A conversion as printf reads it: flags, width, precision, length, type; %% is text.
CONVERSION = re.compile(r"%[-+ #0]*(?:\*|\d+)?(?:\.(?:\*|\d+))?(?:hh|h|ll|l|L|z|j|t)?[diouxXeEfgGaAcsp%]")


def read(path):
    """The catalogue's texts as {(set, number): text}; raises ValueError on a line
    gencat would take otherwise than we mean."""
    texts, current = {}, None
    with open(path, encoding="utf-8") as f:
        for n, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line or line.startswith("$ ") or line == "$" or line.startswith("$quote"):
                continue
            m = re.fullmatch(r"\$set (\d+)", line)
            if m:
                current = int(m.group(1))
                continue
            m = re.fullmatch(r'(\d+) "(.*)"', line)
            if not m or current is None:
                raise ValueError(f"{path}:{n}: not a quoted message of a set: {line!r}")
            key = (current, int(m.group(1)))
            if key in texts:
                raise ValueError(f"{path}:{n}: message {key} twice")
            texts[key] = m.group(2)
    return texts


def compare(english, other):
    """The differences of other from english, one line each."""
    faults = [f"{k} missing" for k in sorted(english.keys() - other.keys())]
    faults += [f"{k} not in the English catalogue" for k in sorted(other.keys() - english.keys())]
    for k in sorted(english.keys() & other.keys()):
        want, got = CONVERSION.findall(english[k]), CONVERSION.findall(other[k])
        if want != got:
            faults.append(f"{k} has conversions {got}, the English text {want}")
    return faults


def self_test():
    """The comparison must see each kind of fault."""
    base = {(4, 1): "%s: x\n", (4, 2): "%ld of %d"}
    cases = [
        ({(4, 1): "%s: y\n", (4, 2): "%ld von %d"}, 0),
        ({(4, 1): "%s: y\n"}, 1),                                    # a message missing
        ({(4, 1): "%s", (4, 2): "%ld %d", (6, 1): "x"}, 1),         # one too many
        ({(4, 1): "%d: y", (4, 2): "%d von %ld"}, 2),               # wrong and swapped
        ({(4, 1): "y", (4, 2): "%ld von %d %s"}, 2),                # one lost, one added
    ]
    for other, count in cases:
        assert len(compare(base, other)) == count, (other, compare(base, other))


def main():
    self_test()
    english = read(sys.argv[1])
    if not {s for s, _ in english} >= {4, 6}:
        print(f"{sys.argv[1]}: sets 4 and 6 expected")
        return 1
    status = 0
    for path in sys.argv[2:]:
        faults = compare(english, read(path))
        for fault in faults:
            print(f"{path}: {fault}")
        status |= bool(faults)
        if not faults:
            print(f"{path}: {len(english)} messages, the same numbers and conversions as {sys.argv[1]}")
    return status


if __name__ == "__main__":
    sys.exit(main())
