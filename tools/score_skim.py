#!/usr/bin/env python3
"""Scores skimmer spots against a band scene's truth table.

    tools/score_skim.py --truth band.csv --spots spots.txt [--tolerance-hz 150] [--json]

The truth is the CSV kestrix-bandscene writes (call,role,offset_hz,freq_khz,wpm,snr_db,
call_count); the spots are DX cluster lines ("DX de W9XG-#:  14057.6  K7GT  CW  7 dB ...")
as kestrix-skim prints them, any other lines ignored.

Precision: of the distinct calls spotted, how many are right, a call being right when a
station of that call is within the tolerance of a spot of it (every spot of a call must be).
Recall: of the stations calling CQ or sending as a beacon that send their call at least
twice, how many were spotted within the tolerance, by SNR bucket (0-6, 6-12, >= 12 dB;
stations below 0 dB are listed apart). Callers typed CQ: stations that never call CQ (callers,
ragchews) spotted with type CQ.

Exit status 0 unless an input can't be read; --min-precision / --min-recall-* turn the
figures into a pass/fail check (exit 1).
"""

import argparse
import csv
import json
import re
import sys

SPOT = re.compile(
    r"^DX de (?P<spotter>\S+?):?\s+(?P<khz>\d+\.\d)\s+(?P<call>\S+)\s+CW\s+"
    r"(?P<snr>-?\d+) dB\s+(?P<wpm>\d+) WPM\s+(?P<kind>CQ|DX|BEACON)\s+(?P<hhmm>\d{4})Z\s*$")

BUCKETS = [("0-6 dB", 0.0, 6.0), ("6-12 dB", 6.0, 12.0), (">=12 dB", 12.0, float("inf"))]


def read_truth(path):
    stations = []
    with open(path, newline="") as f:
        for row in csv.DictReader(f):
            stations.append({
                "call": row["call"].strip().upper(),
                "role": row["role"].strip().upper(),
                "khz": float(row["freq_khz"]),
                "wpm": float(row["wpm"]),
                "snr": float(row["snr_db"]),
                "count": int(row["call_count"]),
            })
    return stations


def read_spots(path):
    spots = []
    bad = 0
    stream = sys.stdin if path == "-" else open(path, encoding="ascii", errors="replace")
    with stream:
        for line in stream:
            line = line.rstrip("\r\n")
            if not line.startswith("DX de "):
                continue
            m = SPOT.match(line)
            if not m:
                bad += 1
                continue
            spots.append({
                "call": m["call"].upper(),
                "khz": float(m["khz"]),
                "kind": m["kind"],
                "snr": int(m["snr"]),
                "wpm": int(m["wpm"]),
            })
    return spots, bad


def score(truth, spots, tolerance_hz):
    tol_khz = tolerance_hz / 1000.0
    by_call = {}
    for s in truth:
        by_call.setdefault(s["call"], []).append(s)

    def matches(spot):
        return [s for s in by_call.get(spot["call"], []) if abs(s["khz"] - spot["khz"]) <= tol_khz]

    distinct = {}
    for spot in spots:
        distinct.setdefault(spot["call"], []).append(spot)
    wrong = sorted(c for c, ss in distinct.items() if not all(matches(s) for s in ss))
    right = len(distinct) - len(wrong)

    typed_cq = set()
    for spot in spots:
        if spot["kind"] != "CQ":
            continue
        for s in matches(spot):
            if s["role"] not in ("CQ", "BEACON"):
                typed_cq.add(spot["call"])

    found_calls = {spot["call"] for spot in spots if matches(spot)}
    recall = []
    weak = [0, 0]
    missed = []
    for name, lo, hi in BUCKETS:
        want = [s for s in truth if s["role"] in ("CQ", "BEACON") and s["count"] >= 2
                and lo <= s["snr"] < hi]
        got = [s for s in want if s["call"] in found_calls]
        missed += [s for s in want if s["call"] not in found_calls]
        recall.append({"bucket": name, "stations": len(want), "spotted": len(got),
                       "recall": len(got) / len(want) if want else None})
    for s in truth:
        if s["role"] in ("CQ", "BEACON") and s["count"] >= 2 and s["snr"] < 0:
            weak[0] += 1
            weak[1] += s["call"] in found_calls
    return {
        "spots": len(spots),
        "distinct_calls": len(distinct),
        "right": right,
        "precision": right / len(distinct) if distinct else None,
        "wrong_calls": wrong,
        "recall": recall,
        "below_0_db": {"stations": weak[0], "spotted": weak[1]},
        "callers_typed_cq": sorted(typed_cq),
        "missed": sorted((s["call"], round(s["snr"], 1)) for s in missed),
    }


def percent(x):
    return "-" if x is None else f"{100.0 * x:.1f} %"


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--truth", required=True)
    p.add_argument("--spots", required=True, help="spot lines, '-' for standard input")
    p.add_argument("--tolerance-hz", type=float, default=150.0)
    p.add_argument("--json", action="store_true", help="print the figures as JSON")
    p.add_argument("--min-precision", type=float)
    p.add_argument("--min-recall-low", type=float, help="0-6 dB")
    p.add_argument("--min-recall-mid", type=float, help="6-12 dB")
    p.add_argument("--min-recall-high", type=float, help=">= 12 dB")
    p.add_argument("--max-callers-typed-cq", type=int)
    args = p.parse_args()
    try:
        truth = read_truth(args.truth)
        spots, bad = read_spots(args.spots)
    except (OSError, KeyError, ValueError) as e:
        print(f"score_skim: {e}", file=sys.stderr)
        return 2
    result = score(truth, spots, args.tolerance_hz)
    result["unparsed_spot_lines"] = bad
    if args.json:
        print(json.dumps(result, indent=2))
    else:
        print(f"spots {result['spots']}, distinct calls {result['distinct_calls']}, "
              f"right {result['right']}: precision {percent(result['precision'])}")
        if result["wrong_calls"]:
            print("  wrong: " + " ".join(result["wrong_calls"]))
        print("recall of CQ and beacon stations sending their call twice or more:")
        print("  | SNR | stations | spotted | recall |")
        print("  |---|---|---|---|")
        for r in result["recall"]:
            print(f"  | {r['bucket']} | {r['stations']} | {r['spotted']} | {percent(r['recall'])} |")
        w = result["below_0_db"]
        if w["stations"]:
            print(f"  (below 0 dB: {w['spotted']} of {w['stations']})")
        print(f"callers typed CQ: {len(result['callers_typed_cq'])} "
              + " ".join(result["callers_typed_cq"]))
        if bad:
            print(f"unparsed spot lines: {bad}")
    failed = []
    if args.min_precision is not None and (result["precision"] or 0) < args.min_precision:
        failed.append("precision")
    for key, i in (("min_recall_low", 0), ("min_recall_mid", 1), ("min_recall_high", 2)):
        want = getattr(args, key)
        got = result["recall"][i]["recall"]
        if want is not None and got is not None and got < want:
            failed.append(result["recall"][i]["bucket"])
    if (args.max_callers_typed_cq is not None
            and len(result["callers_typed_cq"]) > args.max_callers_typed_cq):
        failed.append("callers typed CQ")
    if bad:
        failed.append("unparsed spot lines")
    if failed and any(v is not None for v in (args.min_precision, args.min_recall_low,
                                              args.min_recall_mid, args.min_recall_high,
                                              args.max_callers_typed_cq)):
        print("score_skim: below target: " + ", ".join(failed), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
