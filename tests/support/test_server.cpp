#include "tests/support/test_server.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <utility>

namespace qx::test {

namespace {

struct WinsockScope {
    bool ok = false;
    WinsockScope() {
        WSADATA data{};
        ok = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~WinsockScope() {
        if (ok) ::WSACleanup();
    }
    WinsockScope(const WinsockScope&) = delete;
    WinsockScope& operator=(const WinsockScope&) = delete;
};

class Socket {
public:
    explicit Socket(SOCKET s) : s_(s) {}
    ~Socket() {
        if (s_ != INVALID_SOCKET) ::closesocket(s_);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    [[nodiscard]] SOCKET get() const { return s_; }
    [[nodiscard]] bool valid() const { return s_ != INVALID_SOCKET; }

private:
    SOCKET s_;
};

sockaddr_in loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// Unix paths are reached through Wine's Z: drive.
std::string windowsPath(std::string path) {
    if (!path.empty() && path[0] == '/') {
        for (char& c : path) {
            if (c == '/') c = '\\';
        }
        path = "Z:" + path;
    }
    return path;
}

std::string stateFilePath() {
    if (const char* env = std::getenv("QX_TESTSERVER_STATE"); env && *env) return windowsPath(env);
#ifdef QX_TESTSERVER_DEFAULT_STATE
    return windowsPath(QX_TESTSERVER_DEFAULT_STATE);
#else
    return {};
#endif
}

void appendJsonString(std::string& out, std::string_view text) {
    out += '"';
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x80) {
            // The server reads header bytes as Latin-1, so every byte comes back as it was.
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    out += '"';
}

std::string hex(const Bytes& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

const char* modeName(Reply::Mode mode) {
    switch (mode) {
        case Reply::Mode::Silent: return "silent";
        case Reply::Mode::Stall: return "stall";
        case Reply::Mode::Drop: return "drop";
        case Reply::Mode::Drip: return "drip";
        case Reply::Mode::Reply: break;
    }
    return "reply";
}

const char* tlsName(Tls tls) {
    switch (tls) {
        case Tls::Trusted: return "trusted";
        case Tls::Untrusted: return "untrusted";
        case Tls::None: break;
    }
    return "none";
}

std::string repliesJson(const std::vector<Reply>& replies) {
    std::string out = "[";
    for (std::size_t i = 0; i < replies.size(); ++i) {
        if (i) out += ',';
        out += replyJson(replies[i]);
    }
    return out + "]";
}

// "key value" lines.
std::optional<std::string> field(const std::string& text, std::string_view key) {
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.size() > key.size() && line.compare(0, key.size(), key) == 0 && line[key.size()] == ' ') {
            return line.substr(key.size() + 1);
        }
    }
    return std::nullopt;
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// The log's text form: counts, then per request its lines, "body N", the
// N body bytes, a line feed and "end".
ServerLog parseLog(const std::string& text) {
    ServerLog log;
    std::size_t pos = 0;
    auto nextLine = [&](std::string& line) {
        const std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) return false;
        line = text.substr(pos, end - pos);
        pos = end + 1;
        return true;
    };
    std::string line;
    RecordedRequest current;
    while (nextLine(line)) {
        if (startsWith(line, "requests ")) {
            continue;
        } else if (startsWith(line, "connections ")) {
            log.connections = std::atoi(line.c_str() + 12);
        } else if (startsWith(line, "handshake_failures ")) {
            log.handshakeFailures = std::atoi(line.c_str() + 19);
        } else if (startsWith(line, "request ")) {
            current = RecordedRequest{};
            current.seq = std::atoi(line.c_str() + 8);
        } else if (startsWith(line, "connection ")) {
            current.connection = std::atoi(line.c_str() + 11);
        } else if (startsWith(line, "line ")) {
            current.line = line.substr(5);
        } else if (startsWith(line, "header ")) {
            current.headers.push_back(line.substr(7));
        } else if (startsWith(line, "body ")) {
            const std::size_t n = std::strtoul(line.c_str() + 5, nullptr, 10);
            if (pos + n > text.size()) return log;
            current.body.assign(text.begin() + static_cast<std::ptrdiff_t>(pos),
                                text.begin() + static_cast<std::ptrdiff_t>(pos + n));
            pos += n + 1;
        } else if (line == "end") {
            log.requests.push_back(std::move(current));
            current = RecordedRequest{};
        }
    }
    log.ok = true;
    return log;
}

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string trimmed(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return std::string(text);
}

}  // namespace

std::string RecordedRequest::method() const { return line.substr(0, line.find(' ')); }

std::string RecordedRequest::target() const {
    const std::size_t first = line.find(' ');
    if (first == std::string::npos) return {};
    const std::size_t second = line.find(' ', first + 1);
    return line.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
}

std::optional<std::string> RecordedRequest::header(std::string_view name) const {
    for (const std::string& h : headers) {
        const std::size_t colon = h.find(':');
        if (colon != std::string::npos && lower(trimmed(std::string_view(h).substr(0, colon))) == lower(name)) {
            return trimmed(std::string_view(h).substr(colon + 1));
        }
    }
    return std::nullopt;
}

std::vector<std::string> RecordedRequest::headerNames() const {
    std::vector<std::string> names;
    for (const std::string& h : headers) names.push_back(trimmed(std::string_view(h).substr(0, h.find(':'))));
    return names;
}

std::string replyJson(const Reply& reply) {
    std::string out = "{";
    auto key = [&](const char* name) {
        if (out.size() > 1) out += ',';
        appendJsonString(out, name);
        out += ':';
    };
    if (reply.status) {
        key("status");
        out += std::to_string(reply.status);
    }
    if (!reply.reason.empty()) {
        key("reason");
        appendJsonString(out, reply.reason);
    }
    key("headers");
    out += '[';
    for (std::size_t i = 0; i < reply.headers.size(); ++i) {
        if (i) out += ',';
        appendJsonString(out, reply.headers[i]);
    }
    out += ']';
    if (reply.bodySize) {
        key("body_size");
        out += std::to_string(*reply.bodySize);
    } else {
        key("body_hex");
        appendJsonString(out, hex(reply.body));
    }
    if (!reply.path.empty()) {
        key("path");
        appendJsonString(out, reply.path);
    }
    key("times");
    out += std::to_string(reply.times);
    if (reply.delaySeconds > 0) {
        key("delay");
        out += std::to_string(reply.delaySeconds);
    }
    key("mode");
    appendJsonString(out, modeName(reply.mode));
    if (reply.mode == Reply::Mode::Stall) {
        key("stall_after");
        out += std::to_string(reply.stallAfter);
    }
    if (reply.mode == Reply::Mode::Drip) {
        key("drip_bytes");
        out += std::to_string(reply.dripBytes);
        key("drip_interval");
        out += std::to_string(reply.dripInterval);
    }
    if (reply.holdSeconds > 0) {
        key("hold");
        out += std::to_string(reply.holdSeconds);
    }
    if (!reply.redirect.empty()) {
        key("redirect");
        appendJsonString(out, reply.redirect);
    }
    if (!reply.contentLength) {
        key("content_length");
        out += "false";
    }
    if (reply.close) {
        key("close");
        out += "true";
    }
    return out + "}";
}

ControlAnswer controlRequest(int controlPort, std::string_view method, std::string_view path,
                             std::string_view body) {
    ControlAnswer answer;
    const WinsockScope winsock;
    if (!winsock.ok) return answer;
    Socket s(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!s.valid()) return answer;
    const DWORD timeoutMs = 70000;  // the longest log wait is 60 s
    ::setsockopt(s.get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs), sizeof timeoutMs);
    ::setsockopt(s.get(), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeoutMs), sizeof timeoutMs);
    const sockaddr_in address = loopback(controlPort);
    if (::connect(s.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return answer;

    std::string request(method);
    request += ' ';
    request += path;
    request += " HTTP/1.0\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n";
    request += body;
    std::size_t sent = 0;
    while (sent < request.size()) {
        const int n = ::send(s.get(), request.data() + sent, static_cast<int>(request.size() - sent), 0);
        if (n <= 0) return answer;
        sent += static_cast<std::size_t>(n);
    }
    std::string reply;
    char buffer[65536];
    for (;;) {
        const int n = ::recv(s.get(), buffer, sizeof buffer, 0);
        if (n < 0) return answer;
        if (n == 0) break;
        reply.append(buffer, static_cast<std::size_t>(n));
    }
    const std::size_t headEnd = reply.find("\r\n\r\n");
    const std::size_t space = reply.find(' ');
    if (headEnd == std::string::npos || space == std::string::npos) return answer;
    answer.status = std::atoi(reply.c_str() + space + 1);
    answer.body = reply.substr(headEnd + 4);
    return answer;
}

TestServer::TestServer() {
    const std::string path = stateFilePath();
    if (path.empty()) {
        error_ = "no state file given (QX_TESTSERVER_STATE)";
        return;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error_ = "test server not running: no state file " + path +
                 " (run the tests through ctest, or start tools/testserver/testserver.py)";
        return;
    }
    std::stringstream content;
    content << in.rdbuf();
    const std::optional<std::string> port = field(content.str(), "control_port");
    if (!port) {
        error_ = "no control port in " + path;
        return;
    }
    const int candidate = std::atoi(port->c_str());
    if (controlRequest(candidate, "GET", "/ping").status != 200) {
        error_ = "test server does not answer on control port " + *port;
        return;
    }
    controlPort_ = candidate;
}

Endpoint TestServer::endpoint(const std::vector<Reply>& replies, Tls tls, const std::optional<Reply>& fallback) const {
    Endpoint endpoint;
    if (!available()) return endpoint;
    std::string script = "{\"tls\":\"" + std::string(tlsName(tls)) + "\",\"responses\":" + repliesJson(replies);
    if (fallback) script += ",\"default\":" + replyJson(*fallback);
    script += "}";
    const ControlAnswer answer = controlRequest(controlPort_, "POST", "/endpoints", script);
    if (answer.status != 200) return endpoint;
    const std::optional<std::string> id = field(answer.body, "id");
    const std::optional<std::string> port = field(answer.body, "port");
    if (!id || !port) return endpoint;
    endpoint.controlPort_ = controlPort_;
    endpoint.id_ = std::atoi(id->c_str());
    endpoint.port_ = std::atoi(port->c_str());
    endpoint.tls_ = tls;
    return endpoint;
}

Endpoint::Endpoint(Endpoint&& other) noexcept
    : controlPort_(std::exchange(other.controlPort_, 0)),
      id_(std::exchange(other.id_, 0)),
      port_(std::exchange(other.port_, 0)),
      tls_(other.tls_) {}

Endpoint& Endpoint::operator=(Endpoint&& other) noexcept {
    if (this != &other) {
        close();
        controlPort_ = std::exchange(other.controlPort_, 0);
        id_ = std::exchange(other.id_, 0);
        port_ = std::exchange(other.port_, 0);
        tls_ = other.tls_;
    }
    return *this;
}

Endpoint::~Endpoint() { close(); }

void Endpoint::close() {
    if (!valid()) return;
    (void)controlRequest(controlPort_, "DELETE", "/endpoints/" + std::to_string(id_));
    port_ = 0;
    id_ = 0;
}

std::string Endpoint::url(std::string_view path) const {
    const bool secure = tls_ != Tls::None;
    return std::string(secure ? "https://localhost:" : "http://127.0.0.1:") + std::to_string(port_) +
           std::string(path);
}

ServerLog Endpoint::log(int minRequests, double waitSeconds) const {
    if (!valid()) return {};
    char query[96];
    std::snprintf(query, sizeof query, "?count=%d&wait=%.3f", minRequests, waitSeconds);
    const ControlAnswer answer =
        controlRequest(controlPort_, "GET", "/endpoints/" + std::to_string(id_) + "/log" + query);
    if (answer.status != 200) return {};
    return parseLog(answer.body);
}

bool Endpoint::addReplies(const std::vector<Reply>& replies) const {
    if (!valid()) return false;
    return controlRequest(controlPort_, "POST", "/endpoints/" + std::to_string(id_) + "/responses",
                          "{\"responses\":" + repliesJson(replies) + "}")
               .status == 200;
}

int unusedPort() {
    const WinsockScope winsock;
    if (!winsock.ok) return 0;
    Socket s(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!s.valid()) return 0;
    sockaddr_in address = loopback(0);
    if (::bind(s.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return 0;
    int size = sizeof address;
    if (::getsockname(s.get(), reinterpret_cast<sockaddr*>(&address), &size) != 0) return 0;
    return ntohs(address.sin_port);
}

}  // namespace qx::test
