// The frames that the Windows test host (under wine) and its Linux
// counterpart both run, in one table, so that the two builds of each plug-in
// see exactly the same inputs and controls.
//
// Controls are written as the editor would leave them, relative to the
// plug-in's defaults: "t3=450" sets track bar 3 to 450, "c1" ticks check box
// 1 ("c1=0" unticks it). Indexes are the positions in the plug-in's table.
// The source frame is w x h inside buffers of max_w x max_h pixels (max_w is
// the row stride), filled from `seed`.
#pragma once

namespace wincheck {

struct HostCase {
  const char* name;     // also the result file name
  const char* plugin;   // Varnel, Oskuda or Trimbel
  int w, h;             // source frame
  int max_w, max_h;     // capacity of both buffers
  const char* controls;
  unsigned seed;
};

// Varnel tracks: 0 in fov, 1 in mask, 2 out fov, 3 pitch, 4 azimuth, 5 roll,
//   6 shift x, 7 shift y, 8 height. Checks: 0 use height, 1 equidistant,
//   2 orthographic, 3 equisolid, 4 equirectangular, 5 16:9, 6 4:3, 7 square,
//   8 green back, 9 bilinear. No input box: central.
// Oskuda tracks: as Varnel. Checks: 0 use height, 1 orthographic,
//   2 equisolid, 3 central, 4 equirectangular, 5 square, 6 circle mask,
//   7 green back, 8 bilinear. No input box: equidistant.
// Trimbel tracks: 0 in fov, 1 in mask, 2 pitch, 3 azimuth, 4 roll, 5 shift x,
//   6 shift y, 7 height. Checks: 0 use height, 1 equidistant, 2 orthographic,
//   3 equisolid, 4 central, 5 2:1, 6 green back, 7 bilinear.
//   No input box: equirectangular.
constexpr HostCase kHostCases[] = {
    // Varnel: every input projection with both samplers, a few views.
    {"varnel_defaults", "Varnel", 320, 240, 352, 288, "", 1},
    {"varnel_central_nearest", "Varnel", 320, 240, 352, 288, "t0=900", 2},
    {"varnel_central_bilinear_turned", "Varnel", 384, 216, 384, 216,
     "t0=1000 t3=100 t4=-150 t5=50 c9", 3},
    {"varnel_equidistant_nearest", "Varnel", 320, 240, 352, 288, "c1 t3=300 t4=-450", 4},
    {"varnel_equidistant_bilinear", "Varnel", 320, 240, 352, 288, "c1 c9 t5=150 t6=12 t7=-7", 5},
    {"varnel_orthographic_nearest_green", "Varnel", 256, 256, 256, 256, "c2 t3=-600 c8", 6},
    {"varnel_orthographic_bilinear", "Varnel", 256, 256, 320, 256, "c2 t2=1200 c9", 7},
    {"varnel_equisolid_nearest", "Varnel", 256, 256, 256, 256, "c3 t4=900 t1=2700", 8},
    {"varnel_equisolid_bilinear_green", "Varnel", 256, 256, 256, 256,
     "c3 c1 t0=2000 t1=2700 c8 c9 t6=20 t7=-10", 9},
    {"varnel_equirect_nearest", "Varnel", 384, 192, 400, 200, "c4 t3=450 t4=1350 t5=-300", 10},
    {"varnel_equirect_bilinear", "Varnel", 384, 192, 384, 192, "c4 c1 c9 t4=-1800 t2=1500", 11},
    {"varnel_equirect_wide_fov", "Varnel", 384, 192, 384, 192, "c4 c9 t2=1790 t3=-1800", 12},
    {"varnel_height_16x9", "Varnel", 320, 240, 640, 480, "c1 c0 t8=301 c5 c9", 13},
    {"varnel_width_4x3_square", "Varnel", 384, 216, 384, 216, "c4 c6 c7", 14},
    {"varnel_odd_capacity", "Varnel", 320, 240, 321, 241, "c1 c0 t8=300 c9", 15},
    {"varnel_empty_height", "Varnel", 320, 240, 320, 240, "c1 c0 t8=1", 16},

    // Oskuda: every input projection with both samplers, circle mask, sizes.
    {"oskuda_defaults", "Oskuda", 256, 256, 256, 256, "", 21},
    {"oskuda_equidistant_turned", "Oskuda", 256, 256, 288, 256, "t3=200 t4=-300 t5=450 c8", 22},
    {"oskuda_orthographic_nearest", "Oskuda", 256, 256, 256, 256, "c1 c6", 23},
    {"oskuda_orthographic_bilinear", "Oskuda", 256, 256, 256, 256, "c1 c8 t2=2400 c7", 24},
    {"oskuda_equisolid_nearest", "Oskuda", 256, 256, 256, 256, "c2 t0=2200 t1=2400 c6 c7", 25},
    {"oskuda_equisolid_bilinear", "Oskuda", 256, 256, 256, 256, "c1 c2 c8 t6=-15 t7=9", 26},
    {"oskuda_central_nearest", "Oskuda", 320, 240, 320, 240, "c3 t0=900 c5", 27},
    {"oskuda_central_bilinear", "Oskuda", 320, 240, 320, 240, "c2 c3 t0=1000 t2=1200 c5 c8 c6", 28},
    {"oskuda_equirect_nearest", "Oskuda", 384, 192, 384, 192, "c4 c5 t3=-900", 29},
    {"oskuda_equirect_bilinear", "Oskuda", 384, 192, 400, 200, "c4 c5 c8 t2=3600 t4=600 t5=-1200", 30},
    {"oskuda_height_setting", "Oskuda", 384, 216, 384, 216, "c0 t8=200 c8", 31},
    {"oskuda_square_beyond_width", "Oskuda", 200, 300, 201, 300, "c5 c8", 32},
    {"oskuda_odd_capacity", "Oskuda", 256, 254, 257, 255, "c0 t8=300 c8", 33},
    {"oskuda_empty_height", "Oskuda", 256, 256, 256, 256, "c0 t8=1 c5", 34},

    // Trimbel: every input projection with both samplers, angles, sizes.
    {"trimbel_defaults", "Trimbel", 384, 192, 400, 200, "", 41},
    {"trimbel_equirect_turned", "Trimbel", 384, 192, 384, 192, "t2=300 t3=-450 t4=200", 42},
    {"trimbel_equirect_bilinear", "Trimbel", 384, 192, 384, 192, "c7 t2=-900 t3=1800 t4=-1800", 43},
    {"trimbel_equidistant_nearest", "Trimbel", 256, 256, 512, 256, "c1 c5", 44},
    {"trimbel_equidistant_bilinear", "Trimbel", 256, 256, 512, 256, "c1 c5 c7 t6=10 t5=-20 c6", 45},
    {"trimbel_orthographic_nearest", "Trimbel", 256, 256, 512, 256, "c2 c5 t2=450 c6", 46},
    {"trimbel_orthographic_bilinear", "Trimbel", 256, 256, 512, 256, "c2 c5 c7 t1=1800", 47},
    {"trimbel_equisolid_nearest", "Trimbel", 256, 256, 512, 256, "c3 c1 c5 t0=2000", 48},
    {"trimbel_equisolid_bilinear", "Trimbel", 256, 256, 512, 256, "c3 c5 c7 t4=900", 49},
    {"trimbel_central_nearest", "Trimbel", 320, 240, 480, 240, "c4 c5 t0=900 t3=300", 50},
    {"trimbel_central_bilinear", "Trimbel", 320, 240, 480, 240, "c2 c4 c5 c7 t0=1200 c6", 51},
    {"trimbel_height_two_to_one", "Trimbel", 384, 216, 400, 216, "c0 t7=161 c5 c7", 52},
    {"trimbel_odd_capacity", "Trimbel", 255, 127, 255, 129, "c7 c0 t7=200 t2=100", 53},
    {"trimbel_empty_height", "Trimbel", 384, 216, 384, 216, "c0 t7=1 c5", 54},
};

constexpr int kHostCaseCount = static_cast<int>(sizeof(kHostCases) / sizeof(kHostCases[0]));

}  // namespace wincheck
