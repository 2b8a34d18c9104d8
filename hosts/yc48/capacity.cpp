#include "capacity.h"

#include <algorithm>

namespace yc48 {

void CapacityFor(int w, int h, int height_setting, int max_side, int* max_w, int* max_h) {
  const long long in_w = std::max(w, 1);
  const long long in_h = std::max(h, 1);
  long long cap_h = std::max<long long>(in_h, height_setting);
  long long cap_w = std::max(in_w, 2 * cap_h);
  cap_w = std::max(cap_w, (in_w * cap_h + in_h - 1) / in_h + 1);
  cap_w += cap_w & 1;
  cap_h += cap_h & 1;
  if (max_side > 0) {
    cap_w = std::min(cap_w, std::max<long long>(in_w, max_side));
    cap_h = std::min(cap_h, std::max<long long>(in_h, max_side));
  }
  *max_w = static_cast<int>(cap_w);
  *max_h = static_cast<int>(cap_h);
}

}  // namespace yc48
