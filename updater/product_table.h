// The products that the tool updates, in the order in which it takes them.
#pragma once

#include "install/product_entry.h"

namespace kalvora {

// Eight products, then a row whose fields are all null, which ends the table.
constexpr int kProductCount = 8;
extern const ProductEntry kProductTable[kProductCount + 1];

}  // namespace kalvora
