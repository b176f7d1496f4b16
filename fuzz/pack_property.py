#!/usr/bin/env python3
"""The property of the package builder's reader and mender, over a corpus.

For every input (fuzz_pack's format: a names byte, then an archive) that
morvik-pack accepts, the native stub unzips the package in auto mode with no
message box, and the tree it writes equals what Python's zipfile reads from
the input archive: the same folders, files, contents and times.

  fuzz/pack_property.py --pack MORVIK-PACK --stub STUB [--limit N] DIR_OR_FILE...

Exits 1 and names each input where the property fails; prints how many
inputs were refused, accepted and checked. An accepted archive that zipfile
cannot read (it takes an end-record signature inside the archive comment
for the end record, for one) is named but not counted as a failure. Encrypted archives are checked
with the password "morvik" (the seed archives' password); one that zipfile
cannot read with it is counted as not checkable.

The names the stub writes are the names it decodes: flagged as UTF-8 (by the
archive, or by the builder's --names mend), else code page 437; on the
native host, a name whose characters the ANSI code page (1252) holds lands
with them, another keeps its stored bytes read as 1252. Names of that last
kind are compared by content only.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

PASSWORD = "morvik"
MODES = ["auto", "utf8", "cp437"]


def decoded_names(infos, mode):
    """Each member's name as the builder leaves it flagged, decoded."""
    raw = []
    for info in infos:
        flagged = bool(info.flag_bits & 0x800)
        data = info.orig_filename.encode("utf-8" if flagged else "cp437")
        raw.append((data, flagged))

    def utf8(b):
        try:
            b.decode("utf-8")
            return True
        except UnicodeDecodeError:
            return False

    unflagged = [b for b, f in raw if not f and any(c >= 0x80 for c in b)]
    take_utf8 = mode == "utf8" or (mode == "auto" and all(utf8(b) for b in unflagged))
    names = []
    for b, flagged in raw:
        if flagged or (take_utf8 and any(c >= 0x80 for c in b)):
            names.append((b.decode("utf-8"), b))
        else:
            names.append((b.decode("cp437"), b))
    return names


def host_name(name):
    """The name on the native host, or None when only the content compares."""
    try:
        name.encode("cp1252")
    except UnicodeEncodeError:
        return None
    name = name.replace("\\", "/")
    if name.startswith("/"):
        name = name[1:]
    return name


def dos_time(date_time):
    y, mo, d, h, mi, s = date_time
    try:
        return int(time.mktime((y, mo, d, h, mi, s, 0, 0, -1)))
    except (OverflowError, ValueError):
        return None


def expected_tree(zip_path, mode):
    """(files {name: (bytes, time)}, folders, unnamed contents) or None."""
    with zipfile.ZipFile(zip_path) as z:
        infos = z.infolist()
        files, folders, unnamed = {}, set(), []
        for info, (name, _) in zip(infos, decoded_names(infos, mode)):
            host = host_name(name)
            if name.endswith("/") or name.endswith("\\"):
                if host is not None:
                    folders.add(host.rstrip("/"))
                continue
            try:
                data = z.read(info, pwd=PASSWORD.encode())
            except (RuntimeError, zipfile.BadZipFile, NotImplementedError, ValueError):
                return None
            valid = (1 <= info.date_time[1] <= 12 and 1 <= info.date_time[2] <= 31 and
                     info.date_time[3] < 24 and info.date_time[4] < 60 and
                     info.date_time[5] < 60)
            when = dos_time(info.date_time) if valid else None
            if host is None:
                unnamed.append(data)
            else:
                files[host] = (data, when)
                parts = host.split("/")[:-1]
                for i in range(1, len(parts) + 1):
                    folders.add("/".join(parts[:i]))
        for name in files:
            folders.discard(name)
        return files, folders, unnamed


def actual_tree(root):
    files, folders = {}, set()
    for base, dirs, names in os.walk(root):
        rel = os.path.relpath(base, root)
        for d in dirs:
            folders.add(os.path.normpath(os.path.join(rel, d)))
        for n in names:
            path = os.path.join(base, n)
            with open(path, "rb") as f:
                files[os.path.normpath(os.path.join(rel, n))] = (f.read(),
                                                                 int(os.stat(path).st_mtime))
    return files, folders


def check(path, args, work):
    data = open(path, "rb").read()
    if not data:
        return "refused"
    mode = MODES[data[0] % 3]
    archive = os.path.join(work, "in.zip")
    with open(archive, "wb") as f:
        f.write(data[1:])
    package = os.path.join(work, "package")
    if os.path.exists(package):
        os.remove(package)
    r = subprocess.run([args.pack, "--stub", args.stub, "--zip", archive, "--out", package,
                        "--names=" + mode, "--quiet"], capture_output=True, timeout=120)
    if r.returncode == 1:
        return "refused"
    if r.returncode != 0:
        return "FAIL: morvik-pack exited %d: %s" % (r.returncode, r.stderr.decode(errors="replace"))
    try:
        expected = expected_tree(archive, mode)
    except (zipfile.BadZipFile, NotImplementedError, ValueError, OSError, EOFError) as e:
        return "unreadable: morvik-pack accepted what zipfile cannot read: %r" % e
    if expected is None:
        return "unchecked"
    files, folders, unnamed = expected

    out = os.path.join(work, "out")
    home = os.path.join(work, "home")
    shutil.rmtree(out, ignore_errors=True)
    shutil.rmtree(home, ignore_errors=True)
    os.makedirs(home)
    with zipfile.ZipFile(archive) as z:
        encrypted = any(i.flag_bits & 1 for i in z.infolist())
    script = os.path.join(home, "script.txt")
    with open(script, "w") as f:
        if encrypted:
            f.write('dialog "Password"\ntype 402 "%s"\npress 1\n' % PASSWORD)
    env = dict(os.environ, HOME=home, TZ="UTC", TMP="", TEMP="", MORVIK_SCRIPT=script,
               MORVIK_TRANSCRIPT=os.path.join(home, "transcript.txt"),
               MORVIK_REGISTRY=os.path.join(home, "registry.txt"),
               MORVIK_WINDIR=os.path.join(home, "windows"))
    r = subprocess.run([package, "-auto", out], env=env, capture_output=True, timeout=120)
    transcript = open(env["MORVIK_TRANSCRIPT"], errors="replace").read()
    boxes = [line for line in transcript.splitlines() if line.startswith("box ")]
    if r.returncode != 0 or boxes:
        return "FAIL: the stub ended %d\n%s%s" % (r.returncode, r.stderr.decode(errors="replace"),
                                                  transcript)
    got_files, got_folders = actual_tree(out) if os.path.isdir(out) else ({}, set())
    named = {n: v for n, v in got_files.items()}
    problems = []
    for name, (content, when) in files.items():
        got = named.pop(name, None)
        if got is None:
            problems.append("missing file %r" % name)
        elif got[0] != content:
            problems.append("file %r differs" % name)
        elif when is not None and got[1] != when:
            problems.append("file %r has time %d, not %d" % (name, got[1], when))
    rest = sorted(v[0] for v in named.values())
    if rest != sorted(unnamed):
        problems.append("files beyond the expected: %r" % sorted(named))
    if not folders <= got_folders:
        problems.append("missing folders %r" % sorted(folders - got_folders))
    return "FAIL: " + "; ".join(problems) if problems else "checked"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--pack", required=True)
    parser.add_argument("--stub", required=True)
    parser.add_argument("--limit", type=int, default=0, help="check at most N inputs")
    parser.add_argument("inputs", nargs="+")
    args = parser.parse_args()
    os.environ["TZ"] = "UTC"  # the stub runs in UTC too: DOS times are local times
    time.tzset()
    paths = []
    for item in args.inputs:
        if os.path.isdir(item):
            paths += sorted(os.path.join(item, n) for n in os.listdir(item))
        else:
            paths.append(item)
    if args.limit:
        paths = paths[:args.limit]
    counts = {}
    failed = []
    with tempfile.TemporaryDirectory(prefix="pack-property-") as work:
        for path in paths:
            result = check(path, args, work)
            kind = result.split(":")[0]
            counts[kind] = counts.get(kind, 0) + 1
            if kind == "FAIL":
                failed.append(path)
            if kind in ("FAIL", "unreadable"):
                print("%s: %s" % (path, result))
    print("pack_property: %d input(s): %s" % (len(paths), ", ".join(
        "%d %s" % (n, k) for k, n in sorted(counts.items()))))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
