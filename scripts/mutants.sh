#!/usr/bin/env bash
# Plants each fault of scripts/mutants.txt in turn, rebuilds, runs the tests, puts the code back,
# and prints "caught K of N". A fault the tests do not notice is listed as survived; a fault whose
# text is no longer in its file is listed as stale, one that does not build as broken; neither
# counts as caught.
#   scripts/mutants.sh              every fault
#   scripts/mutants.sh 7 12         only those with these numbers
# Builds in build-mutants (the default preset's settings). The GDAL round trips are left out for
# time unless MUTANTS_INTEROP=1.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh test

build=$PWD/build-mutants
jobs=$(nproc 2>/dev/null || echo 2)
cmake --preset default -B "$build" >/dev/null
cmake --build "$build" -j "$jobs" >/dev/null
exclude=interop
[ "${MUTANTS_INTEROP:-0}" = 1 ] && exclude='^$'

python3 - "$build" "$jobs" "$exclude" "$@" <<'PY'
import pathlib, subprocess, sys

build, jobs, exclude, only = sys.argv[1], sys.argv[2], sys.argv[3], set(sys.argv[4:])
faults, cur = [], None
for line in pathlib.Path("scripts/mutants.txt").read_text(encoding="utf-8").splitlines():
    if line.startswith("## "):
        cur = {"name": line[3:].strip()}
        faults.append(cur)
    elif cur is not None and line[:6] in ("file: ", "from: ", "to:   "):
        cur[line.split(":", 1)[0]] = line[6:].replace("\\n", "\n")  # \n joins lines

def run(cmd):
    return subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode

caught, tried = 0, 0
for n, f in enumerate(faults, 1):
    if only and str(n) not in only:
        continue
    tried += 1
    path = pathlib.Path(f["file"])
    if not path.is_file():
        print(f"{n:3} STALE     {f['name']} ({path} does not exist)", flush=True)
        continue
    original = path.read_bytes()
    text = original.decode("utf-8")
    if text.count(f["from"]) != 1:
        print(f"{n:3} STALE     {f['name']} ({path}: text found {text.count(f['from'])} times)", flush=True)
        continue
    try:
        path.write_bytes(text.replace(f["from"], f["to"]).encode("utf-8"))
        if run(["cmake", "--build", build, "-j", jobs]) != 0:
            verdict = "BROKEN"  # a fault that does not build proves nothing
        elif run(["ctest", "--test-dir", build, "-j", jobs, "--stop-on-failure", "--timeout", "300",
                  "-E", exclude]) != 0:
            verdict = "caught"
        else:
            verdict = "SURVIVED"
    finally:
        path.write_bytes(original)
    caught += verdict.startswith("caught")
    print(f"{n:3} {verdict:9} {f['name']}", flush=True)
subprocess.run(["cmake", "--build", build, "-j", jobs], stdout=subprocess.DEVNULL)
print(f"caught {caught} of {tried}")
sys.exit(0 if caught == tried else 1)
PY
