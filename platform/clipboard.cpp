// The in-process clipboard store (see clipboard.h).
#include "platform/clipboard.h"

#include <map>

namespace kiv::platform::clipboard {

namespace {

class MemoryStore final : public Store {
  public:
    bool open() override { return true; }
    void close() override {}
    bool empty() override {
        formats_.clear();
        return true;
    }
    bool put(const std::string& format, std::vector<uint8_t> bytes) override {
        formats_[format] = std::move(bytes);
        return true;
    }
    bool get(const std::string& format, std::vector<uint8_t>& out) override {
        auto it = formats_.find(format);
        if (it == formats_.end()) return false;
        out = it->second;
        return true;
    }

  private:
    std::map<std::string, std::vector<uint8_t>> formats_;
};

MemoryStore memory_store;
Store* current = nullptr;

}  // namespace

Store& store() { return current ? *current : memory_store; }

void set_store(Store* s) { current = s; }

}  // namespace kiv::platform::clipboard
