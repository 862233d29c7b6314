// The kiv executable's entry.
#include "boot/startup.h"

int main(int argc, char** argv) {
    kiv::entry(argc, argv);
}
