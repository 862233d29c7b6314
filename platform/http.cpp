// HTTP requests on libcurl (see http.h).
#include "platform/http.h"

#include <curl/curl.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

namespace kiv::platform::http {

const std::vector<std::pair<std::string, std::string>> default_headers = {
    {"Content-Type", "application/x-www-form-urlencoded"},
    {"Accept-Charset", "UTF-8"},
    {"User-Agent", "Mozilla/5.0 (Windows NT 6.1; Win64; x64)"},
};

namespace {

size_t on_body(char* data, size_t size, size_t count, void* user) {
    auto* out = static_cast<Response*>(user);
    size_t n = size * count;
    out->body.insert(out->body.end(), reinterpret_cast<uint8_t*>(data), reinterpret_cast<uint8_t*>(data) + n);
    return n;
}

// Header lines arrive one by one, for every response of a redirect chain (and
// for a 100 Continue): a status line starts a new set, so that only the
// final response's headers remain.
size_t on_header(char* data, size_t size, size_t count, void* user) {
    add_header_line(*static_cast<Response*>(user), data, size * count);
    return size * count;
}

bool has_header(const Request& req, const char* name) {
    for (const auto& h : req.headers)
        if (strcasecmp(h.first.c_str(), name) == 0) return true;
    return false;
}

struct Easy {
    CURL* c = curl_easy_init();
    curl_slist* headers = nullptr;
    ~Easy() {
        curl_slist_free_all(headers);
        if (c) curl_easy_cleanup(c);
    }
};

}  // namespace

void add_header_line(Response& out, const char* data, size_t n) {
    std::string line(data, n);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (line.compare(0, 5, "HTTP/") == 0) {
        out.headers.clear();
        return;
    }
    size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0) return;
    size_t start = colon + 1;
    while (start < line.size() && (line[start] == ' ' || line[start] == '\t')) ++start;
    out.headers.emplace_back(line.substr(0, colon), line.substr(start));
}

bool request(const Request& req, Response& out) {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    out = Response{};
    Easy e;
    if (!e.c) {
        out.error = "cannot start a request";
        return false;
    }
    CURL* c = e.c;
    char message[CURL_ERROR_SIZE] = {0};
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, message);
    curl_easy_setopt(c, CURLOPT_URL, req.url.c_str());
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, 30L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, req.idle_timeout > 0 ? req.idle_timeout : 60L);
    if (const char* ca = std::getenv("SSL_CERT_FILE"); ca && *ca) curl_easy_setopt(c, CURLOPT_CAINFO, ca);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, on_body);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &out);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, on_header);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &out);

    const bool get = req.method == "GET", head = req.method == "HEAD";
    if (get) {
        curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
    } else if (head) {
        curl_easy_setopt(c, CURLOPT_NOBODY, 1L);
    } else {
        if (req.method != "POST") curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, req.method.c_str());
        if (req.has_body || req.method == "POST") {
            curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(req.body.size()));
            curl_easy_setopt(c, CURLOPT_POSTFIELDS, req.body.empty() ? "" : reinterpret_cast<const char*>(req.body.data()));
        }
    }
    for (const auto& h : req.headers) {
        // "Name;" sends a header with an empty value; "Name:" would remove it.
        std::string line = h.second.empty() ? h.first + ";" : h.first + ": " + h.second;
        e.headers = curl_slist_append(e.headers, line.c_str());
    }
    // Only the caller's headers go out: no content type of curl's choosing,
    // no waiting for 100 Continue.
    if (!has_header(req, "Content-Type")) e.headers = curl_slist_append(e.headers, "Content-Type:");
    if (!has_header(req, "Expect")) e.headers = curl_slist_append(e.headers, "Expect:");
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, e.headers);

    CURLcode rc = curl_easy_perform(c);
    if (rc != CURLE_OK) {
        out.error = message[0] ? message : curl_easy_strerror(rc);
        return false;
    }
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &out.status);
    return true;
}

}  // namespace kiv::platform::http
