// Registration of every datatype, in the fixed start-up order.
#pragma once

namespace kiv::datatype {

// Registers all datatypes but image! and event!, parents before children.
void register_all();
// image! registers after the imaging layer is up.
void register_image();

}  // namespace kiv::datatype
