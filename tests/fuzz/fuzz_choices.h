// Reads a grammar-driven fuzz target's choices from its input; past the end
// every choice is 0, which the grammars always map to a short, terminating
// form.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kiv::fuzz {

class Choices {
  public:
    Choices(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}
    uint32_t next(uint32_t n) {
        if (p_ >= end_ || n == 0) return 0;
        return *p_++ % n;
    }
    bool done() const { return p_ >= end_; }

  private:
    const uint8_t* p_;
    const uint8_t* end_;
};

}  // namespace kiv::fuzz
