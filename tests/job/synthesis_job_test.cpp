// The job's paths against a fake window and a fake service, in process: what
// it reads and when, what it asks the service, when Start comes back, which
// message it shows, and what it leaves behind.
#include "job/synthesis_job.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <new>
#include <string>
#include <vector>

namespace qx {
namespace {

namespace fs = std::filesystem;
using Log = std::vector<std::string>;

constexpr char kStamp[] = "1704067200123";

std::string utf8(const std::wstring& wide) {
    std::string out(wide.size() * 3, '\0');
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(),
                                        static_cast<int>(out.size()), nullptr, nullptr);
    out.resize(static_cast<std::size_t>(std::max(n, 0)));
    return out;
}

std::string fileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Logs every call in order; successive reads of the content box give the
// texts of `contents` in turn, the last one repeating.
class FakeHost final : public JobHost {
public:
    explicit FakeHost(Log& log) : log_(log) {}

    std::vector<Text> contents{"hello"};
    bool ticked = false;
    int speaker = 4;
    bool contentReadFails = false;  // the first read runs out of memory
    bool messagesToStderr = false;
    DWORD messageThread = 0;

    Text text(JobField field) override {
        static const char* const names[] = {"content", "secret", "api", "speed", "pitch", "volume"};
        log_.push_back(names[static_cast<int>(field)]);
        switch (field) {
        case JobField::Content:
            if (contentReadFails) throw std::bad_alloc();
            return contents[std::min(contentReads_++, contents.size() - 1)];
        case JobField::SecretKey: return "sk";
        case JobField::ApiKey: return "ak";
        case JobField::Speed: return "3";
        case JobField::Pitch: return "7";
        case JobField::Volume: return "15";
        }
        return {};
    }
    bool forceTokenTicked() noexcept override {
        log_.push_back("force");
        return ticked;
    }
    int speakerPosition() noexcept override {
        log_.push_back("speaker");
        return speaker;
    }
    std::function<void()> onEnableStart;  // e.g. the next job, started at once
    void enableStart() noexcept override {
        log_.push_back("enable");
        if (onEnableStart) onEnableStart();
    }
    void showMessage(const wchar_t* text, const wchar_t* title) noexcept override {
        log_.push_back("message " + utf8(title) + ": " + utf8(text));
        messageThread = ::GetCurrentThreadId();
        if (messagesToStderr) std::fprintf(stderr, "%s\n", log_.back().c_str());
    }

private:
    Log& log_;
    std::size_t contentReads_ = 0;
};

struct ServiceScript {
    Text tokenReply = R"({"access_token":"fresh-token","expires_in":2592000})";
    Bytes audio = Bytes(600, 0x5A);
    void (*duringSynthesis)() = nullptr;  // e.g. running out of memory
    HANDLE released = nullptr;            // set when the client is destroyed
};

class FakeClient final : public SpeechServiceClient {
public:
    FakeClient(Log& log, ServiceScript& script) : log_(log), script_(script) {}
    ~FakeClient() override {
        if (script_.released) ::SetEvent(script_.released);
    }
    Text requestToken(std::string_view secretKey, std::string_view apiKey) const override {
        log_.push_back("token " + Text(secretKey) + " " + Text(apiKey));
        return script_.tokenReply;
    }
    Bytes synthesize(std::string_view token, std::string_view text, std::string_view speed, std::string_view pitch,
                     std::string_view volume, std::string_view speaker) const override {
        log_.push_back("synthesize " + Text(token) + " " + Text(text) + " " + Text(speed) + " " + Text(pitch) + " " +
                       Text(volume) + " " + Text(speaker));
        if (script_.duringSynthesis) script_.duringSynthesis();
        return script_.audio;
    }

private:
    Log& log_;
    ServiceScript& script_;
};

// A job's whole world: the fakes, the program state, and a fresh directory
// for the settings file and the output.
struct JobWorld {
    JobWorld() {
        wchar_t base[MAX_PATH];
        ::GetTempPathW(MAX_PATH, base);
        static int counter = 0;
        dir_ = fs::path(base) / (L"qx-job-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                 std::to_wstring(++counter));
        fs::create_directories(dir_);
        outputDirectory = dir_.wstring();
        state.speakerNumbers = {"0", "1", "3", "4", "5003"};
        state.setAccessToken("cached-token");
    }
    ~JobWorld() {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    std::unique_ptr<JobContext> context() {
        auto c = std::make_unique<JobContext>(host, state, SettingsFile(ini().wstring()), outputDirectory);
        c->client = std::make_unique<FakeClient>(log, service);
        c->makeStamp = [this] { return makeStamp(); };
        return c;
    }
    void runJob() { SynthesisJob::run(*context()); }

    fs::path ini() const { return dir_ / L"QXtts.ini"; }
    fs::path saved() const { return dir_ / (Text(kStamp) + ".mp3"); }
    std::wstring dir() const { return dir_.wstring(); }
    std::vector<fs::path> files() const {
        std::vector<fs::path> names;
        for (const auto& entry : fs::directory_iterator(dir_)) names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path dir_;
    Log log;
    FakeHost host{log};
    ServiceScript service;
    ProgramState state;
    std::wstring outputDirectory;
    std::function<Text()> makeStamp = [] { return Text(kStamp); };
};

// What one job reads, asks and shows, in order, on each of its paths; the
// order of "enable" and "message" is when Start comes back.
struct PathCase {
    const char* name;
    void (*arrange)(JobWorld&);
    Log expected;  // "<dir>" stands for the output directory
};

void PrintTo(const PathCase& c, std::ostream* out) { *out << c.name; }

const Log kChecks = {"content", "content", "force"};
const Log kTokenRequest = {"secret", "api", "token sk ak"};
const Log kRequest = {"content", "speed", "pitch", "volume", "speaker", "synthesize cached-token hello 3 7 15 5003"};

Log concat(std::initializer_list<Log> parts) {
    Log all;
    for (const Log& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

// The first log entry that starts with prefix.
std::string entry(const Log& log, const std::string& prefix) {
    for (const std::string& line : log)
        if (line.rfind(prefix, 0) == 0) return line;
    return {};
}

class SynthesisJobTest : public ::testing::Test, protected JobWorld {};
class JobPaths : public ::testing::TestWithParam<PathCase> {};

TEST_P(JobPaths, ReadsAsksAndTellsInOrder) {
    JobWorld job;
    GetParam().arrange(job);
    job.runJob();
    Log expected = GetParam().expected;
    for (std::string& line : expected) {
        const std::size_t at = line.find("<dir>");
        if (at != std::string::npos) line.replace(at, 5, utf8(job.outputDirectory));
    }
    EXPECT_EQ(job.log, expected);
}

const auto noToken = [](JobWorld& t) { t.state.setAccessToken(""); };

INSTANTIATE_TEST_SUITE_P(
    SynthesisJob, JobPaths,
    ::testing::Values(
        PathCase{"EmptyText", [](JobWorld& t) { t.host.contents = {""}; },
                 {"content", "enable", "message 提示: 请输入要合成的文本内容"}},
        PathCase{"TextOf1025Bytes", [](JobWorld& t) { t.host.contents = {Text(1025, 'a')}; },
                 {"content", "content", "enable", "message 提示: 文本内容长度超过限制数量"}},
        PathCase{"TokenReplyNotJson",
                 [](JobWorld& t) {
                     noToken(t);
                     t.service.tokenReply = "<html>busy</html>";
                 },
                 concat({kChecks, kTokenRequest, {"message 信息: 获取AccessToken失败", "enable"}})},
        PathCase{"EmptyTokenReply",
                 [](JobWorld& t) {
                     noToken(t);
                     t.service.tokenReply = "";
                 },
                 concat({kChecks, kTokenRequest, {"message 信息: 获取AccessToken失败", "enable"}})},
        PathCase{"TokenReplyWithoutToken",
                 [](JobWorld& t) {
                     noToken(t);
                     t.service.tokenReply = R"({"error":"invalid_client"})";
                 },
                 concat({kChecks, kTokenRequest, {"enable", "message 信息: 获取AccessToken失败"}})},
        PathCase{"TickedBoxFetchesEvenWithACachedToken",
                 [](JobWorld& t) {
                     t.host.ticked = true;
                     t.service.tokenReply = R"({"access_token":""})";
                 },
                 concat({kChecks, kTokenRequest, {"enable", "message 信息: 获取AccessToken失败"}})},
        PathCase{"RefusalMarker", [](JobWorld& t) { t.service.audio = toBytes("Large"); },
                 concat({kChecks, kRequest, {"enable", "message 抱歉: 文本内容太长了。"}})},
        PathCase{"NoReplyMarker", [](JobWorld& t) { t.service.audio = toBytes("NoReply"); },
                 concat({kChecks, kRequest, {"enable", "message 抱歉: 语音合成失败"}})},
        PathCase{"Saved", [](JobWorld&) {},
                 concat({kChecks, kRequest, {"enable", "message 恭喜: 语音合成成功，文件名：<dir>\\1704067200123.mp3"}})},
        PathCase{"FileCannotBeWritten", [](JobWorld& t) { t.outputDirectory += L"\\missing"; },
                 concat({kChecks, kRequest, {"enable", "message 抱歉: 语音合成失败"}})},
        PathCase{"OutOfMemoryReadingTheBox", [](JobWorld& t) { t.host.contentReadFails = true; },
                 {"content", "enable", "message 抱歉: 语音合成失败"}},
        PathCase{"OutOfMemoryInTheRequest",
                 [](JobWorld& t) { t.service.duringSynthesis = [] { throw std::bad_alloc(); }; },
                 concat({kChecks, kRequest, {"enable", "message 抱歉: 语音合成失败"}})},
        // Start is already back, and another job may have taken it since: it
        // is not enabled a second time.
        PathCase{"OutOfMemoryAfterStartIsBack",
                 [](JobWorld& t) {
                     std::ofstream(t.saved(), std::ios::binary) << "taken";
                     t.makeStamp = [n = 0]() mutable -> Text {
                         if (n++ > 0) throw std::bad_alloc();
                         return kStamp;
                     };
                 },
                 concat({kChecks, kRequest, {"enable", "message 抱歉: 语音合成失败"}})}),
    [](const ::testing::TestParamInfo<PathCase>& info) { return std::string(info.param.name); });

TEST_F(SynthesisJobTest, FreshTokenIsCachedWrittenAndSent) {
    state.setAccessToken("");
    runJob();
    EXPECT_EQ(state.accessToken(), "fresh-token");
    EXPECT_EQ(SettingsFile(ini().wstring()).readKey("AT"), "fresh-token");
    EXPECT_EQ(entry(log, "synthesize"), "synthesize fresh-token hello 3 7 15 5003");
}

TEST_F(SynthesisJobTest, EmptyTokenEmptiesTheCacheButNotTheFile) {
    SettingsFile(ini().wstring()).writeKey("AT", "old-token");
    host.ticked = true;
    service.tokenReply = R"({"access_token":""})";
    runJob();
    EXPECT_EQ(state.accessToken(), "");
    EXPECT_EQ(SettingsFile(ini().wstring()).readKey("AT"), "old-token");

    // The next job asks again although the box is no longer ticked.
    host.ticked = false;
    service.tokenReply = R"({"access_token":"new-token"})";
    runJob();
    EXPECT_EQ(std::count(log.begin(), log.end(), "token sk ak"), 2);
    EXPECT_EQ(SettingsFile(ini().wstring()).readKey("AT"), "new-token");
}

TEST_F(SynthesisJobTest, UnparsedReplyLeavesTokenAndFileAlone) {
    SettingsFile(ini().wstring()).writeKey("AT", "cached-token");
    host.ticked = true;
    service.tokenReply = "{not json";
    runJob();
    EXPECT_EQ(state.accessToken(), "cached-token");
    EXPECT_EQ(SettingsFile(ini().wstring()).readKey("AT"), "cached-token");
}

TEST_F(SynthesisJobTest, ThirdReadOfTheBoxIsSentAnd1024BytesPass) {
    host.contents = {"first", "second", Text(1024, 'z')};
    host.speaker = 0;
    runJob();
    EXPECT_TRUE(entry(log, "synthesize") == "synthesize cached-token " + Text(1024, 'z') + " 3 7 15 0");
    EXPECT_EQ(files(), std::vector<fs::path>{saved().filename()});
}

TEST_F(SynthesisJobTest, AudioIsPublishedAndSavedWhole) {
    service.audio = Bytes(200000, 0x33);
    runJob();
    EXPECT_TRUE(state.latestAudio() == service.audio);
    EXPECT_TRUE(fileBytes(saved()) == std::string(200000, '\x33'));

    service.audio = toBytes("Large");
    runJob();
    EXPECT_EQ(state.latestAudio(), toBytes("Large"));
    EXPECT_EQ(files(), std::vector<fs::path>{saved().filename()});
}

TEST_F(SynthesisJobTest, StartedJobRunsOnItsOwnThreadAndReleasesItsContext) {
    service.released = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(SynthesisJob::start(context()));
    ASSERT_EQ(::WaitForSingleObject(service.released, 30000), WAIT_OBJECT_0);
    ::CloseHandle(service.released);
    EXPECT_NE(host.messageThread, 0u);
    EXPECT_NE(host.messageThread, ::GetCurrentThreadId());
    EXPECT_EQ(log.back(), "message 恭喜: 语音合成成功，文件名：" + utf8(dir()) + "\\1704067200123.mp3");
}

// Start comes back before the first job has written its file; a second job
// started at that moment replaces latestAudio with its own reply.
TEST_F(SynthesisJobTest, JobStartedOnceStartIsBackLeavesTheFirstJobsAudioAlone) {
    service.audio = Bytes(200000, 0x11);
    Log secondLog;
    FakeHost secondHost(secondLog);
    ServiceScript secondService;
    secondService.audio = Bytes(700, 0x22);
    host.onEnableStart = [&] {
        JobContext second(secondHost, state, SettingsFile(ini().wstring()), outputDirectory);
        second.client = std::make_unique<FakeClient>(secondLog, secondService);
        second.makeStamp = [] { return Text("1704067200456"); };
        SynthesisJob::run(second);
    };
    runJob();
    EXPECT_TRUE(fileBytes(saved()) == std::string(200000, '\x11'));
    EXPECT_TRUE(fileBytes(dir_ / L"1704067200456.mp3") == std::string(700, '\x22'));
    EXPECT_TRUE(state.latestAudio() == secondService.audio);
}

// Some layers below the job allocate inside noexcept functions, where running
// out of memory cannot reach the job's catch.
[[noreturn]] void runOutOfMemory() { throw std::bad_alloc(); }
void allocateWhereNothingMayEscape() noexcept { runOutOfMemory(); }

TEST_F(SynthesisJobTest, OutOfMemoryThatCannotUnwindStillEndsInTheMessage) {
    host.messagesToStderr = true;
    service.duringSynthesis = &allocateWhereNothingMayEscape;
    EXPECT_EXIT(runJob(), ::testing::ExitedWithCode(3), "message 抱歉: 语音合成失败");
}

}  // namespace
}  // namespace qx
