// The keywords of a dialect (parse, Draw): a word's keyword code by its
// symbol id.
//
// A map is built once from (symbol id, code) pairs, before the dialect first
// runs (building interns nothing, but the caller may intern the names first).
// Every case variant of a keyword's name is the keyword: look-ups go by the
// canonical symbol. Each symbol id met is remembered, so that the hot path is
// one bounds check and one load; code 0 means "not a keyword".
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "datatypes/symbol.h"

namespace kiv {

class KeywordMap {
  public:
    struct Entry {
        uint32_t symbol;
        uint8_t code;
    };

    // Replaces the map's keywords (and forgets the ids met so far).
    void build(const Entry* entries, size_t count) {
        by_canonical_.clear();
        by_id_.clear();
        ids_ = nullptr;
        ids_size_ = 0;
        for (size_t i = 0; i < count; ++i) {
            const uint32_t c = symbol::resolve(entries[i].symbol);
            if (c >= by_canonical_.size()) by_canonical_.resize(c + 1, 0);
            by_canonical_[c] = entries[i].code;
        }
    }
    bool built() const { return !by_canonical_.empty(); }

    // The keyword code of a symbol id (0: none).
    uint8_t of(uint32_t id) {
        if (id < ids_size_) {
            const uint8_t k = ids_[id];
            if (k != UNKNOWN) return k;
        }
        return look_up(id);
    }

  private:
    static constexpr uint8_t UNKNOWN = 0xFF;
    // Ids beyond this are answered without being remembered.
    static constexpr uint32_t MEMO_LIMIT = 1u << 20;

    uint8_t look_up(uint32_t id) {
        const uint32_t c = symbol::resolve(id);
        const uint8_t k = c < by_canonical_.size() ? by_canonical_[c] : 0;
        if (id < MEMO_LIMIT) {
            if (id >= by_id_.size()) {
                by_id_.resize(id + 1024, UNKNOWN);
                ids_ = by_id_.data();
                ids_size_ = uint32_t(by_id_.size());
            }
            by_id_[id] = k;
        }
        return k;
    }

    std::vector<uint8_t> by_canonical_;
    std::vector<uint8_t> by_id_;
    // by_id_'s data and size as the hot path reads them (two loads, not the
    // vector's three).
    const uint8_t* ids_ = nullptr;
    uint32_t ids_size_ = 0;
};

}  // namespace kiv
