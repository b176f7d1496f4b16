#!/usr/bin/env python3
"""The Wine suite: the real Windows stubs (MinGW-w64 builds, 32-bit and
64-bit), run end to end under Wine on packages made by morvik-pack from
archives made by real tools (Info-ZIP zip, 7-Zip, Python's zipfile).

Every case runs on every stub this machine can run: the 64-bit stub under
64-bit Wine, and the 32-bit stub under 32-bit Wine where the machine runs
32-bit x86 programs at all (scripts/runs-32bit.sh finds out first; some
kernels have IA-32 emulation off). A stub that cannot run here is named in
one line with the reason; that is no failure.

Everything runs on one Xvfb display (the script starts itself again under
xvfb-run). Each stub gets a Wine prefix of its own in a temporary folder,
made once with wineboot and shared by its cases, in the UTC time zone. A user
is played by wintool.exe (tests/wine/helpers), a small MinGW console program
built for the stub's architecture that reads the stub's windows from outside
and presses their buttons, and by xdotool and ImageMagick on the X side.

  run_wine_suite.py [--stubs 32,64] [--stub32 EXE] [--stub64 EXE]
                    [--pack MORVIK_PACK] [--artifacts DIR] [--source-dir DIR]
                    [--keep] [--only NAME[,NAME...]]

Without --stub32/--stub64 the script builds each stub itself (cmake --preset
windows or windows64, then cmake --build) unless MORVIK_WINDOWS_STUB or
MORVIK_WINDOWS64_STUB names one. Without --pack it compiles
tools/morvik-pack.cpp and tools/pack/ with g++ into its work folder. It
prints one line per case and stub, "PASS [64-bit] name" or "FAIL [64-bit]
name: reason", and closes with "N passed, N failed". Exit status: 0 when every case that ran
passed, 1 when one failed, 77 when no stub can run here (Wine, Xvfb or
MinGW-w64 not installed; the suite is then skipped).
"""

import argparse
import calendar
import hashlib
import json
import os
import random
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import traceback
import xml.etree.ElementTree as ElementTree
import zipfile
import zlib

SKIP_CODE = 77
WINDOW_WAIT_MS = 30000  # hang guard for every wait on a window
PROCESS_TIMEOUT = 120  # hang guard for every process the suite starts
DEFAULT_TITLE = "Morvik Self-Extractor"
HEADER_CORRUPT_TEXT = ("Morvik Self-Extractor header corrupt.  Possible cause:  "
                       "bad disk or file transfer error")
MAIN_DIALOG_TEXT = "To unzip all files in"
STUB_SIGNATURE = b"QVD\x01sfx\x02"
ZIP_SIGNATURES = [b"PK\x03\x04", b"PK\x01\x02", b"PK\x05\x06", b"PK\x07\x08", b"PK00"]
STUB_SIZE_LIMIT = 160 * 1024
SCREEN = (1024, 768)
VIRTUAL_DESKTOP = (800, 600)
UNDER_XVFB = "MORVIK_WINE_SUITE_UNDER_XVFB"

HERE = os.path.dirname(os.path.abspath(__file__))
RUNS_32BIT = os.path.join(HERE, "..", "..", "scripts", "runs-32bit.sh")


class StubKind:
    """One Windows stub the suite proves, and what it takes to run it."""

    def __init__(self, tag, preset, stub_env, machine, magic, optional_size, loader, winearch,
                 cc, needs_i386):
        self.tag = tag                      # "32-bit" / "64-bit": names its lines and files
        self.preset = preset                # the CMake preset that builds it
        self.stub_env = stub_env            # the variable that may name a built stub
        self.machine, self.magic = machine, magic
        self.optional_size = optional_size  # SizeOfOptionalHeader of the image
        self.loader = loader                # the Wine loader for its prefix
        self.winearch = winearch
        self.cc = cc                        # MinGW-w64 C compiler for the helpers
        self.needs_i386 = needs_i386        # 32-bit Wine is a 32-bit Linux program

    def cannot_run(self):
        """Why this stub cannot run on this machine, or None."""
        missing = [t for t in (self.loader, self.cc) if not shutil.which(t)]
        if missing:
            return (f"{', '.join(missing)} not installed "
                    "(scripts/install-deps.sh --windows installs what the machine can run)")
        if self.needs_i386:
            probe = subprocess.run(["bash", RUNS_32BIT], stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT, timeout=60)
            if probe.returncode != 0:
                answer = probe.stdout.decode(errors="replace").strip()
                return answer[len("no: "):] if answer.startswith("no: ") else answer
        return None


STUB_KINDS = [
    StubKind("32-bit", "windows", "MORVIK_WINDOWS_STUB", 0x14C, 0x10B, 224,
             "/usr/lib/wine/wine", "win32", "i686-w64-mingw32-gcc", True),
    StubKind("64-bit", "windows64", "MORVIK_WINDOWS64_STUB", 0x8664, 0x20B, 240,
             "/usr/lib/wine/wine64", "win64", "x86_64-w64-mingw32-gcc", False),
]


class CaseFailure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise CaseFailure(message)


def win_path(unix_path):
    """The Wine path of a Unix path (drive Z: is the Unix root)."""
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


# ---------------------------------------------------------------------------
# Fixtures: source trees and archives made by real tools


def make_tree(root, seed):
    """A small tree of files of several kinds, with time stamps on odd seconds
    (the DOS format keeps even seconds only). Returns the relative names."""
    rng = random.Random(seed)
    words = ["morvik", "archive", "member", "stream", "window", "folder", "disk", "label"]
    files = {
        "readme.txt": "".join(f"line {i}: {rng.choice(words)} {rng.choice(words)}\r\n"
                              for i in range(40)).encode(),
        "docs/read me.txt": b"A name with a blank in it.\n" * 30,
        "data/random.bin": bytes(rng.getrandbits(8) for _ in range(70000)),
        "data/nested/deep/values.csv": "".join(
            f"{i},{rng.randint(0, 999999)},{rng.choice(words)}\n" for i in range(9000)).encode(),
        "empty.dat": b"",
    }
    base = calendar.timegm((2019, 7, 14, 13, 37, 41))
    for index, (name, data) in enumerate(sorted(files.items())):
        path = os.path.join(root, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        stamp = base + index * 86400 * 37 + index * 3601  # odd seconds, other days
        os.utime(path, (stamp, stamp))
    return sorted(files)


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def run_tool(args, cwd=None, env=None, timeout=PROCESS_TIMEOUT):
    result = subprocess.run(args, cwd=cwd, env=env, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, timeout=timeout)
    if result.returncode != 0:
        raise CaseFailure(f"{os.path.basename(args[0])} failed ({result.returncode}): "
                          f"{result.stdout.decode(errors='replace').strip()[-600:]}")
    return result.stdout.decode(errors="replace")


def need_tool(name):
    path = shutil.which(name)
    check(path, f"{name} is not installed (scripts/install-deps.sh --windows installs it)")
    return path


def infozip_archive(tree, archive, *extra, names=(".",)):
    need_tool("zip")
    run_tool(["zip", "-q", "-r", *extra, os.path.abspath(archive), *names], cwd=tree)


def sevenzip_archive(tree, archive, *extra):
    need_tool("7z")
    names = sorted(os.listdir(tree))
    run_tool(["7z", "a", "-tzip", "-mm=Deflate", "-mx=5", "-bd", "-y", *extra,
              os.path.abspath(archive), *names], cwd=tree)


def pyzip_archive(tree, archive, names):
    """Python's zipfile, stored and deflated members, folder entries first."""
    with zipfile.ZipFile(archive, "w") as z:
        folders = sorted({os.path.dirname(n) for n in names if os.path.dirname(n)})
        for folder in folders:
            info = zipfile.ZipInfo(folder + "/", date_time=(2020, 2, 29, 23, 59, 58))
            z.writestr(info, b"")
        for index, name in enumerate(names):
            method = zipfile.ZIP_STORED if index % 2 else zipfile.ZIP_DEFLATED
            z.write(os.path.join(tree, name), name, compress_type=method)


def refused_aes_password(archive):
    """A password that the first AES member's password verifier refuses: the
    verifier is the last two bytes PBKDF2-HMAC-SHA1 (1000 rounds, salted)
    derives after the two keys."""
    member = [m for m in archive_members(archive) if m.compress_type == 99][0]
    with open(archive, "rb") as f:
        f.seek(member.header_offset + 26)
        name_len, extra_len = struct.unpack("<HH", f.read(4))
        local_extra = f.read(name_len + extra_len)[name_len:]
        at = 0
        strength = None
        while at + 4 <= len(local_extra):
            tag, size = struct.unpack_from("<HH", local_extra, at)
            if tag == 0x9901:
                strength = local_extra[at + 8]
            at += 4 + size
        check(strength in (1, 2, 3), "fixture: no AES extra field in the local header")
        key_len = {1: 16, 2: 24, 3: 32}[strength]
        salt = f.read(key_len // 2)
        verifier = f.read(2)
    for n in range(1000):
        candidate = f"not the password {n}"
        derived = hashlib.pbkdf2_hmac("sha1", candidate.encode(), salt, 1000, 2 * key_len + 2)
        if derived[-2:] != verifier:
            return candidate
    raise CaseFailure("fixture: no refused password found")


def archive_members(archive):
    with zipfile.ZipFile(archive) as z:
        return z.infolist()


def dos_time_utc(info):
    """The member's DOS time stamp as seconds since the epoch, the stamp read as
    local time in the suite's time zone (UTC)."""
    return calendar.timegm(info.date_time + (0, 0, 0))


def compare_extracted(source_tree, out_dir, archive):
    """Every file member extracted byte for byte and stamped with its DOS time,
    every folder member made, nothing else written."""
    check(os.path.isdir(out_dir), f"output folder {out_dir} was not created")
    members = archive_members(archive)
    expected_files = {m.filename for m in members if not m.is_dir()}
    expected_dirs = {m.filename.rstrip("/") for m in members if m.is_dir()}
    written = set()
    for folder, _, files in os.walk(out_dir):
        for f in files:
            written.add(os.path.relpath(os.path.join(folder, f), out_dir).replace(os.sep, "/"))
    check(written == expected_files,
          f"files written {sorted(written)} differ from the archive's {sorted(expected_files)}")
    for d in expected_dirs:
        check(os.path.isdir(os.path.join(out_dir, d)), f"folder member {d} was not created")
    for m in members:
        if m.is_dir():
            continue
        target = os.path.join(out_dir, m.filename)
        with open(os.path.join(source_tree, m.filename), "rb") as f:
            want = f.read()
        with open(target, "rb") as f:
            got = f.read()
        check(got == want, f"{m.filename}: {len(got)} bytes differ from the source's {len(want)}")
        mtime = int(os.stat(target).st_mtime)
        check(mtime == dos_time_utc(m),
              f"{m.filename}: time stamp {time.strftime('%Y-%m-%d %H:%M:%S', time.gmtime(mtime))}"
              f" UTC, the archive says {m.date_time}")
    return len(expected_files)


# ---------------------------------------------------------------------------
# The PE image


def pe_layout(image):
    check(image[:2] == b"MZ", "no MZ header")
    lfanew = struct.unpack_from("<I", image, 0x3C)[0]
    check(image[lfanew:lfanew + 4] == b"PE\0\0", "no PE signature at e_lfanew")
    machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", image, lfanew + 4)
    optional = lfanew + 24
    magic = struct.unpack_from("<H", image, optional)[0]
    return {"lfanew": lfanew, "machine": machine, "sections": sections,
            "optional": optional, "optional_size": optional_size, "magic": magic,
            "section_table": optional + optional_size}


def pe_section_headers(image, layout):
    result = []
    for i in range(layout["sections"]):
        at = layout["section_table"] + 40 * i
        name = image[at:at + 8].rstrip(b"\0").decode(errors="replace")
        vsize, vaddr, rawsize, rawptr = struct.unpack_from("<IIII", image, at + 8)
        result.append((name, vaddr, max(vsize, rawsize), rawptr, rawsize))
    return result


def pe_data_directories(layout):
    """Where the optional header's data directories start: behind 96 bytes
    of a PE32 optional header, 112 of a PE32+ one."""
    check(layout["magic"] in (0x10B, 0x20B), f"optional header magic {layout['magic']:#x}")
    return layout["optional"] + (96 if layout["magic"] == 0x10B else 112)


def pe_manifest(image):
    """The RT_MANIFEST resource (type 24) of a PE image: (id, bytes)."""
    layout = pe_layout(image)
    directories = pe_data_directories(layout)
    rsrc_rva, rsrc_size = struct.unpack_from("<II", image, directories + 2 * 8)
    check(rsrc_rva and rsrc_size, "the image has no resource directory")
    sections = pe_section_headers(image, layout)

    def offset_of(rva):
        for _, vaddr, size, rawptr, rawsize in sections:
            if vaddr <= rva < vaddr + size:
                check(rva - vaddr < rawsize, "resource data outside the file")
                return rawptr + rva - vaddr
        raise CaseFailure(f"RVA {rva:#x} lies in no section")

    base = offset_of(rsrc_rva)

    def entries(directory_offset):
        named, ids = struct.unpack_from("<HH", image, base + directory_offset + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", image, base + directory_offset + 16 + 8 * i)
            yield name, target

    for type_id, type_target in entries(0):
        if type_id != 24:
            continue
        check(type_target & 0x80000000, "RT_MANIFEST entry is no directory")
        for res_id, res_target in entries(type_target & 0x7FFFFFFF):
            check(res_target & 0x80000000, "manifest entry is no directory")
            for _, lang_target in entries(res_target & 0x7FFFFFFF):
                data_rva, data_size = struct.unpack_from("<II", image, base + lang_target)
                at = offset_of(data_rva)
                return res_id, image[at:at + data_size]
    raise CaseFailure("the image carries no RT_MANIFEST resource")


# ---------------------------------------------------------------------------
# The suite


class Suite:
    def __init__(self, args, kind):
        self.args = args
        self.kind = kind
        self.source_dir = os.path.abspath(args.source_dir)
        self.artifacts = os.path.abspath(args.artifacts)
        os.makedirs(self.artifacts, exist_ok=True)
        self.work = tempfile.mkdtemp(prefix=f"morvik-wine-{kind.tag}-")
        self.prefix = os.path.join(self.work, "prefix")
        self.drive_c = os.path.join(self.prefix, "drive_c")
        self.log_file = open(os.path.join(self.artifacts, f"wine-suite-{kind.tag}.log"), "w")
        self.env = dict(os.environ)
        self.env.update({"WINEPREFIX": self.prefix, "WINEDEBUG": "-all", "TZ": "UTC",
                         "WINEARCH": kind.winearch, "WINELOADER": kind.loader,
                         "WINEDLLOVERRIDES": "mscoree=;mshtml="})
        self.background = []
        self.results = []
        self.stub = None
        self.pack_tool = None
        self.helpers = {}
        self.case_dir = None

    # -- logging ------------------------------------------------------------

    def log(self, text):
        self.log_file.write(text.rstrip("\n") + "\n")
        self.log_file.flush()

    # -- processes ----------------------------------------------------------

    def run(self, args, env=None, cwd=None, timeout=PROCESS_TIMEOUT, check_rc=True):
        """Runs a program to its end; (exit status, output). The output goes
        through a file, not a pipe: Wine's background processes may inherit
        it and would hold a pipe open."""
        self.log("$ " + " ".join(args))
        with tempfile.TemporaryFile() as out:
            proc = subprocess.Popen(args, env=env or self.env, cwd=cwd, stdin=subprocess.DEVNULL,
                                    stdout=out, stderr=subprocess.STDOUT, start_new_session=True)
            try:
                rc = proc.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                self.kill(proc)
                raise CaseFailure(f"{' '.join(args)} did not end within {timeout} s")
            out.seek(0)
            output = out.read().decode(errors="replace")
        if output:
            self.log(output)
        if check_rc and rc != 0:
            raise CaseFailure(f"{' '.join(args)} failed with {rc}: {output.strip()[-800:]}")
        return rc, output

    def start(self, args, env=None, cwd=None):
        """A program that runs while the suite plays its user."""
        self.log("$ (background) " + " ".join(args))
        out = open(os.path.join(self.work, f"bg-{len(self.background)}.log"), "w+b")
        proc = subprocess.Popen(args, env=env or self.env, cwd=cwd, stdin=subprocess.DEVNULL,
                                stdout=out, stderr=subprocess.STDOUT, start_new_session=True)
        proc.output_file = out
        self.background.append(proc)
        return proc

    def finish(self, proc, timeout=PROCESS_TIMEOUT):
        """Waits for a program to end by itself; its exit status."""
        try:
            rc = proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.log("windows of the hung program:\n" + self.wintool_raw(["list"]))
            self.kill(proc)
            raise CaseFailure(f"the program did not end by itself within {timeout} s")
        proc.output_file.seek(0)
        output = proc.output_file.read().decode(errors="replace")
        if output:
            self.log(output)
        return rc

    def kill(self, proc):
        if proc.poll() is None:
            try:
                os.killpg(proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            try:
                proc.wait(timeout=10)
            except subprocess.TimeoutExpired:
                pass

    def wine(self, *args, env=None, cwd=None, timeout=PROCESS_TIMEOUT, check_rc=False):
        return self.run([self.kind.loader, *args], env=env, cwd=cwd, timeout=timeout,
                        check_rc=check_rc)

    def start_wine(self, *args, env=None, cwd=None):
        return self.start([self.kind.loader, *args], env=env, cwd=cwd)

    def wintool_raw(self, commands, desktop=None):
        """wintool's output, whatever happens (for diagnostics and polling)."""
        args = [self.helpers["wintool"]] + (["--desktop", desktop] if desktop else [])
        try:
            return self.wine(*args, *commands, timeout=60)[1]
        except CaseFailure as e:
            return f"(wintool: {e})"

    def wintool(self, *commands, desktop=None):
        """Runs wintool's commands; returns its events. A wait that times out,
        or a failed action, is a case failure."""
        args = [self.helpers["wintool"]]
        if desktop:
            args += ["--desktop", desktop]
        rc, output = self.wine(*args, *commands, timeout=WINDOW_WAIT_MS // 1000 * 3 + 60)
        events = []
        for line in output.splitlines():
            line = line.strip()
            if line.startswith("{"):
                try:
                    events.append(json.loads(line))
                except json.JSONDecodeError:
                    self.log(f"unreadable wintool line: {line}")
        if rc != 0:
            problem = next((e for e in events if e.get("event") in ("timeout", "error")), None)
            if problem and problem["event"] == "timeout":
                raise CaseFailure(f"no window showed {problem.get('detail')!r} within "
                                  f"{WINDOW_WAIT_MS // 1000} s (see wine-suite.log)")
            raise CaseFailure(f"wintool {' '.join(commands)} failed: {problem or output[-400:]}")
        return events

    def found(self, events, index=0):
        windows = [e for e in events if e.get("event") == "found"]
        check(len(windows) > index, "wintool reported no window")
        return windows[index]

    # -- X side ---------------------------------------------------------------

    def x_windows(self, name):
        """X windows whose name matches (xdotool search); windows that vanish
        while xdotool walks the tree only make it complain on stderr."""
        need_tool("xdotool")
        result = subprocess.run(["xdotool", "search", "--name", name], env=self.env,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=30)
        if result.stderr:
            self.log("xdotool: " + result.stderr.decode(errors="replace"))
        return [w for w in result.stdout.decode().split() if w.isdigit()]

    def check_no_window_left(self):
        # The X server drops the windows of a client that has gone as it gets
        # to it; a window that stays is left behind.
        deadline = time.monotonic() + 10
        while True:
            left = self.x_windows(DEFAULT_TITLE)
            if not left or time.monotonic() > deadline:
                break
            time.sleep(0.2)
        check(not left, f"X windows named {DEFAULT_TITLE!r} are left behind: {left}")
        listing = self.wintool("list")
        stub_windows = [e for e in listing if e.get("event") == "window"
                        and (DEFAULT_TITLE in e.get("text", "")
                             or any(DEFAULT_TITLE in c.get("text", "")
                                    for c in e.get("children", [])))]
        check(not stub_windows, f"windows of the stub are left behind: {stub_windows}")

    # -- packages ---------------------------------------------------------------

    def pack(self, archive, out, *options, stub=None):
        self.run([self.pack_tool, "--stub", stub or self.stub, "--zip", archive, "--out", out,
                  "-v", *options])
        return out

    def fresh_output(self, name):
        path = os.path.join(self.drive_c, name)
        shutil.rmtree(path, ignore_errors=True)
        return path

    def fixture(self, case, seed, tool, archive_name, *options):
        """A case's folder, a tree made from `seed` in it, and the tree's
        archive made by `tool` ("infozip" or "7z" with its options, or "pyzip")."""
        d = self.new_case_dir(case)
        tree = os.path.join(d, "tree")
        names = make_tree(tree, seed)
        archive = os.path.join(d, archive_name)
        if tool == "infozip":
            infozip_archive(tree, archive, *options)
        elif tool == "7z":
            sevenzip_archive(tree, archive, *options)
        else:
            pyzip_archive(tree, archive, names)
        return d, tree, archive

    def expect_extracted(self, rc, tree, out, archive):
        """A run that ended well: exit code 0, the archive's tree in `out`,
        no window left behind. The number of files."""
        check(rc == 0, f"exit code {rc}, expected 0")
        n = compare_extracted(tree, out, archive)
        self.check_no_window_left()
        return n

    def new_case_dir(self, name):
        self.case_dir = os.path.join(self.work, "cases", name)
        os.makedirs(self.case_dir, exist_ok=True)
        return self.case_dir

    # -- set-up -------------------------------------------------------------------

    def build_stub(self):
        given = getattr(self.args, "stub" + self.kind.tag[:2])
        if given:
            self.stub = os.path.abspath(given)
        elif os.environ.get(self.kind.stub_env):
            self.stub = os.path.abspath(os.environ[self.kind.stub_env])
        else:
            build = os.path.join(self.source_dir, "build", self.kind.preset)
            if not os.path.exists(os.path.join(build, "build.ninja")):
                self.run(["cmake", "--preset", self.kind.preset], cwd=self.source_dir,
                         timeout=600)
            self.run(["cmake", "--build", build], cwd=self.source_dir, timeout=1200)
            self.stub = os.path.join(build, "morvik-sfx.exe")
        check(os.path.isfile(self.stub), f"no Windows stub at {self.stub}")

    def build_pack_tool(self):
        if self.args.pack:
            self.pack_tool = os.path.abspath(self.args.pack)
        else:
            self.pack_tool = os.path.join(self.work, "morvik-pack")
            tools = os.path.join(self.source_dir, "tools")
            sources = [os.path.join(tools, "morvik-pack.cpp")] + sorted(
                os.path.join(tools, "pack", f) for f in os.listdir(os.path.join(tools, "pack"))
                if f.endswith(".cpp"))
            self.run(["g++", "-std=c++17", "-O1", "-I" + self.source_dir] + sources +
                     ["-lz", "-o", self.pack_tool], timeout=600)
        check(os.access(self.pack_tool, os.X_OK), f"no morvik-pack at {self.pack_tool}")

    def build_helpers(self):
        out = os.path.join(self.work, "helpers")
        os.makedirs(out, exist_ok=True)
        src = os.path.join(HERE, "helpers")
        cc = self.kind.cc
        flags = ["-O2", "-s", "-Wall", "-Wextra", "-Werror"]
        recipes = {
            "wintool": (["-municode", "wintool.c", "-luser32"], "wintool.exe"),
            "spy": (["-shared", "spy.c", "-Wl,--kill-at", "-luser32"], "spy.dll"),
            "planted": (["-shared", "planted_dll.c"], "shell32.dll"),
            "plain_loader": (["-mwindows", "plain_loader.c"], "plain_loader.exe"),
        }
        for name, (args, target) in recipes.items():
            args = [os.path.join(src, a) if a.endswith(".c") else a for a in args]
            self.run([cc, *flags, "-o", os.path.join(out, target), *args], timeout=300)
            self.helpers[name] = os.path.join(out, target)

    def make_prefix(self):
        self.wine("wineboot", "-i", timeout=300, check_rc=True)
        self.run(["wineserver", "-w"], timeout=300)
        # One wineserver for the whole suite: it stays up between cases. It
        # goes into the background, so it gets no pipe to hold open.
        self.log("$ wineserver -p")
        subprocess.run(["wineserver", "-p"], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        check(os.path.isdir(self.drive_c), "wineboot made no drive C:")

    def shutdown(self):
        for proc in self.background:
            self.kill(proc)
            proc.output_file.close()
        try:
            subprocess.run(["wineserver", "-k"], env=self.env, timeout=60,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            subprocess.run(["wineserver", "-w"], env=self.env, timeout=60,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        except (subprocess.TimeoutExpired, OSError):
            pass

    # -- cases --------------------------------------------------------------------

    def run_auto_package(self, package, args, out_dir, tree, archive):
        proc = self.start_wine(package, *args)
        return self.expect_extracted(self.finish(proc), tree, out_dir, archive)

    def case_auto_command_line_infozip(self):
        d, tree, archive = self.fixture("auto_infozip", 1, "infozip", "infozip.zip")
        package = self.pack(archive, os.path.join(d, "infozip.exe"))
        out = self.fresh_output("out dir")
        n = self.run_auto_package(package, ["-auto", "C:\\out dir"], out, tree, archive)
        return f"{n} files from Info-ZIP zip, -auto \"C:\\out dir\""

    def case_builder_mends_and_folders(self):
        """Archives the builder mends (written to a pipe: sizes only in data
        descriptors) and a package straight from a folder, unzipped by the
        Windows stub."""
        d = self.new_case_dir("builder")
        tree = os.path.join(d, "tree")
        make_tree(tree, 5)
        notes = []
        piped = os.path.join(d, "piped.zip")
        need_tool("zip")
        with open(piped, "wb") as f:
            listing = subprocess.Popen(["zip", "-q", "-r", "-", "."], cwd=tree,
                                       stdout=subprocess.PIPE)
            # Through a pipe, so that zip cannot seek back to its headers.
            shutil.copyfileobj(listing.stdout, f)
            check(listing.wait() == 0, "zip to a pipe failed")
        check(all(m.flag_bits & 8 for m in archive_members(piped) if not m.is_dir()),
              "fixture: zip to a pipe wrote no data descriptors")
        package = self.pack(piped, os.path.join(d, "piped.exe"))
        out = self.fresh_output("piped out")
        n = self.run_auto_package(package, ["-auto", "C:\\piped out"], out, tree, piped)
        notes.append(f"{n} files from zip to a pipe")
        folder_package = os.path.join(d, "folder.exe")
        self.run([self.pack_tool, "--stub", self.stub, "--dir", tree, "--out", folder_package])
        out = self.fresh_output("folder out")
        n = self.run_auto_package(folder_package, ["-auto", "C:\\folder out"], out, tree,
                                  folder_package)
        notes.append(f"{n} files from --dir")
        return ", ".join(notes)

    def case_auto_option_7zip(self):
        d, tree, archive = self.fixture("auto_7zip", 2, "7z", "sevenzip.zip")
        package = self.pack(archive, os.path.join(d, "sevenzip.exe"), "--auto",
                            "--folder=C:\\auto folder 7z")
        out = self.fresh_output("auto folder 7z")
        n = self.run_auto_package(package, [], out, tree, archive)
        return f"{n} files from 7z -tzip, package options --auto --folder"

    def case_auto_command_line_pyzipfile(self):
        d, tree, archive = self.fixture("auto_pyzipfile", 3, "pyzip", "pyzip.zip")
        methods = {m.compress_type for m in archive_members(archive) if not m.is_dir()}
        check(methods == {0, 8}, f"fixture: expected stored and deflated members, got {methods}")
        package = self.pack(archive, os.path.join(d, "pyzip.exe"), "--folder=C:\\unused")
        out = self.fresh_output("py out")
        unused = self.fresh_output("unused")
        n = self.run_auto_package(package, ["/AUTO", "C:\\py out"], out, tree, archive)
        check(not os.path.exists(unused), "the trailer's folder was used, not the command line's")
        return f"{n} files (stored and deflated) from Python zipfile, /AUTO over --folder"

    # Names in any script, as 7-Zip and Python's zipfile flag them as UTF-8.
    SCRIPT_NAMES = ["caf\u00e9.txt", "\u00fcber/Stra\u00dfe.txt", "\u65e5\u672c.txt",
                    "\u8868\u3060\u3088/\u4e00\u89a7\u8868.txt",
                    "\u0414\u043e\u043a\u0443\u043c\u0435\u043d\u0442\u044b/"
                    "\u043e\u0442\u0447\u0451\u0442.txt",
                    "\u0388\u03b3\u03b3\u03c1\u03b1\u03c6\u03b1/"
                    "\u03b1\u03c1\u03c7\u03b5\u03af\u03bf.txt",
                    "\U0001f600 smile/\U0001f389.txt"]
    # DOS-made names (Info-ZIP zip given the bytes, no UTF-8 flag): the OEM
    # code page of the locale reads them.
    DOS_NAMES = {"437": (b"r\x82sum\x82/na\x8bve.txt", b"\xb0grid.txt"),
                 "866": (b"\x8e\xe2\xe7\xf1\xe2\xeb/\x8f\xe0\xa8\xa2\xa5\xe2.txt",)}
    LOCALES = {"437": "en_US.UTF-8", "866": "ru_RU.UTF-8"}

    def written_names(self, out):
        written = set()
        for folder, _, files in os.walk(out):
            for f in files:
                written.add(os.path.relpath(os.path.join(folder, f), out).replace(os.sep, "/"))
        return written

    def case_utf8_names(self):
        """The stub runs in UTF-8 (its manifest's process code page): names
        flagged as UTF-8 (7-Zip, Python zipfile) land with their real
        characters, folders and files, in any script; DOS-made names are read
        in the OEM code page of the user's locale (437 for en_US, 866 for
        ru_RU)."""
        d = self.new_case_dir("utf8_names")
        tree = os.path.join(d, "tree")
        for index, name in enumerate(self.SCRIPT_NAMES):
            path = os.path.join(tree, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(f"member {index}\n".encode())
        notes = []
        for tool in ("7z", "zipfile"):
            archive = os.path.join(d, f"{tool}.zip")
            if tool == "7z":
                sevenzip_archive(tree, archive)
            else:
                with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED) as z:
                    for name in self.SCRIPT_NAMES:
                        z.write(os.path.join(tree, name), name)
            members = [m for m in archive_members(archive) if not m.is_dir()]
            check(all(m.flag_bits & 0x800 for m in members),
                  f"fixture: {tool} did not flag every name as UTF-8")
            package = self.pack(archive, os.path.join(d, f"{tool}.exe"))
            out = self.fresh_output(f"utf8 {tool}")
            rc = self.finish(self.start_wine(package, "-auto", f"C:\\utf8 {tool}"))
            check(rc == 0, f"exit code {rc}, expected 0")
            written = self.written_names(out)
            check(written == set(self.SCRIPT_NAMES), f"{tool}: names written {sorted(written)}, "
                  f"expected {sorted(self.SCRIPT_NAMES)}")
            for index, name in enumerate(self.SCRIPT_NAMES):
                with open(os.path.join(out, name), "rb") as f:
                    check(f.read() == f"member {index}\n".encode(), f"{tool}: content of {name}")
            notes.append(f"{tool}: {len(written)} names")

        available = run_tool(["locale", "-a"]).lower().replace("utf-8", "utf8").split()
        for page, names in self.DOS_NAMES.items():
            locale = self.LOCALES[page]
            check(locale.lower().replace("utf-8", "utf8") in available,
                  f"the locale {locale} is not generated (scripts/install-deps.sh makes it)")
            dos = os.path.join(d, f"dos{page}")
            for index, raw in enumerate(names):
                path = os.path.join(dos.encode(), raw)
                os.makedirs(os.path.dirname(path), exist_ok=True)
                with open(path, "wb") as f:
                    f.write(f"dos {index}\n".encode())
            archive = os.path.join(d, f"dos{page}.zip")
            run_tool(["zip", "-q", "-r", os.path.abspath(archive), "."], cwd=dos,
                     env=dict(os.environ, LC_ALL="C"))
            check(not any(m.flag_bits & 0x800 for m in archive_members(archive)),
                  f"fixture: Info-ZIP zip flagged a code page {page} name as UTF-8")
            package = self.pack(archive, os.path.join(d, f"dos{page}.exe"))
            out = self.fresh_output(f"dos {page}")
            env = dict(self.env, LC_ALL=locale, LANG=locale)
            rc = self.finish(self.start_wine(package, "-auto", f"C:\\dos {page}", env=env))
            check(rc == 0, f"exit code {rc}, expected 0")
            expected = {raw.decode(f"cp{page}") for raw in names}
            written = self.written_names(out)
            check(written == expected, f"code page {page} under {locale}: names written "
                  f"{sorted(written)}, expected {sorted(expected)}")
            notes.append(f"cp{page} under {locale}: {len(written)} names")
        return ", ".join(notes)

    def case_info_box(self):
        d, tree, archive = self.fixture("info", 4, "pyzip", "info.zip")
        # Beyond ASCII the builder stores the text as UTF-8 behind the UTF-8
        # mark, and the stub, in UTF-8, shows it as given.
        info = ("-win32 -le -d* -overwrite  Package notes: built by the Wine suite, "
                "\u0414\u043e\u043a\u0443\u043c\u0435\u043d\u0442\u044b, "
                "\u0388\u03b3\u03b3\u03c1\u03b1\u03c6\u03b1, \u8868\u3060\u3088 \U0001f600")
        package = self.pack(archive, os.path.join(d, "info.exe"), f"--info={info}")
        out = self.fresh_output("info out")
        proc = self.start_wine(package, "-info", env=dict(self.env))
        box = self.found(self.wintool("waitbox", "built by the Wine suite", str(WINDOW_WAIT_MS)))
        try:
            check(box["text"] == DEFAULT_TITLE, f"box caption {box['text']!r}")
            texts = [c["text"] for c in box["children"] if c["class"].lower() == "static"]
            check(info in texts, f"info text not shown as is; the box shows {texts}")
            buttons = [c["text"] for c in box["children"] if c["class"].lower() == "button"]
            check(buttons == ["OK"], f"expected one OK button, found {buttons}")
            check(not any(MAIN_DIALOG_TEXT in t for t in texts), "the main dialog opened")
            x_found = self.x_windows(DEFAULT_TITLE)
            check(x_found, "xdotool finds no X window named after the stub while its box is up")
            for window in x_found:
                _, name = self.run(["xdotool", "getwindowname", window])
                check(name.strip() == DEFAULT_TITLE, f"X window {window} is named {name.strip()!r}")
        finally:
            self.wintool("select", box["hwnd"], "click", "1", "gone", str(WINDOW_WAIT_MS))
        rc = self.finish(proc)
        check(rc == 0, f"exit code {rc}, expected 0")
        check(not os.path.exists(out), "-info extracted files")
        self.check_no_window_left()
        return "info text read from the box, OK pressed, program ended"

    def run_spanned_set(self, case, set_dir, stem, disks, tree, archive, exe_volumes):
        """Starts the package from disk 1 in drive A: and plays the user who
        changes disks at every prompt; checks the extracted tree."""
        disk_dirs = [os.path.join(set_dir, f"disk{k}") for k in range(1, disks + 1)]
        for k, disk in enumerate(disk_dirs, 1):
            with open(os.path.join(disk, ".windows-label")) as f:
                check(f.read() == f"PKBACK# {k:03d}", f"fixture: label of disk {k}")
            volume = os.path.join(disk, stem + (".EXE" if exe_volumes else ".ZIP"))
            check(os.path.isfile(volume), f"fixture: no volume file on disk {k}")
        check(not os.path.exists(os.path.join(set_dir, f"disk{disks + 1}")),
              f"fixture: more than {disks} disks")
        # Each disk goes into drive A: the way winecfg defines a drive, so that
        # Wine's mount manager reads its label anew (it keeps the label it
        # read first while the drive stays defined).
        def insert(k):
            events = self.wintool("drive", "a", disk_dirs[k - 1], "label", "A:\\")
            label = [e for e in events if e.get("event") == "label"][0]
            check(label["ok"] and label["label"] == f"PKBACK# {k:03d}",
                  f"Wine reads the label of disk {k} as {label}")

        insert(1)
        out = self.fresh_output(case)
        proc = self.start_wine(f"A:\\{stem}.EXE", "-auto", f"C:\\{case}")
        try:
            for k in range(2, disks + 1):
                wanted = f"Please insert disk {k} in drive A:."
                prompt = self.found(self.wintool("waitbox", "Please insert disk",
                                                 str(WINDOW_WAIT_MS)))
                texts = [c["text"] for c in prompt["children"] if c["class"].lower() == "static"]
                check(wanted in texts, f"disk prompt shows {texts}, expected {wanted!r}")
                buttons = sorted(c["text"] for c in prompt["children"]
                                 if c["class"].lower() == "button")
                check(buttons == ["Cancel", "OK"], f"disk prompt buttons {buttons}")
                insert(k)
                self.wintool("select", prompt["hwnd"], "click", "1", "gone", str(WINDOW_WAIT_MS))
            rc = self.finish(proc)
        finally:
            self.kill(proc)
        n = self.expect_extracted(rc, tree, out, archive)
        return n

    def case_spanned_two_disks(self):
        d, tree, archive = self.fixture("spanned", 5, "infozip", "span.zip")
        size = os.path.getsize(archive)
        # Split inside the data of the biggest member, so that its data
        # continues on disk 2.
        big = max(archive_members(archive), key=lambda m: m.compress_size)
        with open(archive, "rb") as f:
            f.seek(big.header_offset + 26)
            name_len, extra_len = struct.unpack("<HH", f.read(4))
        split = big.header_offset + 30 + name_len + extra_len + big.compress_size // 2
        set_dir = os.path.join(d, "set")
        self.pack(archive, os.path.join(set_dir, "PKG.EXE"), "--spanned",
                  f"--volume-sizes={split},{size}")
        n = self.run_spanned_set("span out", set_dir, "PKG", 2, tree, archive, False)
        return f"{n} files over two disks (.ZIP volumes), split inside {big.filename}"

    def case_spanned_exe_volumes(self):
        d, tree, archive = self.fixture("spanned_exe", 12, "pyzip", "span.zip")
        set_dir = os.path.join(d, "set")
        self.pack(archive, os.path.join(set_dir, "SETUP.EXE"), "--spanned", "--exe-volumes",
                  "--disks=3")
        n = self.run_spanned_set("span exe out", set_dir, "SETUP", 3, tree, archive, True)
        return f"{n} files over three disks (.EXE volumes, archive behind the stub on disk 1)"

    def unzip_with_password(self, package, tree, archive, password, name):
        """Unzip `package` (its folder C:\\NAME out) in the dialog: the password
        dialog, owned by it, takes the password; the result box counts every
        file (folders are not counted); the tree of `archive` lands whole."""
        files = [m for m in archive_members(archive) if not m.is_dir()]
        out = self.fresh_output(f"{name} out")
        proc = self.start_wine(package)
        try:
            main = self.found(self.wintool("wait", MAIN_DIALOG_TEXT, str(WINDOW_WAIT_MS)))
            events = self.wintool("select", main["hwnd"], "click", "1",
                                  "wait", "password protected", str(WINDOW_WAIT_MS))
            dialog = self.found(events)
            check(dialog["text"] == "Morvik Self-Extractor - Password",
                  f"password dialog caption {dialog['text']!r}")
            check(dialog["owner"] == main["hwnd"], "the password dialog is not owned by the dialog")
            events = self.wintool("select", dialog["hwnd"], "settext", "402", password,
                                  "click", "1",
                                  "waitbox", "unzipped successfully", str(WINDOW_WAIT_MS))
            result = self.found(events)
            texts = [c["text"] for c in result["children"] if c["class"].lower() == "static"]
            expected = f"{len(files)} file(s) unzipped successfully"
            check(expected in texts, f"result box shows {texts}, expected {expected!r}")
            self.wintool("select", result["hwnd"], "click", "1", "gone", str(WINDOW_WAIT_MS),
                         "select", main["hwnd"], "click", "2", "gone", str(WINDOW_WAIT_MS))
            rc = self.finish(proc)
        finally:
            self.kill(proc)
        n = self.expect_extracted(rc, tree, out, archive)
        return f"password typed, {expected!r}, {n} files right"

    def wrong_password_run(self, package, password, name):
        """Unzip `package` into C:\\NAME out with a password its archive
        refuses: message 6 in an error box, nothing written, and the run ends
        with exit code 2."""
        out = self.fresh_output(f"{name} out")
        proc = self.start_wine(package)
        try:
            main = self.found(self.wintool("wait", MAIN_DIALOG_TEXT, str(WINDOW_WAIT_MS)))
            dialog = self.found(self.wintool("select", main["hwnd"],
                                             "settext", "106", f"C:\\{name} out", "click", "1",
                                             "wait", "password protected", str(WINDOW_WAIT_MS)))
            box = self.found(self.wintool("select", dialog["hwnd"], "settext", "402", password,
                                          "click", "1",
                                          "waitbox", "Incorrect password", str(WINDOW_WAIT_MS)))
            texts = [c["text"] for c in box["children"] if c["class"].lower() == "static"]
            check("Incorrect password specified" in texts, f"error box shows {texts}")
            self.wintool("select", box["hwnd"], "click", "1", "gone", str(WINDOW_WAIT_MS))
            rc = self.finish(proc)
        finally:
            self.kill(proc)
        check(rc == 2, f"exit code {rc} after a wrong password, expected 2")
        written = [name for _, _, files in os.walk(out) for name in files]
        check(not written, f"files were written with the wrong password: {written}")
        self.check_no_window_left()
        return "wrong password: message 6, exit code 2"

    def case_encrypted_password_dialog(self):
        password = "Morvik-2024 secret"
        d, tree, archive = self.fixture("encrypted", 6, "infozip", "secret.zip", "-D", "-P", password)
        check(all(m.flag_bits & 1 for m in archive_members(archive)),
              "fixture: members are not encrypted")
        package = self.pack(archive, os.path.join(d, "secret.exe"), "--encrypted",
                            "--folder=C:\\secret out")
        return self.unzip_with_password(package, tree, archive, password, "secret")

    def case_aes_password_dialog(self):
        """AES packages: 7-Zip's AES-256 and the builder's own AES-128 (both
        AE-2); the stub decrypts and authenticates every member with the
        system's bcrypt.dll, which Wine gives through GnuTLS."""
        password = "Morvik-2024 AES"
        d, tree, archive = self.fixture("aes", 13, "7z", "aes.zip", "-mem=AES256", "-p" + password)
        check(all(m.compress_type == 99 for m in archive_members(archive) if not m.is_dir()),
              "fixture: members are not AES")
        package = self.pack(archive, os.path.join(d, "aes.exe"), "--encrypted",
                            "--folder=C:\\aes out")
        notes = ["7-Zip AES-256: " +
                 self.unzip_with_password(package, tree, archive, password, "aes")]
        # A wrong password that the first member's 2-byte verifier refuses for
        # sure (worked out here, so the run cannot pass the check by chance).
        notes.append(self.wrong_password_run(package, refused_aes_password(archive), "aes wrong"))
        password_file = os.path.join(d, "password.txt")
        with open(password_file, "w") as f:
            f.write(password + "\n")
        built = os.path.join(d, "aes-built.exe")
        self.run([self.pack_tool, "--stub", self.stub, "--dir", tree, "--out", built,
                  "--password-file", password_file, "--aes=128", "--folder=C:\\aes built out"])
        check(all(m.compress_type == 99 for m in archive_members(built) if not m.is_dir()),
              "the builder's package: members are not AES")
        notes.append("builder AES-128: " +
                     self.unzip_with_password(built, tree, built, password, "aes built"))
        return "; ".join(notes)

    def case_damaged_crc(self):
        d = self.new_case_dir("damaged")
        tree = os.path.join(d, "tree")
        os.makedirs(os.path.join(tree, "data"))
        with open(os.path.join(tree, "a-first.txt"), "wb") as f:
            f.write(b"extracted before the damaged member\n" * 50)
        stored = bytes(random.Random(7).getrandbits(8) for _ in range(5000))
        with open(os.path.join(tree, "data", "stored.bin"), "wb") as f:
            f.write(stored)
        with open(os.path.join(tree, "z-last.txt"), "wb") as f:
            f.write(b"never reached\n")
        good = os.path.join(d, "good.zip")
        order = ["a-first.txt", "data/stored.bin", "z-last.txt"]
        infozip_archive(tree, good, "-D", "-0", names=order)
        check([m.filename for m in archive_members(good)] == order, "fixture: member order")
        data = bytearray(read_bytes(good))
        member = [m for m in archive_members(good) if m.filename == "data/stored.bin"][0]
        check(member.compress_type == 0, "fixture: member is not stored")
        name_len, extra_len = struct.unpack_from("<HH", data, member.header_offset + 26)
        start = member.header_offset + 30 + name_len + extra_len
        data[start + 1234] ^= 0x5A
        damaged_data = bytes(data[start:start + member.compress_size])
        bad_crc = zlib.crc32(damaged_data) & 0xFFFFFFFF
        check(bad_crc != member.CRC, "fixture: the damage leaves the CRC unchanged")
        damaged = os.path.join(d, "damaged.zip")
        with open(damaged, "wb") as f:
            f.write(data)
        # Packed as it is: the builder refuses an archive whose data fails its CRC.
        package = self.pack(damaged, os.path.join(d, "damaged.exe"), "--folder=C:\\damaged out",
                            "--as-is")
        out = self.fresh_output("damaged out")
        spy_dir = os.path.join(d, "spy")
        os.makedirs(spy_dir)
        spy = shutil.copy(self.helpers["spy"], spy_dir)
        spy_log = os.path.join(spy_dir, "spy.log")
        proc = self.start_wine(package)
        try:
            main = self.found(self.wintool("wait", MAIN_DIALOG_TEXT, str(WINDOW_WAIT_MS)))
            # The spy watches the status line from here on; the one wintool
            # run keeps it hooked until the dialog is gone.
            events = self.wintool("select", main["hwnd"], "spy", win_path(spy),
                                  "click", "1",
                                  "waitbox", "ZIP damaged", str(WINDOW_WAIT_MS),
                                  "click", "1", "gone", str(WINDOW_WAIT_MS),
                                  "select", main["hwnd"], "gone", str(WINDOW_WAIT_MS))
            box = self.found(events)
            rc = self.finish(proc)
        finally:
            self.kill(proc)
        expected = (f"ZIP damaged: file C:\\damaged out\\data\\stored.bin: Bad CRC {bad_crc:08x} "
                    f"(should be {member.CRC:08x}).  Possible cause: file transfer error.")
        texts = [c["text"] for c in box["children"] if c["class"].lower() == "static"]
        check(expected in texts, f"error box shows {texts}, expected {expected!r}")
        check(box["text"] == DEFAULT_TITLE, f"error box caption {box['text']!r}")
        check(rc == 2, f"exit code {rc}, expected 2 (an error ended the run)")
        check(os.path.exists(spy_log), "the spy saw no status text at all")
        with open(spy_log, encoding="latin-1") as f:
            status = [line.rstrip("\n").split("\t", 1)[1] for line in f
                      if line.startswith("109\t")]
        self.log(f"status line texts: {status}")
        check(status and status[-1] == "Unzip Aborted",
              f"status line texts {status}, expected \"Unzip Aborted\" last")
        with open(os.path.join(out, "a-first.txt"), "rb") as f:
            check(f.read() == read_bytes(os.path.join(tree, "a-first.txt")),
                  "the member before the damaged one is wrong")
        with open(os.path.join(out, "data", "stored.bin"), "rb") as f:
            check(f.read() == damaged_data, "the damaged member is not on disk as written")
        check(not os.path.exists(os.path.join(out, "z-last.txt")),
              "a member after the damaged one was extracted")
        self.check_no_window_left()
        return f"message 29 with {bad_crc:08x}/{member.CRC:08x}, then \"Unzip Aborted\", ended"

    def case_stub_image(self):
        with open(self.stub, "rb") as f:
            image = f.read()
        size = len(image)
        check(image.count(STUB_SIGNATURE) == 1,
              f"SfxHeader signature occurs {image.count(STUB_SIGNATURE)} times, expected once")
        for sig in ZIP_SIGNATURES:
            at = image.find(sig)
            check(at < 0, f"the stub image holds the ZIP signature {sig!r} at offset {at}")
        check(size < STUB_SIZE_LIMIT, f"stub image is {size} bytes, limit {STUB_SIZE_LIMIT}")
        layout = pe_layout(image)
        check(layout["machine"] == self.kind.machine and layout["magic"] == self.kind.magic,
              f"machine {layout['machine']:#x}, optional header magic {layout['magic']:#x}: "
              f"not the {self.kind.tag} image")
        self.stub_size = size
        return f"{size} bytes ({size / 1024:.1f} KiB), signature once, no ZIP signature"

    def case_manifest_as_invoker(self):
        with open(self.stub, "rb") as f:
            image = f.read()
        res_id, manifest = pe_manifest(image)
        check(res_id == 1, f"manifest resource id {res_id}, expected 1 (process manifest)")
        root = ElementTree.fromstring(manifest)
        levels = [e.attrib for e in root.iter() if e.tag.endswith("}requestedExecutionLevel")
                  or e.tag == "requestedExecutionLevel"]
        check(len(levels) == 1, f"{len(levels)} requestedExecutionLevel elements")
        check(levels[0].get("level") == "asInvoker", f"execution level {levels[0]}")
        check(levels[0].get("uiAccess", "false") == "false", f"uiAccess {levels[0]}")
        pages = [e.text for e in root.iter() if e.tag.endswith("}activeCodePage")]
        check(pages == ["UTF-8"], f"process code page {pages}, expected UTF-8")
        identity = [e.attrib for e in root.iter() if e.tag.endswith("}assemblyIdentity")]
        architecture = {0x14C: "x86", 0x8664: "amd64"}[self.kind.machine]
        check(identity and identity[0].get("processorArchitecture") == architecture,
              f"assemblyIdentity {identity}, expected processorArchitecture {architecture!r}")
        return f"RT_MANIFEST 1 requests asInvoker, architecture {architecture}"

    def self_check_run(self, package, out_name, tree, archive):
        """Runs a package in auto mode: None when it extracted the archive
        right, or the text of the error box it showed instead."""
        out = self.fresh_output(out_name)
        proc = self.start_wine(package, "-auto", "C:\\" + out_name)
        try:
            deadline = time.monotonic() + PROCESS_TIMEOUT
            while proc.poll() is None and time.monotonic() < deadline:
                events = self.wintool_events(["waitbox", "", "2000"])
                boxes = [e for e in events if e.get("event") == "found"]
                if boxes:
                    box = boxes[0]
                    check(box["text"] == DEFAULT_TITLE, f"box caption {box['text']!r}")
                    texts = [c["text"] for c in box["children"]
                             if c["class"].lower() == "static" and c["text"]]
                    self.wintool("select", box["hwnd"], "click", "1", "gone",
                                 str(WINDOW_WAIT_MS))
                    rc = self.finish(proc)
                    check(rc == 2, f"exit code {rc} after the box, expected 2 (a refused start)")
                    check(not os.path.exists(out), "files were extracted after the error box")
                    return " / ".join(texts)
            rc = self.finish(proc)
        finally:
            self.kill(proc)
        check(rc == 0, f"exit code {rc}, expected 0")
        check(os.path.isdir(out), "the package neither extracted nor showed a box")
        compare_extracted(tree, out, archive)
        return None

    def wintool_events(self, commands):
        output = self.wintool_raw(commands)
        events = []
        for line in output.splitlines():
            if line.startswith("{"):
                try:
                    events.append(json.loads(line))
                except json.JSONDecodeError:
                    pass
        return events

    def case_crc_skip_headers_pe(self):
        d, tree, archive = self.fixture("crc_skip", 8, "pyzip", "crc.zip")
        skip = self.pack(archive, os.path.join(d, "skip.exe"), "--crc", "--crc-skip-headers")
        plain = self.pack(archive, os.path.join(d, "plain.exe"), "--crc")
        image = bytearray(read_bytes(skip))
        layout = pe_layout(image)
        check(layout["optional_size"] == self.kind.optional_size,
              f"SizeOfOptionalHeader {layout['optional_size']}, expected "
              f"{self.kind.optional_size} in the {self.kind.tag} image")
        section_table = layout["lfanew"] + 24 + self.kind.optional_size
        check(section_table == layout["section_table"], "section table offset mismatch")
        check(0x50 < layout["lfanew"], "offset 0x50 is not in the DOS stub")

        def changed(path, offset, name):
            data = bytearray(read_bytes(path))
            data[offset] ^= 0x20
            target = os.path.join(d, name)
            with open(target, "wb") as f:
                f.write(data)
            return target

        results = {}
        results["unchanged"] = self.self_check_run(skip, "crc skip unchanged", tree, archive)
        check(results["unchanged"] is None, f"the unchanged package fails: {results['unchanged']}")
        results["dos stub"] = self.self_check_run(
            changed(skip, 0x50, "dosstub.exe"), "crc dos stub", tree, archive)
        check(results["dos stub"] is None,
              f"a changed DOS stub byte fails with OPT_CRC_SKIP_HEADERS: {results['dos stub']}")
        # Byte 1 of the first section's name: the loader does not read it.
        results["section table"] = self.self_check_run(
            changed(skip, section_table + 1, "sectab.exe"), "crc section table", tree, archive)
        check(results["section table"] == HEADER_CORRUPT_TEXT,
              f"a changed section table byte gives {results['section table']!r}")
        results["dos stub, no skip"] = self.self_check_run(
            changed(plain, 0x50, "dosstub-plain.exe"), "crc dos stub plain", tree, archive)
        check(results["dos stub, no skip"] == HEADER_CORRUPT_TEXT,
              f"without OPT_CRC_SKIP_HEADERS a changed DOS stub byte gives "
              f"{results['dos stub, no skip']!r}")
        return (f"DOS stub byte 0x50 passes, section table byte {section_table + 1:#x} fails; "
                "without the option the DOS stub byte fails too")

    def case_authenticode_signing(self):
        need_tool("osslsigncode")
        need_tool("openssl")
        d, tree, archive = self.fixture("signing", 9, "pyzip", "signed.zip")
        key, cert = os.path.join(d, "key.pem"), os.path.join(d, "cert.pem")
        self.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                  "-out", cert, "-days", "2", "-subj", "/CN=Morvik Wine suite test signer"])
        skip = self.pack(archive, os.path.join(d, "skip.exe"), "--crc", "--crc-skip-headers")
        plain = self.pack(archive, os.path.join(d, "plain.exe"), "--crc")

        def sign(path):
            target = path.replace(".exe", "-signed.exe")
            self.run(["osslsigncode", "sign", "-certs", cert, "-key", key,
                      "-n", "Morvik Wine suite", "-in", path, "-out", target])
            self.run(["osslsigncode", "verify", "-CAfile", cert, "-in", target])
            return target

        skip_signed = sign(skip)
        plain_signed = sign(plain)
        before, after = read_bytes(skip), read_bytes(skip_signed)
        layout = pe_layout(before)
        start = layout["section_table"]
        check(len(after) > len(before), "signing appended nothing")
        check(after[start:len(before)] == before[start:],
              "signing changed bytes after the PE headers")
        check(after[:start] != before[:start], "signing left the PE headers unchanged")
        cert_rva, cert_size = struct.unpack_from("<II", after, pe_data_directories(layout) + 4 * 8)
        check(cert_rva >= len(before) and cert_size > 0,
              f"certificate table at {cert_rva} (+{cert_size}) is not behind the archive")

        result = self.self_check_run(skip_signed, "signed skip", tree, archive)
        check(result is None, f"the signed package with OPT_CRC_SKIP_HEADERS fails: {result}")
        result = self.self_check_run(plain, "unsigned plain", tree, archive)
        check(result is None, f"the unsigned package with --crc fails: {result}")
        result = self.self_check_run(plain_signed, "signed plain", tree, archive)
        check(result == HEADER_CORRUPT_TEXT,
              f"the package signed without OPT_CRC_SKIP_HEADERS gives {result!r}")
        return ("signed with --crc-skip-headers: passes and extracts; "
                "signed with --crc only: header corrupt")

    def case_no_dll_planting(self):
        d, tree, archive = self.fixture("planting", 10, "pyzip", "plant.zip")
        folder = os.path.join(d, "downloads")
        os.makedirs(folder)
        package = self.pack(archive, os.path.join(folder, "setup.exe"), "--folder=C:\\plant out")
        shutil.copy(self.helpers["planted"], os.path.join(folder, "shell32.dll"))
        loader = shutil.copy(self.helpers["plain_loader"], folder)
        marker = os.path.join(folder, "planted-dll-loaded.txt")
        env = dict(self.env)
        env["WINEDLLOVERRIDES"] = self.env["WINEDLLOVERRIDES"] + ";shell32=n,b"
        proc = self.start_wine(package, env=env, cwd=folder)
        try:
            main = self.found(self.wintool("wait", MAIN_DIALOG_TEXT, str(WINDOW_WAIT_MS)))
            ids = {c["id"] for c in main["children"]}
            self.wintool("select", main["hwnd"], "click", "2", "gone", str(WINDOW_WAIT_MS))
            rc = self.finish(proc)
        finally:
            self.kill(proc)
        check(rc == 1, f"exit code {rc}, expected 1 (closed without unzipping)")
        check(not os.path.exists(marker),
              "the stub loaded the planted shell32.dll from its own folder")
        # The stub did load Shell32.dll, from the system: it offers Browse.
        check(115 in ids, "no Browse button: the stub did not get the system's Shell32.dll")
        # Control: the same override and folder do plant the DLL in a program
        # that does not restrict its search.
        rc, _ = self.wine(loader, env=env, cwd=folder)
        check(rc == 0, f"the control program could not load Shell32.dll ({rc})")
        check(os.path.exists(marker), "control: the planted DLL is not picked up by a plain "
                                      "LoadLibraryA, so this check proves nothing")
        return "planted shell32.dll ignored (Browse offered); the unguarded control loads it"

    def screenshot(self, name, region):
        """import -window root, the virtual desktop cut out; retried until the
        dialog's area shows something (a hang guard, not a check)."""
        need_tool("import")
        path = os.path.join(self.artifacts, name)
        left, top, right, bottom = region
        deadline = time.monotonic() + WINDOW_WAIT_MS / 1000
        while True:
            self.run(["import", "-window", "root", "-crop",
                      f"{VIRTUAL_DESKTOP[0]}x{VIRTUAL_DESKTOP[1]}+0+0", "+repage", path])
            _, spread = self.run(["convert", path, "-crop",
                                  f"{right - left}x{bottom - top}+{left}+{top}", "+repage",
                                  "-colorspace", "Gray", "-format", "%[fx:standard_deviation]",
                                  "info:"])
            if float(spread.strip() or 0) > 0.02:
                break
            check(time.monotonic() < deadline, f"{name}: the dialog area stays blank")
            time.sleep(0.3)
        _, size = self.run(["identify", "-format", "%w %h", path])
        check(size.strip() == f"{VIRTUAL_DESKTOP[0]} {VIRTUAL_DESKTOP[1]}",
              f"{name}: image size {size.strip()}")
        return path

    def check_centred(self, window, screen, what):
        left, top, right, bottom = window["rect"]
        width, height = right - left, bottom - top
        want = ((screen[0] - width) // 2, (screen[1] - height) // 2)
        check((left, top) == want,
              f"{what} at {(left, top)} ({width}x{height}), centred on {screen} is {want}")

    # The default folder of the screenshots' package: the dialog shows its
    # characters (the builder stores it as UTF-8 behind the UTF-8 mark).
    # (Cyrillic and Greek: the prefix's dialog font has no CJK glyphs.)
    SHOTS_FOLDER = ("C:\\shots \u0414\u043e\u043a\u0443\u043c\u0435\u043d\u0442\u044b "
                    "\u0388\u03b3\u03b3\u03c1\u03b1\u03c6\u03b1")

    def case_dialog_screenshots(self):
        d, tree, archive = self.fixture("screenshots", 11, "infozip", "shots.zip", "-D", "-P", "pw")
        package = self.pack(archive, os.path.join(d, "setup.exe"), "--encrypted",
                            f"--folder={self.SHOTS_FOLDER}")
        desktop = "morvik"
        proc = self.start_wine("explorer", f"/desktop={desktop},"
                               f"{VIRTUAL_DESKTOP[0]}x{VIRTUAL_DESKTOP[1]}", package)
        notes = []
        try:
            events = self.wintool("wait", MAIN_DIALOG_TEXT, str(WINDOW_WAIT_MS), "metrics",
                                  desktop=desktop)
            main = self.found(events)
            screen = tuple([e for e in events if e.get("event") == "metrics"][0]["screen"])
            check(screen == VIRTUAL_DESKTOP, f"the virtual desktop is {screen}")
            self.check_centred(main, screen, "main dialog")
            controls = {c["id"]: c for c in main["children"]}
            check(201 in controls, "main dialog has no meter control (201)")
            check(not controls[201]["visible"], "the meter (201) is visible at opening")
            check(controls[109]["visible"] and controls[109]["text"] == "",
                  f"status line at opening: {controls[109]}")
            check(controls[106]["text"] == self.SHOTS_FOLDER,
                  f"the folder field shows {controls[106]['text']!r}, not {self.SHOTS_FOLDER!r}")
            notes.append(os.path.relpath(
                self.screenshot(f"main_dialog-{self.kind.tag}.png", main["rect"]), self.artifacts))

            # The About text, from the message table kept in OEM characters,
            # shows its u-umlaut.
            events = self.wintool("select", main["hwnd"], "click", "112",
                                  "waitbox", "Quillvale", str(WINDOW_WAIT_MS), desktop=desktop)
            about = self.found(events)
            texts = [c["text"] for c in about["children"] if c["class"].lower() == "static"]
            check(any("Copyright (c) Quillvale Data Works, Z\u00fcrich. All rights reserved."
                      in t for t in texts), f"the About box shows {texts}")
            self.wintool("select", about["hwnd"], "click", "1", "gone", str(WINDOW_WAIT_MS),
                         desktop=desktop)

            events = self.wintool("select", main["hwnd"], "click", "1",
                                  "wait", "password protected", str(WINDOW_WAIT_MS),
                                  desktop=desktop)
            password = self.found(events)
            self.check_centred(password, screen, "password dialog")
            notes.append(os.path.relpath(
                self.screenshot(f"password_dialog-{self.kind.tag}.png", password["rect"]),
                self.artifacts))
            self.wintool("select", password["hwnd"], "click", "2", "gone", str(WINDOW_WAIT_MS),
                         "select", main["hwnd"], "click", "2", "gone", str(WINDOW_WAIT_MS),
                         desktop=desktop)
            self.finish(proc)
        finally:
            self.kill(proc)
        check(not os.path.exists(os.path.join(self.drive_c, self.SHOTS_FOLDER[3:])),
              "files were extracted although the password was cancelled")
        return f"centred on {VIRTUAL_DESKTOP[0]}x{VIRTUAL_DESKTOP[1]}, meter hidden; " + \
            ", ".join(notes)

    CASES = [
        ("stub_image", case_stub_image),
        ("manifest_as_invoker", case_manifest_as_invoker),
        ("auto_command_line_infozip", case_auto_command_line_infozip),
        ("auto_package_option_7zip", case_auto_option_7zip),
        ("auto_command_line_python_zipfile", case_auto_command_line_pyzipfile),
        ("info_box", case_info_box),
        ("builder_mends_and_folders", case_builder_mends_and_folders),
        ("utf8_names", case_utf8_names),
        ("spanned_two_disks", case_spanned_two_disks),
        ("spanned_exe_volumes", case_spanned_exe_volumes),
        ("encrypted_password_dialog", case_encrypted_password_dialog),
        ("aes_password_dialog", case_aes_password_dialog),
        ("damaged_crc_error", case_damaged_crc),
        ("crc_skip_headers_real_pe", case_crc_skip_headers_pe),
        ("authenticode_signing", case_authenticode_signing),
        ("no_dll_planting", case_no_dll_planting),
        # Last: a virtual desktop changes the screen size Wine reports afterwards.
        ("dialog_screenshots", case_dialog_screenshots),
    ]

    def run_cases(self):
        only = set(self.args.only.split(",")) if self.args.only else None
        for name, method in self.CASES:
            if only and name not in only:
                continue
            self.log(f"\n===== {name}")
            started = time.monotonic()
            try:
                note = method(self)
                status, detail = "PASS", note
            except CaseFailure as e:
                status, detail = "FAIL", str(e)
            except Exception as e:  # a fault of the suite itself still fails the case
                status, detail = "FAIL", f"{type(e).__name__}: {e}"
                self.log(traceback.format_exc())
            seconds = time.monotonic() - started
            self.log(f"{status} {name} ({seconds:.1f} s): {detail}")
            line = f"{status} [{self.kind.tag}] {name}" + (f": {detail}" if status == "FAIL" else "")
            print(line + (f"  [{detail}; {seconds:.1f} s]" if status == "PASS" else ""),
                  flush=True)
            self.results.append((name, status))


def missing_essentials():
    return [t for t in ("wineserver", "xvfb-run", "Xvfb") if not shutil.which(t)]


def run_stub_kind(args, kind):
    """Every case on one stub; its results, [("setup", "FAIL")] when the
    stub, its helpers or its prefix could not be made."""
    suite = Suite(args, kind)
    print(f"Wine suite, {kind.tag} stub: work folder {suite.work}", flush=True)
    try:
        try:
            suite.build_stub()
            suite.build_pack_tool()
            suite.build_helpers()
            suite.make_prefix()
        except (CaseFailure, OSError, subprocess.SubprocessError) as e:
            print(f"FAIL [{kind.tag}] setup: {e}", flush=True)
            return [("setup", "FAIL")]
        print(f"{kind.tag} stub: {suite.stub} ({os.path.getsize(suite.stub)} bytes), "
              f"Wine loader {kind.loader}", flush=True)
        suite.run_cases()
        return suite.results
    finally:
        suite.shutdown()
        suite.log_file.close()
        if args.keep:
            print(f"kept {suite.work}", flush=True)
        else:
            shutil.rmtree(suite.work, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--stubs", default="32,64",
                        help="which stubs to prove, of 32 and 64 (default: both)")
    parser.add_argument("--stub32", help="the 32-bit Windows stub (default: build it)")
    parser.add_argument("--stub64", help="the 64-bit Windows stub (default: build it)")
    parser.add_argument("--pack", help="the native morvik-pack (default: compile it)")
    parser.add_argument("--source-dir", default=os.path.normpath(os.path.join(HERE, "..", "..")))
    parser.add_argument("--artifacts", help="folder for screenshots and the logs")
    parser.add_argument("--keep", action="store_true", help="keep the work folders and prefixes")
    parser.add_argument("--only", help="comma-separated case names")
    args = parser.parse_args()
    if not args.artifacts:
        args.artifacts = os.path.join(args.source_dir, "build", "wine-artifacts")
    wanted = {w.strip() for w in args.stubs.split(",") if w.strip()}
    kinds = [k for k in STUB_KINDS if k.tag[:2] in wanted]
    if not kinds:
        parser.error(f"--stubs {args.stubs}: name 32, 64 or both")

    missing = missing_essentials()
    if missing:
        print(f"SKIP: the Wine suite needs {', '.join(missing)} "
              "(scripts/install-deps.sh --windows installs them)", flush=True)
        return SKIP_CODE

    os.environ["TZ"] = "UTC"
    if not os.environ.get(UNDER_XVFB):
        # One X server for the whole suite; the script runs again inside it.
        env = dict(os.environ, **{UNDER_XVFB: "1"})
        command = ["xvfb-run", "-a", "-s",
                   f"-screen 0 {SCREEN[0]}x{SCREEN[1]}x24",
                   sys.executable, os.path.abspath(__file__)] + sys.argv[1:]
        proc = subprocess.Popen(command, env=env, start_new_session=True)

        def forward(signum, _frame):
            try:
                os.killpg(proc.pid, signal.SIGTERM)
            except ProcessLookupError:
                pass

        signal.signal(signal.SIGTERM, forward)
        signal.signal(signal.SIGINT, forward)
        return proc.wait()

    def stop(signum, _frame):
        raise SystemExit(f"stopped by signal {signum}")

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)

    # Which stubs run here is found out before anything is started, so that a
    # machine that cannot run one says so in one line rather than failing.
    runnable = []
    for kind in kinds:
        reason = kind.cannot_run()
        if reason:
            print(f"NOT RUN [{kind.tag}] stub: {reason}", flush=True)
        else:
            runnable.append(kind)
    if not runnable:
        print("SKIP: no Windows stub can run on this machine", flush=True)
        return SKIP_CODE

    started = time.monotonic()
    results = []
    for kind in runnable:
        results += [(kind.tag, name, status) for name, status in run_stub_kind(args, kind)]
    passed = sum(1 for *_, s in results if s == "PASS")
    failed = sum(1 for *_, s in results if s == "FAIL")
    for kind in runnable:
        mine = [s for tag, _, s in results if tag == kind.tag]
        print(f"{kind.tag} stub: {mine.count('PASS')} passed, {mine.count('FAIL')} failed",
              flush=True)
    print(f"Wine suite took {time.monotonic() - started:.0f} s; logs: "
          f"{os.path.join(os.path.abspath(args.artifacts), 'wine-suite-*.log')}", flush=True)
    print(f"{passed} passed, {failed} failed", flush=True)
    return 0 if failed == 0 and passed > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
