#!/usr/bin/env bash
# The main job on the built-in sample: build the stub, the module and the packaging tool, build the
# sample package, run it under Wine as a user would (interactively, driven by the test robot) and
# silently with -s, and show what happened.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/wine-env.sh
JOBS=${JOBS:-2}

echo "== Building (host: tessel-pack; win64: stub, module, robot; win32: the i686 release)"
cmake --preset host >/dev/null && cmake --build --preset host -j"$JOBS" --target tessel-pack
cmake --preset win64 >/dev/null && cmake --build --preset win64 -j"$JOBS" --target tessel-stub UpdateModuleSetup tessel-robot module_test_exitwith
cmake --preset win32 >/dev/null && cmake --build --preset win32 -j"$JOBS" --target tessel-stub UpdateModuleSetup

out=build/demo
mkdir -p "$out"
echo
echo "== Building the sample package with tessel-pack"
build/host/bin/tessel-pack build tools/tessel-pack/sample/sample.tpk --stub build/win64/bin/tessel-stub.exe \
  -o "$out/TesselSample.exe"
build/host/bin/tessel-pack build tools/tessel-pack/sample/sample.tpk --stub build/win32/bin/tessel-stub.exe \
  -o "$out/TesselSample-i686.exe" -q
echo "   (the i686 release package $out/TesselSample-i686.exe is built too; this machine cannot run 32-bit code)"
build/host/bin/tessel-pack verify "$out/TesselSample.exe"
echo
build/host/bin/tessel-pack inspect "$out/TesselSample.exe"

export WINEPREFIX="$PWD/build/wine/demo"
echo
echo "== A fresh Wine prefix in $WINEPREFIX"
tessel_new_prefix "$WINEPREFIX"
displayfile=$(mktemp)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$displayfile" >/dev/null 2>&1 &
xvfb_pid=$!
trap '"$WINESERVER" -k 2>/dev/null || true; kill $xvfb_pid 2>/dev/null || true; rm -f "$displayfile"' EXIT
for _ in $(seq 100); do [[ -s "$displayfile" ]] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$displayfile")"

winout="Z:$(pwd | tr / '\\')\\build\\demo"
pkg="$winout\\TesselSample.exe"
robot=build/win64/bin/tessel-robot.exe
installed="$WINEPREFIX/drive_c/ProgramData/Tessel Sample/installed.txt"
summarise() {
  python3 - "$1" <<'PY'
import json, sys
for line in open(sys.argv[1], encoding="utf-8", errors="replace"):
    line = line.strip()
    if not line.startswith("{"):
        continue
    e = json.loads(line)
    kind = e.get("event")
    if kind == "wait-window":
        w = e["window"]
        texts = [c["text"] for c in w.get("controls", []) if c.get("text") and c.get("visible")]
        print("   window %-15r client %dx%d  %s" % (w["title"], w["client"]["w"], w["client"]["h"], " | ".join(texts)))
    elif kind == "press":
        print("   pressed %r" % e.get("text"))
    elif kind == "exit":
        print("   exit code %d" % e["code"])
    elif kind in ("error", "timeout"):
        print("   %s: %s" % (kind, e))
PY
}

echo
echo "== Interactive run: the progress window, the package's question (answered OK), the result box"
rm -f "$installed"
cat > "$out/interactive.steps" <<STEPS
wait-window --title "Halvo Bundrel" --timeout 30000
screenshot --window "title=Halvo Bundrel" "$winout\\progress.bmp"
wait-window --title "Tessel Sample" --timeout 30000
press --window "title=Tessel Sample" --button 1000
wait-window --title "Tessel Sample" --timeout 30000
press --window "title=Tessel Sample" --button 1001
wait-exit --timeout 60000
STEPS
"$WINE64" "$robot" --script "$winout\\interactive.steps" -- "$pkg" > "$out/interactive.jsonl"
summarise "$out/interactive.jsonl"
echo "   the installer left: $(cat "$installed" 2>/dev/null || echo 'nothing')"
echo "   work folders left under PackagingTemp: $(find "$WINEPREFIX/drive_c/ProgramData/Halvo Corporation/Halvo Bundrel/PackagingTemp" -mindepth 2 | wc -l) files"

echo
echo "== Silent run (-s): no progress window, no result box; the question still comes from the package"
rm -f "$installed"
cat > "$out/silent.steps" <<'STEPS'
wait-window --title "Tessel Sample" --timeout 30000
press --window "title=Tessel Sample" --button 1000
wait-exit --timeout 60000
STEPS
"$WINE64" "$robot" --script "$winout\\silent.steps" -- "$pkg" -s > "$out/silent.jsonl"
summarise "$out/silent.jsonl"
echo "   the installer left: $(cat "$installed" 2>/dev/null || echo 'nothing')"
echo
echo "== An .exe installer: a package whose installer exits with 3010 (success, restart needed)"
mkdir -p "$out/exe-sample/payload"
cp build/win64/bin/exitwith.exe "$out/exe-sample/payload/Setup.exe"
cat > "$out/exe-sample/exe-sample.tpk" <<'TPK'
[package]
codepage = 1252
[assist]
ExecuteFileName = Setup.exe
ParamManual = 3010
ProductName = Tessel Exe Sample
ShowResult = 1
SuccessCode = 0;3010
[message]
IsShowMessageBox = 0
[cabinet]
folder = payload
compression = mszip
TPK
build/host/bin/tessel-pack build "$out/exe-sample/exe-sample.tpk" --stub build/win64/bin/tessel-stub.exe \
  -o "$out/TesselExeSample.exe" -q
cat > "$out/exe.steps" <<STEPS
wait-window --title "Tessel Exe Sample" --timeout 30000
press --window "title=Tessel Exe Sample" --button 1001
wait-exit --timeout 60000
STEPS
"$WINE64" "$robot" --script "$winout\\exe.steps" -- "$winout\\TesselExeSample.exe" > "$out/exe.jsonl"
summarise "$out/exe.jsonl"
echo "   (the installer's 3010 is the stub's exit code, read in full on the Windows side)"

echo
echo "Transcripts: $out/interactive.jsonl, $out/silent.jsonl, $out/exe.jsonl; the progress window: $out/progress.bmp"
