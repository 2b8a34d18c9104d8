// The reference Oskuda, step by step from the formulas. Deliberately
// plain: one pixel at a time, every value spelt out with its precision.
#include "dome_reference.h"

#include <cmath>
#include <cstddef>

namespace dome_reference {
namespace {

constexpr float kPi = 3.1415927f;

enum { kInFov, kInMask, kOutFov, kPitch, kAzimuth, kRoll, kShiftX, kShiftY, kHeight };
enum { kUseHeight, kOrtho, kEquisolid, kCentral, kEquirect, kSquare, kMask, kGreen, kBilinear };

float Degrees(int tenths) {
  return static_cast<float>(static_cast<double>(static_cast<float>(tenths)) / 10.0);
}

double Radians(float degrees) { return static_cast<double>(degrees * kPi) / 180.0; }

int Projection(const std::vector<int>& check) {
  int p = 0;  // Equidistant when no box is ticked
  if (check[kOrtho]) p = 1;
  if (check[kEquisolid]) p = 2;
  if (check[kCentral]) p = 3;
  if (check[kEquirect]) p = 4;
  return p;
}

int Truncate(float v) {
  if (!(v >= 0.0f) || !(v < 2147483520.0f)) return 0;
  return static_cast<int>(v);
}

struct Angles {
  float theta;
  float phi;
};

// The Oskuda rotation chain, then theta and phi.
Angles Turn(float X, float Y, float Zc, float Zs, const Rotation& q, bool equirect) {
  const float u = Y * q.cos_roll + X * q.sin_roll;
  const float v = X * q.cos_roll - Y * q.sin_roll;
  const float a = v * q.cos_pitch + Zs;
  const float b = Zc - v * q.sin_pitch;
  const float c = b * q.cos_azimuth + u * q.sin_azimuth;
  const float d = u * q.cos_azimuth - b * q.sin_azimuth;
  float axis, den, num;
  if (equirect) {
    axis = a;
    den = d;
    num = -c;
  } else {
    axis = c;
    den = d;
    num = a;
  }
  Angles out;
  out.theta = static_cast<float>(std::acos(static_cast<double>(axis)));
  if (den > 0.0f) {
    out.phi = static_cast<float>(std::atan(static_cast<double>(num / den)));
  } else if (den < 0.0f) {
    const float q_ = num / den;
    out.phi = static_cast<float>(static_cast<double>(kPi) - std::atan(-static_cast<double>(q_)));
  } else if (den == 0.0f && num > 0.0f) {
    out.phi = static_cast<float>(static_cast<double>(kPi) * 0.5);
  } else if (den == 0.0f && num < 0.0f) {
    out.phi = static_cast<float>(static_cast<double>(-kPi) * 0.5);
  } else {
    out.phi = 0.0f;
  }
  return out;
}

struct Lens {
  int projection;
  float in_fov, in_mask, shift_x, shift_y;
  int w, h;
};

// The lens models.
Position Map(const Lens& L, Angles an) {
  Position p{0.0f, 0.0f, true, false};
  const float theta = an.theta;
  const float W = static_cast<float>(L.w);
  if (L.projection == 4) {
    float phi = an.phi;
    if (phi < 0.0f) phi = phi + kPi * 2.0f;
    if (phi > kPi * 2.0f) phi = phi - kPi * 2.0f;
    p.x = phi / (kPi * 2.0f) * W;
    p.y = theta / kPi * static_cast<float>(L.h - 1);
    p.outside = false;
    return p;
  }
  const float mask_limit = L.in_mask * kPi / 360.0f;
  const double psi = static_cast<double>(-an.phi);
  const double t = static_cast<double>(theta);
  const double Wd = static_cast<double>(L.w);
  const double Hd = static_cast<double>(L.h);
  const double fov = static_cast<double>(L.in_fov);
  const double pi = static_cast<double>(kPi);
  double x, y;
  if (L.projection == 0) {
    if (!(mask_limit > theta)) return p;
    const double r = (180.0 / fov) * t / pi;
    x = std::cos(psi) * r * Wd + Wd * 0.5;
    y = std::sin(psi) * r * Wd + Hd * 0.5;
  } else if (L.projection == 1) {
    if (!(theta <= kPi * 0.5f) || !(mask_limit > theta)) return p;
    const double r = std::sin(t) * (180.0 / fov);
    x = std::cos(psi) * r * 0.5 * Wd + Wd * 0.5;
    y = std::sin(psi) * r * 0.5 * Wd + Hd * 0.5;
  } else if (L.projection == 2) {
    if (!(theta <= kPi) || !(mask_limit > theta)) return p;
    const double r = std::sin(t * 0.5) * (180.0 / fov);
    const double d = std::sin(pi * 0.25) * 2.0;
    x = std::cos(psi) * r / d * Wd + Wd * 0.5;
    y = std::sin(psi) * r / d * Wd + Hd * 0.5;
  } else {
    if (!(theta <= kPi * 0.5f) || !(mask_limit > theta)) return p;
    const double tn = std::tan(t);
    const float a_x = L.in_fov * kPi / 360.0f;
    const double kx = std::tan(static_cast<double>(a_x)) * 2.0;
    const float a_y = static_cast<float>(L.h) / static_cast<float>(L.w) * L.in_fov * kPi / 360.0f;
    const double ky = std::tan(static_cast<double>(a_y)) * 2.0;
    x = (std::cos(psi) * tn / kx + 0.5) * Wd;
    y = (std::sin(psi) * tn / ky + 0.5) * Hd;
  }
  p.x = static_cast<float>(x) - L.shift_x;
  p.y = static_cast<float>(y) + L.shift_y;
  p.outside = false;
  return p;
}

const PIXEL_YC& At(const std::vector<PIXEL_YC>& src, int stride, int c, int r) {
  return src[static_cast<std::size_t>(r) * stride + c];
}

short MixOne(short a, short b, short c, short d, float fx, float fy) {
  const float w00 = (1.0f - fx) * (1.0f - fy);
  const float w10 = (1.0f - fy) * fx;
  const float w01 = (1.0f - fx) * fy;
  const float w11 = fy * fx;
  float s = static_cast<float>(a) * w00 + static_cast<float>(b) * w10;
  s = s + static_cast<float>(c) * w01;
  s = s + static_cast<float>(d) * w11;
  return static_cast<short>(static_cast<int>(s));  // toward zero
}

// Sampling with Oskuda's range test and the pixel-edge convention.
PIXEL_YC Sample(const std::vector<PIXEL_YC>& src, int stride, int W, int H, Position p,
                bool bilinear, bool green, bool equirect) {
  const PIXEL_YC fill = green ? PIXEL_YC{2404, -1357, -1715} : PIXEL_YC{0, 0, 0};
  if (p.outside || p.masked || W <= 0 || H <= 0) return fill;
  const double x = p.x;
  const double y = p.y;
  if (bilinear) {
    if (!(x >= 0.0 && x <= W && y >= 0.0 && y <= H)) return fill;
    float xs = p.x - 0.5f;
    float ys = p.y - 0.5f;
    if (xs < 0.0f) xs = 0.0f;
    if (ys < 0.0f) ys = 0.0f;
    if (xs > static_cast<float>(W - 1)) xs = static_cast<float>(W - 1);
    if (ys > static_cast<float>(H - 1)) ys = static_cast<float>(H - 1);
    const int x0 = static_cast<int>(xs);
    const int y0 = static_cast<int>(ys);
    const int x1 = x0 + 1 < W ? x0 + 1 : x0;
    const int y1 = y0 + 1 < H ? y0 + 1 : y0;
    const float fx = xs - static_cast<float>(x0);
    const float fy = ys - static_cast<float>(y0);
    const PIXEL_YC& a = At(src, stride, x0, y0);
    const PIXEL_YC& b = At(src, stride, x1, y0);
    const PIXEL_YC& c = At(src, stride, x0, y1);
    const PIXEL_YC& d = At(src, stride, x1, y1);
    return PIXEL_YC{MixOne(a.y, b.y, c.y, d.y, fx, fy), MixOne(a.cb, b.cb, c.cb, d.cb, fx, fy),
                    MixOne(a.cr, b.cr, c.cr, d.cr, fx, fy)};
  }
  if (!(x >= -0.5 && x < W + 0.5 && y >= -0.5 && y < H + 0.5)) return fill;
  float sx = p.x;
  float sy = p.y;
  if (sx >= static_cast<float>(W)) sx = equirect ? sx - static_cast<float>(W) : static_cast<float>(W - 1);
  if (sx < 0.0f) sx = 0.0f;
  if (sy > static_cast<float>(H - 1)) sy = static_cast<float>(H - 1);
  if (sy < 0.0f) sy = 0.0f;
  return At(src, stride, static_cast<int>(sx), static_cast<int>(sy));
}

}  // namespace

Size OutputSize(const std::vector<int>& track, const std::vector<int>& check, int w, int h,
                int max_w, int max_h) {
  int ow = w;
  int oh = h;
  if (check[kUseHeight]) {
    oh = track[kHeight];
    const float quotient = static_cast<float>(w) / static_cast<float>(h);
    ow = Truncate(quotient * static_cast<float>(oh));
  }
  if (ow % 2 != 0) ow -= 1;
  if (oh % 2 != 0) oh -= 1;
  if (check[kSquare]) ow = oh;
  if (ow > max_w) ow = max_w;
  if (oh > max_h) oh = max_h;
  return Size{ow, oh};
}

Rotation RotationOf(const std::vector<int>& track, const std::vector<int>& check) {
  const float P = Degrees(track[kPitch]);
  float A = Degrees(track[kAzimuth]);
  float R = Degrees(track[kRoll]);
  if (Projection(check) == 4) A = A - 90.0f;
  R = R + 90.0f;
  A = -A;
  Rotation q;
  q.cos_roll = static_cast<float>(std::cos(Radians(R)));
  q.sin_roll = static_cast<float>(std::sin(Radians(R)));
  q.cos_azimuth = static_cast<float>(std::cos(Radians(A)));
  q.sin_azimuth = static_cast<float>(std::sin(Radians(A)));
  q.cos_pitch = static_cast<float>(std::cos(Radians(P)));
  q.sin_pitch = static_cast<float>(std::sin(Radians(P)));
  return q;
}

namespace {

struct Setting {
  Rotation q;
  Lens lens;
  float out_fov;
  bool mask;
};

Setting SettingOf(const std::vector<int>& track, const std::vector<int>& check, int w, int h) {
  return Setting{RotationOf(track, check),
                 Lens{Projection(check), Degrees(track[kInFov]), Degrees(track[kInMask]),
                      static_cast<float>(track[kShiftX]), static_cast<float>(track[kShiftY]), w, h},
                 Degrees(track[kOutFov]), check[kMask] != 0};
}

Position PositionOf(const Setting& set, int out_w, int out_h, int c, int r) {
  const Rotation& q = set.q;
  const int half_w = out_w / 2;
  const int half_h = out_h / 2;
  // The pixel centre's offset from the centre of the written block (the
  // frame centre for even sizes): its size and its signs.
  const double dx = static_cast<double>(c) + 0.5 - static_cast<double>(half_w);
  const double dy = static_cast<double>(r) + 0.5 - static_cast<double>(half_h);
  const float ox = static_cast<float>(std::fabs(dx));
  const float oy = static_cast<float>(std::fabs(dy));
  const float rho = static_cast<float>(std::sqrt(static_cast<double>(ox * ox + oy * oy)));
  const float theta_o = static_cast<float>(static_cast<double>((kPi * 0.5f) * rho) *
                                           (static_cast<double>(set.out_fov) / 180.0) /
                                           static_cast<double>(static_cast<float>(out_w) * 0.5f));
  const float phi_o = static_cast<float>(std::atan(static_cast<double>(oy / ox)));
  const double s = std::sin(static_cast<double>(theta_o));
  const float X0 = static_cast<float>(std::cos(static_cast<double>(phi_o)) * s);
  const float Y0 = static_cast<float>(std::sin(static_cast<double>(phi_o)) * s);
  const float Z = static_cast<float>(std::cos(static_cast<double>(theta_o)));
  const float X = dx > 0.0 ? X0 : -X0;
  const float Y = dy > 0.0 ? Y0 : -Y0;
  const Angles an = Turn(X, Y, Z * q.cos_pitch, Z * q.sin_pitch, q, set.lens.projection == 4);
  Position p = Map(set.lens, an);
  p.masked = set.mask && !(static_cast<float>(half_w) > rho);
  return p;
}

}  // namespace

Position SourcePosition(const std::vector<int>& track, const std::vector<int>& check, int w,
                        int h, int out_w, int out_h, int c, int r) {
  return PositionOf(SettingOf(track, check, w, h), out_w, out_h, c, r);
}

std::vector<PIXEL_YC> Frame(const std::vector<int>& track, const std::vector<int>& check,
                            const std::vector<PIXEL_YC>& source, int w, int h, int max_w,
                            int max_h, const std::vector<PIXEL_YC>& scratch, Size* out_size) {
  const Size size = OutputSize(track, check, w, h, max_w, max_h);
  if (out_size != nullptr) *out_size = size;
  std::vector<PIXEL_YC> out = scratch;
  const bool equirect = Projection(check) == 4;
  const Setting set = SettingOf(track, check, w, h);
  // Every pixel of the output; the last column and row of an odd size lie
  // one half pixel further out than their distance from the centre.
  for (int r = 0; r < size.h; ++r) {
    for (int c = 0; c < size.w; ++c) {
      const Position p = PositionOf(set, size.w, size.h, c, r);
      out[static_cast<std::size_t>(r) * max_w + c] =
          Sample(source, max_w, w, h, p, check[kBilinear] != 0, check[kGreen] != 0, equirect);
    }
  }
  return out;
}

}  // namespace dome_reference
