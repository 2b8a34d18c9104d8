// What the stand-in host records and the Linux checker reads: one line per
// table field and item, and one result file per call.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace editor2check {

inline std::string Number(double v) {
  char text[40];
  std::snprintf(text, sizeof(text), "%.10g", v);
  return text;
}

inline std::string TrackLine(const std::string& name, double value, double s, double e,
                             double step) {
  return "track " + name + " value=" + Number(value) + " min=" + Number(s) + " max=" + Number(e) +
         " step=" + Number(step);
}
inline std::string CheckLine(const std::string& name, bool value) {
  return "check " + name + " value=" + (value ? "1" : "0");
}
// choices: "name=value|name=value..."
inline std::string SelectLine(const std::string& name, int value, const std::string& choices) {
  return "select " + name + " value=" + std::to_string(value) + " choices=" + choices;
}

// One call of func_proc_video as the host saw it.
struct CallResult {
  int returned = 0;    // func_proc_video's result
  int set_calls = 0;   // how often set_image_data was called
  int w = 0, h = 0;    // the image after the call
  std::vector<unsigned char> rgba;  // w x h x 4
};

constexpr char kResultMagic[8] = {'L', 'E', 'N', 'S', 'E', 'D', '2', 'R'};

inline bool WriteCallResult(const std::string& path, const CallResult& r) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const std::int32_t header[4] = {r.returned, r.set_calls, r.w, r.h};
  bool ok = std::fwrite(kResultMagic, 8, 1, f) == 1 && std::fwrite(header, sizeof(header), 1, f) == 1;
  if (ok && !r.rgba.empty()) ok = std::fwrite(r.rgba.data(), 1, r.rgba.size(), f) == r.rgba.size();
  return std::fclose(f) == 0 && ok;
}

inline bool ReadCallResult(const std::string& path, CallResult* r) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  char magic[8];
  std::int32_t header[4];
  bool ok = std::fread(magic, 8, 1, f) == 1 && std::memcmp(magic, kResultMagic, 8) == 0 &&
            std::fread(header, sizeof(header), 1, f) == 1 && header[2] >= 0 && header[3] >= 0 &&
            header[2] <= 1 << 14 && header[3] <= 1 << 14;
  if (ok) {
    r->returned = header[0];
    r->set_calls = header[1];
    r->w = header[2];
    r->h = header[3];
    r->rgba.resize(static_cast<std::size_t>(r->w) * r->h * 4);
    ok = r->rgba.empty() || std::fread(r->rgba.data(), 1, r->rgba.size(), f) == r->rgba.size();
    char extra;
    ok = ok && std::fread(&extra, 1, 1, f) == 0;
  }
  std::fclose(f);
  return ok;
}

}  // namespace editor2check
