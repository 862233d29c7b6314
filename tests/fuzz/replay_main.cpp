// Runs a fuzz target without libFuzzer: every file named on the command line,
// and every file of every folder named (in name order), is passed once to
// LLVMFuzzerTestOneInput. CTest replays the kept inputs of each target this
// way; it also runs a single input under a debugger. A target may define
// KivFuzzDescribe to show what an input stands for: `--print FILE...` calls
// it instead of running the inputs.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) void KivFuzzDescribe(const uint8_t* data, size_t size);

namespace {

bool read_file(const std::string& path, std::vector<uint8_t>* out) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    uint8_t buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out->insert(out->end(), buf, buf + n);
    std::fclose(f);
    return true;
}

void collect_inputs(const std::string& path, std::vector<std::string>* files) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return;
    }
    if (!S_ISDIR(st.st_mode)) {
        files->push_back(path);
        return;
    }
    DIR* d = opendir(path.c_str());
    if (!d) return;
    std::vector<std::string> names;
    while (dirent* e = readdir(d))
        if (e->d_name[0] != '.') names.push_back(e->d_name);
    closedir(d);
    std::sort(names.begin(), names.end());
    for (const std::string& n : names) files->push_back(path + "/" + n);
}

}  // namespace

int main(int argc, char** argv) {
    bool print = false;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--print") {
            print = true;
        } else {
            collect_inputs(a, &files);
        }
    }
    for (const std::string& path : files) {
        std::vector<uint8_t> data;
        if (!read_file(path, &data)) {
            std::fprintf(stderr, "cannot read %s\n", path.c_str());
            return 1;
        }
        if (print && KivFuzzDescribe) {
            KivFuzzDescribe(data.data(), data.size());
            continue;
        }
        std::fprintf(stderr, "running %s\n", path.c_str());
        LLVMFuzzerTestOneInput(data.data(), data.size());
    }
    std::fprintf(stderr, "%zu inputs\n", files.size());
    return 0;
}
