#pragma once
// The two programs link one library; the few places where the configuration
// tool's behaviour differs from the console's ask this switch. Each program
// sets it once, first thing in main(); the console's is the default.
enum class TLibVariant { Console, Tool };

void SetLibVariant(TLibVariant variant);
TLibVariant LibVariant();
inline bool IsToolVariant() { return LibVariant() == TLibVariant::Tool; }
