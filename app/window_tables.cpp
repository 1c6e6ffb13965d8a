#include "app/window_tables.h"

#include <cstdio>
#include <string>
#include <vector>

namespace qx {

std::wstring numberItemText(double value) {
    char buffer[512];
    const int n = std::snprintf(buffer, sizeof buffer, "%lf", value);
    if (n <= 0) return {};
    std::string text(buffer, static_cast<std::size_t>(n) < sizeof buffer ? n : sizeof buffer - 1);
    if (text.find('.') != std::string::npos) {
        while (!text.empty() && text.back() == '0') text.pop_back();
        if (!text.empty() && text.back() == '.') text.pop_back();
    }
    return std::wstring(text.begin(), text.end());
}

std::wstring counterText(std::size_t byteCount) {
    return L"长度限制1024，当前：" + std::to_wstring(byteCount);
}

std::vector<Text> speakerNumberTable() {
    std::vector<Text> numbers;
    numbers.reserve(kSpeakers.size());
    for (const Speaker& speaker : kSpeakers) numbers.emplace_back(speaker.number);
    return numbers;
}

}  // namespace qx
