#!/usr/bin/env bash
# By hand, not in CI: the live SDR path end to end through a real SoapySDR driver without
# radio hardware. Debian's soapysdr-module-audio reads the monitor of a PulseAudio null sink
# into which a generated I/Q scene is played; kestrix-skim spots it and serves a telnet
# client. Halfway the sound server is killed and started again, as an unplugged and
# replugged receiver would be. Needs pulseaudio, pulseaudio-utils, soapysdr-module-audio.
# Starts its own sound server (stopped again at the end; none may be running before).
# Usage: tools/skim_soapy_audio.sh [BUILD_DIR]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
out="$(mktemp -d /tmp/skim-soapy.XXXXXX)"
port=7397
cd "$out"

start_sound_server() {
  pulseaudio -D --exit-idle-time=-1 --log-target=file:"$out/pulse.log"
  sleep 1
  pactl load-module module-null-sink sink_name=iq rate=48000 channels=2 >/dev/null
  pgrep -n -x pulseaudio
}

"$build/kestrix-bandscene" --iq --rate 48000 --center-khz 14040 --duration 60 --runners 8 \
  --out scene.wav --truth scene.csv --seed 41 >/dev/null
pulse=$(start_sound_server)
paplay --device=iq scene.wav &
sleep 0.3
"$build/kestrix-skim" --soapy "driver=audio,label=Monitor of Null Output" \
  --stream-args chan=stereo_iq --rate 48000 --center-khz 14040 --call W9XG \
  --telnet "$port" --seconds 100 >spots.txt 2>skim.log &
skim=$!
sleep 1
# A logger that stays logged in until the skimmer closes the connection (at most 300 s).
python3 - "$port" >client.txt <<'EOF' &
import socket, sys, time
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])))
s.sendall(b"W9XG\r\n")
s.settimeout(1)
end = time.time() + 300
while time.time() < end:
    try:
        d = s.recv(4096)
        if not d:
            break
        sys.stdout.write(d.decode(errors="replace"))
        sys.stdout.flush()
    except socket.timeout:
        pass
EOF
client=$!

sleep 20
kill "$pulse"
echo "$(date +%T) sound server stopped"
sleep 15
pulse=$(start_sound_server)
echo "$(date +%T) sound server back"
paplay --device=iq scene.wav &
status=0
wait "$skim" || status=$?
wait "$client" || true
kill "$pulse" 2>/dev/null || true

echo "kestrix-skim exit status $status; its messages (driver noise left out):"
grep -v -e '^$' -e '^O*$' -e RtApiPulse skim.log || true
echo "driver lines: $(grep -c RtApiPulse skim.log || true)"
echo "spots: $(wc -l <spots.txt); the telnet client got $(grep -c '^DX de' client.txt || true)"
python3 "$root/tools/score_skim.py" --truth scene.csv --spots spots.txt
echo "everything is in $out"
