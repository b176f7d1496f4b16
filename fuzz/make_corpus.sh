#!/usr/bin/env bash
# Makes the seed corpora of the fuzz targets from archives made by real tools
# (Info-ZIP zip, 7-Zip, bsdtar, Python's zipfile) and packages made from them
# by our builder. Nothing here is committed: the seeds are made afresh.
#   fuzz/make_corpus.sh OUTDIR MORVIK-PACK
# Writes OUTDIR/fuzz_extract/ (a settings byte, then an archive; see
# fuzz_extract.cpp), OUTDIR/fuzz_package/ (packages, some with a
# command-line tail; see fuzz_package.cpp) and OUTDIR/fuzz_pack/ (a names
# byte, then an archive; see fuzz_pack.cpp). A tool that is missing is skipped
# with a note. The password of the encrypted archives is "morvik".
set -euo pipefail

out="${1:?usage: make_corpus.sh OUTDIR MORVIK-PACK}"
pack="${2:?usage: make_corpus.sh OUTDIR MORVIK-PACK}"
out="$(mkdir -p "$out" && cd "$out" && pwd)"
pack="$(cd "$(dirname "$pack")" && pwd)/$(basename "$pack")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
zips="$work/zips"
mkdir -p "$zips" "$out/fuzz_extract" "$out/fuzz_package" "$out/fuzz_pack"
rm -f "$out"/fuzz_extract/* "$out"/fuzz_package/* "$out"/fuzz_pack/*

have() { command -v "$1" >/dev/null 2>&1; }
note() { echo "make_corpus: $*" >&2; }

# ---- the files to archive ------------------------------------------------------
# small/: a few small files, an empty file, an empty folder, a file that
# fills the 2048-byte buffers more than twice, a non-ASCII name.
# window/: one file whose output passes the 32768-byte window.
python3 - "$work" <<'EOF'
import os, random, sys
root = sys.argv[1]
small = os.path.join(root, "small")
os.makedirs(os.path.join(small, "docs", "deep"), exist_ok=True)
os.makedirs(os.path.join(small, "empty folder"), exist_ok=True)
with open(os.path.join(small, "readme.txt"), "w") as f:
    f.write("Morvik seed file.\r\nSecond line.\r\n")
with open(os.path.join(small, "docs", "deep", "notes.txt"), "w") as f:
    f.write("notes " * 20)
open(os.path.join(small, "empty.txt"), "w").close()
with open(os.path.join(small, "caf\u00e9.txt"), "w") as f:
    f.write("accent\n")
rng = random.Random(1)
with open(os.path.join(small, "block.bin"), "wb") as f:
    f.write(bytes(rng.randrange(256) for _ in range(5000)))
window = os.path.join(root, "window")
os.makedirs(window, exist_ok=True)
with open(os.path.join(window, "window.txt"), "w") as f:
    for i in range(4000):
        f.write("line %05d of the window file\n" % (i % 97))
EOF

# ---- Info-ZIP zip ------------------------------------------------------------------
if have zip; then
    (cd "$work/small" && zip -q -r -0 "$zips/zip-stored.zip" .)
    (cd "$work/small" && zip -q -r -9 "$zips/zip-deflated.zip" .)
    (cd "$work/small" && zip -q -r -D -6 "$zips/zip-no-folders.zip" .)
    (cd "$work/small" && zip -q -r -9 -P morvik "$zips/zip-encrypted.zip" readme.txt docs)
    (cd "$work/small" && zip -q -r -0 -P morvik "$zips/zip-encrypted-stored.zip" readme.txt)
    # Written to a pipe: data descriptors (flag bit 3), with and without encryption.
    (cd "$work/small" && zip -q -r - readme.txt docs empty.txt | cat >"$zips/zip-streamed.zip")
    (cd "$work/small" && zip -q -P morvik - readme.txt | cat >"$zips/zip-streamed-encrypted.zip")
    (cd "$work/window" && zip -q -9 "$zips/zip-window.zip" window.txt)
    (cd "$work/small" && zip -q "$zips/zip-comment.zip" readme.txt &&
        echo "an archive comment" | zip -q -z "$zips/zip-comment.zip")
else
    note "zip not found: no Info-ZIP archives"
fi

# ---- 7-Zip ---------------------------------------------------------------------------
if have 7z; then
    seven() { (cd "$work/small" && 7z a -tzip -bso0 -bsp0 "$@"); }
    seven -mx=0 "$zips/7z-stored.zip" .
    seven -mx=9 "$zips/7z-deflated.zip" .
    seven -mx=5 -pmorvik -mem=ZipCrypto "$zips/7z-encrypted.zip" readme.txt docs
    # AES (AE-2) at two strengths, deflated and stored.
    seven -mx=5 -pmorvik -mem=AES256 "$zips/7z-aes256.zip" readme.txt docs block.bin
    seven -mx=0 -pmorvik -mem=AES128 "$zips/7z-aes128-stored.zip" readme.txt
    # Methods the stub does not unzip: Deflate64 (9) and BZip2 (12).
    seven -mm=Deflate64 "$zips/7z-deflate64.zip" readme.txt
    seven -mm=BZip2 "$zips/7z-bzip2.zip" readme.txt
else
    note "7z not found: no 7-Zip archives"
fi

# ---- bsdtar ---------------------------------------------------------------------------
if have bsdtar; then
    (cd "$work/small" && bsdtar --format zip -cf "$zips/bsdtar.zip" readme.txt docs empty.txt)
else
    note "bsdtar not found: no libarchive archive"
fi

# ---- Python's zipfile: names and records no archiver would make on purpose --------------
python3 -W ignore - "$zips" <<'EOF'
import io, struct, sys, zipfile, zlib
out = sys.argv[1]

def archive(name, members, compression=zipfile.ZIP_DEFLATED, comment=b""):
    with zipfile.ZipFile(f"{out}/{name}", "w", compression) as z:
        for member, data in members:
            z.writestr(member, data)
        z.comment = comment

archive("py-parent.zip", [("ok.txt", "fine\n"), ("../escape.txt", "out\n")])
archive("py-parent-inner.zip", [("a/../../escape.txt", "out\n")])
archive("py-backslash-parent.zip", [("a\\..\\..\\escape.txt", "out\n")])
archive("py-absolute.zip", [("/absolute.txt", "abs\n")])
archive("py-network.zip", [("//server/share/x.txt", "net\n")])
archive("py-drive.zip", [("C:/drive.txt", "drive\n"), ("C:relative.txt", "r\n")])
archive("py-device.zip", [("con.txt", "dev\n"), ("sub/aux", "dev\n"), ("LPT1.log", "dev\n")])
archive("py-double-separator.zip", [("a//b.txt", "double\n")])
archive("py-folders.zip", [("dir/", ""), ("dir/sub/", ""), ("dir/sub/file.txt", "x\n")])
archive("py-duplicate.zip", [("same.txt", "one\n"), ("same.txt", "two\n")])
archive("py-name-200.zip", [("n" * 196 + ".txt", "200\n")])
archive("py-name-201.zip", [("n" * 197 + ".txt", "201\n")])
archive("py-utf8.zip", [("\u00fcber/\u65e5\u672c.txt", "utf8\n")])
archive("py-stored-empty.zip", [("zero.txt", "")], zipfile.ZIP_STORED)
archive("py-bzip2.zip", [("b.txt", "bzip2\n" * 10)], zipfile.ZIP_BZIP2)
archive("py-lzma.zip", [("l.txt", "lzma\n" * 10)], zipfile.ZIP_LZMA)
archive("py-only-end-record.zip", [])
archive("py-comment.zip", [("c.txt", "c\n")], comment=b"PK\x05\x06 inside a comment")

# Written to a stream that cannot seek: data descriptors.
class Stream(io.RawIOBase):
    def __init__(self): self.data = bytearray()
    def writable(self): return True
    def write(self, b): self.data += b; return len(b)
s = Stream()
with zipfile.ZipFile(s, "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("streamed.txt", "descriptor " * 30)
    z.writestr("streamed2.txt", "two")
open(f"{out}/py-descriptor.zip", "wb").write(bytes(s.data))

# Hand-made records.
def local(name, data, method=0, flags=0, crc=None, usize=None, csize=None, extra=b""):
    comp = data if method == 0 else zlib.compress(data, 9)[2:-4]
    crc = zlib.crc32(data) if crc is None else crc
    usize = len(data) if usize is None else usize
    csize = len(comp) if csize is None else csize
    return (b"PK\x03\x04" + struct.pack("<HHHHHIIIHH", 20, flags, method, 0x6000, 0x5A21, crc,
                                         csize, usize, len(name), len(extra))
            + name + extra + comp)
end = b"PK\x05\x06" + bytes(18)
open(f"{out}/raw-bad-crc.zip", "wb").write(local(b"crc.txt", b"data", crc=1) + end)
open(f"{out}/raw-folder-with-data.zip", "wb").write(
    local(b"dir/", b"xy", usize=0) + local(b"dir2/", b"xy", usize=1) + end)
open(f"{out}/raw-empty-name.zip", "wb").write(local(b"", b"nameless") + end)
open(f"{out}/raw-nul-in-name.zip", "wb").write(local(b"a\x00b.txt", b"nul") + end)
open(f"{out}/raw-extra-field.zip", "wb").write(
    local(b"extra.txt", b"extra", extra=b"UT\x05\x00\x01\x00\x00\x00\x00") + end)
open(f"{out}/raw-method-99.zip", "wb").write(local(b"m.txt", b"data", method=99) + end)
open(f"{out}/raw-single-volume-marker.zip", "wb").write(b"PK00" + local(b"v.txt", b"v") + end)
open(f"{out}/raw-spanning-marker.zip", "wb").write(b"PK\x07\x08" + local(b"s.txt", b"s") + end)
open(f"{out}/raw-truncated.zip", "wb").write(local(b"t.txt", b"truncated" * 50, method=8)[:60])
open(f"{out}/raw-no-end-record.zip", "wb").write(local(b"e.txt", b"e"))
open(f"{out}/raw-garbage.zip", "wb").write(b"this is not an archive")

# Whole archives (with a central directory) that old or odd writers make.
def whole(members, prefix=b"", descriptor="signed", adjust=False):
    """members: (name, data, method, flags). descriptor: how bit-3 members end."""
    body, central = bytearray(prefix), bytearray()
    for name, data, method, flags in members:
        comp = data if method == 0 else zlib.compress(data, 9)[2:-4]
        crc = zlib.crc32(data)
        offset = len(body) if adjust else len(body) - len(prefix)
        streamed = flags & 8
        sizes = (0, 0, 0) if streamed else (crc, len(comp), len(data))
        body += (b"PK\x03\x04" + struct.pack("<HHHHHIIIHH", 20, flags, method, 0x6000, 0x5A21,
                                              *sizes, len(name), 0) + name + comp)
        if streamed:
            body += (b"PK\x07\x08" if descriptor == "signed" else b"") + struct.pack(
                "<III", crc, len(comp), len(data))
        central += (b"PK\x01\x02" + struct.pack("<HHHHHHIIIHHHHHII", 20, 20, flags, method,
                                                 0x6000, 0x5A21, crc, len(comp), len(data),
                                                 len(name), 0, 0, 0, 0, 0, offset) + name)
    cd = len(body) if adjust else len(body) - len(prefix)
    return bytes(body + central + b"PK\x05\x06" + struct.pack(
        "<HHHHIIH", 0, 0, len(members), len(members), len(central), cd, 0))
two = [(b"one.txt", b"first member " * 40, 8, 8), (b"two.bin", bytes(range(256)), 0, 8)]
open(f"{out}/whole-descriptor-12.zip", "wb").write(whole(two, descriptor="unsigned"))
open(f"{out}/whole-prefix.zip", "wb").write(whole(two, prefix=b"MZ" + bytes(100)))
open(f"{out}/whole-prefix-adjusted.zip", "wb").write(whole(two, prefix=b"MZ" + bytes(100),
                                                           adjust=True))
open(f"{out}/whole-utf8-unflagged.zip", "wb").write(
    whole([("caf\u00e9.txt".encode(), b"cafe", 0, 0), (b"dir/", b"", 0, 0)]))
open(f"{out}/whole-cp437.zip", "wb").write(
    whole([(b"caf\x82.txt", b"cafe", 0, 0), ("\u00fc.txt".encode(), b"u", 8, 0)]))
EOF

# ---- fuzz_extract: a settings byte, then the archive -------------------------------------
# 0x00 plain; 0x02 password "morvik"; 0x04 a wrong password; 0x3B overwrite,
# password, code page 932, trailing backslash, Unzip twice; 0x20 Unzip twice
# with the overwrite questions.
for zip in "$zips"/*.zip; do
    name="$(basename "$zip" .zip)"
    for settings in 00 02 04 3B 20; do
        case "$name:$settings" in
        *encrypted*:* | *:00 | *:3B) ;;
        *) continue ;;
        esac
        { printf "\\x$settings"; cat "$zip"; } >"$out/fuzz_extract/$name-$settings"
    done
done

# ---- fuzz_pack: a names byte (auto, utf8, cp437), then the archive ----------------------
for zip in "$zips"/*.zip; do
    name="$(basename "$zip" .zip)"
    { printf '\x00'; cat "$zip"; } >"$out/fuzz_pack/$name-auto"
    case "$name" in
    *utf8* | *cp437* | *zip-deflated*)
        { printf '\x01'; cat "$zip"; } >"$out/fuzz_pack/$name-utf8"
        { printf '\x02'; cat "$zip"; } >"$out/fuzz_pack/$name-cp437"
        ;;
    esac
done

# Spanned sets: settings 0x40 (.ZIP volumes) or 0xC0 (.EXE volumes), with the
# password bit where it matters, then the number of disks less one.
spanned() {
    local zip="$zips/$1.zip"
    [[ -f "$zip" ]] || return 0
    { printf "\\x$2\\x$3"; cat "$zip"; } >"$out/fuzz_extract/$1-spanned-$2-$3"
}
spanned zip-deflated 40 01
spanned zip-stored 40 02
spanned zip-window C0 03
spanned zip-encrypted C2 01
spanned py-descriptor 40 00
spanned 7z-deflated C0 01
spanned py-only-end-record 40 00

# ---- fuzz_package: packages from two tiny stub images ----------------------------------
# A PE-like and an ELF-like image: just their fixed headers and the header
# record, which is all the stub reads of its own image.
python3 - "$work" <<'EOF'
import struct, sys
root = sys.argv[1]
signature = b"QVD\x01sfx\x02"
pe = bytearray(512)
pe[0:2] = b"MZ"
struct.pack_into("<I", pe, 0x3C, 0x40)  # first section header at 0x40 + 248
pe[0x140:0x148] = signature
open(f"{root}/stub-pe", "wb").write(pe)
elf = bytearray(256)
elf[0:7] = b"\x7fELF\x02\x01\x01"
struct.pack_into("<Q", elf, 32, 64)  # e_phoff
struct.pack_into("<HH", elf, 54, 56, 1)  # e_phentsize, e_phnum: headers end at 120
elf[128:136] = signature
open(f"{root}/stub-elf", "wb").write(elf)
EOF

packages="$work/packages"
mkdir -p "$packages"
# package NAME STUB ZIP [morvik-pack options...]
package() {
    local name="$1" stub="$work/$2" zip="$zips/$3"
    shift 3
    [[ -f "$zip" ]] || return 0
    if ! "$pack" --stub "$stub" --zip "$zip" --out "$packages/$name.exe" "$@" >/dev/null 2>&1; then
        note "morvik-pack refused $name ($*)"
        return 0
    fi
    if [[ -f "$packages/$name.exe" ]]; then
        cp "$packages/$name.exe" "$out/fuzz_package/$name"
    else
        # A spanned set of one disk: the package, and behind it the .ZIP
        # volume, which fuzz_package puts beside the package (see there).
        cat "$packages/disk1/$name.EXE" >"$out/fuzz_package/$name"
        if [[ -f "$packages/disk1/$name.ZIP" ]]; then
            cat "$packages/disk1/$name.ZIP" >>"$out/fuzz_package/$name"
        fi
    fi
}
# with-tail NAME TAIL: the package NAME with a command-line tail
with_tail() {
    local from="$out/fuzz_package/$1"
    [[ -f "$from" ]] || return 0
    { cat "$from"; printf '%s' "$2"; printf "\\x$(printf '%02x' "${#2}")"; } \
        >"$out/fuzz_package/$1-tail-$3"
}

base=zip-deflated
[[ -f "$zips/$base.zip" ]] || base=py-folders
enc=zip-encrypted
[[ -f "$zips/$enc.zip" ]] || enc=7z-encrypted
package plain stub-pe "$base.zip" --folder=unpacked
package crc stub-pe "$base.zip" --crc --folder=unpacked --info="Seed package"
package crc-pe-headers stub-pe "$base.zip" --crc --crc-skip-headers --folder=unpacked
package crc-elf-headers stub-elf "$base.zip" --crc --crc-skip-headers --folder=unpacked
package auto-here stub-pe "$base.zip" --auto --overwrite --folder=.
package auto-tmp stub-elf zip-stored.zip --auto
package encrypted stub-pe "$enc.zip" --encrypted --folder=secret --crc
package query stub-pe "$base.zip" --startup-message="Unzip the seed files?" --startup-query \
    --folder=q
package okcancel stub-pe "$base.zip" --startup-message="OK to go on?" --startup-query \
    --startup-okcancel --folder=q
package message stub-elf py-folders.zip --startup-message="Just so you know." --folder=m
package titles stub-pe "$base.zip" --custom-title --title="Seed Title" --title-caption \
    --startup-message="Titled" --folder=t
package setup-caption stub-pe "$base.zip" --title-caption --folder=t
package no-trailer stub-pe "$base.zip" --no-trailer
package incomplete stub-pe "$base.zip" --incomplete --info="incomplete package"
package spanned stub-pe "$base.zip" --spanned
package spanned-exe stub-pe "$base.zip" --spanned --exe-volumes
package raw-options stub-pe py-parent.zip --options=102A --folder=p --as-is
package descriptor stub-elf py-descriptor.zip --folder=d
package window stub-pe zip-window.zip --folder=w
package comment stub-pe zip-comment.zip --folder=c
with_tail plain " -auto sub dir" auto
with_tail plain ' /AUTO "quoted dir"' quoted
with_tail auto-here " -NOAUTO" noauto
with_tail crc " -info" info
with_tail incomplete "x-infoy" info
with_tail plain " -AUTOMATIC" automatic
printf '' >"$out/fuzz_package/empty"

echo "make_corpus: $(ls "$out/fuzz_extract" | wc -l) fuzz_extract seeds," \
    "$(ls "$out/fuzz_package" | wc -l) fuzz_package seeds," \
    "$(ls "$out/fuzz_pack" | wc -l) fuzz_pack seeds in $out"
