#!/usr/bin/env python3
"""Rebuilds data/plausibility_model.inc, the character n-gram counts of the text model
(src/language/plausibility.*) that kestrix-decode --best uses to judge which receiver's
text reads most like amateur CW.

Usage: tools/build_plausibility_model.py [OUT.inc]

The training text is made here from data/cw-text/: the phrase templates of templates.txt
are filled with call signs, reports, names, places, numbers and runs of words from
words.txt and names.txt, with a fixed seed so the table is the same on every run. Counts
of every 1- to 4-character sequence (space between words, a space before and after each
phrase) are written as sorted tables; 3- and 4-character sequences seen fewer than
PRUNE times are left out (they are mostly random call-sign letters, and the table stays
small). The program interpolates the orders (Witten-Bell).
"""
import os
import random
import re
import sys

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
DATA = os.path.join(ROOT, "data", "cw-text")
OUT = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "data", "plausibility_model.inc")
PHRASES = 12000
SEED = 18

# The model's alphabet; index 0 is the space. Must match Plausibility::Symbol().
ALPHABET = " abcdefghijklmnopqrstuvwxyz0123456789/?.,="
OTHER = len(ALPHABET)  # everything else
K = OTHER + 1
MAX_ORDER = 4
PRUNE = {1: 1, 2: 1, 3: 2, 4: 3}


def zipf_choice(rng, words):
    """A word with the chance of its rank in the list (most frequent first), 1 / (rank + 8)."""
    return rng.choices(words, cum_weights=zipf_weights(len(words)))[0]


_ZIPF = {}


def zipf_weights(n):
    if n not in _ZIPF:
        total, cum = 0.0, []
        for r in range(n):
            total += 1.0 / (r + 8)
            cum.append(total)
        _ZIPF[n] = cum
    return _ZIPF[n]


def read_words(name):
    words = []
    with open(os.path.join(DATA, name)) as f:
        for line in f:
            if line.startswith("#"):
                continue
            words += line.split()
    return words


def call_sign(rng):
    letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZ"
    shape = rng.choice(["1", "2", "2", "A2", "1", "2D"])
    if shape == "A2":  # digit-letter prefix, e.g. 9A, 4X
        prefix = rng.choice("2345679") + rng.choice(letters)
    elif shape == "2D":
        prefix = rng.choice(letters) + rng.choice(letters)
    else:
        prefix = "".join(rng.choice(letters) for _ in range(int(shape[0])))
    call = prefix + rng.choice("0123456789") + "".join(
        rng.choice(letters) for _ in range(rng.choice([1, 2, 3, 3, 3])))
    if rng.random() < 0.05:
        call += rng.choice(["/P", "/M", "/QRP"])
    return call


def fill(template, rng, words, names, places):
    def one(match):
        key = match.group(1)
        if key in ("CALL", "CALL2"):
            return call_sign(rng)
        if key == "RST":
            return rng.choice(["599", "599", "5NN", "579", "589", "559", "569", "449", "339", "57N"])
        if key == "NAME":
            return rng.choice(names)
        if key == "QTH":
            return rng.choice(places)
        if key == "NUM":
            return str(rng.randint(1, 999 if rng.random() < 0.5 else 99))
        if key == "SERIAL":
            return "%03d" % rng.randint(1, 999) if rng.random() < 0.5 else str(rng.randint(1, 2000))
        if key == "PWR":
            return str(rng.choice([5, 10, 50, 100, 100, 200, 400, 500, 1000]))
        if key == "TEMP":
            return str(rng.randint(-10, 35)).replace("-", "")
        if key == "WPM":
            return str(rng.randint(8, 40))
        if key == "WORD":
            return zipf_choice(rng, words)
        if key == "GROUP":
            return "".join(rng.choice("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789") for _ in range(5))
        if key == "TEXT":
            return " ".join(zipf_choice(rng, words) for _ in range(rng.randint(3, 8)))
        raise KeyError(key)
    return re.sub(r"\{(\w+)\}", one, template)


def symbol(c):
    i = ALPHABET.find(c)
    return i if i >= 0 else OTHER


def main():
    words = read_words("words.txt")
    names, places = [], []
    with open(os.path.join(DATA, "names.txt")) as f:
        for line in f:
            parts = line.split()
            if not parts or parts[0].startswith("#"):
                continue
            (names if parts[0] == "NAME" else places).extend(parts[1:])
    templates = [t.strip() for t in open(os.path.join(DATA, "templates.txt"))
                 if t.strip() and not t.startswith("#")]
    rng = random.Random(SEED)
    counts = [dict() for _ in range(MAX_ORDER + 1)]
    chars = 0
    for _ in range(PHRASES):
        text = " " + fill(rng.choice(templates), rng, words, names, places).lower() + " "
        text = re.sub(r"\s+", " ", text)
        seq = [symbol(c) for c in text]
        chars += len(seq)
        for n in range(1, MAX_ORDER + 1):
            table = counts[n]
            for i in range(len(seq) - n + 1):
                key = 0
                for s in seq[i:i + n]:
                    key = key * K + s
                table[key] = table.get(key, 0) + 1
    with open(OUT, "w") as f:
        f.write("// Generated by tools/build_plausibility_model.py from data/cw-text/ (%d phrases,\n"
                "// %d characters, seed %d). Do not edit; rerun the script.\n" % (PHRASES, chars, SEED))
        f.write("// Alphabet (index 0 = space, %d = anything else): \"%s\"\n" % (OTHER, ALPHABET))
        f.write("inline constexpr int kModelAlphabet = %d;\n" % K)
        f.write("inline constexpr int kModelOrder = %d;\n" % MAX_ORDER)
        for n in range(1, MAX_ORDER + 1):
            items = sorted((k, c) for k, c in counts[n].items() if c >= PRUNE[n])
            counts[n] = dict(items)
            f.write("inline constexpr NgramCount kNgrams%d[] = {\n" % n)
            line = ""
            for key, count in items:
                cell = "{%d,%d}," % (key, count)
                if len(line) + len(cell) > 96:
                    f.write("    " + line + "\n")
                    line = ""
                line += cell
            if line:
                f.write("    " + line + "\n")
            f.write("};\n")
    sizes = ", ".join("%d %d-grams" % (len(counts[n]), n) for n in range(1, MAX_ORDER + 1))
    print("%s: %d characters of training text; %s" % (OUT, chars, sizes))


if __name__ == "__main__":
    main()
