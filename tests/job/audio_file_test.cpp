#include "job/audio_file.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "platform/unique.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace qx {
namespace {

// A fresh directory under the temporary directory, removed with its files.
class ScratchDirectory {
public:
    ScratchDirectory() {
        wchar_t base[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, base);
        path_ = std::wstring(base) + L"qx-audio-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                std::to_wstring(counter_++);
        ::CreateDirectoryW(path_.c_str(), nullptr);
    }
    ~ScratchDirectory() {
        for (const std::wstring& name : files()) ::DeleteFileW((path_ + L"\\" + name).c_str());
        ::RemoveDirectoryW(path_.c_str());
    }
    [[nodiscard]] const std::wstring& path() const { return path_; }

    [[nodiscard]] std::vector<std::wstring> files() const {
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW data{};
        HANDLE find = ::FindFirstFileW((path_ + L"\\*").c_str(), &data);
        if (find == INVALID_HANDLE_VALUE) return names;
        do {
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.emplace_back(data.cFileName);
        } while (::FindNextFileW(find, &data));
        ::FindClose(find);
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    static inline int counter_ = 0;
    std::wstring path_;
};

Bytes readFile(const std::wstring& path) {
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeFile(const std::wstring& path, const Bytes& bytes) {
    std::ofstream out(std::filesystem::path(path), std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes someAudio(std::size_t size, std::uint8_t seed) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 7);
    return bytes;
}

const auto kNoOtherStamp = [] { return Text("9999999999999"); };

TEST(SaveAudioFile, WritesEveryByteUnderTheStampAndLeavesNoTemporaryFile) {
    ScratchDirectory dir;
    const Bytes audio = someAudio(200000, 3);
    const std::wstring saved = saveAudioFile(dir.path(), audio, "1704067200123", kNoOtherStamp);
    EXPECT_EQ(saved, dir.path() + L"\\1704067200123.mp3");
    EXPECT_EQ(readFile(saved), audio);
    EXPECT_EQ(dir.files(), std::vector<std::wstring>{L"1704067200123.mp3"});
}

TEST(SaveAudioFile, TakenNameIsNeverReplacedAndANewStampIsMade) {
    ScratchDirectory dir;
    const Bytes earlier = someAudio(600, 1);
    writeFile(dir.path() + L"\\1704067200123.mp3", earlier);

    int stampsMade = 0;
    const Bytes audio = someAudio(700, 2);
    const std::wstring saved = saveAudioFile(dir.path(), audio, "1704067200123", [&] {
        ++stampsMade;
        return Text("1704067200456");
    });
    EXPECT_EQ(stampsMade, 1);
    EXPECT_EQ(saved, dir.path() + L"\\1704067200456.mp3");
    EXPECT_EQ(readFile(saved), audio);
    EXPECT_EQ(readFile(dir.path() + L"\\1704067200123.mp3"), earlier);
}

TEST(SaveAudioFile, GivesUpAfterBoundedAttemptsAndRemovesTheTemporaryFile) {
    ScratchDirectory dir;
    const Bytes earlier = someAudio(600, 1);
    writeFile(dir.path() + L"\\1704067200123.mp3", earlier);

    int stampsMade = 0;
    const std::wstring saved = saveAudioFile(dir.path(), someAudio(600, 9), "1704067200123", [&] {
        ++stampsMade;
        return Text("1704067200123");
    });
    EXPECT_TRUE(saved.empty());
    EXPECT_GT(stampsMade, 0);
    EXPECT_LT(stampsMade, 100);
    EXPECT_EQ(dir.files(), std::vector<std::wstring>{L"1704067200123.mp3"});
    EXPECT_EQ(readFile(dir.path() + L"\\1704067200123.mp3"), earlier);
}

TEST(SaveAudioFile, MissingDirectoryFails) {
    ScratchDirectory dir;
    EXPECT_TRUE(saveAudioFile(dir.path() + L"\\missing", someAudio(600, 1), "1704067200123", kNoOtherStamp).empty());
    EXPECT_TRUE(saveAudioFile(L"", someAudio(600, 1), "1704067200123", kNoOtherStamp).empty());
    EXPECT_TRUE(dir.files().empty());
}

TEST(SaveAudioFile, JobsRacingForOneNameEachKeepTheirOwnCompleteFile) {
    ScratchDirectory dir;
    constexpr int kJobs = 4;
    std::vector<std::wstring> saved(kJobs);
    std::vector<Bytes> audio;
    for (int i = 0; i < kJobs; ++i) audio.push_back(someAudio(50000 + i, static_cast<std::uint8_t>(i)));
    std::atomic<int> next{100};
    std::vector<std::thread> jobs;
    for (int i = 0; i < kJobs; ++i) {
        jobs.emplace_back([&, i] {
            saved[i] = saveAudioFile(dir.path(), audio[i], "1704067200123",
                                     [&] { return Text("1704067200") + std::to_string(next++); });
        });
    }
    for (std::thread& job : jobs) job.join();

    std::vector<std::wstring> names;
    for (int i = 0; i < kJobs; ++i) {
        ASSERT_FALSE(saved[i].empty());
        EXPECT_EQ(readFile(saved[i]), audio[i]);
        names.push_back(saved[i]);
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(std::unique(names.begin(), names.end()), names.end());
    EXPECT_EQ(dir.files().size(), static_cast<std::size_t>(kJobs));
}

TEST(SaveAudioFile, ProcessKilledMidSaveLeavesNoTemporaryFile) {
    ScratchDirectory dir;
    const Bytes earlier = someAudio(600, 1);
    writeFile(dir.path() + L"\\1704067200123.mp3", earlier);
    const std::wstring eventName = L"qx-mid-save-" + std::to_wstring(::GetCurrentProcessId());
    UniqueHandle stopped(::CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));

    // stop_mid_save.exe, built beside this test, stops in the middle of the
    // save and waits to be killed.
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring helper(self);
    helper = helper.substr(0, helper.rfind(L'\\')) + L"\\stop_mid_save.exe";
    std::wstring commandLine = L"\"" + helper + L"\" \"" + dir.path() + L"\" " + eventName;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    ASSERT_TRUE(::CreateProcessW(helper.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                 &startup, &child));
    UniqueHandle process(child.hProcess), thread(child.hThread);
    const bool midSave = ::WaitForSingleObject(stopped.get(), 30000) == WAIT_OBJECT_0;
    ::TerminateProcess(process.get(), 1);
    ::WaitForSingleObject(process.get(), 30000);
    ASSERT_TRUE(midSave);
    EXPECT_EQ(dir.files(), std::vector<std::wstring>{L"1704067200123.mp3"});
    EXPECT_EQ(readFile(dir.path() + L"\\1704067200123.mp3"), earlier);
}

TEST(OutputDirectory, IsTheExecutablesDirectoryWithoutTrailingBackslash) {
    wchar_t module[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, module, MAX_PATH);
    const std::wstring directory = outputDirectory();
    ASSERT_FALSE(directory.empty());
    EXPECT_NE(directory.back(), L'\\');
    EXPECT_EQ(std::wstring(module).rfind(directory + L"\\", 0), 0u);
}

}  // namespace
}  // namespace qx
