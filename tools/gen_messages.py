#!/usr/bin/env python3
"""Build the stub's compressed message table and dialog templates.

Reads the message texts (data/messages.txt) and the two dialog layouts
(data/main_dialog.dlg, data/password_dialog.dlg) and writes a C++ source with:

  MessageOffsets[52]          offsets of messages 0..50 in the inflated table;
                              entry 51 is the offset of the MainDialog template
                              (= length of the text part)
  CompressedMessageTable      raw DEFLATE stream of the 51 NUL-terminated texts,
                              then the MainDialog template and 8 zero bytes
  CompressedPasswordDialog    raw DEFLATE stream of the PasswordDialog template
                              and 8 zero bytes
  ...Size / Inflated...Size   the byte counts of both streams

The declarations live in startup/message_data.h. The output is the same, byte
for byte, on every run with the same inputs (and the same zlib).

    gen_messages.py --messages M --main-dialog D --password-dialog P --out FILE
    gen_messages.py --messages M --main-dialog D --password-dialog P --dump

Any malformed input line, a missing or repeated message id, or a table that
does not fit the stub's blocks stops the run with a message and exit code 1;
--out is then left untouched.
"""

import argparse
import os
import re
import struct
import sys
import zlib

MESSAGE_COUNT = 51  # ids 0..50; id 51 is the MainDialog template
TABLE_BLOCK_SIZE = 5568  # the stub's MessageTable block
TABLE_GUARD_BYTES = 2  # the block's last two bytes guard the inflation
MAIN_DIALOG_COPY_SIZE = 1024  # start-up copies this much from the template offset
PASSWORD_BLOCK_SIZE = 600  # the stub's PasswordDialog block
TEMPLATE_TAIL = b"\0" * 8  # zero bytes behind each template

ZIP_SIGNATURES = (b"PK\x03\x04", b"PK\x01\x02", b"PK\x05\x06", b"PK\x07\x08", b"PK00")

# Window, dialog and control styles that the layouts may name.
STYLE_NAMES = {
    "WS_OVERLAPPED": 0x00000000,
    "WS_POPUP": 0x80000000,
    "WS_CHILD": 0x40000000,
    "WS_MINIMIZE": 0x20000000,
    "WS_VISIBLE": 0x10000000,
    "WS_DISABLED": 0x08000000,
    "WS_CLIPSIBLINGS": 0x04000000,
    "WS_CLIPCHILDREN": 0x02000000,
    "WS_MAXIMIZE": 0x01000000,
    "WS_CAPTION": 0x00C00000,
    "WS_BORDER": 0x00800000,
    "WS_DLGFRAME": 0x00400000,
    "WS_VSCROLL": 0x00200000,
    "WS_HSCROLL": 0x00100000,
    "WS_SYSMENU": 0x00080000,
    "WS_THICKFRAME": 0x00040000,
    "WS_GROUP": 0x00020000,
    "WS_TABSTOP": 0x00010000,
    "WS_MINIMIZEBOX": 0x00020000,
    "WS_MAXIMIZEBOX": 0x00010000,
    "DS_ABSALIGN": 0x0001,
    "DS_SYSMODAL": 0x0002,
    "DS_3DLOOK": 0x0004,
    "DS_FIXEDSYS": 0x0008,
    "DS_NOFAILCREATE": 0x0010,
    "DS_LOCALEDIT": 0x0020,
    "DS_SETFONT": 0x0040,
    "DS_MODALFRAME": 0x0080,
    "DS_NOIDLEMSG": 0x0100,
    "DS_SETFOREGROUND": 0x0200,
    "DS_CONTROL": 0x0400,
    "DS_CENTER": 0x0800,
    "SS_LEFT": 0x0000,
    "SS_CENTER": 0x0001,
    "SS_RIGHT": 0x0002,
    "SS_ICON": 0x0003,
    "SS_NOPREFIX": 0x0080,
    "ES_LEFT": 0x0000,
    "ES_CENTER": 0x0001,
    "ES_RIGHT": 0x0002,
    "ES_MULTILINE": 0x0004,
    "ES_UPPERCASE": 0x0008,
    "ES_LOWERCASE": 0x0010,
    "ES_PASSWORD": 0x0020,
    "ES_AUTOVSCROLL": 0x0040,
    "ES_AUTOHSCROLL": 0x0080,
    "ES_READONLY": 0x0800,
    "BS_PUSHBUTTON": 0x0000,
    "BS_DEFPUSHBUTTON": 0x0001,
    "BS_CHECKBOX": 0x0002,
    "BS_AUTOCHECKBOX": 0x0003,
    "BS_RADIOBUTTON": 0x0004,
    "BS_GROUPBOX": 0x0007,
    "BS_AUTORADIOBUTTON": 0x0009,
}

# The predefined window classes, stored as 0xFFFF and an ordinal.
CLASS_ORDINALS = {
    "BUTTON": 0x0080,
    "EDIT": 0x0081,
    "STATIC": 0x0082,
    "LISTBOX": 0x0083,
    "SCROLLBAR": 0x0084,
    "COMBOBOX": 0x0085,
}

WS_CHILD = STYLE_NAMES["WS_CHILD"]
WS_VISIBLE = STYLE_NAMES["WS_VISIBLE"]
DS_SETFONT = STYLE_NAMES["DS_SETFONT"]


class GenError(Exception):
    pass


# ---- tokens -----------------------------------------------------------------

# A token is (kind, value): "str" with the unescaped bytes, "word", "bar" or "eq".


def unescape(text, where):
    """Turns the inside of a quoted string into bytes."""
    out = bytearray()
    i = 0
    while i < len(text):
        ch = text[i]
        if ch == "\\":
            if i + 1 >= len(text):
                raise GenError(f"{where}: a backslash ends the string")
            esc = text[i + 1]
            if esc == "n":
                out.append(0x0A)
                i += 2
            elif esc == '"':
                out.append(0x22)
                i += 2
            elif esc == "\\":
                out.append(0x5C)
                i += 2
            elif esc == "x":
                digits = text[i + 2 : i + 4]
                if not re.fullmatch(r"[0-9A-Fa-f]{2}", digits):
                    raise GenError(f"{where}: \\x needs two hex digits")
                value = int(digits, 16)
                if value == 0:
                    raise GenError(f"{where}: \\x00 is not allowed (texts end at a NUL)")
                out.append(value)
                i += 4
            else:
                raise GenError(f"{where}: unknown escape \\{esc} (use \\n, \\\", \\\\ or \\xHH)")
        else:
            code = ord(ch)
            if code < 0x20 or code > 0x7E:
                raise GenError(
                    f"{where}: character {ch!r} is not printable ASCII; write it as \\xHH"
                )
            out.append(code)
            i += 1
    return bytes(out)


def tokenize(line, where):
    tokens = []
    i = 0
    n = len(line)
    while i < n:
        ch = line[i]
        if ch in " \t\r":
            i += 1
        elif ch == "#":
            break
        elif ch == "|":
            tokens.append(("bar", "|"))
            i += 1
        elif ch == "=":
            tokens.append(("eq", "="))
            i += 1
        elif ch == '"':
            j = i + 1
            while j < n and line[j] != '"':
                j += 2 if line[j] == "\\" else 1
            if j >= n:
                raise GenError(f"{where}: unterminated string")
            tokens.append(("str", unescape(line[i + 1 : j], where)))
            i = j + 1
        else:
            j = i
            while j < n and line[j] not in ' \t\r#|="':
                j += 1
            tokens.append(("word", line[i:j]))
            i = j
    return tokens


def read_lines(path):
    try:
        with open(path, "r", encoding="utf-8", newline="") as f:
            text = f.read()
    except OSError as e:
        raise GenError(f"cannot read {path}: {e.strerror}")
    except UnicodeDecodeError:
        raise GenError(f"{path}: not UTF-8 text")
    return text.replace("\r\n", "\n").split("\n")


# ---- messages ---------------------------------------------------------------


def parse_messages(path):
    """Returns the list of the 51 texts (bytes) in id order."""
    texts = {}  # id -> bytearray
    aliases = {}  # id -> (other id, where)
    first_line = {}  # id -> line number
    current = None  # id whose text a continuation line extends
    for number, line in enumerate(read_lines(path), 1):
        where = f"{path}:{number}"
        tokens = tokenize(line, where)
        if not tokens:
            continue
        if line[0] in " \t":
            if not all(kind == "str" for kind, _ in tokens):
                raise GenError(f"{where}: a continuation line holds only quoted strings")
            if current is None:
                raise GenError(f"{where}: continuation line without an entry above it")
            for _, value in tokens:
                texts[current] += value
            continue
        if len(tokens) < 3 or tokens[0][0] != "word" or tokens[1][0] != "eq":
            raise GenError(f'{where}: malformed line; expected ID = "text" or ID = @OTHER')
        id_word = tokens[0][1]
        if not re.fullmatch(r"\d+", id_word):
            raise GenError(f"{where}: message id {id_word!r} is not a number")
        msg_id = int(id_word)
        if msg_id >= MESSAGE_COUNT:
            raise GenError(f"{where}: message id {msg_id} is out of range 0..{MESSAGE_COUNT - 1}")
        if msg_id in first_line:
            raise GenError(
                f"{where}: duplicate message id {msg_id} (first given on line {first_line[msg_id]})"
            )
        first_line[msg_id] = number
        rest = tokens[2:]
        if len(rest) == 1 and rest[0][0] == "word" and re.fullmatch(r"@\d+", rest[0][1]):
            aliases[msg_id] = (int(rest[0][1][1:]), where)
            current = None
        elif all(kind == "str" for kind, _ in rest):
            texts[msg_id] = bytearray(b"".join(value for _, value in rest))
            current = msg_id
        else:
            raise GenError(f'{where}: malformed text; expected quoted strings or @ID')
    for msg_id, (other, where) in aliases.items():
        if other not in texts:
            raise GenError(f"{where}: @{other} does not name a message given by its own text")
        texts[msg_id] = texts[other]
    missing = [i for i in range(MESSAGE_COUNT) if i not in texts]
    if missing:
        raise GenError(f"{path}: missing message id(s): {', '.join(map(str, missing))}")
    return [bytes(texts[i]) for i in range(MESSAGE_COUNT)]


# ---- dialog templates -------------------------------------------------------


def parse_flags(tokens, where):
    """FLAG | FLAG ... -> value. Numbers (0x.. or decimal) are accepted too."""
    if not tokens:
        raise GenError(f"{where}: style flags missing")
    value = 0
    expect_name = True
    for kind, text in tokens:
        if expect_name:
            if kind != "word":
                raise GenError(f"{where}: expected a style name, found {kind} {text!r}")
            if text in STYLE_NAMES:
                value |= STYLE_NAMES[text]
            elif re.fullmatch(r"0[xX][0-9A-Fa-f]+|\d+", text):
                value |= int(text, 0)
            else:
                raise GenError(f"{where}: unknown style {text!r}")
        elif kind != "bar":
            raise GenError(f"{where}: expected '|' between style names")
        expect_name = not expect_name
    if expect_name:
        raise GenError(f"{where}: style flags end with '|'")
    if value > 0xFFFFFFFF:
        raise GenError(f"{where}: style value exceeds 32 bits")
    return value


def parse_int(token, where, low, high, what):
    kind, text = token
    if kind != "word" or not re.fullmatch(r"-?\d+", text):
        raise GenError(f"{where}: {what} must be a number")
    value = int(text)
    if not low <= value <= high:
        raise GenError(f"{where}: {what} {value} is out of range {low}..{high}")
    return value


def dialog_text(value, where):
    """Template texts are plain ASCII, stored as UTF-16."""
    if any(b >= 0x80 for b in value):
        raise GenError(f"{where}: dialog texts must be plain ASCII")
    return value.decode("ascii")


def parse_dialog(path):
    dialog = {"exstyle": 0, "controls": []}
    seen = set()
    for number, line in enumerate(read_lines(path), 1):
        where = f"{path}:{number}"
        tokens = tokenize(line, where)
        if not tokens:
            continue
        kind, keyword = tokens[0]
        args = tokens[1:]
        if kind != "word":
            raise GenError(f"{where}: malformed line; expected a keyword")
        if keyword != "control":
            if keyword in seen:
                raise GenError(f"{where}: {keyword} given twice")
            seen.add(keyword)
        if keyword == "style":
            dialog["style"] = parse_flags(args, where)
        elif keyword == "exstyle":
            dialog["exstyle"] = parse_flags(args, where)
        elif keyword == "rect":
            if len(args) != 4:
                raise GenError(f"{where}: rect needs X Y WIDTH HEIGHT")
            dialog["rect"] = [parse_int(t, where, -32768, 32767, "coordinate") for t in args]
        elif keyword == "caption":
            if len(args) != 1 or args[0][0] != "str":
                raise GenError(f'{where}: caption needs one quoted text')
            dialog["caption"] = dialog_text(args[0][1], where)
        elif keyword == "font":
            if len(args) != 2 or args[1][0] != "str":
                raise GenError(f'{where}: font needs POINTS "FACE"')
            dialog["font"] = (
                parse_int(args[0], where, 1, 0xFFFF, "point size"),
                dialog_text(args[1][1], where),
            )
        elif keyword == "control":
            dialog["controls"].append(parse_control(args, where))
        else:
            raise GenError(f"{where}: unknown keyword {keyword!r}")
    for needed in ("style", "rect", "caption"):
        if needed not in dialog:
            raise GenError(f"{path}: no {needed} line")
    if bool(dialog["style"] & DS_SETFONT) != ("font" in dialog):
        raise GenError(f"{path}: a font line goes with DS_SETFONT in the style, and only with it")
    if not dialog["controls"]:
        raise GenError(f"{path}: no controls")
    if len(dialog["controls"]) > 0xFFFF:
        raise GenError(f"{path}: too many controls")
    return dialog


def parse_control(args, where):
    if len(args) < 8:
        raise GenError(f'{where}: control needs ID CLASS "TEXT" X Y WIDTH HEIGHT FLAGS')
    control = {"id": parse_int(args[0], where, 0, 0xFFFF, "control id")}
    kind, value = args[1]
    if kind == "word":
        if value not in CLASS_ORDINALS:
            raise GenError(
                f"{where}: unknown class {value!r}; quote a registered class name, "
                f"or use one of {', '.join(CLASS_ORDINALS)}"
            )
        control["class"] = CLASS_ORDINALS[value]
    elif kind == "str":
        name = dialog_text(value, where)
        if not name:
            raise GenError(f"{where}: empty class name")
        control["class"] = name
    else:
        raise GenError(f"{where}: control class missing")
    if args[2][0] != "str":
        raise GenError(f"{where}: control text must be quoted")
    control["text"] = dialog_text(args[2][1], where)
    control["rect"] = [parse_int(t, where, -32768, 32767, "coordinate") for t in args[3:7]]
    control["style"] = parse_flags(args[7:], where)
    if control["style"] & (WS_CHILD | WS_VISIBLE) != (WS_CHILD | WS_VISIBLE):
        raise GenError(f"{where}: control style lacks WS_CHILD | WS_VISIBLE")
    return control


def utf16z(text):
    return text.encode("utf-16-le") + b"\0\0"


def encode_dialog(dialog):
    """The in-memory DLGTEMPLATE with its DLGITEMTEMPLATE items."""
    out = bytearray()
    x, y, cx, cy = dialog["rect"]
    out += struct.pack(
        "<IIHhhhh", dialog["style"], dialog["exstyle"], len(dialog["controls"]), x, y, cx, cy
    )
    out += b"\0\0"  # no menu
    out += b"\0\0"  # the default dialog class
    out += utf16z(dialog["caption"])
    if dialog["style"] & DS_SETFONT:
        points, face = dialog["font"]
        out += struct.pack("<H", points) + utf16z(face)
    for control in dialog["controls"]:
        while len(out) % 4:  # items start DWORD-aligned
            out += b"\0"
        x, y, cx, cy = control["rect"]
        out += struct.pack("<IIhhhhH", control["style"], 0, x, y, cx, cy, control["id"])
        if isinstance(control["class"], int):
            out += struct.pack("<HH", 0xFFFF, control["class"])
        else:
            out += utf16z(control["class"])
        out += utf16z(control["text"])
        out += b"\0\0"  # no creation data
    return bytes(out)


# ---- the table --------------------------------------------------------------


def deflate_raw(data):
    compressor = zlib.compressobj(9, zlib.DEFLATED, -15)
    stream = compressor.compress(data) + compressor.flush()
    check = zlib.decompressobj(-15)
    if check.decompress(stream) != data or not check.eof:
        raise GenError("internal: the compressed stream does not inflate to its input")
    return stream


def find_signature(data):
    for signature in ZIP_SIGNATURES:
        at = data.find(signature)
        if at >= 0:
            return signature, at
    return None


def build(messages_path, main_path, password_path):
    texts = parse_messages(messages_path)
    main = parse_dialog(main_path)
    password = parse_dialog(password_path)
    main_template = encode_dialog(main)
    password_template = encode_dialog(password)

    offsets = []
    text_part = bytearray()
    for text in texts:
        offsets.append(len(text_part))
        text_part += text + b"\0"
    text_length = len(text_part)
    offsets.append(text_length)

    table = bytes(text_part) + main_template + TEMPLATE_TAIL
    if len(table) > TABLE_BLOCK_SIZE - TABLE_GUARD_BYTES:
        raise GenError(
            f"the message table is {len(table)} bytes ({text_length} text, "
            f"{len(main_template)} template, 8 zero); at most "
            f"{TABLE_BLOCK_SIZE - TABLE_GUARD_BYTES} fit before the guard bytes"
        )
    if text_length + MAIN_DIALOG_COPY_SIZE > TABLE_BLOCK_SIZE:
        raise GenError(
            f"the text part is {text_length} bytes; start-up copies {MAIN_DIALOG_COPY_SIZE} "
            f"bytes from the template, so at most {TABLE_BLOCK_SIZE - MAIN_DIALOG_COPY_SIZE} "
            f"text bytes fit the {TABLE_BLOCK_SIZE}-byte block"
        )
    password_block = password_template + TEMPLATE_TAIL
    if len(password_block) > PASSWORD_BLOCK_SIZE:
        raise GenError(
            f"the password dialog template is {len(password_block)} bytes inflated; "
            f"at most {PASSWORD_BLOCK_SIZE} fit"
        )

    result = {
        "texts": texts,
        "offsets": offsets,
        "table": table,
        "main_template": main_template,
        "password_template": password_template,
        "password_block": password_block,
        "compressed_table": deflate_raw(table),
        "compressed_password": deflate_raw(password_block),
    }
    stored = {
        "CompressedMessageTable": result["compressed_table"],
        "CompressedPasswordDialog": result["compressed_password"],
        "MessageOffsets": b"".join(struct.pack("<I", v) for v in offsets),
    }
    for name, data in stored.items():
        found = find_signature(data)
        if found:
            raise GenError(
                f"{name} holds the ZIP signature {found[0]!r} at byte {found[1]}; "
                "change a text slightly so that the stream differs"
            )
    return result


# ---- output -----------------------------------------------------------------


def c_bytes(data):
    lines = []
    for i in range(0, len(data), 16):
        lines.append("    " + ", ".join(f"0x{b:02x}" for b in data[i : i + 16]) + ",")
    return "\n".join(lines)


def c_source(result, sources):
    offsets = result["offsets"]
    offset_lines = []
    for i in range(0, len(offsets), 8):
        offset_lines.append("    " + ", ".join(f"{v:4d}" for v in offsets[i : i + 8]) + ",")
    table = result["compressed_table"]
    password = result["compressed_password"]
    text_length = offsets[-1]
    return f"""\
// Generated by tools/gen_messages.py from {', '.join(sources)}.
// Do not edit: change the data files and rebuild.
#include "startup/message_data.h"

// Offsets of messages 0..50 in the inflated table; entry 51 is the offset of
// the MainDialog template, the length of the text part ({text_length} bytes).
extern "C" const uint32_t MessageOffsets[52] = {{
{chr(10).join(offset_lines)}
}};

// {MESSAGE_COUNT} texts ({text_length} bytes), the MainDialog template \
({len(result['main_template'])} bytes) and 8 zero bytes.
extern "C" const uint32_t InflatedMessageTableSize = {len(result['table'])};
extern "C" const uint32_t CompressedMessageTableSize = {len(table)};
extern "C" const uint8_t CompressedMessageTable[{len(table)}] = {{
{c_bytes(table)}
}};

// The PasswordDialog template ({len(result['password_template'])} bytes) and 8 zero bytes.
extern "C" const uint32_t InflatedPasswordDialogSize = {len(result['password_block'])};
extern "C" const uint32_t CompressedPasswordDialogSize = {len(password)};
extern "C" const uint8_t CompressedPasswordDialog[{len(password)}] = {{
{c_bytes(password)}
}};
"""


def shown(text):
    out = []
    for b in text:
        if b == 0x0A:
            out.append("\\n")
        elif b == 0x22:
            out.append('\\"')
        elif b == 0x5C:
            out.append("\\\\")
        elif 0x20 <= b <= 0x7E:
            out.append(chr(b))
        else:
            out.append(f"\\x{b:02x}")
    return '"' + "".join(out) + '"'


def class_name(value):
    if isinstance(value, int):
        for name, ordinal in CLASS_ORDINALS.items():
            if ordinal == value:
                return name
    return f'"{value}"'


def dump(result, out):
    offsets = result["offsets"]
    out.write(" id  offset  length  text\n")
    for i, text in enumerate(result["texts"]):
        out.write(f"{i:3d}  {offsets[i]:6d}  {len(text):6d}  {shown(text)}\n")
    out.write(
        f"{MESSAGE_COUNT:3d}  {offsets[-1]:6d}  {len(result['main_template']):6d}  "
        f"MainDialog template (+ 8 zero bytes)\n\n"
    )
    out.write(
        f"text part {offsets[-1]} bytes; inflated table {len(result['table'])} bytes "
        f"of a {TABLE_BLOCK_SIZE}-byte block; compressed {len(result['compressed_table'])} bytes\n"
    )
    out.write(
        f"PasswordDialog template {len(result['password_template'])} bytes; inflated "
        f"{len(result['password_block'])} bytes; compressed "
        f"{len(result['compressed_password'])} bytes\n"
    )


def dump_dialog(title, dialog, out):
    x, y, cx, cy = dialog["rect"]
    out.write(
        f"\n{title}: style 0x{dialog['style']:08X}, rect {x} {y} {cx} {cy}, "
        f"caption {dialog['caption']!r}"
    )
    if "font" in dialog:
        out.write(f", font {dialog['font'][0]} {dialog['font'][1]!r}")
    out.write("\n")
    for c in dialog["controls"]:
        x, y, cx, cy = c["rect"]
        out.write(
            f"  {c['id']:5d}  {class_name(c['class']):8s}  0x{c['style']:08X}  "
            f"{x:4d} {y:4d} {cx:4d} {cy:4d}  {c['text']!r}\n"
        )


def write_atomically(path, text):
    folder = os.path.dirname(os.path.abspath(path))
    temp = os.path.join(folder, f".{os.path.basename(path)}.tmp{os.getpid()}")
    try:
        with open(temp, "w", encoding="ascii", newline="\n") as f:
            f.write(text)
        os.replace(temp, path)
    except OSError as e:
        try:
            os.unlink(temp)
        except OSError:
            pass
        raise GenError(f"cannot write {path}: {e.strerror}")


def main(argv):
    parser = argparse.ArgumentParser(
        description="Compress the stub's message texts and dialog templates into a C++ source."
    )
    parser.add_argument("--messages", required=True, help="message texts (data/messages.txt)")
    parser.add_argument("--main-dialog", required=True, help="MainDialog layout (.dlg)")
    parser.add_argument("--password-dialog", required=True, help="PasswordDialog layout (.dlg)")
    parser.add_argument("--out", help="C++ source to write")
    parser.add_argument(
        "--dump", action="store_true", help="print ids, offsets and texts to standard output"
    )
    args = parser.parse_args(argv)
    if not args.out and not args.dump:
        parser.error("give --out FILE, --dump, or both")
    try:
        result = build(args.messages, args.main_dialog, args.password_dialog)
        if args.out:
            sources = [
                os.path.basename(p)
                for p in (args.messages, args.main_dialog, args.password_dialog)
            ]
            write_atomically(args.out, c_source(result, sources))
        if args.dump:
            dump(result, sys.stdout)
            dump_dialog("MainDialog", parse_dialog(args.main_dialog), sys.stdout)
            dump_dialog("PasswordDialog", parse_dialog(args.password_dialog), sys.stdout)
    except GenError as e:
        sys.stderr.write(f"gen_messages.py: error: {e}\n")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
