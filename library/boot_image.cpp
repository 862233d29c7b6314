// The boot image, included byte for byte by the assembler from the file
// that the build wrote (KIV_BOOT_IMAGE_FILE); not part of the runtime
// library, so that the boot image tool links without it.
#include "library/image.h"

#ifndef KIV_BOOT_IMAGE_FILE
#error "KIV_BOOT_IMAGE_FILE must name the boot image"
#endif

asm(".section .rodata\n"
    ".balign 16\n"
    "kiv_boot_image_start:\n"
    ".incbin \"" KIV_BOOT_IMAGE_FILE "\"\n"
    "kiv_boot_image_end:\n"
    ".byte 0\n"
    ".previous\n");

extern "C" const uint8_t kiv_boot_image_start[];
extern "C" const uint8_t kiv_boot_image_end[];

namespace kiv::library {

const uint8_t* const BOOT_IMAGE = kiv_boot_image_start;
const uint32_t BOOT_IMAGE_SIZE = uint32_t(kiv_boot_image_end - kiv_boot_image_start);

}  // namespace kiv::library
