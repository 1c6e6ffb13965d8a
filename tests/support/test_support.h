#pragma once
// A fresh directory under the temporary directory, removed at the end.

#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

namespace qx::test {

class TempDirectory {
public:
    TempDirectory() {
        wchar_t base[MAX_PATH];
        ::GetTempPathW(MAX_PATH, base);
        static int counter = 0;
        path_ = std::filesystem::path(base) /
                (L"qx-app-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(++counter));
        std::filesystem::create_directories(path_);
    }
    ~TempDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    [[nodiscard]] const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

inline std::string fileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeFileBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

// Set by the run that uses a non-Chinese locale, to prove it really has one.
inline void expectCodePageOfThisRun() {
    if (const char* expected = std::getenv("QX_EXPECT_ACP")) {
        ASSERT_EQ(::GetACP(), static_cast<UINT>(std::atoi(expected)));
    }
}

}  // namespace qx::test
