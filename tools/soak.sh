#!/usr/bin/env bash
# A long run of the real window: Kestrix under Xvfb listens to a looping recording for
# --seconds, a partner client records every decoded character, and, with --keyshim LIB,
# the window keys memory M3 onto the faked serial port /dev/ttyKEY0 every --send-every
# seconds: Xmit Enable is clicked once and F3 pressed through xdotool, the way an operator
# would. With --network as well, a network-keying request is sent between the memories.
# Every 10 s the window's resident memory and CPU time go into OUT/soak.csv; at the end the
# script prints the growth and the CPU share and reads the keyed text back from the log.
#
#   tools/soak.sh --seconds 3600 [--out DIR] [--keyshim /tmp/keyshim/libkeyshim.so]
#                 [--network]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds=600
out=""
keyshim=""
send_every=60
udp_port=46789
network=""
memory_text="CQ TEST DE K1ABC"
network_text="TEST DE W9XYZ"
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds="$2"; shift 2 ;;
    --out) out="$2"; shift 2 ;;
    --keyshim) keyshim="$2"; shift 2 ;;
    --send-every) send_every="$2"; shift 2 ;;
    --udp-port) udp_port="$2"; shift 2 ;;
    --network) network=1; shift ;;
    *) echo "soak: unknown option $1" >&2; exit 2 ;;
  esac
done
out="${out:-$(mktemp -d /tmp/kestrix-soak.XXXXXX)}"
mkdir -p "$out/home" "$out/run"
build="$root/build"
need=(kestrix kestrix-morsegen kestrix-partner)
for p in "${need[@]}"; do
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
python3 - "$KESTRIX_HOME/Kestrix.cfc" <<'PY'
import sys
path = sys.argv[1]
b = bytearray(open(path, 'rb').read())
b[82051] = 1                                   # messaging on
open(path, 'wb').write(b)
PY
if [ -n "$keyshim" ]; then
  command -v xdotool >/dev/null || { echo "soak: --keyshim needs xdotool" >&2; exit 1; }
  # The faked serial port, serial-port output, 20 wpm and the memory F3 sends.
  python3 "$root/bench/window_keying_setup.py" "$KESTRIX_HOME/Kestrix.cfc" --wpm 20 \
    --buffer "3=$memory_text"
fi

# Our own X server, so that xdotool reaches the window.
display=""
for n in $(seq 90 130); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
    display=":$n"
    break
  fi
done
[ -n "$display" ] || { echo "soak: no free X display" >&2; exit 1; }
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >"$out/xvfb.log" 2>&1 &
xvfb=$!
trap 'kill -TERM "$xvfb" 2>/dev/null || true' EXIT
export DISPLAY="$display"
for _ in $(seq 50); do
  [ -e "/tmp/.X11-unix/X${display#:}" ] && break
  sleep 0.1
done

env_pre=()
net=()
if [ -n "$keyshim" ]; then
  rm -f "$out/keying.log"
  env_pre=(env LD_PRELOAD="$keyshim" KEYSHIM_LOG="$out/keying.log")
  if [ -n "$network" ]; then net=(--cwdaemon-port "$udp_port"); fi
fi
"${env_pre[@]}" "$build/kestrix" --input-file "$out/loop.wav" --loop "${net[@]}" \
  >"$out/kestrix.log" 2>&1 &
pid=$!
win=""
for _ in $(seq 100); do
  [ -d "/proc/$pid" ] || break
  for w in $(xdotool search --all --pid "$pid" --name '^Kestrix$' 2>/dev/null || true); do
    xdotool getwindowgeometry "$w" | grep -q 'Geometry: 1x1' || win=$w
  done
  [ -n "$win" ] && break
  sleep 0.1
done
[ -n "$win" ] || { echo "soak: the window did not start" >&2; cat "$out/kestrix.log" >&2; exit 1; }
sleep 1.5
"$build/kestrix-partner" --wait 30 >"$out/text.txt" 2>"$out/partner.log" &
partner=$!
memories=0
requests=0
if [ -n "$keyshim" ]; then
  # Xmit Enable, then the focus into the transmit pane (offsets in the default layout).
  xdotool mousemove --window "$win" 508 398 click 1
  sleep 0.5
  xdotool mousemove --window "$win" 223 314 click 1
  sleep 0.3
  import -window root "$out/start.png" 2>/dev/null || true
fi

ticks=$(getconf CLK_TCK)
echo "seconds,rss_kb,cpu_s" >"$out/soak.csv"
start=$(date +%s)
next_send=$((start + send_every))
next_net=$((start + send_every / 2))
while :; do
  now=$(date +%s)
  elapsed=$((now - start))
  [ -d "/proc/$pid" ] || { echo "soak: the window ended early" >&2; break; }
  rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status")
  cpu=$(awk -v t="$ticks" '{printf "%.2f", ($14 + $15) / t}' "/proc/$pid/stat")
  echo "$elapsed,$rss,$cpu" >>"$out/soak.csv"
  [ "$elapsed" -ge "$seconds" ] && break
  if [ -n "$keyshim" ] && [ "$now" -ge "$next_send" ]; then
    xdotool key F3
    memories=$((memories + 1))
    next_send=$((now + send_every))
  fi
  if [ -n "$keyshim" ] && [ -n "$network" ] && [ "$now" -ge "$next_net" ]; then
    python3 -c "import socket; socket.socket(socket.AF_INET, socket.SOCK_DGRAM).sendto(b'$network_text', ('127.0.0.1', $udp_port))"
    requests=$((requests + 1))
    next_net=$((now + send_every))
  fi
  sleep 10
done
if [ -n "$keyshim" ]; then import -window root "$out/end.png" 2>/dev/null || true; fi
kill -TERM "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true
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
if [ -n "$keyshim" ]; then
  echo "soak: $memories memories and $requests network requests keyed; log $out/keying.log"
  python3 "$(dirname "$keyshim")/keyanalyze.py" "$out/keying.log" --wpm 20 \
    --word-gap-after-char >"$out/keying.txt" 2>&1 || true
  python3 - "$out/keying.txt" "$memory_text" "$network_text" <<'PY'
import sys
text = open(sys.argv[1]).read()
for want in sys.argv[2:]:
    print(f"soak: {want!r} read back {text.count(want)} times from the keying log")
PY
fi
echo "soak: results in $out"
