#!/usr/bin/env python3
"""Character error rate of kestrix-decode's engines on generated Morse.

Usage: tools/measure_soft.py [--build DIR] [--seeds N] [--engines classic,soft,best]
                             [--sweep] [--conditions] [--plot FILE.png] [--only NAME]

--sweep: 20 wpm, SNR -6..+6 dB in 500 Hz (kestrix-morsegen counts in 2500 Hz, 7 dB lower),
random five-letter groups and QSO text. --conditions: the condition table below. CER counts
from the first character: the edit distance between what was sent and the best-matching
stretch of the decoded text, over the length sent. Engine 'best' is kestrix-decode --best;
KESTRIX_DECODE names another kestrix-decode binary (to compare before and after).
"""
import argparse
import concurrent.futures
import os
import random
import subprocess
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))

QSO = [
    "CQ CQ DE K1ABC K1ABC THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG 0123456789 PARIS K",
    "DL2XYZ DE G4ABC GM OM TNX FER CALL UR RST 579 579 NAME JOHN QTH YORK HW? DL2XYZ DE G4ABC KN",
    "VK3ZZ DE JA1QRP R R FB DR OM RIG HR IS 100W ANT DIPOLE WX CLOUDY 12C 73 ES GUD DX SK",
    "CQ TEST W9XG W9XG TEST 5NN 14 5NN 14 TU W9XG TEST",
]

# name, wpm, generator options (SNR in 2500 Hz), text kind
CONDITIONS = [
    ("clean 10 wpm", 10, [], "qso"),
    ("clean 25 wpm", 25, [], "qso"),
    ("clean 40 wpm", 40, [], "qso"),
    ("clean 50 wpm", 50, [], "qso"),
    ("SNR +3 (500 Hz)", 20, ["--snr", "-4"], "qso"),
    ("SNR -1 (500 Hz)", 20, ["--snr", "-8"], "qso"),
    ("SNR -3 (500 Hz)", 20, ["--snr", "-10"], "groups"),
    ("hand-keyed 18 wpm", 18, ["--snr", "10", "--jitter", "0.1", "--dash-ratio", "3.4"], "qso"),
    ("fading 20 dB / 3 s", 20, ["--snr", "10", "--fade-db", "20", "--fade-period", "3"], "qso"),
    ("fading 12 dB / 8 s", 25, ["--snr", "0", "--fade-db", "12", "--fade-period", "8"], "qso"),
    ("interferer +150 Hz", 20, ["--snr", "10", "--interferer-hz", "850", "--interferer-db", "-6",
                                "--interferer-wpm", "28"], "qso"),
    ("drift 60 Hz/min", 20, ["--snr", "10", "--drift", "60"], "qso2"),
    ("Farnsworth 18/5", 18, ["--snr", "10", "--farnsworth", "5"], "qso"),
    ("Farnsworth 18/12", 18, ["--snr", "10", "--farnsworth", "12"], "qso"),
    ("Farnsworth 25/15", 25, ["--snr", "10", "--farnsworth", "15"], "qso"),
    ("combined", 22, ["--snr", "3", "--drift", "60", "--fade-db", "12", "--fade-period", "6",
                      "--jitter", "0.06", "--filter-hz", "500"], "qso2"),
    ("long lead-in 8 s", 20, ["--snr", "-2", "--lead-in", "8"], "qso"),
    ("low level", 20, ["--snr", "5", "--amplitude", "0.0008"], "qso"),
    ("hard keying", 24, ["--snr", "5", "--rise-ms", "0"], "qso"),
    ("clicks", 20, ["--snr", "5", "--clicks"], "qso"),
    ("contest 32 wpm", 32, ["--snr", "0"], "contest"),
    ("noise only", 20, ["--snr", "-10", "--noise-only"], "none"),
    # Two stations' overs (a '|' in the text starts the other station's over), and steps
    # within one sender's text (no pause between the 'overs').
    ("QSO sidetone -20 dB", 20, ["--snr", "0", "--other-db", "-20", "--other-wpm", "28",
                                 "--other-offset", "30", "--other-silent"], "overs"),
    ("QSO sidetone +14 dB", 22, ["--snr", "3", "--other-db", "14", "--other-wpm", "16",
                                 "--other-offset", "-20", "--other-silent"], "overs"),
    ("QSO other +25 dB 12 wpm", 25, ["--snr", "0", "--other-db", "25", "--other-wpm", "12",
                                     "--other-offset", "-50"], "overs"),
    ("QSO one side fading", 18, ["--snr", "5", "--fade-db", "15", "--fade-period", "5",
                                 "--other-db", "-10", "--other-wpm", "35", "--other-offset",
                                 "50"], "overs"),
    ("level step +25 dB", 20, ["--snr", "3", "--other-db", "25", "--over-gap", "0"], "steps"),
    ("level step -25 dB", 20, ["--snr", "25", "--other-db", "-25", "--over-gap", "0"], "steps"),
    ("speed 15 -> 32 wpm", 15, ["--snr", "5", "--other-wpm", "32", "--over-gap", "0"], "steps"),
    ("speed 32 -> 15 wpm", 32, ["--snr", "5", "--other-wpm", "15", "--over-gap", "0"], "steps"),
]


def groups(seed, count=20):
    rnd = random.Random(seed)
    letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZ"
    return " ".join("".join(rnd.choice(letters) for _ in range(5)) for _ in range(count))


CONTEST = ["CQ TEST K1ABC K1ABC", "DL2XYZ 5NN 14", "TU K1ABC TEST", "G4ABC 599 027", "W9XG"]


def text_for(kind, seed):
    if kind == "contest":
        rnd = random.Random(seed)
        return " ".join(rnd.choice(CONTEST) for _ in range(6))
    if kind == "groups":
        return groups(seed)
    if kind == "qso2":
        t = QSO[(seed - 1) % len(QSO)]
        return t + " " + t
    if kind == "none":
        return ""
    if kind in ("overs", "steps"):
        # '|' starts the other station's over (or, with no pause, the step).
        n = 4 if kind == "overs" else 2
        return "|".join(QSO[(seed - 1 + k) % len(QSO)] for k in range(n))
    return QSO[(seed - 1) % len(QSO)]


def add_clicks(path, seed):
    """Static crashes: a short full-scale burst every few tenths of a second."""
    import array
    import wave
    with wave.open(path) as w:
        params = w.getparams()
        samples = array.array("h", w.readframes(w.getnframes()))
    rnd = random.Random(seed * 7919)
    at = 0
    while True:
        at += int(params.framerate * rnd.uniform(0.1, 0.6))
        if at + 40 >= len(samples):
            break
        for k in range(int(params.framerate * 0.001)):
            samples[at + k] = max(-32768, min(32767, samples[at + k] + rnd.choice((-1, 1)) * 20000))
    with wave.open(path, "wb") as w:
        w.setparams(params)
        w.writeframes(samples.tobytes())


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


def decode_one(build, engine, wpm, extra, text, seed):
    with tempfile.TemporaryDirectory() as tmp:
        wav = os.path.join(tmp, "s.wav")
        gen = [os.path.join(build, "kestrix-morsegen"), "--wpm", str(wpm), "--tone", "700",
               "--seed", str(seed), "--amplitude", "0.02"]
        noise_only = "--noise-only" in extra
        extra = [e for e in extra if e != "--noise-only"]
        clicks = "--clicks" in extra
        extra = [e for e in extra if e != "--clicks"]
        if "--amplitude" in extra:
            i = gen.index("--amplitude")
            gen = gen[:i] + gen[i + 2:]
        sent = text if not noise_only else "E"
        gen += extra
        if noise_only:
            gen += ["--lead-in", "20", "--amplitude", "0.0000001"]
        subprocess.run(gen + [sent, wav], check=True, capture_output=True)
        if clicks:
            add_clicks(wav, seed)
        decoder = os.environ.get("KESTRIX_DECODE", os.path.join(build, "kestrix-decode"))
        # 'best' is kestrix-decode --best (its own choice of chains and engine).
        cmd = [decoder, "--best", wav] if engine == "best" else [decoder, "--engine", engine, wav]
        out = normalise(subprocess.run(cmd, check=True, capture_output=True, text=True).stdout)
    if noise_only:
        return len(out), 0
    full = normalise(text.replace("|", " "))
    return infix_distance(full, out), len(full)


def cer(build, engine, wpm, extra, kind, seeds, pool):
    jobs = [pool.submit(decode_one, build, engine, wpm, extra, text_for(kind, s), s)
            for s in range(1, seeds + 1)]
    e = n = 0
    for j in jobs:
        a, b = j.result()
        e += a
        n += b
    return 100.0 * e / n if n else float(e)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(HERE, "..", "build"))
    ap.add_argument("--seeds", type=int, default=3)
    ap.add_argument("--engines", default="classic,soft")
    ap.add_argument("--sweep", action="store_true")
    ap.add_argument("--conditions", action="store_true")
    ap.add_argument("--only", default="")
    ap.add_argument("--plot", default="")
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--snrs", default="", help="sweep only these SNRs in 500 Hz, e.g. -1,-3")
    a = ap.parse_args()
    engines = a.engines.split(",")
    with concurrent.futures.ThreadPoolExecutor(a.jobs) as pool:
        if a.conditions:
            print(f"{'condition':<24}" + "".join(f"{e:>10}" for e in engines))
            for name, wpm, extra, kind in CONDITIONS:
                if a.only and a.only not in name:
                    continue
                row = [cer(a.build, e, wpm, extra, kind, a.seeds, pool) for e in engines]
                unit = "chars" if kind == "none" else "%"
                print(f"{name:<24}" + "".join(f"{v:10.1f}" for v in row) + f"  {unit}", flush=True)
        if a.sweep:
            results = {e: [] for e in engines}
            snrs = [int(v) for v in a.snrs.split(",")] if a.snrs else list(range(-6, 7))
            print("SNR(500Hz) " + "".join(f"{e + ' grp':>12}{e + ' qso':>12}" for e in engines))
            for snr in snrs:
                gen = ["--snr", str(snr - 7)]
                row = []
                for e in engines:
                    g = cer(a.build, e, 20, gen, "groups", a.seeds, pool)
                    q = cer(a.build, e, 20, gen, "qso", a.seeds, pool)
                    results[e].append((g, q))
                    row += [g, q]
                print(f"{snr:+10d} " + "".join(f"{v:12.1f}" for v in row), flush=True)
            if a.plot:
                import matplotlib
                matplotlib.use("Agg")
                import matplotlib.pyplot as plt
                fig, ax = plt.subplots(figsize=(7, 4.5))
                for e in engines:
                    ax.plot(snrs, [g for g, _ in results[e]], marker="o", label=f"{e}, groups")
                    ax.plot(snrs, [q for _, q in results[e]], marker="s", ls="--", label=f"{e}, QSO")
                ax.set_xlabel("SNR in 500 Hz (dB)")
                ax.set_ylabel("character error rate (%)")
                ax.set_title("kestrix-decode at 20 wpm")
                ax.set_ylim(0, 100)
                ax.grid(True, alpha=0.3)
                ax.legend()
                fig.tight_layout()
                fig.savefig(a.plot, dpi=100)


if __name__ == "__main__":
    main()
