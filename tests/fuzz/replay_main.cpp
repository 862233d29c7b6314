// Replay driver for the fuzz targets when libFuzzer is not available (g++
// builds): runs LLVMFuzzerTestOneInput once on every file named on the
// command line, and on every file inside each directory named, in sorted
// order. This is how `make test` replays the kept inputs of tests/fuzz/corpus.
// A target reports a failed check by aborting, so reaching the end is a pass.
// A target may define KivFuzzDescribe to show what an input stands for:
// `--print FILE...` calls it instead of running the inputs.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) void KivFuzzDescribe(const uint8_t* data, size_t size);

namespace {

bool print_only = false;

int replay(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "replay: cannot read %s\n", file.c_str());
        return 1;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // An exact-size heap copy, so that the sanitizers see any read past the end.
    uint8_t* copy = new uint8_t[bytes.size() ? bytes.size() : 1];
    std::copy(bytes.begin(), bytes.end(), copy);
    if (print_only && KivFuzzDescribe) {
        KivFuzzDescribe(copy, bytes.size());
    } else {
        LLVMFuzzerTestOneInput(copy, bytes.size());
    }
    delete[] copy;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int failures = 0;
    size_t count = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--print") {
            print_only = true;
            continue;
        }
        const std::filesystem::path arg(argv[i]);
        std::vector<std::filesystem::path> files;
        if (std::filesystem::is_directory(arg)) {
            for (const auto& e : std::filesystem::directory_iterator(arg)) {
                if (e.is_regular_file()) files.push_back(e.path());
            }
            std::sort(files.begin(), files.end());
        } else {
            files.push_back(arg);
        }
        for (const auto& f : files) {
            failures += replay(f);
            ++count;
        }
    }
    std::printf("replayed %zu inputs\n", count);
    return failures ? 1 : 0;
}
