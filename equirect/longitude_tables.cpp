// FillLongitudeTables: the sine and cosine of every output column's
// longitude, once per frame, so the remap needs no trigonometry per pixel
// for the longitude.
#include <cmath>

#include "trimbel.h"

namespace trimbel {

void FillLongitudeTables(float* cos_lon, float* sin_lon, std::int32_t out_w, float pi) {
  if (out_w < 1) return;
#pragma omp parallel for schedule(static)
  for (std::int32_t i = 0; i < out_w; ++i) {
    const double lon = static_cast<double>(ColumnLongitude(i, out_w, pi));
    if (sin_lon != nullptr) sin_lon[i] = static_cast<float>(std::sin(lon));
    if (cos_lon != nullptr) cos_lon[i] = static_cast<float>(std::cos(lon));
  }
}

}  // namespace trimbel
