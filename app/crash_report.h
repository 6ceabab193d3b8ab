#pragma once

namespace tovrin::cli {

// On a fatal signal the desktop application writes where it was (the
// stack, as addresses within its files) to standard error, then dies of
// the same signal. A crash seen once on someone's desktop or a test
// machine can then be placed with addr2line.
void reportCrashes();

}  // namespace tovrin::cli
