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
// still before it is abandoned (default 60).
#include <cstdlib>
#include <string>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/file.h"
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

long idle_timeout() {
    const char* t = std::getenv("KIV_HTTP_TIMEOUT");
    if (!t || !*t) return 60;
    char* end = nullptr;
    long n = std::strtol(t, &end, 10);
    return *end == '\0' && n > 0 ? n : 60;
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
    req.idle_timeout = idle_timeout();
    http::Response res;
    if (!http::request(req, res)) fire({"access", "no-connect"}, *url);
    if (!info) return file::push_read_value(res.body, binary, lines);
    Cell* result = block::push_only(3);
    Cell status = integer::cell(int32_t(res.status));
    block::cells_append(result, &status);
    push_header_map(res);
    block::cells_append(result, stack::top - 1);
    stack::top = result + 1;
    Cell* body = req.method == "HEAD" ? stack::push(none::cell()) : file::push_read_value(res.body, binary, lines);
    block::cells_append(result, body);
    stack::top = result + 1;
    return result;
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
        req.headers.emplace_back(key, formed(&value));
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
