#!/usr/bin/env python3
"""Whole recoveries on both systems: the Linux command line and tabrescue.exe under Wine run the same
commands on copies of the same tables. Wine sees its copy as drive D: and gets Windows paths
(backslashes, a folder name with blanks and Cyrillic letters). Both must write identical result
files, leave the input unchanged and print identical log lines apart from paths and times.

usage: compare-windows-runs.py LINUX_EXE WINDOWS_EXE WINE SAMPLE_DIR WORK_DIR
WINEPREFIX must name the prefix to use; its drive D: is pointed at WORK_DIR/win.
"""
import difflib
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

FOLDER = "Мои карты 2015"
DRIVE = "D:\\"

# Each step: a command line with {R} for the root (ending in a separator) and {S} for the
# separator, or a preparation of both copies.
STEPS = [
    ["-o", "{R}out", "{R}" + FOLDER + "{S}roads.tab"],
    "read-only out",
    # The same table again, named in capitals, into a folder given with a trailing separator:
    # every result file is backed up first, read-only ones included.
    ["-o", "{R}out{S}", "{R}" + FOLDER + "{S}ROADS.TAB"],
    "read-only out",
    ["-o", "{R}out", "{R}" + FOLDER + "{S}roads.tab"],
    ["--all", "-o", "{R}" + FOLDER, "{R}" + FOLDER + "{S}Дороги района.TAB"],
    ["--all", "-o", "{R}out2", "{R}" + FOLDER + "{S}attributes only.tab"],
    ["-o", "{R}out2", "{R}" + FOLDER + "{S}geometry only.tab"],
    ["-o", "{R}out2", "{R}" + FOLDER + "{S}indexed.tab"],
    ["-o", "{R}out2", "{R}out{S}roads_DAT.TAB"],  # nothing deleted, no option: ends by error
    ["-o", "{R}no such folder", "{R}" + FOLDER + "{S}roads.tab"],
    ["--check", "{R}" + FOLDER + "{S}roads.tab", "{R}" + FOLDER + "{S}geometry only.tab"],
]


def make_tables(root: Path, sample: Path) -> None:
    folder = root / FOLDER
    folder.mkdir(parents=True)
    for ext in ("tab", "dat", "map", "id"):
        shutil.copyfile(sample / f"roads.{ext}", folder / f"roads.{ext}")
        shutil.copyfile(sample / f"roads.{ext}", folder / f"Дороги района.{ext.upper()}")
    for ext in ("tab", "dat"):
        shutil.copyfile(sample / f"roads.{ext}", folder / f"attributes only.{ext}")
    for ext in ("tab", "map", "id"):
        shutil.copyfile(sample / f"roads.{ext}", folder / f"geometry only.{ext}")
    # An indexed table with CR LF line ends: the working copy goes without its index.
    text = (sample / "roads.tab").read_bytes().replace(b"\r\n", b"\n")
    text = text.replace(b"NAME Char (20) ;", b"NAME Char (20) Index 1 ;").replace(b"\n", b"\r\n")
    assert b"Index 1" in text
    (folder / "indexed.TAB").write_bytes(text)
    for ext in ("dat", "map", "id"):
        shutil.copyfile(sample / f"roads.{ext}", folder / f"indexed.{ext.upper()}")
    (folder / "indexed.IND").write_bytes(b"index pages")
    (root / "out").mkdir()
    (root / "out2").mkdir()


def tree(root: Path) -> dict:
    return {str(p.relative_to(root)): p.read_bytes() for p in sorted(root.rglob("*")) if p.is_file()}


def normalise(text: str, root: str) -> list:
    lines = []
    for line in text.replace("\r\n", "\n").split("\n"):
        line = line.replace(root, "{R}")
        if root == DRIVE:
            line = line.replace("\\", "/")
        line = re.sub(r"^(<<< |>>> ).*?(\{R\})", r"\1<time>\2", line)
        line = re.sub(r"^(\*\*\* .*? at ).*$", r"\1<time>", line)
        lines.append(line)
    return lines


def run(cmd: list, env: dict) -> subprocess.CompletedProcess:
    return subprocess.run(cmd, env=env, stdin=subprocess.DEVNULL, capture_output=True, timeout=120)


def main() -> int:
    linux_exe, windows_exe, wine, sample, work = sys.argv[1:6]
    sample, work = Path(sample), Path(work)
    lin, win = work / "lin", work / "win"
    for root in (lin, win):
        make_tables(root, sample)
    inputs = tree(lin / FOLDER)

    drive = Path(os.environ["WINEPREFIX"]) / "dosdevices" / "d:"
    if drive.is_symlink() or drive.exists():
        drive.unlink()
    drive.symlink_to(win)

    lin_env = dict(os.environ, TMPDIR=str(work / "tmp"))
    (work / "tmp").mkdir()
    failures = 0
    for step in STEPS:
        if isinstance(step, str):  # read-only out: chmod a-w, which Wine shows as the attribute
            for root in (lin, win):
                for p in (root / "out").iterdir():
                    p.chmod(0o444)
            continue
        on_linux = [a.format(R=str(lin) + "/", S="/") for a in step]
        on_windows = [a.format(R=DRIVE, S="\\") for a in step]
        a = run([linux_exe] + on_linux, lin_env)
        b = run([wine, windows_exe] + on_windows, dict(os.environ))
        title = " ".join(on_windows)
        problems = []
        if a.returncode != b.returncode:
            problems.append(f"exit status {a.returncode} on Linux, {b.returncode} under Wine")
        for name, x, y in (("output", a.stdout, b.stdout), ("errors", a.stderr, b.stderr)):
            lx = normalise(x.decode("utf-8", "replace"), str(lin) + "/")
            ly = normalise(y.decode("utf-8", "replace"), DRIVE)
            if lx != ly:
                problems.append(f"{name} differ:\n" + "\n".join(
                    difflib.unified_diff(lx, ly, "linux", "wine", lineterm="")))
        for sub in ("out", "out2", FOLDER):
            tx, ty = tree(lin / sub), tree(win / sub)
            if tx.keys() != ty.keys():
                problems.append(f"files in {sub} differ: {sorted(tx)} / {sorted(ty)}")
            else:
                problems += [f"{sub}/{n} differs" for n in tx if tx[n] != ty[n]]
        changed = [n for n, data in inputs.items() if tree(win / FOLDER).get(n) != data]
        if changed:
            problems.append(f"input changed under Wine: {changed}")
        print(f"{'ok  ' if not problems else 'FAIL'} [{b.returncode}] {title}")
        for p in problems:
            print("     " + p.replace("\n", "\n     "))
        failures += bool(problems)
    drive.unlink()
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
