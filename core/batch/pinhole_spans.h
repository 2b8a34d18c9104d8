// A pin-hole view of a panorama, nearest sampler: a row's source positions
// from a chord of their exact curve, with a proven bound.
//
// Along one quadrant of an output row the pin-hole ray is d(u) = (s u, t y,
// f) / n(u), n(u) = sqrt(u^2 + y^2 + f^2), for the pair offset u, the row's
// offset y, the focal distance f > 0 and the quadrant's signs s and t. The
// chain's turn is linear in its inputs (X, Y, Z cos pitch, Z sin pitch), so
// each turned component is an affine function of u over n(u), and the
// panorama position of the exact arithmetic is
//
//   x(u) = W / (2 pi') * phi(u),  phi = the angle of (q(u), p(u)) in [0, 2 pi)
//   y(u) = (H - 1) / pi' * theta(u),  theta = acos(g(u)),
//   g(u) = (a u + b) / sqrt(u^2 + c^2),
//
// p, q the affine num and den, a u + b the affine axis, c^2 = y^2 + f^2 and
// pi' the model's pi. Both are smooth where the ray stays off the poles and
// the seam; over a span [u0, u1] of L = u1 - u0 pixels a function with
// |F''| <= K lies within K (u - u0) (u1 - u) / 2 of its chord. The second
// derivatives have closed forms:
//
//   phi'  = C / Q,  phi'' = -2 C (p p' + q q') / Q^2,
//           Q = p^2 + q^2 (a convex quadratic), C = p' q - p q' (a constant),
//           so |phi''| <= 2 |C| max|p p' + q q'| / min Q^2, the numerator
//           affine (its maximum at an end), min Q at the vertex or an end;
//   g'    = (a c^2 - b u) / (u^2 + c^2)^(3/2),
//   g''   = (2 b u^2 - 3 a c^2 u - b c^2) / (u^2 + c^2)^(5/2),
//   theta'' = -g'' / sin theta - g g'^2 / sin^3 theta,
//           each factor bounded over the span by its terms' extremes
//           (u > 0 throughout: u^2 + c^2 grows with u).
// The bounds are taken over a block of eight spans (a batch's pairs) at once.
//
// The reference computes the same position with roundings (RemapPixel: the
// ray from float angles, the float turn, acos and atan in double rounded to
// float, the float scaling). Its distance from the exact position is
// bounded by the noise constants of pinhole_panorama.h; the span's ends are evaluated in double
// with the estimates of math/inverse_trig.h (2^-46 relative). A lane's box,
// the chord's value widened by the chord bound, the noise and the roundings
// of the box's own arithmetic, therefore holds the reference's position. The
// box's two corners go through the view's in-range test and pixel choice,
// which never decrease as a coordinate grows (the seam aside: a span is
// taken only when its whole curve keeps clear of it, so that the reference's
// wrap agrees with the curve's), and a lane whose corners give one pixel has
// that pixel. Other lanes are left for the per-pixel functions.
#pragma once

#include <cmath>
#include <cstdint>

#include "batch/lanes.h"
#include "batch/pinhole_panorama.h"
#include "batch/place.h"
#include "math/inverse_trig.h"
#include "sampling.h"

namespace lens {

// Output pixels per span, a power of two (the chord's step divides exactly).
constexpr int kSpanPixels = 8;
// Pairs of a mirrored batch: four lanes each.
constexpr int kQuadrantLanes = kBatchLanes / 4;

// A block of pairs, u in [j0 + 0.5, j0 + 0.5 + L * spans], and the bounds
// over all of it, per quadrant: the affine axis, num and den (A u + B), the
// error's constant part and the chord bound's factor K / 2, how far the
// azimuth must stay from the seam, and whether the bounds hold at all.
struct SpanBlock {
  int n, spans;
  double u0, c2;
  double aa[4], ba[4], an[4], bn[4], ad[4], bd[4];
  double x_error[4], y_error[4], x_bend[4], y_bend[4], clear[4];
  std::int32_t block_ok[4];
};

// (Plain loops over the quadrants: vector code.)
inline SpanBlock SpanBlockOf(const PinholePanorama& p, std::int32_t j0, int n, float yf) {
  constexpr int L = kSpanPixels;
  SpanBlock block;
  const double y = static_cast<double>(yf);
  const double f = p.focal;
  const double c2 = y * y + f * f;
  const int spans = (n + L - 1) / L;
  const double u0 = static_cast<double>(j0) + 0.5;
  const double u1 = u0 + static_cast<double>(spans * L);
  const double n0 = std::sqrt(u0 * u0 + c2);
  const double n1 = std::sqrt(u1 * u1 + c2);
  block.n = n;
  block.spans = spans;
  block.u0 = u0;
  block.c2 = c2;
  double* __restrict aa = block.aa;
  double* __restrict ba = block.ba;
  double* __restrict an = block.an;
  double* __restrict bn = block.bn;
  double* __restrict ad = block.ad;
  double* __restrict bd = block.bd;
  double* __restrict x_error = block.x_error;
  double* __restrict y_error = block.y_error;
  double* __restrict x_bend = block.x_bend;
  double* __restrict y_bend = block.y_bend;
  double* __restrict clear = block.clear;
  std::int32_t* __restrict block_ok = block.block_ok;
  for (int k = 0; k < 4; ++k) {
    const double sx = (k & 1) != 0 ? -1.0 : 1.0;
    const double sy = (k & 2) != 0 ? -y : y;
    aa[k] = sx * p.axis[0];
    ba[k] = sy * p.axis[1] + f * p.axis[2];
    an[k] = sx * p.num[0];
    bn[k] = sy * p.num[1] + f * p.num[2];
    ad[k] = sx * p.den[0];
    bd[k] = sy * p.den[1] + f * p.den[2];
  }
  for (int k = 0; k < 4; ++k) {
    const double a_n = an[k], b_n = bn[k], a_d = ad[k], b_d = bd[k], a_a = aa[k], b_a = ba[k];
    const double C = vmath::Abs(a_n * b_d - a_d * b_n);
    // min Q over the block, at the vertex of the quadratic or an end.
    const double vertex = -(a_n * b_n + a_d * b_d) / (a_n * a_n + a_d * a_d);
    const double um = vertex < u0 ? u0 : (vertex > u1 ? u1 : vertex);
    const double pm = a_n * um + b_n, qm = a_d * um + b_d;
    const double q_min = (pm * pm + qm * qm) / kBoundSlack;
    const double p0 = a_n * u0 + b_n, q0 = a_d * u0 + b_d;
    const double p1 = a_n * u1 + b_n, q1 = a_d * u1 + b_d;
    const double slope0 = vmath::Abs(p0 * a_n + q0 * a_d);
    const double slope1 = vmath::Abs(p1 * a_n + q1 * a_d);
    const double phi_bend = 2.0 * C * (slope0 > slope1 ? slope0 : slope1) / (q_min * q_min);
    const double phi_reach = C / q_min * static_cast<double>(L);  // over one span
    // (num, den)'s length, normalized, and the azimuth's noise.
    const double rho = std::sqrt(q_min) / n1;
    const double phi_noise = kNumDenNoise / (rho - kNumDenNoise) + p.phi_noise;
    // The axis's extremes, sin theta's floor, theta'' through g' and g''.
    const double g0 = vmath::Abs(a_a * u0 + b_a), g1 = vmath::Abs(a_a * u1 + b_a);
    const double g_max = (g0 > g1 ? g0 : g1) / n0 * kBoundSlack;
    const double axis_max = g_max + kAxisNoise;
    const double sin_min = std::sqrt(1.0 - axis_max * axis_max) / kBoundSlack;
    const double d3 = n0 * n0 * n0;
    const double d5 = d3 * n0 * n0;
    const double g_slope = (vmath::Abs(a_a) * c2 + vmath::Abs(b_a) * u1) / d3;
    const double g_bend =
        (2.0 * vmath::Abs(b_a) * u1 * u1 + 3.0 * vmath::Abs(a_a) * c2 * u1 + vmath::Abs(b_a) * c2) / d5;
    const double theta_bend = g_bend / sin_min + g_max * g_slope * g_slope / (sin_min * sin_min * sin_min);
    const double theta_noise = kAxisNoise / sin_min + 0x1p-23;
    const bool ok = (rho >= kSpanSinFloor) & (sin_min >= kSpanSinFloor) & (phi_bend < 1.0) & (theta_bend < 1.0);
    block_ok[k] = ok ? 1 : 0;
    // Where the bounds fail they may be huge or NaN: zero instead, so that
    // their float conversions stay in range (the lanes are left anyway).
    clear[k] = phi_reach + phi_noise;
    x_error[k] = ok ? (p.x_scale * phi_noise) * kBoundSlack + p.x_noise : 0.0;
    y_error[k] = ok ? (p.y_scale * theta_noise) * kBoundSlack + p.y_noise : 0.0;
    x_bend[k] = ok ? p.x_scale * phi_bend * 0.5 * kBoundSlack : 0.0;
    y_bend[k] = ok ? p.y_scale * theta_bend * 0.5 * kBoundSlack : 0.0;
  }
  return block;
}

// The share of the block's lanes its boxes are expected to leave: a box of
// width w (in pixels, both axes together) meets a pixel's edge with a
// chance of about w, and a quadrant whose bounds fail leaves all its lanes.
inline double ExpectedLeft(const SpanBlock& block) {
  constexpr double mean_reach = static_cast<double>(kSpanPixels * kSpanPixels - 1) / 6.0;
  double left = 0.0;
  for (int k = 0; k < 4; ++k) {
    const double width =
        2.0 * (block.x_error[k] + block.y_error[k] + (block.x_bend[k] + block.y_bend[k]) * mean_reach);
    left += block.block_ok[k] != 0 && width < 1.0 ? width : 1.0;
  }
  return left * 0.25;
}

// Above this share the lanes go the batched pipeline's way at once: the
// boxes would cost more than they save.
constexpr double kSpansGiveUp = 0.05;

// The boxes of the block's lanes, each span with its chord: lane k n + g is
// quadrant k (X negated for odd k, Y for k >= 2) of the pair at the offset
// u = j0 + g + 0.5. (Plain loops over arrays, across the ends, the spans
// and a span's lanes: vector code.)
inline void PinholeSpanBoxes(const PinholePanorama& p, const SpanBlock& block, PositionBoxes& boxes) {
  constexpr int L = kSpanPixels;
  constexpr int kEnds = kQuadrantLanes / L + 1;
  constexpr double two_pi = 2.0 * kExactPi;
  const int n = block.n;
  const int spans = block.spans;
  const double u0 = block.u0;
  const double c2 = block.c2;
  const double* const aa = block.aa;
  const double* const ba = block.ba;
  const double* const an = block.an;
  const double* const bn = block.bn;
  const double* const ad = block.ad;
  const double* const bd = block.bd;
  const double* const x_error = block.x_error;
  const double* const y_error = block.y_error;
  const double* const x_bend = block.x_bend;
  const double* const y_bend = block.y_bend;
  const double* const clear = block.clear;
  const std::int32_t* const block_ok = block.block_ok;
  // The ends of the spans: positions of the exact curve, in one loop over
  // every quadrant's ends.
  constexpr int kAllEnds = 4 * kEnds;
  double eu[kAllEnds], ea_n[kAllEnds], eb_n[kAllEnds], ea_d[kAllEnds], eb_d[kAllEnds], ea_a[kAllEnds],
      eb_a[kAllEnds];
  for (int k = 0; k < 4; ++k) {
    for (int e = 0; e < kEnds; ++e) {
      const int m = k * kEnds + e;
      eu[m] = u0 + static_cast<double>(e * L);
      ea_n[m] = an[k];
      eb_n[m] = bn[k];
      ea_d[m] = ad[k];
      eb_d[m] = bd[k];
      ea_a[m] = aa[k];
      eb_a[m] = ba[k];
    }
  }
  double end_x[kAllEnds], end_y[kAllEnds], end_phi[kAllEnds];
  for (int m = 0; m < kAllEnds; ++m) {
    const double u = eu[m];
    const double pu = ea_n[m] * u + eb_n[m];
    const double qu = ea_d[m] * u + eb_d[m];
    const double t = vmath::AtanEstimate(pu / qu);
    double phi = qu < 0.0 ? t + kExactPi : t;
    phi = phi < 0.0 ? phi + two_pi : phi;
    const double g = (ea_a[m] * u + eb_a[m]) / std::sqrt(u * u + c2);
    end_phi[m] = phi;
    end_x[m] = phi * p.x_scale;
    end_y[m] = vmath::AcosEstimate(g) * p.y_scale;
  }
  // Each span: the chord's start and step and the error's constant part and
  // factor, in float for the lanes. Their own float arithmetic moves a
  // corner by at most 2^-24 (3 X + 3 D + E), X the larger end, D the chord's
  // rise and E the largest error (the start and the step rounded to float,
  // the product, the sum and the corner each round once); 2^-22 (X + D + E)
  // is added to the constant part. The error's own roundings (four, down by
  // 2^-24 at most) are covered by kBoundSlack.
  constexpr int kAllSpans = 4 * (kEnds - 1);
  float x0[kAllSpans], dx[kAllSpans], y0[kAllSpans], dy[kAllSpans];
  float xe[kAllSpans], ye[kAllSpans], xb[kAllSpans], yb[kAllSpans];
  std::int32_t span_ok[kAllSpans];
  for (int k = 0; k < 4; ++k) {
    for (int s = 0; s < kEnds - 1; ++s) {
      const int m = k * (kEnds - 1) + s;
      const int e = k * kEnds + s;
      // The curve's azimuth keeps clear of the seam over the span, by more
      // than the reference's noise: both wrap alike.
      const double phi0 = end_phi[e];
      span_ok[m] = block_ok[k] & ((phi0 > clear[k]) & (phi0 < two_pi - clear[k]) ? 1 : 0);
      const double xa = end_x[e], xz = end_x[e + 1];
      const double ya = end_y[e], yz = end_y[e + 1];
      const double x_reach = x_error[k] + x_bend[k] * static_cast<double>(L * L / 4);
      const double y_reach = y_error[k] + y_bend[k] * static_cast<double>(L * L / 4);
      const double x_big =
          (vmath::Abs(xa) > vmath::Abs(xz) ? vmath::Abs(xa) : vmath::Abs(xz)) + vmath::Abs(xz - xa) + x_reach;
      const double y_big =
          (vmath::Abs(ya) > vmath::Abs(yz) ? vmath::Abs(ya) : vmath::Abs(yz)) + vmath::Abs(yz - ya) + y_reach;
      x0[m] = static_cast<float>(xa);
      dx[m] = static_cast<float>((xz - xa) * (1.0 / static_cast<double>(L)));
      y0[m] = static_cast<float>(ya);
      dy[m] = static_cast<float>((yz - ya) * (1.0 / static_cast<double>(L)));
      xe[m] = static_cast<float>((x_error[k] + x_big * 0x1p-22) * kBoundSlack);
      ye[m] = static_cast<float>((y_error[k] + y_big * 0x1p-22) * kBoundSlack);
      xb[m] = static_cast<float>(x_bend[k] * kBoundSlack);
      yb[m] = static_cast<float>(y_bend[k] * kBoundSlack);
    }
  }
  // Each lane: the chord, widened by the bound at its place in the span.
  // Whole spans, so that the inner loop has a constant length: a quadrant's
  // last span may spill into the next quadrant's lanes, which are written
  // after it (and the last quadrant's stays within the batch: 3 n + 8
  // ceil(n / 8) <= 4 kQuadrantLanes).
  for (int k = 0; k < 4; ++k) {
    for (int s = 0; s < spans; ++s) {
      const int m = k * (kEnds - 1) + s;
      const float sx0 = x0[m], sdx = dx[m], sy0 = y0[m], sdy = dy[m];
      const float sxe = xe[m], sye = ye[m], sxb = xb[m], syb = yb[m];
      const std::int32_t sok = span_ok[m];
      const int first = k * n + s * L;
      float* __restrict x_lo = boxes.x_lo + first;
      float* __restrict x_hi = boxes.x_hi + first;
      float* __restrict y_lo = boxes.y_lo + first;
      float* __restrict y_hi = boxes.y_hi + first;
      std::int32_t* __restrict ok = boxes.ok + first;
      for (int i = 0; i < L; ++i) {
        const float t = static_cast<float>(i);
        const float reach = t * (static_cast<float>(L) - t);
        const float cx = sx0 + t * sdx;
        const float cy = sy0 + t * sdy;
        const float ex = sxe + sxb * reach;
        const float ey = sye + syb * reach;
        x_lo[i] = cx - ex;
        x_hi[i] = cx + ex;
        y_lo[i] = cy - ey;
        y_hi[i] = cy + ey;
        ok[i] = sok;
      }
    }
  }
}

// The 4 n lanes of a mirrored batch of the pairs j0 .. j0 + n - 1 (n <=
// kQuadrantLanes): the source pixel where the box decides it (b.source,
// b.redo = 0), otherwise b.source = -1 and b.redo = 1. False, with nothing
// written, where the boxes are expected to leave more than kSpansGiveUp. A
// lane left reads nothing here: the rest writes it.
template <typename View>
inline bool PlacePinholeSpans(PixelBatch& b, int n, std::int32_t j0, float yf, const PinholePanorama& p,
                              const SourceFrame& source, const SampleOptions& sample_options) {
  const SpanBlock block = SpanBlockOf(p, j0, n, yf);
  if (!(ExpectedLeft(block) <= kSpansGiveUp)) return false;
  const SampleOptions options{false, sample_options.green_back, true};
  PositionBoxes boxes;
  PinholeSpanBoxes(p, block, boxes);
  ChooseBoxPixels<View>(boxes, 4 * n, source, options, b.source, b.redo, b.box_edge);
  return true;
}

}  // namespace lens
