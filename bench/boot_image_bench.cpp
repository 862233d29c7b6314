// Start-up's share of the library: decoding the boot image (what kiv does)
// against lexing the library's source text (what it did before the image).
// The image decode must stay the faster of the two; bench/startup-run
// measures the whole process.
#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "boot/serialize.h"
#include "boot/startup.h"
#include "datatypes/block.h"
#include "datatypes/none.h"
#include "library/image.h"
#include "library/library.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

using namespace kiv;

namespace {

void BM_DecodeBootImage(benchmark::State& state) {
    kiv::boot(BootLevel::language);
    memory::collection_enabled = false;  // as at start-up
    Cell* target = stack::push(none::cell());
    for (auto _ : state) {
        block::make_at(target, 64);
        kivbin::decode(library::BOOT_IMAGE, library::BOOT_IMAGE_SIZE, target, kivbin::BOOT);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * library::BOOT_IMAGE_SIZE);
    stack::pop(1);
}

// The library modules' text, as the image tool reads them.
std::vector<std::vector<uint8_t>> sources() {
    std::vector<std::vector<uint8_t>> texts;
    for (const char* rel : {"library/actions.kiv", "library/base.kiv", "library/files.kiv",
                            "library/functions.kiv", "library/operators.kiv", "library/startup.kiv",
                            "library/system.kiv", "library/typesets.kiv", "console/commands.kiv"}) {
        std::ifstream in(std::string(KIV_SOURCE_DIR) + "/" + rel, std::ios::binary);
        if (in) texts.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return texts;
}

void BM_LexLibrarySources(benchmark::State& state) {
    kiv::boot(BootLevel::language);
    memory::collection_enabled = false;  // as at start-up
    const auto texts = sources();
    int64_t bytes = 0;
    for (const auto& t : texts) bytes += int64_t(t.size());
    Cell* saved = stack::top;
    for (auto _ : state) {
        for (const auto& t : texts) {
            Cell* name = stack::push(none::cell());
            library::load_script(t.data(), t.size(), name, nullptr);
            stack::top = saved;
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * bytes);
}

}  // namespace

BENCHMARK(BM_DecodeBootImage)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LexLibrarySources)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
