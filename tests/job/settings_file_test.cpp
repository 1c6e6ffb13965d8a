#include "job/settings_file.h"

#include <string>

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace qx {
namespace {

class SettingsFileTest : public ::testing::Test {
protected:
    void SetUp() override { test::expectCodePageOfThisRun(); }
    std::filesystem::path iniPath() const { return dir_.path() / L"QXtts.ini"; }
    SettingsFile file() const { return SettingsFile(iniPath().wstring()); }

    test::TempDirectory dir_;
};

TEST(SettingsPathBeside, CutsAtTheLastBackslash) {
    struct Case {
        const wchar_t* module;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {L"C:\\Program Files\\Vorin\\QXtts.exe", L"C:\\Program Files\\Vorin\\QXtts.ini"},
        {L"Z:\\work\\copy of app.exe", L"Z:\\work\\QXtts.ini"},
        {L"C:\\app.exe", L"C:\\QXtts.ini"},  // drive root: the directory is just "C:"
        {L"D:\\语音\\工具.exe", L"D:\\语音\\QXtts.ini"},
        {L"QXtts.exe", L"QXtts.ini"},
    };
    for (const Case& c : cases) EXPECT_EQ(settingsPathBeside(c.module), c.expected) << c.module;
}

TEST(SettingsPathBeside, LocateNamesTheFileBesideThisExecutable) {
    wchar_t module[MAX_PATH];
    const DWORD n = ::GetModuleFileNameW(nullptr, module, MAX_PATH);
    ASSERT_GT(n, 0u);
    const std::wstring path = SettingsFile::locate();
    const std::wstring directory(module, std::wstring(module).rfind(L'\\'));
    EXPECT_EQ(path, directory + L"\\QXtts.ini");
}

TEST_F(SettingsFileTest, MissingFileReadsEmpty) {
    EXPECT_EQ(file().readKey("AK"), "");
    EXPECT_EQ(file().readKey("AT"), "");
    EXPECT_FALSE(std::filesystem::exists(iniPath()));
}

TEST_F(SettingsFileTest, ValuesOfAnyLengthReadBackWhole) {
    // Around the first buffer (1024) and its later sizes.
    for (const std::size_t length : {1u, 1022u, 1023u, 1024u, 1025u, 2047u, 2048u, 3000u, 9000u}) {
        std::string value;
        for (std::size_t i = 0; i < length; ++i) value.push_back(static_cast<char>('a' + i % 26));
        file().writeKey("AT", value);
        EXPECT_EQ(file().readKey("AT"), value) << length << " bytes";
    }
}

TEST_F(SettingsFileTest, EmptyWriteKeepsTheKey) {
    file().writeKey("AK", "old");
    file().writeKey("AK", "");
    file().writeKey("SK", "");
    const std::string bytes = test::fileBytes(iniPath());
    EXPECT_NE(bytes.find("AK=\r\n"), std::string::npos) << bytes;
    EXPECT_NE(bytes.find("SK=\r\n"), std::string::npos) << bytes;
    EXPECT_EQ(file().readKey("AK"), "");
}

TEST_F(SettingsFileTest, WritingTheKeysLeavesTheTokenLineAlone) {
    const std::string tokenLine = "AT=qxemu.0123456789abcdef0123456789abcdef01234567.2419200";
    test::writeFileBytes(iniPath(), "[ocr]\r\n" + tokenLine + "\r\n");
    file().writeKey("AK", "");
    file().writeKey("SK", "");
    const std::string bytes = test::fileBytes(iniPath());
    EXPECT_NE(bytes.find("\r\n" + tokenLine + "\r\n"), std::string::npos) << bytes;
    EXPECT_EQ(file().readKey("AT"), tokenLine.substr(3));
}

TEST_F(SettingsFileTest, ChineseValuesAreGbkOnDisk) {
    const std::string gbk = "\xC4\xE3\xBA\xC3" "a" "\x81\x40";  // 你好a and a pair led by 0x81
    file().writeKey("SK", gbk);
    EXPECT_NE(test::fileBytes(iniPath()).find("SK=" + gbk + "\r\n"), std::string::npos);
    EXPECT_EQ(file().readKey("SK"), gbk);
}

TEST_F(SettingsFileTest, GbkValueWrittenElsewhereReadsAsGbk) {
    test::writeFileBytes(iniPath(), "[ocr]\r\nAK=\xD3\xEF\xD2\xF4\r\n");  // 语音
    EXPECT_EQ(file().readKey("AK"), "\xD3\xEF\xD2\xF4");
}

}  // namespace
}  // namespace qx
