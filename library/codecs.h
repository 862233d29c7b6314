// The codec routines behind system/codecs: image encode and decode for each
// image format, and the serialization codec's encode* and decode. The codec
// objects themselves are Kiv (library/codecs.kiv); it takes the routines
// from the object of this table (`routine-table 'codecs`).
#pragma once

#include "library/routine_table.h"

namespace kiv::library::codecs {

// The object table `codecs`: `KEY-encode` and `KEY-decode` for png, jpeg,
// bmp, gif and tiff, `kivbin-encode*` and `kivbin-decode`.
extern const routine::Table TABLE;

}  // namespace kiv::library::codecs
