// The input lens models, registered: every place that goes from a
// SourceProjection to a model goes through WithLensModel, so a model added
// here (and to SourceProjection in geometry.h) reaches the per-pixel path
// and the batched passes alike. MapToSource is the per-pixel step.
#pragma once

#include <cmath>

#include "lens/central.h"
#include "lens/equidistant.h"
#include "lens/equirectangular.h"
#include "lens/equisolid.h"
#include "lens/lens_model.h"
#include "lens/orthographic.h"

namespace lens {

// Calls visit(Model{}) with the lens model of a projection other than the
// panorama (which has no lens and is handled on its own), and returns what
// it returns; `none` for the panorama or an unknown code.
template <typename Visit, typename Result>
inline Result WithLensModel(SourceProjection projection, Visit&& visit, Result none) {
  switch (projection) {
    case SourceProjection::Equidistant: return visit(Equidistant{});
    case SourceProjection::Orthographic: return visit(Orthographic{});
    case SourceProjection::Equisolid: return visit(Equisolid{});
    case SourceProjection::Central: return visit(Central{});
    case SourceProjection::Equirectangular: break;
  }
  return none;
}

// Source angles to a position in the source frame, or `outside` when the
// input does not cover the direction (then x and y are 0).
template <typename View>
inline SourcePoint MapToSource(const LensModel& m, SourceAngles angles) {
  if (m.projection == SourceProjection::Equirectangular) {
    return Equirectangular::Place<View>(m, angles);
  }
  const float theta = angles.theta;
  const float psi = -angles.phi;
  const double cos_psi = std::cos(static_cast<double>(psi));
  const double sin_psi = std::sin(static_cast<double>(psi));
  return WithLensModel(
      m.projection,
      [&](auto model) {
        using Model = decltype(model);
        const LensLane lane = Model::Place(m, theta, cos_psi, sin_psi,
                                           ThetaFunctionValue<Model::kThetaFunction>(theta));
        return lane.inside != 0 ? SourcePoint{lane.x, lane.y, false} : SourcePoint{0.0f, 0.0f, true};
      },
      SourcePoint{0.0f, 0.0f, true});
}

}  // namespace lens
