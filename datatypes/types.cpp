#include "datatypes/types.h"

#include "datatypes/binary.h"
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/context.h"
#include "datatypes/date.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/file.h"
#include "datatypes/float.h"
#include "datatypes/function.h"
#include "datatypes/handle.h"
#include "datatypes/image.h"
#include "datatypes/hash.h"
#include "datatypes/hash_values.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/money.h"
#include "datatypes/map.h"
#include "datatypes/native.h"
#include "datatypes/none.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/port.h"
#include "datatypes/path.h"
#include "datatypes/point.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/tag.h"
#include "datatypes/time.h"
#include "datatypes/tuple.h"
#include "datatypes/typeset.h"
#include "datatypes/unset.h"
#include "datatypes/vector.h"
#include "datatypes/url.h"
#include "datatypes/word.h"

namespace kiv::datatype {

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
    bitset::init();
    triple::init();
    float_::init();
    typeset::init();
    error::init();
    vector::init();
    map::init();
    hash::init();
    pair::init();
    percent::init();
    tuple::init();
    time_::init();
    tag::init_tag();
    tag::init_email();
    handle::init();
    date::init();
    port::init();
    money::init();
    tag::init_ref();
    point::init();  // point2D!, point3D!
}

void register_image() {
    image::init();
}

}  // namespace kiv::datatype
