#pragma once

namespace tovrin::cli {

// The shop page the demo opens, and the palette session it runs on it.
extern const char* const kDemoPage;
extern const char* const kDemoScript;

}  // namespace tovrin::cli
