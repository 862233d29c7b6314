#include "boot/fixed_words.h"

namespace kiv::fixed {

#define KIV_FIXED_NAME(id, name) name,
#define KIV_FIXED_SOURCE(id, symbol) symbol,

const char* const SYMBOL_NAMES[SYMBOL_COUNT] = {KIV_FIXED_SYMBOLS(KIV_FIXED_NAME)};
const char* const WORD_NAMES[WORD_COUNT] = {KIV_FIXED_WORDS(KIV_FIXED_NAME)};
const char* const REFINEMENT_NAMES[REFINEMENT_COUNT] = {KIV_FIXED_REFINEMENTS(KIV_FIXED_NAME)};
const Symbol SYMBOL_WORD_SOURCES[SYMBOL_WORD_COUNT] = {KIV_FIXED_SYMBOL_WORDS(KIV_FIXED_SOURCE)};

#undef KIV_FIXED_NAME
#undef KIV_FIXED_SOURCE

}  // namespace kiv::fixed
