// Start-up's share of the library: decoding the boot image (what kiv does)
// against lexing the library's source text (what it did before the image).
// BM_DecodeLibraryModules and BM_LexLibrarySources read the same modules
// and must keep the decode the faster; BM_DecodeBootImage is the whole
// image, whose natives and actions are made as they were before (from
// their specs). bench/startup-run measures the whole process.
#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "library/serialize.h"
#include "boot/startup.h"
#include "datatypes/block.h"
#include "datatypes/none.h"
#include "library/image.h"
#include "library/library.h"
#include "runtime/memory.h"
#include "runtime/series.h"
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

// The same modules as BM_LexLibrarySources, decoded from an image that
// holds only them (no natives or actions to make): the like-for-like
// comparison of reading the library.
void BM_DecodeLibraryModules(benchmark::State& state) {
    kiv::boot(BootLevel::language);
    memory::collection_enabled = false;  // as at start-up
    const auto texts = sources();
    Cell* literals = stack::push(none::cell());
    block::make_at(literals, 32);
    for (const auto& t : texts) {
        Cell* saved = stack::top;
        Cell* name = stack::push(none::cell());
        Cell* code = library::load_script(t.data(), t.size(), name, nullptr);
        block::cells_append(literals, code);
        stack::top = saved;
    }
    Cell* none_block = stack::push(none::cell());
    block::make_at(none_block, 1);
    Cell* image = stack::push(none::cell());
    kivbin::encode_boot(none_block, literals, image);
    const std::vector<uint8_t> bytes(buffer_of(image->w2)->head_ptr(),
                                     buffer_of(image->w2)->head_ptr() + buffer_of(image->w2)->byte_count());
    Cell* target = stack::push(none::cell());
    for (auto _ : state) {
        block::make_at(target, 64);
        kivbin::decode(bytes.data(), uint32_t(bytes.size()), target, kivbin::BOOT);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}

}  // namespace

BENCHMARK(BM_DecodeLibraryModules)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeBootImage)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LexLibrarySources)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
