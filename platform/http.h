// One synchronous HTTP (or HTTPS) request on libcurl, for read and write on
// url! values. The request knows nothing of the language: the method and the
// URL as text, header pairs, an optional body; the response gives the final
// status, the final response's header lines in order, and the body bytes.
//
// Redirects are followed (at most 10; a POST answered by 301, 302 or 303 is
// repeated as a GET, as browsers do). A connection must be made within 30
// seconds, a transfer that moves no byte for `idle_timeout` seconds is
// abandoned, and so is a whole request still running after `deadline`
// seconds (a server that drips its answer byte by byte never stands still).
// Certificates are verified; SSL_CERT_FILE, when set, names the certificate
// authorities to trust instead of the system's.
//
// The method, the URL and the header names and values go on the wire as
// they are, so a CR, LF or NUL in them would let one header smuggle others
// (or cut the line short): such a request is refused before anything is
// sent.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kiv::platform::http {

// Where the bytes of a response body go, when not into Response::body: the
// caller receives them as they arrive, without a copy held here.
class BodySink {
  public:
    // The length the response declares (Content-Length), before its first
    // bytes; not called when the response gives none. False refuses it.
    virtual bool expect(uint64_t length) = 0;
    // The next bytes of the body. False abandons the transfer.
    virtual bool take(const uint8_t* bytes, size_t count) = 0;

  protected:
    ~BodySink() = default;
};

struct Request {
    std::string method;  // upper case: "GET", "HEAD", "POST", "DELETE", ...
    std::string url;
    std::vector<std::pair<std::string, std::string>> headers;
    bool has_body = false;
    std::vector<uint8_t> body;
    long idle_timeout = 60;  // seconds
    long deadline = 600;     // seconds for the whole request
    BodySink* sink = nullptr;  // null: the body goes to Response::body
};

struct Response {
    long status = 0;
    std::vector<std::pair<std::string, std::string>> headers;
    std::vector<uint8_t> body;
    std::string error;  // why the request failed, when it did
};

// The default headers sent when the caller gives none.
extern const std::vector<std::pair<std::string, std::string>> default_headers;

// True when the text holds a CR, LF or NUL: no part of a request may.
bool holds_line_break(std::string_view text);

// Takes one raw header line of a response (with or without its CR LF): a
// status line ("HTTP/...") starts a new set, "name: value" is added with the
// blanks after the colon and the line end removed, anything else is ignored.
void add_header_line(Response& out, const char* line, size_t count);

// Sends the request and waits for the whole response. False (with
// `out.error` set) when no response arrived: a malformed URL, a refused or
// timed-out connection, a failed certificate check, a broken transfer, a
// transfer the sink abandoned, a request holding a line break.
bool request(const Request& req, Response& out);

}  // namespace kiv::platform::http
