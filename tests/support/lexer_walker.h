// A second structural scanner over the lexer's token loop, kept as the tests'
// oracle (unit tests and fuzz targets); it is not part of the runtime.
//
// `Walker` drives `scan_token` (evaluator/lexer_scan.h) the way a scan-only
// run of the lexer does: it runs the structural scanners (containers, braced
// strings, paths, points, commas, comments) and classifies every value token,
// giving for each item its token class, datatype and the full extent of its
// source text, including the closing bytes that the loaders consume. It stops
// at the first syntax error and reports it as the lexer would raise it (kind,
// datatype, position). The tests check the lexer's own load against it.
#pragma once

#include <cstdint>
#include <vector>

#include "evaluator/lexer_scan.h"

namespace kiv::lexer {

// Syntax error kinds, as the lexer raises them.
enum class ErrorKind : uint8_t {
    none,
    invalid,   // `invalid` of `Item::type`
    bad_char,  // `bad-char`
    missing,   // `missing` with `Item::missing`
};

// What the walker reports.
enum class Event : uint8_t {
    value,  // a value token (token classes 13..35, and constructions)
    open,   // a container opens: block!, paren!, map!, a path type, point2D!
    close,  // it closes (`type` is the final type: a path may end as set-path!)
    end,    // end of the input, every container closed
    error,  // a syntax error; the walk is over
};

struct Item {
    Event event = Event::end;
    uint8_t token = F_END;  // final state of the token that made the item
    uint8_t type = 0;       // datatype of the value or container, or the one in error
    ErrorKind error = ErrorKind::none;
    char missing = 0;                // the missing character of a `missing` error
    const uint8_t* start = nullptr;  // source text of the item (for errors: where the near text starts)
    const uint8_t* end = nullptr;    // one past its last byte
    uint32_t flags = 0;              // token flags (for braced strings, the OR over all pieces)
    uint32_t line = 1;               // line of the first byte
    uint32_t line_feeds = 0;         // line feeds read since the previous item (new-line marker when > 0)
};

class Walker {
  public:
    Walker(const uint8_t* begin, const uint8_t* end);

    // The next item; after `end` or `error` every call repeats that item.
    const Item& next();
    uint32_t line() const { return cursor_.line; }
    const uint8_t* position() const { return cursor_.pos; }

  private:
    struct Open {
        uint8_t type;       // block!, paren!, map!, point2D!, or a path type
        uint8_t commas;     // point containers: commas seen
        const uint8_t* at;  // where it opened
    };

    void step();
    void push(Event e, uint8_t token, uint8_t type, const uint8_t* start, const uint8_t* end, uint32_t flags,
              uint32_t line);
    void fail(ErrorKind kind, uint8_t type, const uint8_t* at, uint32_t line, char missing = 0);
    void missing(const uint8_t* at, uint32_t line, bool at_end);
    void open(uint8_t token, uint8_t type, const uint8_t* start, const uint8_t* end, uint32_t line);
    void value(const Token& t);
    bool in_path() const;
    // After an element or a container inside a path: `/` continues the path,
    // `:` ends it as a set-path, anything else ends it.
    void after_path_part(bool ended_with_colon);

    Cursor cursor_;
    std::vector<Open> stack_;
    Item queue_[4];
    int queued_ = 0;
    int taken_ = 0;
    bool done_ = false;
    uint32_t pending_line_feeds_ = 0;
    const uint8_t* point_start_ = nullptr;  // the `(` of a point being read from state 35
    // An open braced string.
    uint32_t brace_depth_ = 0;
    const uint8_t* brace_start_ = nullptr;
    uint32_t brace_flags_ = 0;
    uint32_t brace_line_ = 0;
};

}  // namespace kiv::lexer
