// Start-up's Parts in one process: the command line (program name and the
// AUTO/NOAUTO grammar), the embedded message table, and the self-check of
// the stub image with the fixed executable headers left out (PE and ELF).
#include "extract/extract.h"
#include "posix/host.h"
#include "posix/window_host.h"
#include "startup/message_data.h"
#include "startup/startup.h"
#include "tests/support/support.h"
#include "ui/ui.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string.h>

#include <functional>
#include <string>
#include <vector>

extern const uint8_t *messageTableSource;
extern uint32_t messageTableSourceSize;

// The session fixture of the in-process tests (part_session.cpp).
namespace parttest {
void OpenSession();
void CloseSession();
int Landing(const std::function<void()> &body);
void ResetUi();
} // namespace parttest

namespace {

class StartupParts : public ::testing::Test {
  protected:
    void SetUp() override { parttest::OpenSession(); }
    void TearDown() override { parttest::CloseSession(); }
};

// ---- the command line -----------------------------------------------------------------------

TEST_F(StartupParts, SkipProgramNameLeavesTheTail) {
    struct Row {
        const char *commandLine;
        const char *tail;
    } rows[] = {
        {"", ""},
        {"setup.exe", ""},
        {"setup.exe -auto", "-auto"},
        {"setup.exe  two blanks", " two blanks"},
        {"\"C:\\Pkg Dir\\setup.exe\" -auto \"D:\\Out Dir\"", " -auto \"D:\\Out Dir\""},
        {"\"C:\\Pkg Dir\\setup.exe\"", ""},
        {"\"C:\\Pkg Dir\\setup.exe\"-info", "-info"},
        {"\"C:\\No closing quote -auto", ""},
        {"\"\"-info", "-info"}, // scanning starts at the second character
    };
    for (const Row &row : rows) {
        std::string line = row.commandLine;
        EXPECT_STREQ(SkipProgramName(&line[0]), row.tail) << row.commandLine;
    }
}

TEST_F(StartupParts, ParseCommandLineSetsAutoModeAndFolder) {
    const std::string folder260(260, 'f');
    struct Row {
        std::string tail;
        BOOL autoBefore;
        BOOL autoAfter;
        std::string folderAfter; // the trailer's folder is "C:\Trailer"
        std::string tailAfter;   // the word after the switch is upper-cased in place
    } rows[] = {
        {"", FALSE, FALSE, "C:\\Trailer", ""},
        {"no switch at all", TRUE, TRUE, "C:\\Trailer", "no switch at all"},
        {" -auto \"D:\\Out Dir\"", FALSE, TRUE, "D:\\Out Dir", " -AUTO \"D:\\Out Dir\""},
        {"/AUTO D:\\Out Dir", FALSE, TRUE, "D:\\Out Dir", "/AUTO D:\\Out Dir"},
        {"-AUTO \"D:\\Out", FALSE, TRUE, "D:\\Out", "-AUTO \"D:\\Out"},
        {"-auto \"D:\\A\" more", FALSE, TRUE, "D:\\A", "-AUTO \"D:\\A\" more"},
        {"-auto \"\"", FALSE, TRUE, "", "-AUTO \"\""},
        {"-Auto c:\\lower case", FALSE, TRUE, "c:\\lower case", "-AUTO c:\\lower case"},
        // No blank after the keyword: the folder is upper-cased with it, and
        // clearing bit 0x20 turns ':' into 0x1A (the backslash has it clear).
        {"-AUTOD:\\x", FALSE, TRUE, "D\x1A\\X", "-AUTOD\x1A\\X"},
        {"-AUTOMATIC", FALSE, TRUE, "MATIC", "-AUTOMATIC"},
        {"-auto", FALSE, TRUE, "C:\\Trailer", "-AUTO"},
        {"-auto   ", FALSE, TRUE, "C:\\Trailer", "-AUTO   "},
        {"-NOAUTO D:\\Ignored", TRUE, FALSE, "C:\\Trailer", "-NOAUTO D:\\Ignored"},
        {"/noauto", TRUE, FALSE, "C:\\Trailer", "/NOAUTO"},
        {"-noautomatic", TRUE, FALSE, "C:\\Trailer", "-NOAUTOMATIC"},
        {"-aut", TRUE, TRUE, "C:\\Trailer", "-aut"},
        {"-aut", FALSE, FALSE, "C:\\Trailer", "-aut"},
        {"x-auto D:\\X", FALSE, TRUE, "D:\\X", "x-AUTO D:\\X"},
        // The first "-" is inside file-1: the word examined is "1" (0x31
        // becomes 0x11) and AUTO is never reached.
        {"file-1 -AUTO", FALSE, FALSE, "C:\\Trailer", "file-\x11 -AUTO"},
        {"-info -auto D:\\X", FALSE, FALSE, "C:\\Trailer", "-INFO -auto D:\\X"},
        {"-auto " + folder260, FALSE, TRUE, folder260, "-AUTO " + folder260},
        {"-auto \"" + folder260 + "\" x", FALSE, TRUE, folder260, "-AUTO \"" + folder260 + "\" x"},
        {"-noauto " + folder260 + "ff", TRUE, FALSE, "C:\\Trailer", "-NOAUTO " + folder260 + "ff"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE("tail \"" + row.tail + "\"");
        strcpy(unzipFolder, "C:\\Trailer");
        autoMode = row.autoBefore;
        std::string tail = row.tail;
        EXPECT_EQ(parttest::Landing([&] { ParseCommandLine(&tail[0]); }), 0);
        EXPECT_EQ(autoMode, row.autoAfter);
        EXPECT_EQ(std::string(unzipFolder), row.folderAfter);
        EXPECT_EQ(tail, row.tailAfter);
    }
    EXPECT_TRUE(HostBoxes().empty());
}

TEST_F(StartupParts, ParseCommandLineRefusesAFolderLongerThan260) {
    const std::string folder261(261, 'f');
    const std::string tails[] = {
        "-auto " + folder261,
        "-auto \"" + folder261 + "\"",
        "-auto \"" + folder261,
        "/AUTO " + std::string(200, 'a') + " " + std::string(60, 'b'),
    };
    for (const std::string &original : tails) {
        SCOPED_TRACE(original.substr(0, 12));
        parttest::ResetUi();
        std::string tail = original;
        EXPECT_EQ(parttest::Landing([&] { ParseCommandLine(&tail[0]); }), FATAL_ERROR);
        ASSERT_EQ(HostBoxes().size(), 1u);
        const HostBoxRecord &box = HostBoxes()[0];
        EXPECT_EQ(box.text, "The folder given on the command line is longer than 260 characters.");
        EXPECT_EQ(box.caption, "Morvik Self-Extractor");
        EXPECT_EQ(box.type, (UINT)MB_ICONERROR);
        EXPECT_EQ(box.owner, nullptr) << "no window exists at start-up";
    }
}

// ---- the message table ----------------------------------------------------------------------

TEST_F(StartupParts, MessageTableTextsAndTemplate) {
    // Each text ends at the byte before the next offset. The texts stand
    // where the table has them; where they were put into UTF-8 they have
    // moved, the About text having grown by one byte (its u-umlaut).
    for (int id = 0; id <= 50; ++id) {
        EXPECT_EQ(MessageText(id), (char *)messageTable + messageOffsets[id]);
        EXPECT_EQ(strlen(MessageText(id)) + 1, messageOffsets[id + 1] - messageOffsets[id])
            << "message " << id;
    }
    const uint32_t growth = test::AnsiCodePage() == 65001 ? 2 : 0; // messages 42 and 43
    EXPECT_EQ(messageOffsets[MSG_MAIN_DIALOG], MessageOffsets[MSG_MAIN_DIALOG] + growth);
    EXPECT_NE(strstr(MessageText(MSG_ABOUT),
                     test::InAnsi("Copyright (c) Quillvale Data Works, Zürich.").c_str()),
              nullptr)
        << "the OEM u-umlaut in the ANSI code page";
    EXPECT_STREQ(MessageText(43), MessageText(42));
    EXPECT_NE(strstr(MessageText(42), "Morvik Self-Extractor"), nullptr) << MessageText(42);
    EXPECT_EQ(strncmp(MessageText(26), "Morvik not found on your system.\n\n", 34), 0);

    struct Row {
        int id;
        const char *text;
    } rows[] = {
        {0, "This is an incomplete self-extractor;\nplease re-create the file and try again."},
        {1, "Please insert disk %d in drive %s."},
        {2, "Please insert last disk of set in drive %s."},
        {4, "The disk in the drive appears to be\nmissing or has an incorrect label.\nInsert "
            "disk number %d."},
        {5, "No password specified"},
        {6, "Incorrect password specified"},
        {7, "NOAUTO"},
        {8, "Setup"},
        {9, "AUTO"},
        {10, "Abort unzip operation?"},
        {12, "Unzip Aborted"},
        {13, "Error %d running command %s"},
        {14, "Error changing to \"Unzip To\" folder"},
        {15, "File %s already exists.  Overwrite file?"},
        {16, "No folder specified."},
        {20, "%d file(s) unzipped successfully"},
        {21, "To unzip all files in %s to the specified folder press the Unzip button."},
        {24, "When &done unzipping open: "},
        {27, "Can't create output file: %s"},
        {28, "Unsupported compression method"},
        {29, "ZIP damaged: file %s: Bad CRC %08lx (should be %08lx).  Possible cause: file "
             "transfer error."},
        {30, "Invalid ZIP header.  Possible cause: file transfer error."},
        {31, "Could not create \"%s\" - unzip operation cancelled."},
        {33, "Unzipping %s"},
        {34, "Error writing to %s.  Possible cause: disk full."},
        {35, "Error reading %s.  Possible cause: bad disk or file transfer error."},
        {36, "I/O error on file.  Possible cause: file transfer error."},
        {37, "To unzip all files in %s press the \"Unzip\" button. Files will be unzipped to the "
             "folder specified in the \"Unzip To Folder\" field. This folder will be created if "
             "it does not exist.\n\nYou can also unzip this file with a standard zip utility "
             "like Morvik or PKUNZIP."},
        {38, "Zip file is damaged, truncated, or has been changed since it was created.   If "
             "you downloaded this file, try downloading again."},
        {44, "Drive %s is not a valid drive, unzip operation cancelled."},
        {45, "Cannot use command file %s\nWindows does not have a program associated to run "
             "with it."},
        {47, "Unzip to Folder:"},
        {48, "TEMP"},
        {49, "Zip contains filenames longer than are allowed by\nWindows. Morvik Self-Extractor "
             "cannot process this\nZip file."},
        {50, "this self-extractor file"},
    };
    for (const Row &row : rows)
        EXPECT_STREQ(MessageText(row.id), row.text) << "message " << row.id;

    // Id 51 is the main dialog's template: style, 14 controls, its rectangle.
    const uint8_t *t = (const uint8_t *)MessageText(MSG_MAIN_DIALOG);
    auto Word = [t](size_t at) { return (unsigned)(t[at] | t[at + 1] << 8); };
    EXPECT_EQ(Word(0) | Word(2) << 16, 0x90C800C4u);
    EXPECT_EQ(Word(8), 14u);
    EXPECT_EQ(Word(10), 94u);
    EXPECT_EQ(Word(12), 23u);
    EXPECT_EQ(Word(14), 230u);
    EXPECT_EQ(Word(16), 114u);

    // The guard bytes survived; the 1024 bytes start-up copies from id 51
    // end inside the zero-filled tail of the block.
    EXPECT_EQ(messageTable[MESSAGE_GUARD_OFFSET + growth], 0xDE);
    EXPECT_EQ(messageTable[MESSAGE_GUARD_OFFSET + growth + 1], 0xAD);
    EXPECT_LE(InflatedMessageTableSize, (uint32_t)MESSAGE_GUARD_OFFSET);
    EXPECT_LE(MessageOffsets[MSG_MAIN_DIALOG] + MAIN_DIALOG_COPY, (uint32_t)MESSAGE_GUARD_OFFSET);
    for (uint32_t at = InflatedMessageTableSize + growth; at < MESSAGE_GUARD_OFFSET + growth; ++at)
        ASSERT_EQ(messageTable[at], 0) << "offset " << at;
}

// The byte of the table that the inflated table holds at `at`, at or behind
// the template: where the texts were put into UTF-8, it has moved with the
// template.
uint8_t TableByteBehindTexts(uint32_t at) {
    return (uint8_t)MessageText(MSG_MAIN_DIALOG)[at - MessageOffsets[MSG_MAIN_DIALOG]];
}

std::string RawDeflate(const std::string &data) {
    z_stream z;
    memset(&z, 0, sizeof z);
    EXPECT_EQ(deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string out(deflateBound(&z, (uLong)data.size()), '\0');
    z.next_in = (Bytef *)data.data();
    z.avail_in = (uInt)data.size();
    z.next_out = (Bytef *)&out[0];
    z.avail_out = (uInt)out.size();
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

std::string RawInflate(const uint8_t *data, size_t size, size_t expected) {
    z_stream z;
    memset(&z, 0, sizeof z);
    EXPECT_EQ(inflateInit2(&z, -15), Z_OK);
    std::string out(expected, '\0');
    z.next_in = (Bytef *)data;
    z.avail_in = (uInt)size;
    z.next_out = (Bytef *)&out[0];
    z.avail_out = (uInt)out.size();
    EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
    EXPECT_EQ(z.total_out, expected);
    inflateEnd(&z);
    return out;
}

// `data` as two raw DEFLATE blocks, the first holding its first `split`
// bytes and ending on a byte boundary; or the second block alone.
std::string RawDeflateInTwo(const std::string &data, size_t split, bool secondOnly = false) {
    z_stream z;
    memset(&z, 0, sizeof z);
    EXPECT_EQ(deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string out(compressBound((uLong)data.size()) + 64, '\0');
    z.next_in = (Bytef *)data.data();
    z.avail_in = (uInt)split;
    z.next_out = (Bytef *)&out[0];
    z.avail_out = (uInt)out.size();
    EXPECT_EQ(deflate(&z, Z_FULL_FLUSH), Z_OK);
    size_t first = z.total_out;
    z.avail_in = (uInt)(data.size() - split);
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return secondOnly ? out.substr(first) : out;
}

// How many bytes zlib decodes from `stream` before it ends or breaks.
size_t DecodedLength(const std::string &stream) {
    z_stream z;
    memset(&z, 0, sizeof z);
    EXPECT_EQ(inflateInit2(&z, -15), Z_OK);
    std::string out(65536, '\0');
    z.next_in = (Bytef *)stream.data();
    z.avail_in = (uInt)stream.size();
    z.next_out = (Bytef *)&out[0];
    z.avail_out = (uInt)out.size();
    inflate(&z, Z_SYNC_FLUSH);
    size_t decoded = z.total_out;
    inflateEnd(&z);
    return decoded;
}

// Every text that ends before `decoded` is the real one; every text that
// starts at or after it is empty; the one across it is a beginning of its own.
void ExpectTextsUpTo(const std::string &real, size_t decoded) {
    ASSERT_GT(decoded, 100u);
    ASSERT_LT(decoded, (size_t)MessageOffsets[51]);
    for (int id = 0; id <= 50; ++id) {
        std::string text = real.c_str() + MessageOffsets[id];
        if (MessageOffsets[id + 1] <= decoded)
            EXPECT_EQ(MessageText(id), text) << "message " << id;
        else if (MessageOffsets[id] >= decoded)
            EXPECT_STREQ(MessageText(id), "") << "message " << id;
        else
            EXPECT_EQ(text.compare(0, strlen(MessageText(id)), MessageText(id)), 0)
                << "message " << id;
    }
}

TEST_F(StartupParts, MessageTableFromOtherStreams) {
    const std::string real =
        RawInflate(CompressedMessageTable, CompressedMessageTableSize, InflatedMessageTableSize);
    // A character above 0x7F in a text is converted from OEM (437) to ANSI
    // (1252, or UTF-8); the same byte behind the texts is not.
    std::string marked = real;
    marked[MessageOffsets[MSG_NO_FOLDER]] = (char)0x81; // OEM u-umlaut
    marked[InflatedMessageTableSize - 1] = (char)0x81;

    const std::string full = RawDeflate(std::string(MESSAGE_GUARD_OFFSET, 'x'));
    const std::string oneMore = RawDeflate(std::string(MESSAGE_GUARD_OFFSET + 1, 'x'));
    const std::string far = RawDeflate(std::string(9000, 'x'));
    const std::string marks = RawDeflate(marked);
    const std::string cut((const char *)CompressedMessageTable, CompressedMessageTableSize / 2);
    // The real table in two blocks, the second one's type made the reserved
    // type 3: invalid data halfway through.
    const size_t half = MessageOffsets[25];
    std::string damaged = RawDeflateInTwo(real, half);
    damaged[damaged.size() - RawDeflateInTwo(real, half, true).size()] |= 0x06;
    struct Row {
        const char *what;
        const std::string *stream;
        bool corrupt;
        std::function<void()> check;
    } rows[] = {
        {"up to the byte before the guards", &full, false,
         [] { EXPECT_EQ(messageTable[MESSAGE_GUARD_OFFSET - 1], 'x'); }},
        {"one byte onto the guards", &oneMore, true, nullptr},
        {"far past the block", &far, true, nullptr},
        {"OEM characters in the texts", &marks, false,
         [] {
             EXPECT_EQ(MessageText(MSG_NO_FOLDER), test::InAnsi("üo folder specified."))
                 << "ANSI u-umlaut";
             EXPECT_EQ(TableByteBehindTexts(InflatedMessageTableSize - 1), 0x81) << "not converted";
         }},
        // A stream that stops early is not reported: the texts decoded
        // before the damage stay, those past it are empty.
        {"a stream that stops early keeps the texts before the cut", &cut, false,
         [&] { ExpectTextsUpTo(real, DecodedLength(cut)); }},
        {"invalid data keeps the texts before it", &damaged, false,
         [&] {
             EXPECT_EQ(DecodedLength(damaged), half);
             ExpectTextsUpTo(real, half);
         }},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        parttest::ResetUi();
        FreeGlobalBlock(messageTable);
        messageTable = nullptr;
        messageTableSource = (const uint8_t *)row.stream->data();
        messageTableSourceSize = (uint32_t)row.stream->size();
        int code = parttest::Landing(InflateMessageTable);
        if (row.corrupt) {
            EXPECT_EQ(code, FATAL_ERROR);
            ASSERT_EQ(HostBoxes().size(), 1u);
            EXPECT_EQ(HostBoxes()[0].text, "Morvik Self-Extractor header corrupt.  Possible "
                                           "cause:  bad disk or file transfer error");
            EXPECT_EQ(HostBoxes()[0].type, (UINT)MB_ICONERROR);
            EXPECT_EQ(messageTable, nullptr);
            continue;
        }
        EXPECT_EQ(code, 0);
        EXPECT_TRUE(HostBoxes().empty());
        ASSERT_NE(messageTable, nullptr);
        EXPECT_EQ(TableByteBehindTexts(MESSAGE_GUARD_OFFSET), 0xDE);
        EXPECT_EQ(TableByteBehindTexts(MESSAGE_GUARD_OFFSET + 1), 0xAD);
        row.check();
    }
}

// ---- the self-check with the fixed headers left out -----------------------------------------

struct Image {
    std::string bytes;
    SfxHeader header;
};

// A package of `stub` built with `options`, and its header as the stub reads it.
Image BuildImage(const std::string &stub, const std::vector<std::string> &options) {
    std::string dir = test::TempDir("selfcheck");
    test::WriteFile(dir + "/a.txt", "alpha\n");
    test::MakeArchive("zip -q {zip} a.txt", dir, dir + "/a.zip");
    std::vector<std::string> all = options;
    all.push_back("--info=trailer text");
    test::PackOrFail(dir + "/a.zip", dir + "/package", all, stub);
    Image image;
    image.bytes = test::ReadFile(dir + "/package");
    size_t at = image.bytes.find(std::string("QVD\x01sfx\x02", 8));
    EXPECT_NE(at, std::string::npos);
    memcpy(&image.header, image.bytes.data() + at, sizeof image.header);
    return image;
}

// VerifyStubImage on a copy of the package with the byte at `offset` changed:
// the fatal code, 0 when the image passes.
int VerifyChanged(const Image &image, size_t offset) {
    std::string bytes = image.bytes;
    bytes[offset] ^= 0x5A;
    std::string path = test::TempDir("changed") + "/package";
    test::WriteFile(path, bytes);
    strcpy(packagePath, path.c_str());
    sfxHeader = image.header;
    parttest::ResetUi();
    int code = parttest::Landing([] {
        OpenPackageFile();
        VerifyStubImage(sfxHeader.archiveOffset, sfxHeader.stubCrc, sfxHeader.signature);
    });
    if (session.archiveFile)
        _lclose(session.archiveFile);
    session.archiveFile = 0;
    if (code != 0) {
        EXPECT_EQ(HostBoxes().size(), 1u);
        EXPECT_TRUE(!HostBoxes().empty() && HostBoxes()[0].text == headerCorruptText);
    }
    return code;
}

uint32_t U32(const std::string &b, size_t at) {
    return (uint32_t)(uint8_t)b[at] | (uint32_t)(uint8_t)b[at + 1] << 8 |
           (uint32_t)(uint8_t)b[at + 2] << 16 | (uint32_t)(uint8_t)b[at + 3] << 24;
}

unsigned U16(const std::string &b, size_t at) {
    return (unsigned)((uint8_t)b[at] | (uint8_t)b[at + 1] << 8);
}

struct ChangeRow {
    const char *what;
    size_t offset;
    bool passes;
};

void ExpectChanges(const Image &image, const std::vector<ChangeRow> &rows) {
    ASSERT_NE(image.header.stubCrc, 0u);
    for (const ChangeRow &row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_LT(row.offset, image.header.archiveOffset);
        EXPECT_EQ(VerifyChanged(image, row.offset), row.passes ? 0 : FATAL_ERROR);
    }
}

TEST_F(StartupParts, SelfCheckLeavesOutThePeHeadersOnlyWithTheOption) {
    // Both Windows stubs: the 32-bit image's optional header is 224 bytes,
    // the 64-bit one's 240, and the first section header follows it.
    struct StubRow {
        const char *build;
        uint16_t machine, optionalHeaderSize;
    };
    const StubRow stubs[] = {{"windows", 0x014C, 224}, {"windows64", 0x8664, 240}};
    int tested = 0;
    for (const StubRow &row : stubs) {
        std::string stub = test::SourceDir() + "/build/" + row.build + "/morvik-sfx.exe";
        if (!test::Exists(stub))
            continue;
        SCOPED_TRACE(stub);
        ++tested;
        Image skipping = BuildImage(stub, {"--crc", "--crc-skip-headers"});
        Image whole = BuildImage(stub, {"--crc"});
        const std::string &b = skipping.bytes;
        ASSERT_EQ(b.compare(0, 2, "MZ"), 0);
        size_t pe = U32(b, 0x3C);
        ASSERT_EQ(b.compare(pe, 4, std::string("PE\0\0", 4)), 0);
        ASSERT_EQ(U16(b, pe + 4), row.machine);
        ASSERT_EQ(U16(b, pe + 20), row.optionalHeaderSize);
        size_t sections = pe + 24 + row.optionalHeaderSize;
        size_t trailer = skipping.header.trailerOffset;
        ExpectChanges(skipping, {
                                    {"the DOS header", 0x02, true},
                                    {"the DOS stub", 0x4E, true},
                                    {"the PE file header's time stamp", pe + 8, true},
                                    {"the optional header's last byte", sections - 1, true},
                                    {"the first section header", sections, false},
                                    {"the trailer", trailer, false},
                                });
        ExpectChanges(whole, {
                                 {"the DOS stub counts without the option", 0x4E, false},
                                 {"the PE file header counts without the option", pe + 8, false},
                             });
    }
    if (tested == 0)
        GTEST_SKIP() << "no Windows stub is built (cmake --preset windows / windows64)";
}

TEST_F(StartupParts, SelfCheckLeavesOutTheElfHeadersOnlyWithTheOption) {
    Image skipping = BuildImage(test::StubPath(), {"--crc", "--crc-skip-headers"});
    Image whole = BuildImage(test::StubPath(), {"--crc"});
    const std::string &b = skipping.bytes;
    ASSERT_EQ(b.compare(0, 4, "\177ELF"), 0);
    ASSERT_EQ(b[4], 2) << "a 64-bit image";
    size_t programHeadersEnd = (size_t)U32(b, 32) + U16(b, 54) * U16(b, 56);
    ExpectChanges(skipping,
                  {
                      {"e_shoff in the file header", 0x28, true},
                      {"the last byte of the program headers", programHeadersEnd - 1, true},
                      {"the first byte after them", programHeadersEnd, false},
                      {"the trailer", skipping.header.trailerOffset, false},
                  });
    ExpectChanges(whole, {{"e_shoff counts without the option", 0x28, false}});
}

} // namespace

namespace {

TEST(TextsRecoded, ConvertCutAtCharactersOrKeepTheirBytes) {
    HostReset();
    ASSERT_TRUE(HostSetAnsiCodePage(1252));
    struct Case {
        const char *what;
        UINT from, to;
        std::string text;
        int size;
        std::string result;
        BOOL whole;
    } cases[] = {
        {"866 to UTF-8", 866, CP_UTF8, "\x8f\xe0\xa8", 64, "При", TRUE},
        {"cut before a character that does not fit", 866, CP_UTF8, "\x8f\xe0\xa8", 6, "Пр", FALSE},
        {"UTF-8 to ANSI, '?' for a character 1252 lacks", CP_UTF8, CP_ACP, "café д", 64,
         "caf\xe9 ?", TRUE},
        {"a code page the system lacks keeps the bytes", 12345, CP_UTF8, "\x8f\xe0", 64, "\x8f\xe0",
         TRUE},
        {"nothing", 866, CP_UTF8, "", 8, "", TRUE},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        char target[64];
        BOOL whole = !c.whole;
        int length =
            RecodeText(c.from, c.to, c.text.data(), (int)c.text.size(), target, c.size, &whole);
        EXPECT_EQ(std::string(target), c.result);
        EXPECT_EQ(length, (int)c.result.size());
        EXPECT_EQ(whole, c.whole);
    }
}

// ---- the start-up message's block -------------------------------------------------------------

// When the block for the start-up message cannot be had, the start ends with
// the memory error: the question is never skipped, so a package in auto mode
// cannot unzip without the user's answer.
TEST_F(StartupParts, StartupMessageWithoutItsBlockEndsTheStart) {
    Image image = BuildImage(test::StubPath(),
                             {"--startup-message=Read me first", "--startup-query", "--auto"});
    std::string path = test::TempDir("startupblock") + "/package";
    test::WriteFile(path, image.bytes);
    strcpy(packagePath, path.c_str());
    sfxHeader = image.header;
    for (bool blockMissing : {false, true}) {
        SCOPED_TRACE(blockMissing ? "block missing" : "block there");
        parttest::ResetUi();
        FreeGlobalBlock(startupMessage);
        startupMessage = nullptr;
        int code = parttest::Landing([&] {
            OpenPackageFile();
            if (blockMissing)
                HostFailAllocation(1); // the first allocation from here on
            ReadTrailer();
        });
        HostFailAllocation(0);
        _lclose(session.archiveFile);
        session.archiveFile = 0;
        if (!blockMissing) {
            EXPECT_EQ(code, 0);
            EXPECT_TRUE(HostBoxes().empty());
            ASSERT_NE(startupMessage, nullptr);
            EXPECT_STREQ(startupMessage, "Read me first");
            continue;
        }
        EXPECT_EQ(code, FATAL_ERROR);
        EXPECT_EQ(startupMessage, nullptr);
        ASSERT_EQ(HostBoxes().size(), 1u);
        EXPECT_STREQ(HostBoxes()[0].text.c_str(), notEnoughMemoryText);
        EXPECT_EQ(HostBoxes()[0].type, (UINT)MB_ICONERROR);
    }
    FreeGlobalBlock(startupMessage);
    startupMessage = nullptr;
}

} // namespace
