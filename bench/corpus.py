"""The benchmark corpus, made reproducibly from a seed.

  tree   files of three kinds under nested folders, about TOTAL bytes in all:
         compressible text (pseudo-words with a skewed frequency), semi-
         compressible binary records (a skewed byte alphabet) and
         incompressible random bytes;
  small  COUNT small files (mostly text, some binary) in folders of 100.

Everything comes from one random.Random(seed), so the same seed, sizes and
generator version give byte-identical files (and, through Info-ZIP zip fed a
sorted list with fixed time stamps, identical archives).

Each tree also gets a manifest: relative path -> [size, crc32], used to check
what every extractor wrote.
"""

import json
import math
import os
import random
import zlib

GENERATOR_VERSION = 1
STAMP = (2020, 6, 15, 12, 0, 0)  # even seconds: the DOS format keeps them exactly
STAMP_EPOCH = 1592222400  # 2020-06-15 12:00:00 UTC; local time shifts it, harmlessly

SYLLABLES = ["ka", "lo", "mi", "ne", "ru", "sa", "ti", "vo", "ze", "ba", "do", "fi", "gu",
             "he", "jo", "pa", "qui", "ro", "su", "te", "un", "ve", "wa", "xi", "yo", "an",
             "el", "is", "or", "um", "ent", "ion", "ar", "est", "ing", "al"]


def _vocabulary(rng, size=3000):
    words = set()
    while len(words) < size:
        n = rng.randint(1, 4)
        words.add("".join(rng.choice(SYLLABLES) for _ in range(n)))
    words = sorted(words)
    rng.shuffle(words)
    # Zipf-like weights: word k has weight 1 / (k + 1).
    cumulative, total = [], 0.0
    for k in range(len(words)):
        total += 1.0 / (k + 1)
        cumulative.append(total)
    return words, cumulative


class Maker:
    def __init__(self, seed):
        self.rng = random.Random(seed)
        self.words, self.cumulative = _vocabulary(self.rng)
        # Skewed byte alphabet for the semi-compressible records: half of all
        # bytes are 0, the rest spread over 40 values with falling weights.
        table = bytearray(256)
        values = self.rng.sample(range(1, 256), 40)
        for i in range(256):
            if i < 128:
                table[i] = 0
            else:
                k = int(((i - 128) / 128.0) ** 2 * 40)
                table[i] = values[min(k, 39)]
        self.skew = bytes(table)

    def text(self, size):
        rng = self.rng
        out = []
        length = 0
        while length < size:
            words = rng.choices(self.words, cum_weights=self.cumulative,
                                k=min(4096, size // 5 + 16))
            # Lines of 6 to 14 words.
            pos = 0
            lines = []
            while pos < len(words):
                n = 6 + (len(words[pos]) * 7 + pos) % 9
                lines.append(" ".join(words[pos:pos + n]))
                pos += n
            chunk = ("\n".join(lines) + "\n").encode()
            out.append(chunk)
            length += len(chunk)
        return b"".join(out)[:size]

    def semi(self, size):
        # Records: a 16-byte header with a counter and a skewed payload.
        raw = self.rng.randbytes(size).translate(self.skew)
        out = bytearray(raw)
        for i, at in enumerate(range(0, size - 16, 256)):
            out[at:at + 8] = b"REC%05d" % (i % 100000)
        return bytes(out)

    def random(self, size):
        return self.rng.randbytes(size)

    def log_uniform(self, low, high):
        return int(math.exp(self.rng.uniform(math.log(low), math.log(high))))


def _write(root, rel, data, manifest):
    path = os.path.join(root, rel)
    with open(path, "wb") as f:
        f.write(data)
    os.utime(path, (STAMP_EPOCH, STAMP_EPOCH))
    manifest[rel] = [len(data), zlib.crc32(data)]


def _finish_folders(root, folders):
    for rel in sorted(folders, key=lambda p: -p.count("/")):
        os.utime(os.path.join(root, rel), (STAMP_EPOCH, STAMP_EPOCH))


def make_tree(root, total, seed):
    """Mixed tree of about `total` bytes. Returns (manifest, folders)."""
    m = Maker(seed)
    rng = m.rng
    os.makedirs(root)
    manifest, folders = {}, set()
    tops = ["src", "docs", "assets", "data", "logs", "lib", "media", "build"]
    kinds = [("text", 0.45, ".txt"), ("semi", 0.30, ".dat"), ("random", 0.25, ".bin")]
    largest = max(64 * 1024, min(4 << 20, total // 12))
    written, index = 0, 0
    while written < total:
        r = rng.random()
        acc = 0.0
        for kind, weight, ext in kinds:
            acc += weight
            if r < acc:
                break
        size = min(m.log_uniform(2048, largest), total - written)
        depth = rng.randint(1, 3)
        parts = [rng.choice(tops)] + ["%s%02d" % (rng.choice("abcdefgh"), rng.randint(0, 9))
                                       for _ in range(depth - 1)]
        folder = "/".join(parts)
        for i in range(1, len(parts) + 1):
            folders.add("/".join(parts[:i]))
        os.makedirs(os.path.join(root, folder), exist_ok=True)
        rel = "%s/%s%05d%s" % (folder, kind, index, ext)
        data = getattr(m, kind)(size)
        _write(root, rel, data, manifest)
        written += size
        index += 1
    _finish_folders(root, folders)
    return manifest, folders


def make_small(root, count, seed):
    """`count` small files, 100 to a folder. Returns (manifest, folders)."""
    m = Maker(seed)
    rng = m.rng
    os.makedirs(root)
    manifest, folders = {}, set()
    for index in range(count):
        folder = "pkg%03d/mod%02d" % (index // 1000, (index // 100) % 10)
        if index % 100 == 0:
            folders.add(folder.split("/")[0])
            folders.add(folder)
            os.makedirs(os.path.join(root, folder), exist_ok=True)
        r = rng.random()
        size = m.log_uniform(64, 12 * 1024)
        if r < 0.80:
            data, ext = m.text(size), ".txt"
        elif r < 0.92:
            data, ext = m.semi(size), ".dat"
        else:
            data, ext = m.random(size), ".bin"
        _write(root, "%s/f%05d%s" % (folder, index, ext), data, manifest)
    _finish_folders(root, folders)
    return manifest, folders


def zip_list(manifest, folders):
    """Every folder (with a trailing slash, ahead of its contents) and file,
    in sorted order: the list Info-ZIP zip reads with -@."""
    entries = [f + "/" for f in folders] + list(manifest)
    return sorted(entries)


def save_manifest(path, manifest):
    with open(path, "w") as f:
        json.dump(manifest, f, sort_keys=True)


def load_manifest(path):
    with open(path) as f:
        return json.load(f)


def check_output(folder, manifest, full_crc=True):
    """Compares an extracted folder with a manifest. Returns None when they
    match, else a short reason."""
    seen = {}
    for dirpath, _dirs, files in os.walk(folder):
        for name in files:
            path = os.path.join(dirpath, name)
            rel = os.path.relpath(path, folder).replace(os.sep, "/")
            seen[rel] = path
    missing = [r for r in manifest if r not in seen]
    extra = [r for r in seen if r not in manifest]
    if missing:
        return "%d files missing (e.g. %s)" % (len(missing), missing[0])
    if extra:
        return "%d unexpected files (e.g. %s)" % (len(extra), extra[0])
    for rel, (size, crc) in manifest.items():
        path = seen[rel]
        if os.path.getsize(path) != size:
            return "%s: %d bytes, expected %d" % (rel, os.path.getsize(path), size)
        if full_crc:
            with open(path, "rb") as f:
                if zlib.crc32(f.read()) != crc:
                    return "%s: content differs" % rel
    return None
