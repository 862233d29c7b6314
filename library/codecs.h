// The codec routines behind system/codecs: image encode and decode for each
// image format, and the serialization codec's encode* and decode. The codec
// objects themselves are Kiv (library/codecs.kiv); during start-up it asks
// for each routine through `codec-routine`, which the module then unsets.
#pragma once

namespace kiv::library::codecs {

// Binds `codec-routine` (key word, `encode`/`decode`/`encode*` word ->
// routine!, or none for an unknown pair).
void bind();

}  // namespace kiv::library::codecs
