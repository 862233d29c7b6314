// The boot image the executable carries: the bytes that the boot image tool
// (boot/make_image.cpp) wrote at build time, in read-only static storage
// for the whole run (library/boot_image.cpp includes the file as it is).
// The tool itself is built without one: it defines these as empty.
#pragma once

#include <cstdint>

namespace kiv::library {

extern const uint8_t* const BOOT_IMAGE;
extern const uint32_t BOOT_IMAGE_SIZE;

}  // namespace kiv::library
