#include "service/speech_service_client.h"

#include <cstdint>
#include <utility>

#include "net/header_cookie.h"
#include "net/http_request.h"
#include "net/system_proxy_win.h"
#include "platform/build_config.h"
#include "service/mp3_stream.h"
#include "text/encoding.h"
#include "text/text_rules.h"
#include "text/url_encode.h"

namespace qx {
namespace {

constexpr std::string_view kDefaultTokenUrl = "https://" QX_TOKEN_HOST "/oauth/2.0/token";
#if QX_SYNTHESIS_PLAIN_HTTP
// The operator's host has no HTTPS: token and text cross the network in the clear.
constexpr std::string_view kDefaultSynthesisUrl = "http://" QX_SYNTHESIS_HOST "/text2audio";
#else
constexpr std::string_view kDefaultSynthesisUrl = "https://" QX_SYNTHESIS_HOST "/text2audio";
#endif
constexpr int kTimeoutSeconds = 30;
constexpr int kPost = 1;
constexpr std::int32_t kStatusOk = 200;

// The value of the reply's Content-Type line, or empty when it has none.
Text contentType(std::string_view responseHeaders) {
    for (const Text& line : splitText(responseHeaders, "\r\n")) {
        if (asciiLowered(headerName(line)) == "content-type") return headerValue(line);
    }
    return {};
}

// Whether a Content-Type value names text rather than data: any text/ type,
// JSON or XML (also as a "+json" or "+xml" suffix). A captive portal's login
// page, a proxy's block page or an error document is one.
bool namesText(std::string_view contentType) {
    Text type = asciiLowered(contentType.substr(0, contentType.find(';')));
    type = trimSpaces(type);
    auto endsWith = [&type](std::string_view tail) {
        return type.size() >= tail.size() && type.compare(type.size() - tail.size(), tail.size(), tail) == 0;
    };
    return type.rfind("text/", 0) == 0 || type == "application/json" || type == "application/xml" ||
           endsWith("+json") || endsWith("+xml");
}

}  // namespace

SpeechServiceClient::SpeechServiceClient()
    : SpeechServiceClient(std::string(kDefaultTokenUrl), std::string(kDefaultSynthesisUrl)) {}

SpeechServiceClient::SpeechServiceClient(std::string tokenUrl, std::string synthesisUrl)
    : tokenUrl_(std::move(tokenUrl)), synthesisUrl_(std::move(synthesisUrl)) {}

SpeechServiceClient::~SpeechServiceClient() = default;

std::unique_ptr<SpeechServiceClient> SpeechServiceClient::clone() const {
    return std::make_unique<SpeechServiceClient>(tokenUrl_, synthesisUrl_);
}

Text tokenRequestUrl(std::string_view tokenUrl, std::string_view secretKey, std::string_view apiKey) {
    // The keys are encoded: a key holding "&", "#", "+", "%" or a space
    // would otherwise split or corrupt the query. Ordinary keys are made of
    // unreserved characters only and go out exactly as typed.
    Text url(tokenUrl);
    url += "?grant_type=client_credentials&client_secret=";
    url += urlEncode(textToUtf8(secretKey), kQueryEncoding);
    url += "&client_id=";
    url += urlEncode(textToUtf8(apiKey), kQueryEncoding);
    return url;
}

Text synthesisForm(std::string_view token, std::string_view text, std::string_view speed, std::string_view pitch,
                   std::string_view volume, std::string_view speaker) {
    // The service decodes tex twice, so it is encoded twice: each UTF-8 byte
    // becomes nine characters, a space "%2B".
    const Text tex = urlEncodeText(urlEncodeText(text));
    const std::pair<std::string_view, std::string_view> fields[] = {
        {"lan", "zh"},   {"ctp", "1"},      {"cuid", "abcdxxx"}, {"tok", token}, {"tex", tex},
        {"vol", volume}, {"per", speaker},  {"spd", speed},      {"pit", pitch}, {"aue", "3"},
    };
    Text form;
    for (const auto& [key, value] : fields) {
        if (!form.empty()) form += '&';
        form += key;
        form += '=';
        form += value;
    }
    return form;
}

Text SpeechServiceClient::requestToken(std::string_view secretKey, std::string_view apiKey) const {
    // Our own content type, so the routine adds none of its own.
    Text headers = "Content-Type: application/json;charset=UTF-8";
    HttpOptions options;
    options.method = kPost;
    options.headers = &headers;
    options.timeoutSeconds = kTimeoutSeconds;
    options.maxBodyBytes = kMaximumTokenReplyBytes;  // a longer reply comes back empty
    return toText(HttpRequestVia(systemProxiesFor(tokenUrl_), tokenRequestUrl(tokenUrl_, secretKey, apiKey), options));
}

Bytes SpeechServiceClient::synthesize(std::string_view token, std::string_view text, std::string_view speed,
                                      std::string_view pitch, std::string_view volume,
                                      std::string_view speaker) const {
    std::int32_t status = 0;
    Text responseHeaders;
    HttpOptions options;
    options.method = kPost;
    options.body = synthesisForm(token, text, speed, pitch, volume, speaker);
    options.status = &status;
    options.responseHeaders = &responseHeaders;
    options.timeoutSeconds = kTimeoutSeconds;
    options.maxBodyBytes = kMaximumAudioBytes;  // a longer reply comes back empty
    Bytes reply = HttpRequestVia(systemProxiesFor(synthesisUrl_), synthesisUrl_, options);
    // Status 0: nothing came back that could be read as a reply. The user
    // must not be told that the text was refused when the service was never
    // heard (the network, the proxy or the certificate failed, or the reply
    // broke off).
    if (status == 0) return toBytes(kNoReplyMarker);
    // Only a 200 reply is audio. A gateway's error page or a 5xx can well be
    // longer than 500 bytes, and saved as an MP3 it would pass for success;
    // so can a captive portal's login page with status 200, which says it
    // is text. A reply without a Content-Type is judged by the rest, and
    // whatever its type says, a reply is audio only when it begins as MP3:
    // a page or a document labelled audio, or unlabelled, is no audio.
    if (status != kStatusOk || reply.size() < kMinimumAudioBytes || namesText(contentType(responseHeaders)) ||
        !beginsAsMp3Stream(reply)) {
        return toBytes(kRefusalMarker);
    }
    return reply;
}

}  // namespace qx
