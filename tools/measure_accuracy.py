#!/usr/bin/env python3
"""Character error rate of kestrix-decode on generated Morse, by speed and SNR.

Usage: tools/measure_accuracy.py [BUILD_DIR]

Each cell decodes a pangram preceded by "VVV VVV " (which the learn phase eats) and
scores the decoded text against the pangram with an edit distance that ignores whatever
the decoder printed before and after it. SNR is tone power over noise power in 2500 Hz.
"""
import os
import subprocess
import sys
import tempfile

BUILD = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "build")
TEXT = "THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG 0123456789 PARIS"


def infix_distance(expected, decoded):
    prev = [0] * (len(decoded) + 1)
    for i, e in enumerate(expected, 1):
        cur = [i] + [0] * len(decoded)
        for j, d in enumerate(decoded, 1):
            cur[j] = min(prev[j - 1] + (e != d), prev[j] + 1, cur[j - 1] + 1)
        prev = cur
    return min(prev)


def cer(wpm, snr, seeds=(1, 2, 3), extra=()):
    errors = 0
    with tempfile.TemporaryDirectory() as tmp:
        wav = os.path.join(tmp, "s.wav")
        for seed in seeds:
            args = [os.path.join(BUILD, "kestrix-morsegen"), "--wpm", str(wpm), "--tone", "700",
                    "--seed", str(seed), "--amplitude", "0.1"]
            if snr is not None:
                args += ["--snr", str(snr)]
            args += list(extra) + ["VVV VVV " + TEXT, wav]
            subprocess.run(args, check=True, capture_output=True)
            out = subprocess.run([os.path.join(BUILD, "kestrix-decode"), wav], check=True,
                                 capture_output=True, text=True).stdout.strip()
            errors += infix_distance(TEXT.lower(), out)
    return 100.0 * errors / (len(TEXT) * len(seeds))


def main():
    speeds = [10, 15, 20, 25, 30, 40, 50]
    snrs = [None, 10, 5, 0, -3, -6, -9]
    print("CER % (3 seeds each), rows: SNR dB in 2500 Hz, columns: wpm")
    print("SNR   " + "".join(f"{w:>7}" for w in speeds))
    for snr in snrs:
        label = "clean" if snr is None else f"{snr:>5}"
        print(f"{label:<6}" + "".join(f"{cer(w, snr):7.1f}" for w in speeds), flush=True)
    print("hand-keyed (jitter 0.1, dash 3.4), SNR 10 dB:")
    print("      " + "".join(f"{cer(w, 10, extra=['--jitter', '0.1', '--dash-ratio', '3.4']):7.1f}" for w in speeds))
    print("fading 20 dB every 3 s, SNR 10 dB:")
    print("      " + "".join(f"{cer(w, 10, extra=['--fade-db', '20', '--fade-period', '3']):7.1f}" for w in speeds))


if __name__ == "__main__":
    main()
