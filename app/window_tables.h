#pragma once
// The constant contents of the main window's lists and its counter text.

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "text/text.h"

namespace qx {

struct Speaker {
    std::wstring_view displayName;
    std::string_view number;  // what the service expects as the speaker parameter
};

// In the order of the speaker list. The numbers are the service's own and are
// neither in order nor consecutive.
inline constexpr std::array<Speaker, 11> kSpeakers{{
    {L"安雅", "0"},
    {L"墨川", "1"},
    {L"清远-基础", "3"},
    {L"果果", "4"},
    {L"清远-精品", "5003"},
    {L"兰溪", "5118"},
    {L"景行", "106"},
    {L"禾苗", "110"},
    {L"糖糖", "111"},
    {L"星星", "103"},
    {L"若晴", "5"},
}};

inline constexpr int kSpeedItems = 10;
inline constexpr int kPitchItems = 10;
inline constexpr int kVolumeItems = 16;
inline constexpr int kSpeedSelection = 5;
inline constexpr int kPitchSelection = 5;
inline constexpr int kVolumeSelection = 9;
inline constexpr int kSpeakerSelection = 0;

// A value as "%lf" gives it, without trailing zeros and without a trailing
// decimal point: 0.0 gives "0", 2.5 gives "2.5".
[[nodiscard]] std::wstring numberItemText(double value);

// The length counter's text for a byte count: "长度限制1024，当前：" and the count.
[[nodiscard]] std::wstring counterText(std::size_t byteCount);

// The speaker numbers as Text, in list order.
[[nodiscard]] std::vector<Text> speakerNumberTable();

}  // namespace qx
