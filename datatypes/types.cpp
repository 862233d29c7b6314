#include "datatypes/types.h"

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/file.h"
#include "datatypes/float.h"
#include "datatypes/function.h"
#include "datatypes/handle.h"
#include "datatypes/hash_values.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/native.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/path.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/tag.h"
#include "datatypes/typeset.h"
#include "datatypes/unset.h"
#include "datatypes/url.h"
#include "datatypes/word.h"

namespace kiv::datatype {

namespace {
// A type whose module does not exist yet still gets its id, parent and name,
// with every action slot empty (each action then raises expect-arg).
void register_blank(uint32_t id, uint32_t parent, const char* name) {
    register_type(blank(id, parent, name));
}
}  // namespace

void register_all() {
    hash_values::install();
    datatype::init();
    unset::init();
    none::init();
    logic::init();
    series::init();
    block::init();
    string::init();
    binary::init();
    integer::init();
    symbol::init();
    context::init();
    word::init();
    lit_word::init();
    set_word::init();
    get_word::init();
    refinement::init();
    char_::init();
    native::init();  // native!, action!, op!
    path::init();  // path!, lit-path!, set-path!, get-path!
    function::init();
    routine::init();
    paren::init();
    issue::init();
    url::init();
    file::init();
    object::init();
    register_blank(TYPE_BITSET, 0, "bitset!");
    triple::init();
    float_::init();
    typeset::init();
    error::init();
    register_blank(TYPE_VECTOR, TYPE_STRING, "vector!");
    register_blank(TYPE_MAP, 0, "map!");
    register_blank(TYPE_HASH, TYPE_BLOCK, "hash!");
    register_blank(TYPE_PAIR, 0, "pair!");
    percent::init();
    register_blank(TYPE_TUPLE, 0, "tuple!");
    register_blank(TYPE_TIME, TYPE_FLOAT, "time!");
    tag::init_tag();
    tag::init_email();
    handle::init();
    register_blank(TYPE_DATE, 0, "date!");
    register_blank(TYPE_PORT, TYPE_OBJECT, "port!");
    register_blank(TYPE_MONEY, 0, "money!");
    tag::init_ref();
    register_blank(TYPE_POINT2D, 0, "point2D!");
    register_blank(TYPE_POINT3D, 0, "point3D!");
}

void register_image() {
    register_blank(TYPE_IMAGE, TYPE_SERIES, "image!");
}

}  // namespace kiv::datatype
