#!/usr/bin/env python3
"""Character error rate of kestrix-decode plain and with --best on generated Morse, by
condition, counting from the first character and after the first word.

Usage: tools/measure_best.py [BUILD_DIR] [--seeds N]

Each cell decodes three QSO-like messages (one per seed, seeds 1..N) and adds up the edit
distance between what was sent and the best-matching stretch of the decoded text (whatever
the decoder printed before and after that stretch costs nothing). "from start" scores the
whole message, "after word 1" the message without its first word. SNR is tone power over
noise power in 2500 Hz.
"""
import os
import subprocess
import sys
import tempfile

args = [a for a in sys.argv[1:] if not a.startswith("--")]
BUILD = args[0] if args else os.path.join(os.path.dirname(__file__), "..", "build")
SEEDS = 3
if "--seeds" in sys.argv:
    SEEDS = int(sys.argv[sys.argv.index("--seeds") + 1])

MESSAGES = [
    "CQ CQ DE K1ABC K1ABC THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG 0123456789 PARIS K",
    "DL2XYZ DE G4ABC GM OM TNX FER CALL UR RST 579 579 NAME JOHN QTH YORK HW? DL2XYZ DE G4ABC KN",
    "VK3ZZ DE JA1QRP R R FB DR OM RIG HR IS 100W ANT DIPOLE WX CLOUDY 12C 73 ES GUD DX SK",
]

CONDITIONS = [
    # name, wpm, generator options, repeat the message this many times
    ("clean 10 wpm", 10, [], 1),
    ("clean 20 wpm", 20, [], 1),
    ("clean 30 wpm", 30, [], 1),
    ("clean 40 wpm", 40, [], 1),
    ("clean 50 wpm", 50, [], 1),
    ("SNR 10 dB", 20, ["--snr", "10"], 1),
    ("SNR 5 dB", 20, ["--snr", "5"], 1),
    ("SNR 0 dB", 20, ["--snr", "0"], 1),
    ("SNR -3 dB", 20, ["--snr", "-3"], 1),
    ("SNR -6 dB", 20, ["--snr", "-6"], 1),
    ("hand-keyed 18 wpm", 18, ["--snr", "10", "--jitter", "0.1", "--dash-ratio", "3.4"], 1),
    ("hand-keyed 25 wpm", 25, ["--snr", "10", "--jitter", "0.12", "--dash-ratio", "3.6"], 1),
    ("fading 20 dB / 3 s", 20, ["--snr", "10", "--fade-db", "20", "--fade-period", "3"], 1),
    ("fading 12 dB / 8 s", 25, ["--snr", "5", "--fade-db", "12", "--fade-period", "8"], 1),
    ("interferer +150 Hz -6 dB", 20, ["--snr", "10", "--interferer-hz", "850",
                                      "--interferer-db", "-6", "--interferer-wpm", "28"], 1),
    ("interferer +60 Hz -10 dB", 20, ["--snr", "10", "--interferer-hz", "760",
                                      "--interferer-db", "-10", "--interferer-wpm", "15"], 1),
    ("drift 60 Hz/min", 20, ["--snr", "10", "--drift", "60"], 2),
    ("drift -90 Hz/min", 25, ["--snr", "10", "--drift", "-90"], 2),
    ("CW filter 300 Hz, SNR 0", 20, ["--snr", "0", "--filter-hz", "300"], 1),
    ("CW filter 500 Hz, SNR 5", 22, ["--snr", "5", "--filter-hz", "500"], 1),
    ("combined", 22, ["--snr", "3", "--drift", "60", "--fade-db", "12", "--fade-period", "6",
                      "--jitter", "0.06", "--filter-hz", "500"], 2),
]


def infix_distance(expected, decoded):
    prev = [0] * (len(decoded) + 1)
    for i, e in enumerate(expected, 1):
        cur = [i] + [0] * len(decoded)
        for j, d in enumerate(decoded, 1):
            cur[j] = min(prev[j - 1] + (e != d), prev[j] + 1, cur[j - 1] + 1)
        prev = cur
    return min(prev)


def normalise(text):
    return " ".join(text.lower().split())


def run(condition, best):
    name, wpm, extra, repeat = condition
    errors = [0, 0]
    lengths = [0, 0]
    with tempfile.TemporaryDirectory() as tmp:
        wav = os.path.join(tmp, "s.wav")
        for seed in range(1, SEEDS + 1):
            sent = " ".join([MESSAGES[(seed - 1) % len(MESSAGES)]] * repeat)
            subprocess.run([os.path.join(BUILD, "kestrix-morsegen"), "--wpm", str(wpm),
                            "--tone", "700", "--seed", str(seed), "--amplitude", "0.1"]
                           + extra + [sent, wav], check=True, capture_output=True)
            cmd = [os.path.join(BUILD, "kestrix-decode")] + (["--best"] if best else []) + [wav]
            out = normalise(subprocess.run(cmd, check=True, capture_output=True,
                                           text=True).stdout)
            full = normalise(sent)
            rest = full.split(" ", 1)[1]
            errors[0] += infix_distance(full, out)
            errors[1] += infix_distance(rest, out)
            lengths[0] += len(full)
            lengths[1] += len(rest)
    return [100.0 * e / n for e, n in zip(errors, lengths)]


def main():
    print(f"CER % over {SEEDS} messages; tone 700 Hz")
    print(f"{'condition':<26}{'plain start':>12}{'best start':>12}"
          f"{'plain >w1':>12}{'best >w1':>12}")
    for c in CONDITIONS:
        plain = run(c, False)
        best = run(c, True)
        print(f"{c[0]:<26}{plain[0]:12.1f}{best[0]:12.1f}{plain[1]:12.1f}{best[1]:12.1f}",
              flush=True)


if __name__ == "__main__":
    main()
