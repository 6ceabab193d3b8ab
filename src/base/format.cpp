#include "base/format.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace tovrin {

std::string formatNumber(double v) {
  if (!std::isfinite(v)) return std::isnan(v) ? "nan" : (v > 0 ? "inf" : "-inf");
  char buffer[32];
  if (v == std::trunc(v) && std::fabs(v) < 1e15) {
    std::snprintf(buffer, sizeof buffer, "%.0f", v);
    return buffer;
  }
  for (int precision = 1; precision <= 17; ++precision) {
    std::snprintf(buffer, sizeof buffer, "%.*g", precision, v);
    if (std::strtod(buffer, nullptr) == v) break;
  }
  return buffer;
}

}  // namespace tovrin
