#include "runtime/error.h"

#include "datatypes/error.h"
#include "datatypes/string.h"
#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "runtime/error_catalog.h"
#include "runtime/lowlevel.h"

namespace kiv {

ErrorTracer trace_error = nullptr;

namespace {

// Set while an error value is being built: an error raised meanwhile (the
// build itself failing) is raised without a value instead of recursing.
bool building = false;

[[noreturn]] void raise(const char* category, const char* id, const Cell* args, int n) {
    RaisedError e{category, id, {}, n};
    for (int i = 0; i < n; ++i) e.args[i] = args[i];
    // An error while the value of another is built: back to the builder,
    // with the stacks left for it to restore.
    if (building) throw e;
    {
        building = true;
        Cell* saved_top = stack::top;
        Cell* saved_base = stack::arg_base;
        stack::Frame* saved_frames = stack::frames_top;
        try {
            e.value = error::create_named(category, id, args, n);
            if (e.value.type() == TYPE_ERROR) {
                Cell position{TYPE_INTEGER, 0, stack::frame_count(), 0};
                *error::field(&e.value, error::FIELD_STACK) = position;
                error::hold_in_flight(e.value);
                if (trace_error) {
                    uint32_t saved = ks::system_record.thrown;
                    ks::system_record.thrown = 0;
                    trace_error(e.value);
                    ks::system_record.thrown = saved;
                }
            }
        } catch (const RaisedError&) {
            e.value = Cell{TYPE_NONE, 0, 0, 0};
            stack::top = saved_top;
            stack::arg_base = saved_base;
            stack::frames_top = saved_frames;
        }
        building = false;
    }
    // The stacks stay as they were at the fire point (the catching try or
    // the top level restores them with stack::catch_at); re-raising an
    // error that no frame took goes through stack::throw_error.
    throw e;
}

}  // namespace

void fire(const char* category, const char* id) {
    raise(category, id, nullptr, 0);
}
void fire(const char* category, const char* id, const Cell& a1) {
    Cell a[1] = {a1};
    raise(category, id, a, 1);
}
void fire(const char* category, const char* id, const Cell& a1, const Cell& a2) {
    Cell a[2] = {a1, a2};
    raise(category, id, a, 2);
}
void fire(const char* category, const char* id, const Cell& a1, const Cell& a2, const Cell& a3) {
    Cell a[3] = {a1, a2, a3};
    raise(category, id, a, 3);
}

std::string raised_text(const RaisedError& e) {
    if (e.value.type() == TYPE_ERROR) {
        try {
            return error::form_text(e.value);
        } catch (const RaisedError&) {
            // Fall back to the catalog text below.
        }
    }
    namespace cat = error_catalog;
    std::string text = "*** ";
    int c = cat::category_index(e.category);
    int i = c >= 0 ? cat::id_index(c, e.id) : -1;
    if (c < 0 || i < 0) {
        text += cat::category(cat::CAT_INTERNAL).type_text;
        text.append(": invalid error: ").append(e.category).append(1, ' ').append(e.id);
        return text;
    }
    text += cat::category(c).type_text;
    text += ": ";
    // Arguments as their molded text where the datatypes can mold them.
    std::string args[3];
    for (int k = 0; k < e.arg_count && k < 3; ++k) {
        try {
            Cell* saved = stack::top;
            Cell* v = stack::push(e.args[k]);
            Cell* out = string::make_at(stack::push_slot(), 16);
            actions::mold(v, out, false, false, true, nullptr, 80, 0);
            const SeriesBuffer* b = buffer_of(out->w2);
            for (const uint8_t *p = b->head_ptr(), *end = b->tail_ptr(); p < end; p += b->unit()) {
                uint32_t cp = string::get_char(p, b->unit());
                args[k] += cp < 0x80 ? char(cp) : '?';
            }
            stack::top = saved;
        } catch (const RaisedError&) {
            args[k].assign(1, '?');
        }
    }
    std::string_view views[3] = {args[0], args[1], args[2]};
    cat::append_message(text, *cat::template_of(c, i), views);
    return text;
}

}  // namespace kiv
