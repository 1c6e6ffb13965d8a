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
#include <utility>
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

// A file system that refuses the rename relative to the folder's handle, so
// the file is moved by path, and a virus scanner that holds the file from the
// moment the program closes it (a duplicate of the program's unshared handle)
// until the pause the row names, then may open it again, sharing delete.
struct ScannerCase {
    const char* name;
    const char* stamp;  // the next one is 1704067200456
    int unsharedUntil;  // 0: no scanner; 99: it never lets go
    int sharedUntil;    // 0: no second open
    const wchar_t* saved;
    std::size_t filesLeft;
};
bool g_scannerOpens = false;
UniqueHandle g_scanner;

TEST(SaveAudioFile, MoveByPathWaitsForAScannerAndDeletesTheFileOnAFinalFailure) {
    const ScannerCase cases[] = {
        {"NoScannerTakenNameKept", "1704067200123", 0, 0, L"1704067200456.mp3", 2},
        {"LetsGoAtTheFirstPause", "1704067200777", 1, 0, L"1704067200777.mp3", 2},
        {"SharedOpenDelaysTheReopenAfterAClash", "1704067200123", 1, 2, L"1704067200456.mp3", 2},
        {"NeverLetsGoTheFileStays", "1704067200777", 99, 0, nullptr, 2},
        {"NameRefusedFileDeleted", "17040672007?7", 0, 0, nullptr, 1},
    };
    for (const ScannerCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDirectory dir;
        const Bytes earlier = someAudio(600, 1), audio = someAudio(700, 2);
        writeFile(dir.path() + L"\\1704067200123.mp3", earlier);
        g_scannerOpens = c.unsharedUntil > 0;
        const RenameByHandle refused = [](HANDLE file, HANDLE, const std::wstring&) {
            if (g_scannerOpens && !g_scanner)
                ::DuplicateHandle(::GetCurrentProcess(), file, ::GetCurrentProcess(), g_scanner.put(), 0, FALSE,
                                  DUPLICATE_SAME_ACCESS);
            return Rename::Failed;
        };
        UniqueFile shared;
        int pauses = 0;
        DWORD paused = 0;
        const std::wstring saved = saveAudioFileRenamingBy(
            refused, dir.path(), audio, c.stamp, [] { return Text("1704067200456"); }, [&](DWORD milliseconds) {
                paused += milliseconds;
                if (++pauses == c.unsharedUntil) {
                    g_scanner.reset();
                    if (c.sharedUntil > 0)  // qxtXXXX.tmp sorts after the digits
                        shared = UniqueFile(::CreateFileW((dir.path() + L"\\" + dir.files().back()).c_str(),
                                                          GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                                          OPEN_EXISTING, 0, nullptr));
                }
                if (pauses == c.sharedUntil) shared.reset();
            });
        g_scanner.reset();
        EXPECT_EQ(saved, c.saved ? dir.path() + L"\\" + c.saved : std::wstring{});
        EXPECT_EQ(readFile(c.saved ? saved : dir.path() + L"\\1704067200777.mp3"), c.saved ? audio : Bytes{});
        EXPECT_EQ(readFile(dir.path() + L"\\1704067200123.mp3"), earlier);
        EXPECT_EQ(dir.files().size(), c.filesLeft);
        EXPECT_LT(paused, 1000u);  // well under a second, also when the scanner never lets go
    }
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

// The program at a drive's root, started with its current directory in
// another folder of that drive (a shortcut's "Start in"): the file goes to
// the root, and the message names it there. "C:" alone would be that folder.
TEST(SaveAudioFile, AtADriveRootLandsInTheRootWhereverTheCurrentDirectoryIs) {
    ScratchDirectory elsewhere;
    ASSERT_EQ(elsewhere.path().rfind(L"C:\\", 0), 0u);
    wchar_t previous[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(::SetCurrentDirectoryW(elsewhere.path().c_str()));
    const std::wstring expected = L"C:\\1704067200777.mp3";
    ::DeleteFileW(expected.c_str());  // left by an earlier run that crashed
    const Bytes audio = someAudio(600, 4);
    const std::wstring saved = saveAudioFile(directoryOfFile(L"C:\\QXtts.exe"), audio, "1704067200777", kNoOtherStamp);
    ::SetCurrentDirectoryW(previous);
    EXPECT_EQ(saved, expected);
    EXPECT_EQ(readFile(expected), audio);
    EXPECT_TRUE(elsewhere.files().empty());
    ::DeleteFileW(expected.c_str());
}

TEST(PathForCalls, LongFullPathsTakeTheExtendedForm) {
    const std::wstring at260 = L"C:\\" + std::wstring(257, L'a');
    const std::wstring share260 = L"\\\\host\\share\\" + std::wstring(247, L'a');
    const std::pair<std::wstring, std::wstring> cases[] = {
        {at260, L"\\\\?\\" + at260},
        {share260, L"\\\\?\\UNC\\host\\share\\" + std::wstring(247, L'a')},
        {L"\\\\?\\" + at260, L"\\\\?\\" + at260},
    };
    for (const auto& [path, form] : cases) EXPECT_EQ(pathForCalls(path), form) << path.size();
}

// The size of the one qxt*.tmp file in the directory; -1 when there is none.
long long temporaryFileSize(const std::wstring& directory) {
    WIN32_FIND_DATAW data{};
    HANDLE find = ::FindFirstFileW((directory + L"\\qxt*.tmp").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return -1;
    ::FindClose(find);
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

struct KillCase {
    const char* name;
    unsigned long bytes;
    bool inTheWrite;  // else in the rename retry, after the write
};

class ProcessKilledMidSave : public ::testing::TestWithParam<KillCase> {};

// stop_mid_save.exe, built beside this test, saves under a taken stamp and
// waits to be killed when asked for another. Killed in the write itself, the
// file must already carry its deletion mark, which it gets at creation;
// killed in the rename retry, the mark must be back on after the failed rename.
TEST_P(ProcessKilledMidSave, LeavesNoTemporaryFile) {
    const KillCase& c = GetParam();
    ScratchDirectory dir;
    const Bytes earlier = someAudio(600, 1);
    writeFile(dir.path() + L"\\1704067200123.mp3", earlier);
    const std::wstring eventName = L"qx-mid-save-" + std::to_wstring(::GetCurrentProcessId());
    UniqueHandle stopped(::CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));

    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring helper(self);
    helper = helper.substr(0, helper.rfind(L'\\')) + L"\\stop_mid_save.exe";
    std::wstring commandLine =
        L"\"" + helper + L"\" \"" + dir.path() + L"\" " + eventName + L" " + std::to_wstring(c.bytes);
    // Under load the write may be over before this process looks: such a run
    // proves less (its file must go all the same) and is made again.
    bool stoppedWhereMeant = false;
    for (int run = 0; run < (c.inTheWrite ? 10 : 1) && !stoppedWhereMeant; ++run) {
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION child{};
        ASSERT_TRUE(::CreateProcessW(helper.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                     nullptr, &startup, &child));
        UniqueHandle process(child.hProcess), thread(child.hThread);
        if (c.inTheWrite) {
            // Stopped once the first bytes are in (the mark is on by then) and
            // before the last: GetThreadContext returns once the thread stands.
            while (temporaryFileSize(dir.path()) <= 0 && ::WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT) {}
            ::SuspendThread(thread.get());
            CONTEXT context{};
            context.ContextFlags = CONTEXT_CONTROL;
            ::GetThreadContext(thread.get(), &context);
            const long long size = temporaryFileSize(dir.path());
            stoppedWhereMeant = size > 0 && size < static_cast<long long>(c.bytes);
        } else {
            stoppedWhereMeant = ::WaitForSingleObject(stopped.get(), 30000) == WAIT_OBJECT_0;
        }
        ::TerminateProcess(process.get(), 1);
        ::WaitForSingleObject(process.get(), 30000);
        EXPECT_EQ(dir.files(), std::vector<std::wstring>{L"1704067200123.mp3"});
    }
    EXPECT_TRUE(stoppedWhereMeant);
    EXPECT_EQ(readFile(dir.path() + L"\\1704067200123.mp3"), earlier);
}

INSTANTIATE_TEST_SUITE_P(SaveAudioFile, ProcessKilledMidSave,
                         ::testing::Values(KillCase{"InTheWrite", 64ul << 20, true},
                                           KillCase{"InTheRenameRetry", 100000, false}),
                         [](const ::testing::TestParamInfo<KillCase>& info) { return std::string(info.param.name); });

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
