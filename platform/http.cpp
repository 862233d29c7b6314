// HTTP requests on libcurl (see http.h).
#include "platform/http.h"

#include <curl/curl.h>

#include <cstdlib>
#include <cstring>

#include "platform/late_library.h"

namespace kiv::platform::http {

const std::vector<std::pair<std::string, std::string>> default_headers = {
    {"Content-Type", "application/x-www-form-urlencoded"},
    {"Accept-Charset", "UTF-8"},
    {"User-Agent", "Mozilla/5.0 (Windows NT 6.1; Win64; x64)"},
};

namespace {

// libcurl and the many libraries it needs are loaded on the first request,
// not at start-up: linking them into the executable cost every run of kiv
// about 10 ms in the dynamic loader. The table holds the entry points used
// here, declared with the library's own types.
struct Curl {
    decltype(&::curl_global_init) global_init = nullptr;
    decltype(&::curl_easy_init) easy_init = nullptr;
    decltype(&::curl_easy_cleanup) easy_cleanup = nullptr;
    decltype(&::curl_easy_setopt) easy_setopt = nullptr;
    decltype(&::curl_easy_perform) easy_perform = nullptr;
    decltype(&::curl_easy_getinfo) easy_getinfo = nullptr;
    decltype(&::curl_easy_strerror) easy_strerror = nullptr;
    decltype(&::curl_slist_append) slist_append = nullptr;
    decltype(&::curl_slist_free_all) slist_free_all = nullptr;
};

// The loaded library, or null with the reason in `why`.
const Curl* curl(std::string& why) {
    static Curl api;
    static LateLibrary library("libcurl.so.4", "HTTP needs libcurl: ");
    bool ok = library.load(why, [](LateLibrary& lib) {
        lib.entry("curl_global_init", api.global_init);
        lib.entry("curl_easy_init", api.easy_init);
        lib.entry("curl_easy_cleanup", api.easy_cleanup);
        lib.entry("curl_easy_setopt", api.easy_setopt);
        lib.entry("curl_easy_perform", api.easy_perform);
        lib.entry("curl_easy_getinfo", api.easy_getinfo);
        lib.entry("curl_easy_strerror", api.easy_strerror);
        lib.entry("curl_slist_append", api.slist_append);
        lib.entry("curl_slist_free_all", api.slist_free_all);
        if (lib.complete()) api.global_init(CURL_GLOBAL_DEFAULT);
    });
    return ok ? &api : nullptr;
}

// What the body callback needs: where the bytes go, and the handle to ask
// for the declared length when the first bytes arrive.
struct BodyTarget {
    const Curl* api;
    CURL* c;
    Response* out;
    BodySink* sink;
    bool started = false;
};

size_t on_body(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<BodyTarget*>(user);
    size_t n = size * count;
    const auto* bytes = reinterpret_cast<const uint8_t*>(data);
    if (!t->sink) {
        t->out->body.insert(t->out->body.end(), bytes, bytes + n);
        return n;
    }
    if (!t->started) {
        t->started = true;
        curl_off_t length = -1;
        if (t->api->easy_getinfo(t->c, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK &&
            length >= 0 && !t->sink->expect(uint64_t(length)))
            return 0;
    }
    return t->sink->take(bytes, n) ? n : 0;
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
    const Curl& api;
    CURL* c = api.easy_init();
    curl_slist* headers = nullptr;
    ~Easy() {
        api.slist_free_all(headers);
        if (c) api.easy_cleanup(c);
    }
};

}  // namespace

bool holds_line_break(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

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
    out = Response{};
    bool broken = holds_line_break(req.method) || holds_line_break(req.url);
    for (const auto& h : req.headers)
        broken = broken || holds_line_break(h.first) || holds_line_break(h.second);
    if (broken) {
        out.error = "a line break in the method, the URL or a header";
        return false;
    }
    const Curl* api = curl(out.error);
    if (!api) return false;
    Easy e{*api};
    if (!e.c) {
        out.error = "cannot start a request";
        return false;
    }
    CURL* c = e.c;
    char message[CURL_ERROR_SIZE] = {0};
    api->easy_setopt(c, CURLOPT_ERRORBUFFER, message);
    api->easy_setopt(c, CURLOPT_URL, req.url.c_str());
    api->easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    api->easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    api->easy_setopt(c, CURLOPT_MAXREDIRS, 10L);
    api->easy_setopt(c, CURLOPT_CONNECTTIMEOUT, 30L);
    api->easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    api->easy_setopt(c, CURLOPT_LOW_SPEED_TIME, req.idle_timeout > 0 ? req.idle_timeout : 60L);
    api->easy_setopt(c, CURLOPT_TIMEOUT, req.deadline > 0 ? req.deadline : 600L);
    if (const char* ca = std::getenv("SSL_CERT_FILE"); ca && *ca) api->easy_setopt(c, CURLOPT_CAINFO, ca);
    api->easy_setopt(c, CURLOPT_WRITEFUNCTION, on_body);
    BodyTarget target{api, c, &out, req.sink};
    api->easy_setopt(c, CURLOPT_WRITEDATA, &target);
    api->easy_setopt(c, CURLOPT_HEADERFUNCTION, on_header);
    api->easy_setopt(c, CURLOPT_HEADERDATA, &out);

    const bool get = req.method == "GET", head = req.method == "HEAD";
    if (get) {
        api->easy_setopt(c, CURLOPT_HTTPGET, 1L);
    } else if (head) {
        api->easy_setopt(c, CURLOPT_NOBODY, 1L);
    } else {
        if (req.method != "POST") api->easy_setopt(c, CURLOPT_CUSTOMREQUEST, req.method.c_str());
        if (req.has_body || req.method == "POST") {
            api->easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(req.body.size()));
            api->easy_setopt(c, CURLOPT_POSTFIELDS, req.body.empty() ? "" : reinterpret_cast<const char*>(req.body.data()));
        }
    }
    for (const auto& h : req.headers) {
        // "Name;" sends a header with an empty value; "Name:" would remove it.
        std::string line = h.second.empty() ? h.first + ";" : h.first + ": " + h.second;
        e.headers = api->slist_append(e.headers, line.c_str());
    }
    // Only the caller's headers go out: no content type of curl's choosing,
    // no waiting for 100 Continue.
    if (!has_header(req, "Content-Type")) e.headers = api->slist_append(e.headers, "Content-Type:");
    if (!has_header(req, "Expect")) e.headers = api->slist_append(e.headers, "Expect:");
    api->easy_setopt(c, CURLOPT_HTTPHEADER, e.headers);

    CURLcode rc = api->easy_perform(c);
    if (rc != CURLE_OK) {
        out.error = message[0] ? message : api->easy_strerror(rc);
        return false;
    }
    api->easy_getinfo(c, CURLINFO_RESPONSE_CODE, &out.status);
    return true;
}

}  // namespace kiv::platform::http
