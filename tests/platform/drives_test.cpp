// Drive letters through a folder of drive links, volume labels and the
// module file name.
#include "host_test_support.h"

#include <limits.h>
#include <string.h>

namespace {

class DrivesTest : public HostTest {
  protected:
    void SetUp() override {
        HostTest::SetUp();
        devices = root / "dosdevices";
        ASSERT_EQ(mkdir(devices.c_str(), 0777), 0);
        SetEnv("MORVIK_DOSDEVICES", devices.c_str());
    }

    // Makes host folder `name` under the temporary root and links drive `letter` to it.
    std::string AddDrive(char letter, const std::string &name) {
        std::string target = root / name;
        mkdir(target.c_str(), 0777);
        std::string link = devices + "/" + letter + ":";
        EXPECT_EQ(symlink(target.c_str(), link.c_str()), 0);
        return target;
    }

    TempFolder root;
    std::string devices;
};

TEST_F(DrivesTest, DrivePathsMapToTheLinkTargets) {
    std::string c = AddDrive('c', "cdrive");
    ASSERT_EQ(mkdir((c + "/Data").c_str(), 0777), 0);

    ASSERT_TRUE(CreateDirectoryA("C:\\Data\\Sub", nullptr));
    EXPECT_TRUE(IsFolder(c + "/Data/Sub"));
    ASSERT_TRUE(CreateDirectoryA("c:/Data/Other", nullptr)) << "lower case, forward slashes";
    EXPECT_TRUE(IsFolder(c + "/Data/Other"));

    HFILE file = _lcreat("C:\\Data\\Sub\\file.txt", 0);
    ASSERT_NE(file, HFILE_ERROR);
    EXPECT_EQ(_lwrite(file, "hello", 5), 5u);
    _lclose(file);
    EXPECT_EQ(ReadTextFile(c + "/Data/Sub/file.txt"), "hello");

    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA("C:\\Data\\Sub\\file.txt", &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    EXPECT_STREQ(data.cFileName, "file.txt");
    FindClose(find);

    EXPECT_EQ(FindFirstFileA("Q:\\Data", &data), INVALID_HANDLE_VALUE) << "no drive Q:";
    EXPECT_FALSE(CreateDirectoryA("Q:\\Data", nullptr));
    EXPECT_EQ(_lcreat("Q:\\x.txt", 0), HFILE_ERROR);
}

TEST_F(DrivesTest, PathTranslationTable) {
    struct Case {
        const char *windows;
        std::string host;
    } cases[] = {
        {"C:\\Data\\a.txt", devices + "/c:/Data/a.txt"},
        {"c:/Data/a.txt", devices + "/c:/Data/a.txt"},
        {"C:", devices + "/c:/"},
        {"C:\\", devices + "/c:/"},
        {"C:rel", devices + "/c:/rel"},
        {"/usr/share", "/usr/share"},
        {"\\tmp\\x", "/tmp/x"},
        {"rel\\dir/x", "rel/dir/x"},
        {"caf\xE9", "caf\xC3\xA9"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(HostPathFromWindows(c.windows), c.host) << c.windows;

    SetEnv("MORVIK_DOSDEVICES", nullptr);
    EXPECT_EQ(HostPathFromWindows("C:\\Data"), "") << "no drive links, no drives";
    EXPECT_EQ(HostPathFromWindows("/usr/share"), "/usr/share");
}

TEST_F(DrivesTest, DriveTypes) {
    AddDrive('a', "floppy");
    AddDrive('b', "floppy2");
    AddDrive('c', "cdrive");
    AddDrive('z', "zdrive");
    struct Case {
        const char *root;
        UINT type;
    } cases[] = {
        {"A:\\", DRIVE_REMOVABLE},   {"a:\\", DRIVE_REMOVABLE}, {"B:\\", DRIVE_REMOVABLE},
        {"C:\\", DRIVE_FIXED},       {"Z:\\", DRIVE_FIXED},     {"C:", DRIVE_FIXED},
        {"D:\\", DRIVE_NO_ROOT_DIR}, {"/:\\", DRIVE_FIXED},     {"1:\\", DRIVE_NO_ROOT_DIR},
        {"\\\\", DRIVE_NO_ROOT_DIR}, {"", DRIVE_NO_ROOT_DIR},
    };
    for (const Case &c : cases)
        EXPECT_EQ(GetDriveTypeA(c.root), c.type) << c.root;

    SetEnv("MORVIK_DOSDEVICES", nullptr);
    EXPECT_EQ(GetDriveTypeA("C:\\"), static_cast<UINT>(DRIVE_NO_ROOT_DIR));
    EXPECT_EQ(GetDriveTypeA("/:\\"), static_cast<UINT>(DRIVE_FIXED));
}

TEST_F(DrivesTest, VolumeLabelIsTheFirstLineOfTheLabelFile) {
    std::string a = AddDrive('a', "disk1");
    WriteTextFile(a + "/.windows-label", "PKBACK# 001\nsecond line\n");
    char label[32];
    memset(label, 'x', sizeof label);
    ASSERT_TRUE(
        GetVolumeInformationA("A:\\", label, sizeof label, nullptr, nullptr, nullptr, nullptr, 0));
    EXPECT_STREQ(label, "PKBACK# 001");

    WriteTextFile(a + "/.windows-label", "PKBACK#.2\r\n");
    ASSERT_TRUE(
        GetVolumeInformationA("a:\\", label, sizeof label, nullptr, nullptr, nullptr, nullptr, 0));
    EXPECT_STREQ(label, "PKBACK#.2") << "the CR of a CRLF line end is dropped";

    WriteTextFile(a + "/.windows-label", "NO NEWLINE");
    ASSERT_TRUE(
        GetVolumeInformationA("A:\\", label, sizeof label, nullptr, nullptr, nullptr, nullptr, 0));
    EXPECT_STREQ(label, "NO NEWLINE");

    char small[5];
    ASSERT_TRUE(
        GetVolumeInformationA("A:\\", small, sizeof small, nullptr, nullptr, nullptr, nullptr, 0));
    EXPECT_STREQ(small, "NO N") << "cut to the buffer";

    unlink((a + "/.windows-label").c_str());
    EXPECT_FALSE(
        GetVolumeInformationA("A:\\", label, sizeof label, nullptr, nullptr, nullptr, nullptr, 0))
        << "no label file: no readable medium";
    EXPECT_FALSE(
        GetVolumeInformationA("D:\\", label, sizeof label, nullptr, nullptr, nullptr, nullptr, 0))
        << "no such drive";
}

TEST_F(DrivesTest, SwappingTheDiskIsRepointingTheLink) {
    std::string one = AddDrive('a', "disk1");
    std::string two = root / "disk2";
    ASSERT_EQ(mkdir(two.c_str(), 0777), 0);
    WriteTextFile(one + "/.windows-label", "PKBACK# 001\n");
    WriteTextFile(two + "/.windows-label", "PKBACK# 002\n");
    WriteTextFile(one + "/SETUP.ZIP", "first");
    WriteTextFile(two + "/SETUP.ZIP", "second");

    char label[32];
    ASSERT_TRUE(GetVolumeInformationA("A:\\", label, 32, nullptr, nullptr, nullptr, nullptr, 0));
    EXPECT_STREQ(label, "PKBACK# 001");

    std::string link = devices + "/a:";
    ASSERT_EQ(unlink(link.c_str()), 0);
    ASSERT_EQ(symlink(two.c_str(), link.c_str()), 0);
    ASSERT_TRUE(GetVolumeInformationA("A:\\", label, 32, nullptr, nullptr, nullptr, nullptr, 0));
    EXPECT_STREQ(label, "PKBACK# 002");
    HFILE file = _lopen("A:\\SETUP.ZIP", OF_READ | OF_SHARE_DENY_WRITE);
    ASSERT_NE(file, HFILE_ERROR);
    char buffer[8] = {};
    EXPECT_EQ(_lread(file, buffer, 6), 6u);
    EXPECT_STREQ(buffer, "second");
    _lclose(file);
}

std::string ThisExecutable() {
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

TEST_F(DrivesTest, ModuleFileNameIsTheExecutableInHostFormWithoutACoveringDrive) {
    std::string exe = ThisExecutable();
    ASSERT_FALSE(exe.empty());
    char buffer[PATH_MAX];
    EXPECT_EQ(GetModuleFileNameA(nullptr, buffer, sizeof buffer), exe.size());
    EXPECT_EQ(std::string(buffer), exe);
    EXPECT_EQ(GetModuleFileNameA(GetModuleHandleA(nullptr), buffer, sizeof buffer), exe.size());

    char small[8];
    EXPECT_EQ(GetModuleFileNameA(nullptr, small, sizeof small), sizeof small)
        << "too small: the size is returned";
    EXPECT_EQ(std::string(small), exe.substr(0, 7)) << "cut and terminated";
}

TEST_F(DrivesTest, ModuleFileNameInDriveFormWhenADriveCoversIt) {
    std::string exe = ThisExecutable();
    ASSERT_FALSE(exe.empty());
    size_t slash = exe.rfind('/');
    std::string exeFolder = exe.substr(0, slash);
    ASSERT_EQ(symlink(exeFolder.c_str(), (devices + "/d:").c_str()), 0);

    char buffer[PATH_MAX];
    GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer), "D:\\" + exe.substr(slash + 1));

    // A drive for "/" covers everything; the deeper link still wins.
    ASSERT_EQ(symlink("/", (devices + "/z:").c_str()), 0);
    GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer), "D:\\" + exe.substr(slash + 1));
    ASSERT_EQ(unlink((devices + "/d:").c_str()), 0);
    GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    std::string zForm = "Z:" + exe;
    for (char &c : zForm)
        if (c == '/')
            c = '\\';
    EXPECT_EQ(std::string(buffer), zForm);
}

TEST_F(DrivesTest, ModulePathHookAndAPackageOnAFloppy) {
    std::string floppy = AddDrive('a', "floppy");
    ASSERT_EQ(mkdir((floppy + "/Sub Dir").c_str(), 0777), 0);
    WriteTextFile(floppy + "/Sub Dir/SETUP.EXE", "MZ");
    HostSetModulePath((floppy + "/Sub Dir/SETUP.EXE").c_str());
    char buffer[MAX_PATH];
    EXPECT_EQ(GetModuleFileNameA(nullptr, buffer, sizeof buffer), 20u);
    EXPECT_STREQ(buffer, "A:\\Sub Dir\\SETUP.EXE");

    HostSetModulePath((root / "elsewhere.exe").c_str());
    GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer), root / "elsewhere.exe");

    HostReset();
    GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer), ThisExecutable());
}

} // namespace
