#pragma once
// Client of the loopback test server (tools/testserver): scripts endpoints
// and reads back what arrived at them.
//
// The server runs on the host, started by CTest's "testserver" fixture (or
// by hand, see tools/testserver/README.md); this client finds its control
// port in the state file named by QX_TESTSERVER_STATE, or else in the build
// tree's default one, and talks to it over loopback TCP.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "text/text.h"

namespace qx::test {

enum class Tls { None, Trusted, Untrusted };

// One scripted answer. An endpoint answers each request with the first
// entry whose path matches (an entry without a path matches every request);
// an entry is used up after `times` requests, 0 meaning never.
struct Reply {
    enum class Mode {
        Reply,   // answer normally
        Silent,  // read the request, never answer, hold the connection
        Stall,   // send the status, the headers and stallAfter body bytes, then hold
        Drop,    // read the request and close the connection without answering
        Drip,    // send the status and the headers, then the body dripBytes at a time, each after dripInterval
    };
    int status = 0;                    // 0: 200, or 302 with a redirect
    std::string reason;                // empty: the standard phrase
    std::vector<std::string> headers;  // raw header lines, sent in this order
    Bytes body;
    std::optional<std::size_t> bodySize;  // a generated body of this size instead
    std::string path;
    int times = 1;
    double delaySeconds = 0;
    Mode mode = Mode::Reply;
    std::size_t stallAfter = 0;
    double holdSeconds = 0;            // 0: the server's default (120 s)
    std::size_t dripBytes = 1;
    double dripInterval = 1.0;         // seconds
    std::string redirect;              // adds "Location: <redirect>"
    bool contentLength = true;         // add Content-Length unless the headers have one
    bool close = false;                // add "Connection: close" and close after answering

    Reply& withStatus(int s) { status = s; return *this; }
    Reply& withHeader(std::string line) { headers.push_back(std::move(line)); return *this; }
    Reply& withBody(std::string_view text) { body = toBytes(text); return *this; }
    Reply& forPath(std::string p) { path = std::move(p); return *this; }
    Reply& always() { times = 0; return *this; }
};

struct RecordedRequest {
    int seq = 0;
    int connection = 0;
    std::string line;                  // "POST /path HTTP/1.1"
    std::vector<std::string> headers;  // raw header lines, in order
    Bytes body;

    [[nodiscard]] std::string method() const;
    [[nodiscard]] std::string target() const;
    // The value of the first header of that name (any case), trimmed.
    [[nodiscard]] std::optional<std::string> header(std::string_view name) const;
    [[nodiscard]] std::vector<std::string> headerNames() const;
};

struct ServerLog {
    bool ok = false;  // false when the server could not be asked
    int connections = 0;
    int handshakeFailures = 0;
    std::vector<RecordedRequest> requests;
};

class TestServer;

// One listening port of the server. Closed when the handle goes.
class Endpoint {
public:
    Endpoint() = default;
    Endpoint(const Endpoint&) = delete;
    Endpoint& operator=(const Endpoint&) = delete;
    Endpoint(Endpoint&& other) noexcept;
    Endpoint& operator=(Endpoint&& other) noexcept;
    ~Endpoint();

    [[nodiscard]] bool valid() const { return port_ != 0; }
    [[nodiscard]] int port() const { return port_; }
    [[nodiscard]] int id() const { return id_; }
    // "http://127.0.0.1:<port><path>", or https with the host "localhost"
    // (the name the test certificate is trusted for).
    [[nodiscard]] std::string url(std::string_view path = "/") const;

    // Waits up to waitSeconds for at least minRequests requests.
    [[nodiscard]] ServerLog log(int minRequests = 0, double waitSeconds = 0) const;
    bool addReplies(const std::vector<Reply>& replies) const;
    void close();

private:
    friend class TestServer;
    int controlPort_ = 0;
    int id_ = 0;
    int port_ = 0;
    Tls tls_ = Tls::None;
};

class TestServer {
public:
    // Finds the running server. Check available() (and error()).
    TestServer();
    [[nodiscard]] bool available() const { return controlPort_ != 0; }
    [[nodiscard]] const std::string& error() const { return error_; }
    [[nodiscard]] int controlPort() const { return controlPort_; }

    // A new endpoint answering with the replies; invalid() when it failed.
    [[nodiscard]] Endpoint endpoint(const std::vector<Reply>& replies, Tls tls = Tls::None,
                                    const std::optional<Reply>& fallback = std::nullopt) const;

private:
    int controlPort_ = 0;
    std::string error_;
};

// One HTTP/1.0 exchange with the control port: the status (0 when the
// server could not be reached) and the body.
struct ControlAnswer {
    int status = 0;
    std::string body;
};
[[nodiscard]] ControlAnswer controlRequest(int controlPort, std::string_view method, std::string_view path,
                                           std::string_view body = {});

// The script of one reply as the control protocol's JSON (exposed for tests).
[[nodiscard]] std::string replyJson(const Reply& reply);

// A loopback port that nothing listens on (bound and released again).
[[nodiscard]] int unusedPort();

}  // namespace qx::test
