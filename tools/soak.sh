#!/usr/bin/env bash
# A long run of the real window: Kestrix under Xvfb listens to a looping recording for
# --seconds, a partner client records every decoded character, and, with --keyshim LIB,
# a message is keyed every --send-every seconds through network keying onto the faked
# serial port /dev/ttyKEY0. Every 10 s the window's resident memory and CPU time go into
# OUT/soak.csv; at the end the script prints the growth and the CPU share.
#
#   tools/soak.sh --seconds 3600 [--out DIR] [--keyshim /tmp/keyshim/libkeyshim.so]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds=600
out=""
keyshim=""
send_every=60
udp_port=46789
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds="$2"; shift 2 ;;
    --out) out="$2"; shift 2 ;;
    --keyshim) keyshim="$2"; shift 2 ;;
    --send-every) send_every="$2"; shift 2 ;;
    --udp-port) udp_port="$2"; shift 2 ;;
    *) echo "soak: unknown option $1" >&2; exit 2 ;;
  esac
done
out="${out:-$(mktemp -d /tmp/kestrix-soak.XXXXXX)}"
mkdir -p "$out/home" "$out/run"
build="$root/build"
for p in kestrix kestrix-morsegen kestrix-partner; do
  [ -x "$build/$p" ] || { echo "soak: build $p first (scripts/build)" >&2; exit 1; }
done

# A minute of noisy 22 wpm traffic, played again and again.
"$build/kestrix-morsegen" --wpm 22 --tone 700 --snr 6 --amplitude 0.1 --seed 7 \
  "VVV CQ CQ DE K1ABC K1ABC PSE K <KN> K1ABC DE W9XYZ UR RST 599 599 NAME JIM QTH OHIO HW? <BT> TU 73 <SK>" \
  "$out/loop.wav" >/dev/null

# Settings: messaging on so the partner client hears the text; with the shim, the port is
# the faked serial device.
export KESTRIX_HOME="$out/home" XDG_RUNTIME_DIR="$out/run"
chmod 700 "$out/run"
"$build/kestrix" --write-default-settings >/dev/null
python3 - "$KESTRIX_HOME/Kestrix.cfc" "${keyshim:+serial}" <<'PY'
import struct, sys
path, serial = sys.argv[1], sys.argv[2]
b = bytearray(open(path, 'rb').read())
b[82051] = 1                                   # messaging on
if serial:
    b[81972:81976] = struct.pack('<i', 1)      # serial port
    name = b'/dev/ttyKEY0'
    b[81976:81992] = name + bytes(16 - len(name))
open(path, 'wb').write(b)
PY

env_pre=()
net=()
if [ -n "$keyshim" ]; then
  env_pre=(env LD_PRELOAD="$keyshim" KEYSHIM_LOG="$out/keying.log")
  net=(--cwdaemon-port "$udp_port")
fi
xvfb-run -a -s "-screen 0 1024x768x24" "${env_pre[@]}" "$build/kestrix" \
  --input-file "$out/loop.wav" --loop "${net[@]}" >"$out/kestrix.log" 2>&1 &
runner=$!
pid=""
for _ in $(seq 100); do
  # Ours is the one with this run's settings folder (other windows may be running).
  for p in $(pgrep -x kestrix || true); do
    if tr '\0' '\n' <"/proc/$p/environ" 2>/dev/null | grep -qx "KESTRIX_HOME=$out/home"; then
      pid=$p
    fi
  done
  [ -n "$pid" ] && break
  sleep 0.1
done
[ -n "$pid" ] || { echo "soak: the window did not start" >&2; cat "$out/kestrix.log" >&2; exit 1; }
"$build/kestrix-partner" --wait 30 >"$out/text.txt" 2>"$out/partner.log" &
partner=$!

ticks=$(getconf CLK_TCK)
echo "seconds,rss_kb,cpu_s" >"$out/soak.csv"
start=$(date +%s)
next_send=$((start + send_every))
while :; do
  now=$(date +%s)
  elapsed=$((now - start))
  [ -d "/proc/$pid" ] || { echo "soak: the window ended early" >&2; break; }
  rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status")
  cpu=$(awk -v t="$ticks" '{printf "%.2f", ($14 + $15) / t}' "/proc/$pid/stat")
  echo "$elapsed,$rss,$cpu" >>"$out/soak.csv"
  [ "$elapsed" -ge "$seconds" ] && break
  if [ -n "$keyshim" ] && [ "$now" -ge "$next_send" ]; then
    python3 -c "import socket; socket.socket(socket.AF_INET, socket.SOCK_DGRAM).sendto(b'CQ TEST DE K1ABC', ('127.0.0.1', $udp_port))"
    next_send=$((now + send_every))
  fi
  sleep 10
done
kill -TERM "$pid" 2>/dev/null || true
wait "$runner" 2>/dev/null || true
kill -TERM "$partner" 2>/dev/null || true
wait "$partner" 2>/dev/null || true

python3 - "$out/soak.csv" <<'PY'
import csv, sys
rows = list(csv.DictReader(open(sys.argv[1])))
if len(rows) < 2:
    sys.exit("soak: too few samples")
first, settled, last = rows[0], rows[min(6, len(rows) - 1)], rows[-1]
t = int(last['seconds']) or 1
print(f"soak: {t} s, RSS {first['rss_kb']} kB at start, {settled['rss_kb']} kB after a minute, "
      f"{last['rss_kb']} kB at the end "
      f"({int(last['rss_kb']) - int(settled['rss_kb']):+d} kB after the first minute); "
      f"CPU {float(last['cpu_s']):.1f} s = {100 * float(last['cpu_s']) / t:.1f} % of one core")
PY
echo "soak: decoded characters received by the partner client: $(wc -c <"$out/text.txt")"
[ -n "$keyshim" ] && echo "soak: keying log $out/keying.log"
echo "soak: results in $out"
