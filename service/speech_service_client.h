#pragma once
// The program's two operations on the online speech service: an OAuth access
// token by the client-credentials grant, and MP3 audio for a text.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "text/text.h"

namespace qx {

// Returned by synthesize in place of audio (audio is never shorter than 500
// bytes): kRefusalMarker when the service sent a reply that is not audio,
// kNoReplyMarker when no reply came at all.
inline constexpr std::string_view kRefusalMarker = "Large";
inline constexpr std::string_view kNoReplyMarker = "NoReply";
inline constexpr std::size_t kMinimumAudioBytes = 500;
// Audio is never longer either. A text of 1024 bytes holds at most 1024
// characters (512 Chinese ones, or 1024 one-byte characters, a digit or letter
// read as one syllable each). Even at one syllable a second, slower than the
// slowest speed reads, that is about 17 minutes; at 128 kbit/s, several times
// the rate speech is served at, 17 minutes are about 16 MB. A reply four
// times that long is no audio, and abandoned before it fills the memory of a
// 32-bit process: a misbehaving server or proxy can send one.
inline constexpr std::size_t kMaximumAudioBytes = std::size_t{64} << 20;
// A token reply is one small JSON object: the token (a few hundred
// characters at most), its lifetime, its scope and a few more such fields,
// well under 4 KB. 64 KB is far above that, and read and parsed in
// milliseconds; a longer reply is no token reply and is dropped unread, so
// that neither the transfer nor the script engine's parse can hold the job
// (the token endpoint may sit behind a proxy or portal that answers with
// anything).
inline constexpr std::size_t kMaximumTokenReplyBytes = std::size_t{64} << 10;

// Both requests go through the proxies that the user's Internet settings name
// for their URL (systemProxiesFor, the settings read again before each
// request), the next one tried when one cannot be reached (HttpRequestVia).
class SpeechServiceClient {
public:
    // The endpoints of the build configuration (QX_TOKEN_HOST, QX_SYNTHESIS_HOST),
    // both HTTPS: the synthesis form carries the token and the user's text.
    // Only a build with QX_SYNTHESIS_PLAIN_HTTP sends it in the clear.
    SpeechServiceClient();
    // Other endpoints: the full token URL without its query, and the full synthesis URL.
    SpeechServiceClient(std::string tokenUrl, std::string synthesisUrl);

    virtual ~SpeechServiceClient();
    // A new client with the same endpoints.
    [[nodiscard]] virtual std::unique_ptr<SpeechServiceClient> clone() const;
    // The token endpoint's reply body as text (up to its first zero byte);
    // empty when nothing came back, or more than kMaximumTokenReplyBytes.
    // The caller reads the JSON.
    [[nodiscard]] virtual Text requestToken(std::string_view secretKey, std::string_view apiKey) const;
    // The audio; the refusal marker for a reply that is not audio (not 200,
    // shorter than kMinimumAudioBytes, a text type: HTML, plain text, XML,
    // JSON, or not beginning as MP3 whatever its type); the no-reply marker
    // when no reply came (no name, no connection, a failed handshake or
    // certificate, a phase timed out, a reply cut off before its end or
    // abandoned as longer than kMaximumAudioBytes).
    [[nodiscard]] virtual Bytes synthesize(std::string_view token, std::string_view text, std::string_view speed,
                                           std::string_view pitch, std::string_view volume,
                                           std::string_view speaker) const;

    [[nodiscard]] const std::string& tokenUrl() const noexcept { return tokenUrl_; }
    [[nodiscard]] const std::string& synthesisUrl() const noexcept { return synthesisUrl_; }

private:
    std::string tokenUrl_;
    std::string synthesisUrl_;
};

// The token request's URL for the endpoint; each key as UTF-8 in kQueryEncoding.
[[nodiscard]] Text tokenRequestUrl(std::string_view tokenUrl, std::string_view secretKey, std::string_view apiKey);

// The synthesis form body; the text goes through urlEncodeText twice.
[[nodiscard]] Text synthesisForm(std::string_view token, std::string_view text, std::string_view speed,
                                 std::string_view pitch, std::string_view volume, std::string_view speaker);

}  // namespace qx
