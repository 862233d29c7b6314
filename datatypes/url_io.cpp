// The url! actions that reach the network: read and write of "http" and
// "https" URLs as one synchronous request (platform/http), and, for every
// other scheme, the port that the URL's parse makes (datatypes/port).
//
// HTTP read sends a GET with the default headers. HTTP write takes its
// request from the data: a block [method headers data] (each part optional,
// an empty block a plain GET), any other value is POSTed. The body comes
// back as a string (UTF-8, CR LF folded to LF), a binary! (/binary) or a
// block of lines (/lines); /info gives [status headers body], the headers a
// map! of name words to strings (a name sent twice gives a block of its
// strings). A request with no response is access no-connect with the URL.
// KIV_HTTP_TIMEOUT, when set, is the number of seconds a transfer may stand
// still before it is abandoned (default 60); KIV_HTTP_DEADLINE the seconds a
// whole request may take (default 600), past which it is abandoned the same
// way. A CR, LF or NUL in the method, the URL or a header name or value is
// script invalid-arg with that value: nothing is sent.
//
// The body is received straight into the binary! that becomes the result
// (sized once when the response declares its length), and text is made from
// it in place when it is plain ASCII, so a body is not held twice (text
// beyond ASCII is decoded into a new string, its unit chosen by its widest
// character). A body
// longer than a series can hold (or than KIV_HTTP_MAX_BODY bytes, when set
// lower) is script too-long, raised as soon as it is declared or received,
// not once memory runs out.
#include <sys/mman.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/map.h"
#include "datatypes/none.h"
#include "datatypes/port.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/url.h"
#include "datatypes/word.h"
#include "platform/http.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/series.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kiv::url {

namespace {

namespace http = platform::http;

// A value's formed text as UTF-8.
std::string formed(Cell* value) {
    if (is_any_string(value->type())) return unicode::to_utf8_string(value);
    stack::TopMark mark;
    return unicode::to_utf8_string(string::push_formed(*value));
}

bool is_http(Cell* url) {
    return string::starts_with_text(url, "http");
}

// The URL as the wire wants it: its decoded text percent-encoded again.
std::string wire_url(Cell* url) {
    Cell* saved = stack::top;
    std::string s = unicode::to_utf8_string(push_encoded(url, percent_coding::GENERAL));
    stack::top = saved;
    return s;
}

// A positive whole number from the environment, or the default.
long long env_count(const char* name, long long fallback) {
    const char* t = std::getenv(name);
    if (!t || !*t) return fallback;
    char* end = nullptr;
    long long n = std::strtoll(t, &end, 10);
    return *end == '\0' && n > 0 ? n : fallback;
}

// A series holds at most 2^31 - 1 bytes.
constexpr uint64_t MAX_BODY = 0x7FFFFFFFull;

// The response body, received into the binary! in a stack slot. A body of
// declared length goes straight into it, sized once. A body of unknown
// length (chunked, or ended by closing) is gathered outside the arena in
// address space reserved up to the limit (only the pages written use
// memory), then moved into a binary! of its exact size a slice at a time,
// each slice released once copied: the body is never held twice, and a
// growing series never needs its old and new buffers at once.
//
// The sink runs inside the transfer, under libcurl's frames, where no
// language error may pass: an allocation that fails is kept and raised again
// once the transfer is over, and a body past the limit stops the transfer.
class BodyInto final : public http::BodySink {
  public:
    BodyInto(Cell* slot, uint64_t limit) : slot_(slot), limit_(limit) {}
    ~BodyInto() {
        if (side_) munmap(side_, side_size_);
    }
    BodyInto(const BodyInto&) = delete;
    BodyInto& operator=(const BodyInto&) = delete;

    bool expect(uint64_t length) override {
        if (length > limit_) {
            too_long_ = true;
            return false;
        }
        Cell* top = stack::top;
        try {
            uint8_t* unused = nullptr;
            *slot_ = *binary::push_room(uint32_t(length), unused);
            binary::cut(slot_, 0);
            stack::top = top;
            declared_ = true;
            return true;
        } catch (const RaisedError& e) {
            failed_ = e;
            return false;
        }
    }

    bool take(const uint8_t* bytes, size_t count) override {
        if (got_ + count > limit_) {
            too_long_ = true;
            return false;
        }
        uint8_t* to = nullptr;
        if (declared_) {
            SeriesBuffer* b = buffer_of(series_node(slot_));
            if (got_ + count <= uint64_t(b->data_end() - b->head)) {
                to = b->head_ptr() + got_;
                b->tail = b->head + uint32_t(got_ + count);
            } else {
                // More than declared (libcurl holds a body to its length, so
                // this is only a guard): gather the rest without a length.
                if (!reserve()) return false;
                std::memcpy(side_, buffer_of(series_node(slot_))->head_ptr(), got_);
                declared_ = false;
            }
        }
        if (!to) {
            if (!side_ && !reserve()) return false;
            to = side_ + got_;
        }
        std::memcpy(to, bytes, count);
        got_ += count;
        return true;
    }

    // After the transfer: a failure met inside it, raised here.
    void raise_kept() {
        if (no_room_) fire({"internal", "no-memory"});
        if (too_long_) fire({"script", "too-long"});
        if (failed_) throw *failed_;
    }

    // After a whole transfer: the binary! in the slot receives the body.
    void finish() {
        if (declared_ || !side_) return;
        Cell* top = stack::top;
        uint8_t* unused = nullptr;
        *slot_ = *binary::push_room(uint32_t(got_), unused);
        stack::top = top;
        constexpr uint64_t SLICE = uint64_t(64) << 20;
        for (uint64_t at = 0; at < got_; at += SLICE) {
            uint64_t n = std::min(SLICE, got_ - at);
            std::memcpy(buffer_of(series_node(slot_))->head_ptr() + at, side_ + at, n);
            // Whole pages only: the slice's last page may hold the next bytes.
            uint64_t done = (at + n) & ~uint64_t(4095);
            uint64_t from = at & ~uint64_t(4095);
            if (done > from) madvise(side_ + from, done - from, MADV_DONTNEED);
        }
    }

  private:
    bool reserve() {
        side_size_ = (limit_ + 4095) & ~uint64_t(4095);
        void* p = mmap(nullptr, side_size_, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (p == MAP_FAILED) {
            side_size_ = 0;
            no_room_ = true;
            return false;
        }
        side_ = static_cast<uint8_t*>(p);
        return true;
    }

    Cell* slot_;
    uint64_t limit_;
    uint64_t got_ = 0;
    bool declared_ = false;
    bool too_long_ = false;
    bool no_room_ = false;
    uint8_t* side_ = nullptr;
    uint64_t side_size_ = 0;
    std::optional<RaisedError> failed_;
};

// The received bytes as the action's value, made from the binary! in *body
// (which it replaces): as it is for /binary; for text, decoded with CR LF
// folded to LF, in place when every byte is ASCII; for /lines, a block of
// the lines (each LF ends one, a CR right before it is dropped).
void shape_body(Cell* body, bool binary, bool lines) {
    if (binary) return;
    uint32_t n = 0;
    if (lines) {
        Cell* blk = block::push_only(16);
        uint32_t start = 0;
        const uint8_t* p = binary::bytes_at(body, n);
        for (uint32_t i = 0; i <= n; ++i) {
            if (i < n && p[i] != '\n') continue;
            if (i == n && start == n) break;
            uint32_t end = i;
            if (i < n && end > start && p[end - 1] == '\r') --end;
            {
                memory::CollectionPause pause;  // p stays valid while the line loads
                string::load_in(p + start, end - start, blk, string::ENC_UTF8);
            }
            p = binary::bytes_at(body, n);
            start = i + 1;
        }
        *body = *blk;
        stack::top = body + 1;
        return;
    }
    uint8_t* p = const_cast<uint8_t*>(binary::bytes_at(body, n));
    bool ascii = true;
    for (uint32_t i = 0; i < n && ascii; ++i) ascii = p[i] < 0x80;
    if (ascii) {
        // ASCII is its own one-byte text: fold the line ends and retype.
        uint32_t w = 0;
        for (uint32_t i = 0; i < n; ++i) {
            if (p[i] == '\r') {
                p[w++] = '\n';
                if (i + 1 < n && p[i + 1] == '\n') ++i;
            } else {
                p[w++] = p[i];
            }
        }
        binary::cut(body, w);
        body->set_type(TYPE_STRING);
        return;
    }
    memory::CollectionPause pause;  // p stays valid while the text is made
    Off node = unicode::load_utf8(p, n, 0, nullptr, true);
    *body = Cell{TYPE_STRING, 0, node, 0};
}

// Fires script invalid-arg with the value when its text holds a line break.
void refuse_line_break(const std::string& text, const Cell& value) {
    if (http::holds_line_break(text)) fire({"script", "invalid-arg"}, value);
}

// The headers of the response as a map!: each name a word, each value a
// string; a name met again turns its entry into a block of its strings.
void push_header_map(const http::Response& res) {
    Cell* pairs = block::push_only(int32_t(res.headers.size() * 2));
    for (const auto& [name, value] : res.headers) {
        uint32_t sym = symbol::make_from_utf8(name);
        Cell key;
        word::make_at(sym, &key);
        Cell blk = *pairs;
        Cell* found = nullptr;
        uint32_t n = block::cells_length(&blk);
        for (uint32_t i = 0; i + 1 < n; i += 2) {
            Cell* k = block::cells_at(&blk, blk.w1 + i);
            if (symbol::resolve(k->w2) == symbol::resolve(sym)) {
                found = k + 1;
                break;
            }
        }
        const auto* bytes = reinterpret_cast<const uint8_t*>(value.data());
        if (!found) {
            block::cells_append(pairs, &key);
            string::load_in(bytes, uint32_t(value.size()), pairs, string::ENC_UTF8);
            continue;
        }
        uint32_t at = uint32_t(found - block::cells_at(&blk, blk.w1));
        if (found->type() != TYPE_BLOCK) {
            Cell first = *found;
            Cell* list = block::push_only(4);
            block::cells_append(list, &first);
            Cell l = *list;
            *block::cells_at(pairs, pairs->w1 + at) = l;
            stack::top = list;
        }
        Cell list = *block::cells_at(pairs, pairs->w1 + at);
        string::load_in(bytes, uint32_t(value.size()), &list, string::ENC_UTF8);
    }
    Cell* m = stack::push(none::cell());
    (void)map::make(m, pairs, TYPE_MAP);  // writes *m; runs no Kiv code
    *pairs = *m;
    stack::top = pairs + 1;
}

// Runs the request and pushes the action's result.
Cell* perform(Cell* url, http::Request& req, bool binary, bool lines, bool info) {
    req.url = wire_url(url);
    refuse_line_break(req.url, *url);
    req.idle_timeout = long(env_count("KIV_HTTP_TIMEOUT", 60));
    req.deadline = long(env_count("KIV_HTTP_DEADLINE", 600));
    uint8_t* unused = nullptr;
    Cell* body = binary::push_room(0, unused);
    BodyInto sink(body, uint64_t(std::min<long long>(env_count("KIV_HTTP_MAX_BODY", MAX_BODY), MAX_BODY)));
    req.sink = &sink;
    http::Response res;
    bool answered = http::request(req, res);
    sink.raise_kept();
    if (!answered) fire({"access", "no-connect"}, *url);
    sink.finish();
    if (req.method == "HEAD" && info)
        *body = none::cell();
    else
        shape_body(body, binary, lines);
    stack::top = body + 1;
    if (!info) return body;
    Cell* result = block::push_only(3);
    Cell status = integer::cell(int32_t(res.status));
    block::cells_append(result, &status);
    push_header_map(res);
    block::cells_append(result, stack::top - 1);
    stack::top = result + 1;
    block::cells_append(result, body);
    *body = *result;
    stack::top = body + 1;
    return body;
}

// The request body: a string! as UTF-8 (no line-end change), a binary! as
// its bytes from the index, a block! as its molded contents.
void body_of(Cell* data, http::Request& req) {
    req.has_body = true;
    if (data->type() == TYPE_BINARY) {
        binary::gather(data, -1, false, false, req.body);
    } else if (data->type() == TYPE_BLOCK) {
        stack::TopMark mark;
        std::string s = unicode::to_utf8_string(string::push_molded(*data, true));
        req.body.assign(s.begin(), s.end());
    } else {
        std::string s = unicode::to_utf8_string(data);
        req.body.assign(s.begin(), s.end());
    }
}

// Header pairs from a block: a word names by its name, any other name and
// any non-string value by its formed text. A name without a value is an
// invalid argument.
void headers_of(Cell* headers, http::Request& req) {
    Cell blk = *headers;
    uint32_t n = block::cells_length(&blk);
    if (n % 2) fire({"script", "invalid-arg"}, blk);
    for (uint32_t i = 0; i < n; i += 2) {
        Cell name = *block::cells_at(&blk, blk.w1 + i);
        Cell value = *block::cells_at(&blk, blk.w1 + i + 1);
        std::string key = name.type() >= TYPE_WORD && name.type() <= TYPE_REFINEMENT
                              ? std::string(symbol::name_view(name.w2))
                              : formed(&name);
        refuse_line_break(key, name);
        std::string text = formed(&value);
        refuse_line_break(text, value);
        req.headers.emplace_back(std::move(key), std::move(text));
    }
}

std::string method_name(uint32_t symbol) {
    std::string m(symbol::name_view(symbol));
    for (char& c : m)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    return m;
}

Outcome read(Cell* source, Cell* part, Cell* seek, bool binary, bool lines, bool info, Cell* as) {
    if (!is_http(source)) return port::read_url(source, part, seek, binary, lines, info, as);
    if (part || seek || as) fire({"internal", "not-done"});
    http::Request req;
    req.method = "GET";
    req.headers = http::default_headers;
    return perform(source, req, binary, lines, info);
}

Outcome write(Cell* destination, Cell* data, bool binary, bool lines, bool info, bool append, Cell* part,
              Cell* seek, Cell* allow, Cell* as) {
    if (!is_http(destination))
        return port::write_url(destination, data, binary, lines, info, append, part, seek, allow, as);
    if (seek || allow || as) fire({"internal", "not-done"});
    http::Request req;
    Cell* headers = nullptr;
    Cell* body = data;
    if (data->type() == TYPE_BLOCK) {
        Cell blk = *data;
        uint32_t n = block::cells_length(&blk);
        body = nullptr;
        req.method = "GET";
        if (n > 0) {
            Cell* method = block::cells_at(&blk, blk.w1);
            if (method->type() != TYPE_WORD) fire({"script", "invalid-arg"}, *method);
            req.method = method_name(method->w2);
            refuse_line_break(req.method, *method);
        }
        if (n > 1) {
            headers = stack::push(*block::cells_at(&blk, blk.w1 + 1));
            if (headers->type() != TYPE_BLOCK) fire({"script", "invalid-arg"}, *headers);
        }
        if (n > 2) body = stack::push(*block::cells_at(&blk, blk.w1 + 2));
        if (n > 3) fire({"script", "invalid-arg"}, *block::cells_at(&blk, blk.w1 + 3));
    } else {
        req.method = "POST";
    }
    if (body) {
        uint32_t t = body->type();
        if (t != TYPE_NONE && t != TYPE_BLOCK && t != TYPE_STRING && t != TYPE_BINARY)
            fire({"script", "invalid-arg"}, *body);
        // GET and HEAD carry no body.
        if (t != TYPE_NONE && req.method != "GET" && req.method != "HEAD") body_of(body, req);
    }
    if (headers)
        headers_of(headers, req);
    else
        req.headers = http::default_headers;
    return perform(destination, req, binary, lines, info);
}

Outcome open(Cell* spec, bool new_, bool read_, bool write_, bool seek, Cell* allow) {
    return port::from_url(spec, true, new_, read_, write_, seek, allow);
}

}  // namespace

void register_io(datatype::Registration& r) {
    r.set<ACT_READ>(read);
    r.set<ACT_WRITE>(write);
    r.set<ACT_OPEN>(open);
}

}  // namespace kiv::url
