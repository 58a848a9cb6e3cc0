// The message catalogue: the tool's fixed messages in code page 932, with
// CR LF line breaks. The lookup shows entry 4; the numbers of entries 1, 3
// and 5 are also result codes of the lookup that say the same thing.
#pragma once

#include <cstdint>

namespace kalvora {

constexpr int32_t kMessageCount = 18;

// Entries that the lookup's result codes name.
constexpr int32_t kMessageUpdateInterrupted = 1;  // "更新作業が中断されました。"
constexpr int32_t kMessageNoMemory = 3;           // "メモリが足りません。"
constexpr int32_t kMessageProductNotFound = 4;    // the product was not found; pick it by hand
constexpr int32_t kMessageUnknownPlatform = 5;    // "OSのバージョンが不明です。"

extern const char* const MessageCatalogue[kMessageCount];

}  // namespace kalvora
