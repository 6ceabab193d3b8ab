#pragma once

// The bounded depth-first walk that turns an accessibility tree into a flat,
// pre-order list of PageElements. Runs on the page-reading thread and blocks
// on each request; keeps nothing between crawls.

#include <vector>

#include "accessibility/page_element.h"
#include "accessibility/platform.h"

namespace tovrin::Crawler {

struct Limits {
  bool stopAtWebArea = false;  // record web areas below the root but not their insides
  int maxNodes = 6000;
  int maxDepth = 80;
  double timeLimit = 6.0;  // seconds, tested between elements
};

// Never fails: on any problem it returns what it has read so far. `clock`
// measures the time limit.
std::vector<PageElement> crawl(const AXElement& root, const Limits& limits, Clock& clock);

// Roles whose action names are read.
bool readsActions(std::string_view role);

}  // namespace tovrin::Crawler
