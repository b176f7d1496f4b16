// Tests of the build-time tools: the compressed message table and dialog
// templates that tools/gen_messages.py produces for the stub, the generator's
// refusals, and the package builder morvik-pack run on archives made by
// Python's zipfile and Info-ZIP zip.

#include "startup/message_data.h"
#include "startup/sfx.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <elf.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

// ---- helpers ----------------------------------------------------------------

Bytes ReadAll(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << "cannot read " << path;
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteAll(const fs::path &path, const Bytes &data) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char *>(data.data()), std::streamsize(data.size()));
    ASSERT_TRUE(out.good()) << "cannot write " << path;
}

void WriteText(const fs::path &path, const std::string &text) {
    WriteAll(path, Bytes(text.begin(), text.end()));
}

std::string ReadText(const fs::path &path) {
    Bytes b = ReadAll(path);
    return std::string(b.begin(), b.end());
}

Bytes Slice(const Bytes &b, size_t from, size_t to) {
    return Bytes(b.begin() + std::ptrdiff_t(from), b.begin() + std::ptrdiff_t(to));
}

Bytes Concat(const Bytes &a, const Bytes &b) {
    Bytes r = a;
    r.insert(r.end(), b.begin(), b.end());
    return r;
}

uint16_t Get16(const Bytes &b, size_t at) {
    return uint16_t(b[at] | b[at + 1] << 8);
}
uint32_t Get32(const Bytes &b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
           uint32_t(b[at + 3]) << 24;
}
void Put32(Bytes &b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = uint8_t(v >> (8 * i));
}

uint32_t Crc(const Bytes &b, size_t from, size_t to) {
    uLong crc = crc32(0L, Z_NULL, 0);
    return uint32_t(crc32(crc, b.data() + from, uInt(to - from)));
}

size_t Find(const Bytes &haystack, const Bytes &needle, size_t from = 0) {
    if (needle.size() > haystack.size())
        return std::string::npos;
    for (size_t at = from; at + needle.size() <= haystack.size(); ++at)
        if (std::memcmp(haystack.data() + at, needle.data(), needle.size()) == 0)
            return at;
    return std::string::npos;
}

std::string Quote(const std::string &s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

struct Outcome {
    int status;
    std::string out, err;
};

// The header signature, built at run time so that this test program holds no
// copy of it (one test appends a header to a copy of this program).
Bytes Signature() {
    static const uint8_t scrambled[SFX_SIGNATURE_SIZE] = {'Q' ^ 0x5A,  'V' ^ 0x5A, 'D' ^ 0x5A,
                                                          0x01 ^ 0x5A, 's' ^ 0x5A, 'f' ^ 0x5A,
                                                          'x' ^ 0x5A,  0x02 ^ 0x5A};
    volatile uint8_t key = 0x5A;
    Bytes sig;
    for (uint8_t b : scrambled)
        sig.push_back(uint8_t(b ^ key));
    return sig;
}

// A header record as a stub holds it: the signature, the fields zero, some
// leftover bytes in reserved1 and 7 in reserved2.
Bytes RawHeader() {
    Bytes h = Signature();
    h.resize(sizeof(SfxHeader), 0);
    for (size_t i = 0; i < sizeof(SfxHeader::reserved1); ++i)
        h[offsetof(SfxHeader, reserved1) + i] = uint8_t(0xA0 + i);
    Put32(h, offsetof(SfxHeader, reserved2), 7);
    return h;
}

// A stand-in stub image: `size` bytes of filler, `prefix` at offset 0 and the
// header record at `headerAt`. The filler rises by one per byte, so it holds
// no "PK" pair and no signature.
Bytes FakeStub(size_t size, size_t headerAt, const Bytes &prefix = {}) {
    Bytes stub(size);
    for (size_t i = 0; i < size; ++i)
        stub[i] = uint8_t(i % 251);
    std::copy(prefix.begin(), prefix.end(), stub.begin());
    Bytes h = RawHeader();
    std::copy(h.begin(), h.end(), stub.begin() + std::ptrdiff_t(headerAt));
    return stub;
}

SfxHeader HeaderAt(const Bytes &package, size_t at) {
    SfxHeader h;
    EXPECT_LE(at + sizeof h, package.size());
    std::memcpy(&h, package.data() + at, sizeof h);
    return h;
}

struct Member {
    std::string name;
    size_t size;
    bool deflate;
};

class ScratchDirTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "morvik-tools-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }

    Outcome Run(const std::string &command) {
        fs::path out = dir / ".stdout", err = dir / ".stderr";
        std::string line =
            "{ " + command + "; } >" + Quote(out) + " 2>" + Quote(err) + " </dev/null";
        int raw = std::system(line.c_str());
        Outcome o{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadText(out), ReadText(err)};
        fs::remove(out);
        fs::remove(err);
        return o;
    }

    Outcome Pack(const std::vector<std::string> &args) {
        std::string command = Quote(MORVIK_PACK);
        for (const std::string &a : args)
            command += " " + Quote(a);
        return Run(command);
    }

    // An archive written by Python's zipfile; member data is a fixed pattern.
    fs::path PythonZip(const std::string &name, const std::vector<Member> &members,
                       const std::string &commentLiteral = "b''") {
        std::string list;
        for (const Member &m : members)
            list += "('" + m.name + "', " + std::to_string(m.size) + ", " +
                    (m.deflate ? "True" : "False") + "),";
        fs::path script = dir / "mkzip.py", zip = dir / name;
        WriteText(script, "import sys, zipfile\n"
                          "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
                          "    for name, size, deflate in [" +
                              list +
                              "]:\n"
                              "        info = zipfile.ZipInfo(name, (2021, 3, 4, 5, 6, 8))\n"
                              "        info.compress_type = zipfile.ZIP_DEFLATED if deflate "
                              "else zipfile.ZIP_STORED\n"
                              "        z.writestr(info, bytes((i * 7 + i // 251) % 251 "
                              "for i in range(size)))\n"
                              "    z.comment = " +
                              commentLiteral + "\n");
        Outcome o = Run(Quote(MORVIK_PYTHON) + " " + Quote(script) + " " + Quote(zip));
        EXPECT_EQ(o.status, 0) << o.err;
        return zip;
    }

    fs::path StubFile(const Bytes &stub, const std::string &name = "stub.bin") {
        WriteAll(dir / name, stub);
        return dir / name;
    }

    fs::path dir;
};

// Offsets of the members' local headers and of their data, from the central
// directory of an archive without a comment.
struct LocalRecord {
    size_t header, data;
};

std::vector<LocalRecord> LocalRecords(const Bytes &zip) {
    size_t end = zip.size() - 22;
    EXPECT_EQ(Get32(zip, end), 0x06054B50u);
    std::vector<LocalRecord> records;
    size_t at = Get32(zip, end + 16);
    for (unsigned i = 0; i < Get16(zip, end + 10); ++i) {
        size_t local = Get32(zip, at + 42);
        records.push_back({local, local + 30 + Get16(zip, local + 26) + Get16(zip, local + 28)});
        at += 46 + Get16(zip, at + 28) + Get16(zip, at + 30) + Get16(zip, at + 32);
    }
    return records;
}

// ---- the message table --------------------------------------------------------

Bytes Inflate(const uint8_t *data, uint32_t size, size_t room) {
    Bytes out(room + 1);
    z_stream z{};
    EXPECT_EQ(inflateInit2(&z, -15), Z_OK);
    z.next_in = const_cast<Bytef *>(data);
    z.avail_in = size;
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
    EXPECT_EQ(z.avail_in, 0u);
    out.resize(z.total_out);
    inflateEnd(&z);
    return out;
}

std::string Text(const Bytes &table, int id) {
    return std::string(reinterpret_cast<const char *>(table.data() + MessageOffsets[id]));
}

TEST(GeneratedTableTest, InflatesToTheTextsAndTheirOffsets) {
    Bytes table = Inflate(CompressedMessageTable, CompressedMessageTableSize, 5568);
    ASSERT_EQ(table.size(), InflatedMessageTableSize);
    const uint32_t textLength = MessageOffsets[51];
    // The texts, the 642-byte MainDialog template and 8 zero bytes.
    EXPECT_EQ(table.size(), textLength + 642u + 8u);
    EXPECT_LE(table.size(), 5566u);
    EXPECT_LE(textLength + 1024u, 5568u);

    EXPECT_EQ(MessageOffsets[0], 0u);
    for (int id = 0; id < 51; ++id) {
        SCOPED_TRACE("message " + std::to_string(id));
        ASSERT_LT(MessageOffsets[id], MessageOffsets[id + 1]);
        // Each text ends with one NUL just before the next offset.
        EXPECT_EQ(Text(table, id).size() + 1, MessageOffsets[id + 1] - MessageOffsets[id]);
    }

    EXPECT_EQ(Text(table, 0),
              "This is an incomplete self-extractor;\nplease re-create the file and try again.");
    EXPECT_EQ(Text(table, 15), "File %s already exists.  Overwrite file?");
    EXPECT_EQ(Text(table, 24), "When &done unzipping open: ");
    EXPECT_EQ(Text(table, 29), "ZIP damaged: file %s: Bad CRC %08lx (should be %08lx).  "
                               "Possible cause: file transfer error.");
    EXPECT_EQ(Text(table, 38),
              "Zip file is damaged, truncated, or has been changed since it was created.   "
              "If you downloaded this file, try downloading again.");
    EXPECT_EQ(Text(table, 14), "Error changing to \"Unzip To\" folder");
    EXPECT_EQ(Text(table, 26).rfind("Morvik not found on your system.\n\n", 0), 0u);
    EXPECT_NE(Text(table, 26).find("www.morvik.example"), std::string::npos);
    EXPECT_NE(Text(table, 42).find("Morvik Self-Extractor"), std::string::npos);
    EXPECT_EQ(Text(table, 43), Text(table, 42));
}

// Reads one in-memory dialog template (DLGTEMPLATE with DS_SETFONT).
struct Control {
    uint32_t style;
    int16_t x, y, cx, cy;
    uint16_t id;
    std::string className; // "#128" etc. for an ordinal
    std::string text;
};

struct Dialog {
    uint32_t style, exStyle;
    int16_t x, y, cx, cy;
    std::string caption, face;
    uint16_t points;
    std::vector<Control> controls;
    size_t size; // bytes up to the end of the last control
};

std::string Utf16(const Bytes &b, size_t &at) {
    std::string s;
    for (uint16_t c; (c = Get16(b, at)) != 0; at += 2) {
        EXPECT_LT(c, 0x80);
        s += char(c);
    }
    at += 2;
    return s;
}

std::string ClassOrText(const Bytes &b, size_t &at) {
    if (Get16(b, at) == 0xFFFF) {
        at += 4;
        return "#" + std::to_string(Get16(b, at - 2));
    }
    return Utf16(b, at);
}

Dialog ParseDialog(const Bytes &b) {
    Dialog d;
    d.style = Get32(b, 0);
    d.exStyle = Get32(b, 4);
    uint16_t count = Get16(b, 8);
    d.x = int16_t(Get16(b, 10));
    d.y = int16_t(Get16(b, 12));
    d.cx = int16_t(Get16(b, 14));
    d.cy = int16_t(Get16(b, 16));
    EXPECT_EQ(Get16(b, 18), 0) << "menu";
    EXPECT_EQ(Get16(b, 20), 0) << "class";
    size_t at = 22;
    d.caption = Utf16(b, at);
    d.points = Get16(b, at);
    at += 2;
    d.face = Utf16(b, at);
    for (unsigned i = 0; i < count; ++i) {
        at = (at + 3) & ~size_t(3);
        Control c;
        c.style = Get32(b, at);
        EXPECT_EQ(Get32(b, at + 4), 0u) << "extended style";
        c.x = int16_t(Get16(b, at + 8));
        c.y = int16_t(Get16(b, at + 10));
        c.cx = int16_t(Get16(b, at + 12));
        c.cy = int16_t(Get16(b, at + 14));
        c.id = Get16(b, at + 16);
        at += 18;
        c.className = ClassOrText(b, at);
        c.text = ClassOrText(b, at);
        EXPECT_EQ(Get16(b, at), 0) << "creation data";
        at += 2;
        d.controls.push_back(c);
    }
    d.size = at;
    return d;
}

// Styles, as the Windows headers define them.
enum : uint32_t {
    WS_CHILD_VISIBLE = 0x50000000,
    WS_BORDER = 0x00800000,
    WS_GROUP = 0x00020000,
    WS_TABSTOP = 0x00010000,
    SS_CENTER = 0x1,
    SS_NOPREFIX = 0x80,
    ES_PASSWORD = 0x20,
    ES_AUTOHSCROLL = 0x80,
    BS_DEFPUSHBUTTON = 0x1,
    BS_AUTOCHECKBOX = 0x3,
    BUTTON_TAB = WS_CHILD_VISIBLE | WS_TABSTOP,
    STATIC_GROUP = WS_CHILD_VISIBLE | WS_GROUP,
    EDIT_FIELD = WS_CHILD_VISIBLE | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL,
};

void ExpectControls(const Dialog &d, const std::vector<Control> &expected) {
    ASSERT_EQ(d.controls.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const Control &got = d.controls[i], &want = expected[i];
        SCOPED_TRACE("control " + std::to_string(i) + " id " + std::to_string(want.id));
        EXPECT_EQ(got.id, want.id);
        EXPECT_EQ(got.className, want.className);
        EXPECT_EQ(got.text, want.text);
        EXPECT_EQ(got.style, want.style);
        EXPECT_EQ(std::vector<int>({got.x, got.y, got.cx, got.cy}),
                  std::vector<int>({want.x, want.y, want.cx, want.cy}));
    }
}

TEST(GeneratedTableTest, HoldsTheMainDialogTemplateBehindTheTexts) {
    Bytes table = Inflate(CompressedMessageTable, CompressedMessageTableSize, 5568);
    ASSERT_EQ(table.size(), InflatedMessageTableSize);
    Bytes tail = Slice(table, MessageOffsets[51], table.size());
    Dialog d = ParseDialog(tail);
    EXPECT_EQ(d.style, 0x90C800C4u);
    EXPECT_EQ(d.exStyle, 0u);
    EXPECT_EQ(std::vector<int>({d.x, d.y, d.cx, d.cy}), std::vector<int>({94, 23, 230, 114}));
    EXPECT_EQ(d.caption, "");
    EXPECT_EQ(d.points, 8);
    EXPECT_EQ(d.face, "MS Sans Serif");
    const std::string B = "#128", E = "#129", S = "#130";
    ExpectControls(d, {
                          {STATIC_GROUP | SS_NOPREFIX, 6, 6, 162, 24, 101, S, ""},
                          {STATIC_GROUP, 6, 32, 74, 8, 105, S, "Unzip to &folder: "},
                          {EDIT_FIELD, 6, 40, 108, 12, 106, E, ""},
                          {BUTTON_TAB, 118, 39, 50, 14, 115, B, "&Browse..."},
                          {BUTTON_TAB | BS_AUTOCHECKBOX, 6, 56, 161, 10, 102, B,
                           "&Overwrite files without prompting"},
                          {BUTTON_TAB | BS_AUTOCHECKBOX, 6, 70, 166, 10, 111, B, ""},
                          {BUTTON_TAB | BS_DEFPUSHBUTTON, 174, 6, 50, 14, 1, B, "&Unzip"},
                          {BUTTON_TAB, 174, 24, 50, 14, 113, B, "Run &Morvik"},
                          {BUTTON_TAB, 174, 42, 50, 14, 2, B, "&Close"},
                          {BUTTON_TAB, 174, 78, 50, 14, 104, B, "&Help"},
                          {BUTTON_TAB, 174, 60, 50, 14, 112, B, "&About"},
                          {STATIC_GROUP | SS_NOPREFIX, 17, 82, 153, 8, 103, S, ""},
                          {STATIC_GROUP | SS_CENTER | SS_NOPREFIX, 0, 101, 230, 8, 109, S, ""},
                          {WS_CHILD_VISIBLE | WS_BORDER, 6, 98, 218, 12, 201, "meter", ""},
                      });
    EXPECT_EQ(d.size, 642u);
    EXPECT_EQ(Slice(tail, 642, tail.size()), Bytes(8, 0));
}

TEST(GeneratedTableTest, PasswordDialogIsASeparateStream) {
    Bytes block = Inflate(CompressedPasswordDialog, CompressedPasswordDialogSize, 600);
    ASSERT_EQ(block.size(), InflatedPasswordDialogSize);
    EXPECT_LE(block.size(), 600u);
    Dialog d = ParseDialog(block);
    EXPECT_EQ(d.style, 0x90C800C4u);
    EXPECT_EQ(std::vector<int>({d.x, d.y, d.cx, d.cy}), std::vector<int>({71, 71, 186, 76}));
    EXPECT_EQ(d.caption, "Morvik Self-Extractor - Password");
    EXPECT_EQ(d.points, 8);
    EXPECT_EQ(d.face, "MS Sans Serif");
    ExpectControls(d, {
                          {STATIC_GROUP, 6, 6, 174, 24, 401, "#130",
                           "This self-extracting Zip file is password protected.\n\nPlease type "
                           "the &password:"},
                          {EDIT_FIELD | ES_PASSWORD, 6, 38, 174, 12, 402, "#129", ""},
                          {BUTTON_TAB | BS_DEFPUSHBUTTON, 35, 56, 50, 14, 1, "#128", "OK"},
                          {BUTTON_TAB, 101, 56, 50, 14, 2, "#128", "Cancel"},
                      });
    EXPECT_EQ(d.size + 8, block.size());
    EXPECT_EQ(block.size(), 414u);
}

TEST(GeneratedTableTest, StoredArraysHoldNoZipSignature) {
    const std::vector<Bytes> signatures = {{'P', 'K', 3, 4},
                                           {'P', 'K', 1, 2},
                                           {'P', 'K', 5, 6},
                                           {'P', 'K', 7, 8},
                                           {'P', 'K', '0', '0'}};
    const Bytes table(CompressedMessageTable, CompressedMessageTable + CompressedMessageTableSize);
    const Bytes password(CompressedPasswordDialog,
                         CompressedPasswordDialog + CompressedPasswordDialogSize);
    for (const Bytes &sig : signatures) {
        EXPECT_EQ(Find(table, sig), std::string::npos);
        EXPECT_EQ(Find(password, sig), std::string::npos);
    }
}

// ---- the generator ----------------------------------------------------------

class GenMessagesTest : public ScratchDirTest {
  protected:
    Outcome Generate(const fs::path &messages, const fs::path &mainDialog,
                     const fs::path &passwordDialog, const fs::path &out) {
        return Run(Quote(MORVIK_PYTHON) + " " + Quote(MORVIK_GEN_MESSAGES) + " --messages " +
                   Quote(messages) + " --main-dialog " + Quote(mainDialog) + " --password-dialog " +
                   Quote(passwordDialog) + " --out " + Quote(out));
    }
    const fs::path data = MORVIK_DATA_DIR;
};

TEST_F(GenMessagesTest, OutputIsTheSameOnEveryRun) {
    const fs::path first = dir / "first.cpp", second = dir / "second.cpp";
    for (const fs::path &out : {first, second}) {
        Outcome o = Generate(data / "messages.txt", data / "main_dialog.dlg",
                             data / "password_dialog.dlg", out);
        ASSERT_EQ(o.status, 0) << o.err;
    }
    const Bytes generated = ReadAll(first);
    EXPECT_FALSE(generated.empty());
    EXPECT_EQ(generated, ReadAll(second));
    // The same bytes as the source that this program (and the stub) linked.
    EXPECT_EQ(generated, ReadAll(MORVIK_MESSAGE_DATA));
}

TEST_F(GenMessagesTest, RefusesBadSources) {
    const std::string messages = ReadText(data / "messages.txt");
    const std::string password = ReadText(data / "password_dialog.dlg");
    auto replace = [](std::string text, const std::string &from, const std::string &to) {
        size_t at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return at == std::string::npos ? text : text.replace(at, from.size(), to);
    };
    struct Case {
        const char *what;
        std::string messages, password;
        const char *error;
    };
    const std::vector<Case> cases = {
        {"missing id", replace(messages, "\n17 = \"\"", "\n"), password,
         "missing message id(s): 17"},
        {"duplicate id", messages + "5 = \"again\"\n", password, "duplicate message id 5"},
        {"no equals sign", replace(messages, "12 = \"Unzip", "12 \"Unzip"), password,
         "malformed line"},
        {"unknown escape", replace(messages, "Unzip Aborted", "Unzip\\tAborted"), password,
         "unknown escape"},
        {"unterminated text", replace(messages, "\"Unzip Aborted\"", "\"Unzip Aborted"), password,
         "unterminated string"},
        {"id out of range", messages + "51 = \"x\"\n", password, "out of range"},
        {"table too long", replace(messages, "Unzip Aborted", std::string(4600, 'x')), password,
         "fit before the guard bytes"},
        {"no room for the template copy",
         replace(messages, "Unzip Aborted", std::string(2300, 'x')), password,
         "start-up copies 1024"},
        {"unknown style", messages, replace(password, "BS_DEFPUSHBUTTON", "BS_DEFAULTBUTTON"),
         "unknown style 'BS_DEFAULTBUTTON'"},
        {"password dialog too big", messages,
         replace(password, "\"Cancel\"", "\"" + std::string(200, 'C') + "\""), "at most 600 fit"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        WriteText(dir / "messages.txt", c.messages);
        WriteText(dir / "password.dlg", c.password);
        const fs::path out = dir / "out.cpp";
        Outcome o =
            Generate(dir / "messages.txt", data / "main_dialog.dlg", dir / "password.dlg", out);
        EXPECT_EQ(o.status, 1);
        EXPECT_NE(o.err.find(c.error), std::string::npos) << o.err;
        EXPECT_FALSE(fs::exists(out));
    }
}

// ---- morvik-pack: header, trailer and archive ------------------------------

class MorvikPackTest : public ScratchDirTest {};

constexpr size_t kStubSize = 700;
constexpr size_t kHeaderAt = 256;

TEST_F(MorvikPackTest, FillsTheHeaderAndAppendsTrailerAndArchive) {
    const Bytes stub = FakeStub(kStubSize, kHeaderAt);
    const fs::path zipPath = PythonZip("in.zip", {{"docs/", 0, false},
                                                  {"docs/readme.txt", 5000, true},
                                                  {"data.bin", 1234, false},
                                                  {"empty.txt", 0, false}});
    const Bytes zip = ReadAll(zipPath);
    const fs::path out = dir / "setup.exe";
    Outcome o = Pack({"--stub", StubFile(stub), "--zip", zipPath, "--out", out, "--overwrite",
                      "--auto", "--folder=C:\\Program Files\\Demo", "--startup-message",
                      "Install the demo?", "--title=Demo Setup", "--info=-win32 -le"});
    ASSERT_EQ(o.status, 0) << o.err;
    const Bytes package = ReadAll(out);
    EXPECT_TRUE((fs::status(out).permissions() & fs::perms::owner_exec) != fs::perms::none);

    const std::string trailerText = std::string("C:\\Program Files\\Demo") + '\0' + '\0' +
                                    "Install the demo?" + '\0' + "Demo Setup" + '\0' +
                                    "-win32 -le" + '\0';
    const Bytes trailer(trailerText.begin(), trailerText.end());
    const size_t archiveOffset = kStubSize + trailer.size();
    ASSERT_EQ(package.size(), archiveOffset + zip.size());

    const SfxHeader h = HeaderAt(package, kHeaderAt);
    EXPECT_EQ(h.stubCrc, 0u);
    EXPECT_EQ(h.trailerOffset, kStubSize);
    EXPECT_EQ(h.archiveOffset, archiveOffset);
    EXPECT_EQ(h.endRecordOffset, archiveOffset + zip.size() - 22);
    EXPECT_EQ(Get32(package, h.endRecordOffset), 0x06054B50u);
    EXPECT_EQ(h.totalSize, 5000u + 1234u);
    EXPECT_EQ(h.options, uint32_t(OPT_OVERWRITE | OPT_AUTO));
    EXPECT_EQ(h.completeMarker, 0xFFFF);
    EXPECT_EQ(Bytes(h.reserved1, h.reserved1 + sizeof h.reserved1), Bytes(10, 0));
    EXPECT_EQ(h.reserved2, 7u) << "a field the builder does not own stays as in the stub";

    // Outside the header the stub image is copied unchanged; then the
    // trailer, then the archive byte for byte.
    Bytes image = Slice(package, 0, kStubSize);
    std::copy(stub.begin() + kHeaderAt, stub.begin() + kHeaderAt + sizeof(SfxHeader),
              image.begin() + kHeaderAt);
    EXPECT_EQ(image, stub);
    EXPECT_EQ(Slice(package, kStubSize, archiveOffset), trailer);
    EXPECT_EQ(Slice(package, archiveOffset, package.size()), zip);

    // A ZIP reader still finds every member behind the stub.
    Outcome check = Run(Quote(MORVIK_PYTHON) +
                        " -c 'import sys, zipfile; z = zipfile.ZipFile(sys.argv[1]); "
                        "assert z.testzip() is None; print(len(z.namelist()))' " +
                        Quote(out));
    EXPECT_EQ(check.status, 0) << check.err;
    EXPECT_EQ(check.out, "4\n");
}

TEST_F(MorvikPackTest, NonAsciiTrailerStringsAreUtf8BehindTheMark) {
    const fs::path stub = StubFile(FakeStub(kStubSize, kHeaderAt));
    const fs::path zip = PythonZip("in.zip", {{"a.txt", 100, true}});
    const fs::path out = dir / "setup.exe";
    const std::string mark = "\xEF\xBB\xBF";
    struct Case {
        const char *what;
        std::vector<std::string> args;
        std::string trailer; // the five strings with their terminators
    } cases[] = {
        {"UTF-8 text behind the mark, ASCII as it is",
         {"--folder=C:\\Документы", "--title=Demo", "--info=表だよ 😀"},
         mark + "C:\\Документы" + '\0' + '\0' + '\0' + "Demo" + '\0' + mark + "表だよ 😀" + '\0'},
        {"the mark counts toward the limit",
         {"--title=" + std::string(59, 't') + "é"},
         std::string("\0\0\0", 3) + mark + std::string(59, 't') + "é" + '\0' + '\0'},
        {"as given: the bytes, whatever they are",
         {"--trailer-text=as-given", "--info=Caf\xe9", "--title=表"},
         std::string("\0\0\0", 3) + "表" + '\0' + "Caf\xe9" + '\0'},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> args = {"--stub", stub, "--zip", zip, "--out", out};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Outcome o = Pack(args);
        ASSERT_EQ(o.status, 0) << o.err;
        const Bytes package = ReadAll(out);
        EXPECT_EQ(Slice(package, kStubSize, kStubSize + c.trailer.size()),
                  Bytes(c.trailer.begin(), c.trailer.end()));
        EXPECT_EQ(HeaderAt(package, kHeaderAt).archiveOffset, kStubSize + c.trailer.size());
    }
    struct Refusal {
        std::string arg, error;
    } refusals[] = {
        {"--info=Caf\xe9", "--info is not UTF-8 text"},
        {"--title=" + std::string(60, 't') + "é", "--title is 65 characters long; at most 64"},
        {"--trailer-text=latin1", "--trailer-text is utf8 or as-given"},
    };
    for (const Refusal &r : refusals) {
        SCOPED_TRACE(r.arg);
        fs::remove(out);
        Outcome o = Pack({"--stub", stub, "--zip", zip, "--out", out, r.arg});
        EXPECT_NE(o.status, 0);
        EXPECT_NE(o.err.find(r.error), std::string::npos) << o.err;
        EXPECT_FALSE(fs::exists(out));
    }
}

TEST_F(MorvikPackTest, EachOptionFlagSetsItsBit) {
    const fs::path stub = StubFile(FakeStub(kStubSize, kHeaderAt));
    const fs::path zip = PythonZip("in.zip", {{"a.txt", 100, true}});
    struct Case {
        std::vector<std::string> args;
        uint32_t options;
    };
    const std::vector<Case> cases = {
        {{"--overwrite"}, OPT_OVERWRITE},
        {{"--custom-title"}, OPT_CUSTOM_TITLE},
        {{"--encrypted"}, OPT_ENCRYPTED},
        {{"--auto"}, OPT_AUTO},
        {{"--crc-skip-headers"}, OPT_CRC_SKIP_HEADERS},
        {{"--spanned"}, OPT_SPANNED},
        {{"--spanned", "--exe-volumes"}, OPT_SPANNED | OPT_EXE_VOLUMES},
        {{"--exe-volumes"}, OPT_EXE_VOLUMES},
        {{"--install-verb"}, OPT_INSTALL_VERB},
        {{"--title-caption"}, OPT_TITLE_CAPTION},
        {{"--startup-query"}, OPT_STARTUP_QUERY},
        {{"--startup-okcancel"}, OPT_STARTUP_OKCANCEL},
        {{"--options=102A"}, 0x102A},
        {{"--options", "0x28", "--encrypted", "--auto"}, 0x328},
        {{}, 0},
    };
    for (const Case &c : cases) {
        std::string what;
        for (const std::string &a : c.args)
            what += a + " ";
        SCOPED_TRACE(what);
        fs::remove_all(dir / "out");
        fs::create_directory(dir / "out");
        std::vector<std::string> args = {"--stub", stub,    "--zip",
                                         zip,      "--out", dir / "out/pkg.EXE"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Outcome o = Pack(args);
        ASSERT_EQ(o.status, 0) << o.err;
        const fs::path package =
            (c.options & OPT_SPANNED) ? dir / "out/disk1/pkg.EXE" : dir / "out/pkg.EXE";
        EXPECT_EQ(HeaderAt(ReadAll(package), kHeaderAt).options, c.options);
    }
}

TEST_F(MorvikPackTest, NoTrailerAndIncompletePackage) {
    const Bytes stub = FakeStub(kStubSize, kHeaderAt);
    const fs::path zipPath = PythonZip("in.zip", {{"a.txt", 300, true}});
    const Bytes zip = ReadAll(zipPath);
    Outcome o = Pack({"--stub", StubFile(stub), "--zip", zipPath, "--out", dir / "p.exe",
                      "--no-trailer", "--incomplete"});
    ASSERT_EQ(o.status, 0) << o.err;
    const Bytes package = ReadAll(dir / "p.exe");
    ASSERT_EQ(package.size(), kStubSize + zip.size());
    const SfxHeader h = HeaderAt(package, kHeaderAt);
    EXPECT_EQ(h.trailerOffset, 0u);
    EXPECT_EQ(h.archiveOffset, kStubSize);
    EXPECT_EQ(h.endRecordOffset, kStubSize + zip.size() - 22);
    EXPECT_EQ(h.completeMarker, 0);
    EXPECT_EQ(Slice(package, kStubSize, package.size()), zip);
}

// The stored CRC, recomputed: bytes [start, archiveOffset) of the package with
// the stubCrc field as 0.
void ExpectCrc(const Bytes &package, size_t headerAt, size_t start) {
    const SfxHeader h = HeaderAt(package, headerAt);
    ASSERT_LT(start, h.archiveOffset);
    Bytes image = Slice(package, 0, h.archiveOffset);
    Put32(image, headerAt + offsetof(SfxHeader, stubCrc), 0);
    EXPECT_NE(h.stubCrc, 0u);
    EXPECT_EQ(h.stubCrc, Crc(image, start, image.size()));
    if (start != 0) { // the start matters
        EXPECT_NE(h.stubCrc, Crc(image, 0, image.size()));
    }
}

TEST_F(MorvikPackTest, CrcCoversStubAndTrailerFromTheHeaderEnd) {
    const Bytes mz = {'M', 'Z'};
    // PE32 and PE32+ differ in the optional header's size, which the file
    // header gives at e_lfanew + 20.
    Bytes pe = FakeStub(kStubSize, kHeaderAt, mz);
    Put32(pe, 0x3C, 0x80);
    Put32(pe, 0x80 + 20, 224);
    Bytes pe64 = FakeStub(kStubSize, kHeaderAt, mz);
    Put32(pe64, 0x3C, 0x90);
    Put32(pe64, 0x90 + 20, 240);
    // ELF identification and the program header table fields, 64 and 32 bit.
    Bytes elf64 = FakeStub(kStubSize, kHeaderAt, {0x7F, 'E', 'L', 'F', 2, 1, 1});
    Put32(elf64, 0x20, 64); // e_phoff
    Put32(elf64, 0x24, 0);
    Put32(elf64, 0x36, 56 | 3 << 16); // e_phentsize, e_phnum
    Bytes elf32 = FakeStub(kStubSize, kHeaderAt, {0x7F, 'E', 'L', 'F', 1, 1, 1});
    Put32(elf32, 0x1C, 52);           // e_phoff
    Put32(elf32, 0x2A, 32 | 2 << 16); // e_phentsize, e_phnum
    struct Case {
        const char *what;
        Bytes stub;
        bool skipHeaders;
        size_t start;
    };
    const std::vector<Case> cases = {
        {"plain image", FakeStub(kStubSize, kHeaderAt), false, 0},
        {"PE image", pe, false, 0},
        {"PE32 image, headers skipped", pe, true, 0x80 + 248},
        {"PE32+ image, headers skipped", pe64, true, 0x90 + 264},
        {"ELF64 image, headers skipped", elf64, true, 64 + 3 * 56},
        {"ELF32 image, headers skipped", elf32, true, 52 + 2 * 32},
    };
    const fs::path zip = PythonZip("in.zip", {{"a.txt", 400, true}, {"b.txt", 10, false}});
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> args = {"--stub", StubFile(c.stub), "--zip", zip,
                                         "--out",  dir / "p.exe",    "--crc", "--info=abc"};
        if (c.skipHeaders)
            args.push_back("--crc-skip-headers");
        Outcome o = Pack(args);
        ASSERT_EQ(o.status, 0) << o.err;
        ExpectCrc(ReadAll(dir / "p.exe"), kHeaderAt, c.start);
    }
}

TEST_F(MorvikPackTest, CrcOfARealElfImageStartsBehindItsProgramHeaders) {
    Bytes self = ReadAll("/proc/self/exe");
    ASSERT_GT(self.size(), 64u);
    ASSERT_EQ(Find(self, Signature()), std::string::npos);
    size_t start;
    if (self[EI_CLASS] == ELFCLASS64) {
        Elf64_Ehdr e;
        std::memcpy(&e, self.data(), sizeof e);
        start = e.e_phoff + size_t(e.e_phnum) * e.e_phentsize;
    } else {
        Elf32_Ehdr e;
        std::memcpy(&e, self.data(), sizeof e);
        start = e.e_phoff + size_t(e.e_phnum) * e.e_phentsize;
    }
    const size_t headerAt = self.size();
    self = Concat(self, RawHeader());
    const fs::path zip = PythonZip("in.zip", {{"a.txt", 10, false}});
    Outcome o = Pack({"--stub", StubFile(self), "--zip", zip, "--out", dir / "p", "--crc",
                      "--crc-skip-headers"});
    ASSERT_EQ(o.status, 0) << o.err;
    ExpectCrc(ReadAll(dir / "p"), headerAt, start);
}

TEST_F(MorvikPackTest, FindsTheEndRecordBehindAnArchiveComment) {
    const fs::path stub = StubFile(FakeStub(kStubSize, kHeaderAt));
    // Info-ZIP, with a comment added by zip -z.
    fs::create_directories(dir / "tree/sub");
    WriteText(dir / "tree/one.txt", std::string(3000, 'a'));
    WriteText(dir / "tree/sub/two.txt", "two\n");
    Outcome z = Run("cd " + Quote(dir / "tree") + " && " + Quote(MORVIK_INFOZIP) +
                    " -q -X -r ../info.zip . && printf 'made by Info-ZIP' | " +
                    Quote(MORVIK_INFOZIP) + " -q -z ../info.zip");
    ASSERT_EQ(z.status, 0) << z.err;
    const size_t infoComment = std::strlen("made by Info-ZIP");
    // Python's zipfile, with a comment that holds a bogus end record whose
    // comment length does not reach the end of the file.
    const std::string bogus = "b'notes PK\\x05\\x06' + bytes(18) + b' more notes'";
    const size_t pythonComment = 6 + 4 + 18 + 11;
    PythonZip("python.zip", {{"x.bin", 700, false}}, bogus);
    struct Case {
        const char *zip;
        size_t comment;
        uint32_t totalSize;
    };
    for (const Case &c :
         {Case{"info.zip", infoComment, 3004}, Case{"python.zip", pythonComment, 700}}) {
        SCOPED_TRACE(c.zip);
        const Bytes zip = ReadAll(dir / c.zip);
        Outcome o = Pack({"--stub", stub, "--zip", dir / c.zip, "--out", dir / "p.exe"});
        ASSERT_EQ(o.status, 0) << o.err;
        const Bytes package = ReadAll(dir / "p.exe");
        const SfxHeader h = HeaderAt(package, kHeaderAt);
        EXPECT_EQ(h.endRecordOffset, h.archiveOffset + zip.size() - 22 - c.comment);
        EXPECT_EQ(Get32(package, h.endRecordOffset), 0x06054B50u);
        EXPECT_EQ(h.totalSize, c.totalSize);
    }
}

// ---- morvik-pack: spanned sets -------------------------------------------------

std::string Label(unsigned disk) {
    char text[16];
    std::snprintf(text, sizeof text, "PKBACK# %03u", disk);
    return text;
}

TEST_F(MorvikPackTest, SpannedSetPutsZipVolumesAndLabelsIntoDiskFolders) {
    const Bytes stub = FakeStub(kStubSize, kHeaderAt);
    const fs::path zipPath = PythonZip(
        "in.zip", {{"one.bin", 3000, false}, {"two.bin", 3000, false}, {"six.bin", 3000, false}});
    const Bytes zip = ReadAll(zipPath);
    // Split points 2000, 5000 and 8000 lie inside the three members' data.
    Outcome o = Pack({"--stub", StubFile(stub), "--zip", zipPath, "--out", dir / "set/Setup.exe",
                      "--spanned", "--volume-sizes=2000,3000", "--folder=."});
    ASSERT_EQ(o.status, 0) << o.err;
    const std::vector<size_t> sizes = {2000, 3000, 3000, zip.size() - 8000};
    ASSERT_LT(8000u, zip.size());

    // Disk 1 holds the package (stub and trailer only) and the first volume.
    const Bytes package = ReadAll(dir / "set/disk1/Setup.EXE");
    const SfxHeader h = HeaderAt(package, kHeaderAt);
    EXPECT_EQ(h.options, uint32_t(OPT_SPANNED));
    EXPECT_EQ(h.trailerOffset, kStubSize);
    EXPECT_EQ(h.archiveOffset, package.size());
    EXPECT_EQ(h.archiveOffset, kStubSize + 6u);
    EXPECT_EQ(h.endRecordOffset, h.archiveOffset + zip.size() - 22);
    EXPECT_EQ(h.totalSize, 9000u);
    EXPECT_FALSE(fs::exists(dir / "set/Setup.exe"));

    Bytes joined;
    for (unsigned disk = 1; disk <= sizes.size(); ++disk) {
        SCOPED_TRACE("disk " + std::to_string(disk));
        const fs::path folder = dir / "set" / ("disk" + std::to_string(disk));
        const Bytes volume = ReadAll(folder / "Setup.ZIP");
        EXPECT_EQ(volume.size(), sizes[disk - 1]);
        joined = Concat(joined, volume);
        EXPECT_EQ(ReadText(folder / ".windows-label"), Label(disk));
        EXPECT_EQ(fs::exists(folder / "Setup.EXE"), disk == 1);
    }
    EXPECT_EQ(joined, zip);
    EXPECT_FALSE(fs::exists(dir / "set/disk5"));
}

TEST_F(MorvikPackTest, ExeVolumeSetStartsTheArchiveInThePackage) {
    const Bytes stub = FakeStub(kStubSize, kHeaderAt);
    // Sizes chosen so that the even split point (half the archive) falls
    // inside the second member's local header.
    const fs::path zipPath =
        PythonZip("in.zip", {{"one.bin", 3000, false}, {"two.bin", 2938, false}});
    const Bytes zip = ReadAll(zipPath);
    const std::vector<LocalRecord> records = LocalRecords(zip);
    ASSERT_EQ(records.size(), 2u);
    const size_t even = zip.size() / 2;
    ASSERT_GT(even, records[1].header);
    ASSERT_LT(even, records[1].data);

    Outcome o = Pack({"--stub", StubFile(stub), "--zip", zipPath, "--out", dir / "set/app",
                      "--spanned", "--exe-volumes", "--disks=2", "--crc"});
    ASSERT_EQ(o.status, 0) << o.err;
    const Bytes first = ReadAll(dir / "set/disk1/app.EXE");
    const Bytes second = ReadAll(dir / "set/disk2/app.EXE");
    const SfxHeader h = HeaderAt(first, kHeaderAt);
    EXPECT_EQ(h.options, uint32_t(OPT_SPANNED | OPT_EXE_VOLUMES));
    EXPECT_EQ(h.archiveOffset, kStubSize + 5u);
    ExpectCrc(first, kHeaderAt, 0);
    // The split moved forward to where the second member's data begins.
    EXPECT_EQ(first.size() - h.archiveOffset, records[1].data);
    EXPECT_EQ(Concat(Slice(first, h.archiveOffset, first.size()), second), zip);
    for (unsigned disk : {1u, 2u}) {
        const fs::path folder = dir / "set" / ("disk" + std::to_string(disk));
        EXPECT_EQ(ReadText(folder / ".windows-label"), Label(disk));
        EXPECT_FALSE(fs::exists(folder / "app.ZIP"));
    }
}

TEST_F(MorvikPackTest, RefusesASplitInsideALocalHeaderUnlessAsked) {
    const fs::path stub = StubFile(FakeStub(kStubSize, kHeaderAt));
    const fs::path zipPath =
        PythonZip("in.zip", {{"one.bin", 3000, false}, {"two.bin", 3000, false}});
    const std::vector<LocalRecord> records = LocalRecords(ReadAll(zipPath));
    const std::string inside = "--volume-sizes=" + std::to_string(records[1].header + 10);
    std::vector<std::string> args = {"--stub",        stub,        "--zip", zipPath, "--out",
                                     dir / "s/x.exe", "--spanned", inside};
    Outcome refused = Pack(args);
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("inside the local header of two.bin"), std::string::npos)
        << refused.err;
    EXPECT_FALSE(fs::exists(dir / "s"));

    args.push_back("--any-split");
    Outcome forced = Pack(args);
    ASSERT_EQ(forced.status, 0) << forced.err;
    EXPECT_EQ(fs::file_size(dir / "s/disk1/x.ZIP"), records[1].header + 10);
}

// ---- morvik-pack: refusals -----------------------------------------------------

TEST_F(MorvikPackTest, ErrorsExitNonZeroAndWriteNothing) {
    Bytes twice = FakeStub(kStubSize, kHeaderAt);
    Bytes h = RawHeader();
    std::copy(h.begin(), h.end(), twice.begin() + 500);
    const fs::path good = StubFile(FakeStub(kStubSize, kHeaderAt), "good.bin");
    Bytes plain(kStubSize);
    for (size_t i = 0; i < plain.size(); ++i)
        plain[i] = uint8_t(i % 251);
    const fs::path none = StubFile(plain, "none.bin");
    const fs::path two = StubFile(twice, "twice.bin");
    const fs::path zip = PythonZip("in.zip", {{"a.txt", 100, true}});
    const fs::path out = dir / "p.exe";
    struct Case {
        std::vector<std::string> args;
        int status;
        const char *error;
    };
    const std::vector<Case> cases = {
        {{"--stub", dir / "missing.bin", "--zip", zip}, 1, "no such file"},
        {{"--stub", good, "--zip", dir / "missing.zip"}, 1, "no such file"},
        {{"--stub", none, "--zip", zip}, 1, "no SfxHeader signature"},
        {{"--stub", two, "--zip", zip}, 1, "occurs 2 times (at offsets 256, 500)"},
        {{"--stub", good, "--zip", good}, 1, "not a ZIP archive"},
        {{"--stub", good, "--zip", zip, "--title=" + std::string(65, 'T')},
         1,
         "--title is 65 characters long; at most 64"},
        {{"--stub", good, "--zip", zip, "--folder=" + std::string(261, 'F')},
         1,
         "--folder is 261 characters long; at most 260"},
        {{"--stub", good, "--zip", zip, "--startup-message=" + std::string(514, 'M')},
         1,
         "at most 513"},
        {{"--stub", good, "--zip", zip, "--info=" + std::string(512, 'I')}, 1, "at most 511"},
        {{"--stub", good, "--zip", zip, "--folder=" + std::string(260, 'F'),
          "--startup-message=" + std::string(513, 'M'), "--info=" + std::string(511, 'I')},
         1,
         "the trailer would be 1289 bytes"},
        {{"--stub", good, "--zip", zip, "--no-trailer", "--title=x"}, 2, "--no-trailer excludes"},
        {{"--stub", good, "--zip", zip, "--spanned", "--volume-sizes=12x"}, 2, "bad number"},
        {{"--stub", good, "--zip", zip, "--volume-sizes=100"}, 2, "need --spanned"},
        {{"--stub", good, "--zip", zip, "--spanned", "--disks=0"}, 2, "--disks must be 1 to 999"},
        {{"--stub", good, "--zip", zip, "--options=12G4"}, 2, "bad number"},
        {{"--stub", good, "--zip", zip, "--colour"}, 2, "unknown option --colour"},
        {{"--stub", good, "--zip", zip, "--crc", "--crc-skip-headers"},
         1,
         "needs a PE (\"MZ\") or ELF image"},
        {{"--zip", zip}, 2, "--stub, --zip and --out are required"},
    };
    for (const Case &c : cases) {
        std::vector<std::string> args = c.args;
        if (c.error != std::string("--stub, --zip and --out are required")) {
            args.push_back("--out");
            args.push_back(out);
        }
        SCOPED_TRACE(c.error);
        Outcome o = Pack(args);
        EXPECT_EQ(o.status, c.status);
        EXPECT_NE(o.err.find(c.error), std::string::npos) << o.err;
        EXPECT_FALSE(fs::exists(out));
    }
}

TEST_F(MorvikPackTest, HelpDescribesEveryOption) {
    Outcome o = Pack({"--help"});
    ASSERT_EQ(o.status, 0) << o.err;
    for (const char *option : {"--stub",
                               "--zip",
                               "--out",
                               "--overwrite",
                               "--custom-title",
                               "--encrypted",
                               "--auto",
                               "--crc-skip-headers",
                               "--spanned",
                               "--exe-volumes",
                               "--install-verb",
                               "--title-caption",
                               "--startup-query",
                               "--startup-okcancel",
                               "--options=HEX",
                               "--folder=",
                               "--startup-message=",
                               "--title=",
                               "--info=",
                               "--no-trailer",
                               "--trailer-text=utf8",
                               "--trailer-text=as-given",
                               "--crc",
                               "--incomplete",
                               "--volume-sizes=",
                               "--disks=",
                               "--any-split",
                               "--dir FOLDER",
                               "--password-file FILE",
                               "--names=auto|utf8|cp437",
                               "--as-is",
                               "--quiet",
                               "OUTDIR/disk1/STEM.EXE",
                               ".windows-label"})
        EXPECT_NE(o.out.find(option), std::string::npos) << option;
}

} // namespace
