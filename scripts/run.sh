#!/usr/bin/env bash
# The main job: builds the program wired to the local speech service
# emulator, starts the emulator with a demo key pair and runs the program
# from build/win/run (its settings file and MP3 files land there).
# With a display the window opens there, and the line "run: the program is
# open on :N" says when. Without one, it runs one scripted
# synthesis of a Chinese sentence under a virtual display, prints the message
# and the MP3 it wrote, and leaves a screenshot.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

"$QX_ROOT/scripts/build.sh"

run="$QX_BUILD/run"
state="$run/emulator.state"
demo_api_key=qx-dev-api-key
demo_secret_key=qx-dev-secret-key

# Stops what this script started: the emulator, and the wineserver and
# Xvfb only when it started them (lib.sh keeps a caller's own).
cleanup() {
  python3 "$QX_ROOT/tools/speech_emulator/emuctl.py" stop --state "$state" >/dev/null 2>&1 || true
  qx_wine_down
  qx_xvfb_down
}
trap cleanup EXIT

mkdir -p "$run"
cp "$QX_BUILD/app/QXtts.exe" "$run/"
python3 "$QX_ROOT/tools/speech_emulator/emuctl.py" start --state "$state" \
  --token-port "$(qx_cache_value QX_EMU_TOKEN_PORT)" --synth-port "$(qx_cache_value QX_EMU_SYNTH_PORT)" \
  --cert "$QX_BUILD/testca/server.pem" --key "$demo_api_key:$demo_secret_key" --log "$run/emulator.log"

# The demo keys go into the settings file unless it names keys of its own.
python3 - "$run/QXtts.ini" "$demo_api_key" "$demo_secret_key" <<'PY'
import sys, pathlib
path, api, secret = pathlib.Path(sys.argv[1]), sys.argv[2], sys.argv[3]
lines = path.read_bytes().split(b"\r\n") if path.exists() else []
def has(key):
    return any(l.startswith(key + b"=") and len(l) > len(key) + 1 for l in lines)
if not (has(b"AK") or has(b"SK")):
    lines = [l for l in lines if l and not l.startswith((b"AK=", b"SK="))]
    if b"[ocr]" not in lines:
        lines.insert(0, b"[ocr]")
    at = lines.index(b"[ocr]") + 1
    lines[at:at] = [b"AK=" + api.encode(), b"SK=" + secret.encode()]
    path.write_bytes(b"\r\n".join(lines) + b"\r\n")
PY

exe="$run/QXtts.exe"
driver() { "$QX_BUILD/wine-run.sh" "$QX_BUILD/tools/uidriver/uidriver.exe" --exe "$(winepath_of "$exe")" "$@" </dev/null; }
winepath_of() { echo "Z:${1//\//\\}"; }

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  qx_wine_up
  (cd "$run" && exec "$QX_BUILD/wine-run.sh" "$exe" </dev/null) &
  pid=$!
  # The line says the window is there to drive (a first window on a new
  # display takes Wine many seconds).
  if driver --timeout 240 wait >/dev/null; then
    echo "run: the program is open on $DISPLAY; MP3 files are written to $run"
  else
    echo "run: the window did not appear" >&2
  fi
  wait "$pid" || true
  exit 0
fi

qx_xvfb_up
qx_wine_up
qx_gui_warmup
(cd "$run" && exec "$QX_BUILD/wine-run.sh" "$exe" </dev/null >/dev/null 2>&1) &
pid=$!
out="$run/driver.out"
status=0
sentence="欢迎使用语音在线合成，今天天气很好。"
if driver --timeout 60 wait >"$out"; then
  driver text 1002 "hex:$(printf '%s' "$sentence" | od -An -tx1 | tr -d ' \n')" >"$out"
  driver click 1010 >"$out"
  if driver msgbox --wait 90 --keep >"$out"; then
    box=$(cat "$out")
    sleep 0.5
    shot="$QX_BUILD/screenshot-run.png"
    import -window root "$shot"
    driver msgbox >/dev/null || true
    python3 - "$box" <<'PY' || status=1
import json, os, re, subprocess, sys
box = json.loads(sys.argv[1])
print("message box: [%s] %s" % (box["title"], box["text"]))
match = re.search(r"(Z:\\.*\.mp3)$", box["text"])
if not match:
    sys.exit(1)
path = match.group(1)[2:].replace("\\", "/")
pcm = subprocess.run(["mpg123", "-q", "-s", "-m", "-r", "22050", path], capture_output=True).stdout
print("mp3: %s (%d bytes, %.1f s of audio)" % (path, os.path.getsize(path), len(pcm) / 2 / 22050))
PY
    echo "screenshot: $shot"
  else
    echo "run: no message box appeared" >&2
    status=1
  fi
  driver close >/dev/null 2>&1 || true
  driver --timeout 10 wait-closed >/dev/null 2>&1 || true
else
  echo "run: the window did not appear" >&2
  status=1
fi
if kill -0 "$pid" 2>/dev/null; then kill "$pid" 2>/dev/null || true; fi
wait "$pid" 2>/dev/null || true
exit $status
