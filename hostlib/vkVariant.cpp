#include "vkVariant.h"

namespace {
TLibVariant g_variant = TLibVariant::Console;
}

void SetLibVariant(TLibVariant variant) { g_variant = variant; }
TLibVariant LibVariant() { return g_variant; }
