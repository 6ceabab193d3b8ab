#pragma once

#include <string>

namespace tovrin {

// A number as people and the platform print it: whole numbers without a
// fraction ("3"), others in the shortest form that reads back the same
// ("0.1", "-2.5").
std::string formatNumber(double value);

}  // namespace tovrin
