#!/usr/bin/env bash
# The main job, end to end: builds the stub and the package builder, puts the
# bundled sample files into a ZIP archive, builds a self-extracting package
# from it, unzips that package in auto mode and lists what came out.
#   scripts/demo.sh [OUTDIR]        (default: out/demo)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

out="${1:-out/demo}"
cmake --preset native >/dev/null
cmake --build build/native --target morvik-sfx morvik-pack >/dev/null

rm -rf "$out"
mkdir -p "$out"
out="$(cd "$out" && pwd)"
# 7-Zip marks non-ASCII names as UTF-8, as current archivers do.
(cd samples && 7z a -tzip -mx=9 -bso0 -bsp0 "$out/samples.zip" .)
# The stub image without its debugging symbols, as it would ship.
strip -o "$out/morvik-sfx" build/native/morvik-sfx
build/native/tools/morvik-pack --stub "$out/morvik-sfx" --zip "$out/samples.zip" \
  --out "$out/samples-sfx" --crc --info="Morvik Self-Extractor demonstration package"
echo "package: $out/samples-sfx ($(stat -c %s "$out/samples-sfx") bytes)"

"$out/samples-sfx" -auto "$out/unzipped" </dev/null
echo "unzipped to $out/unzipped:"
(cd "$out/unzipped" && find . -mindepth 1 -printf '%TY-%Tm-%Td %TH:%TM  %10s  %p\n' | sort -k4)
diff -r samples "$out/unzipped" && echo "identical to samples/"
