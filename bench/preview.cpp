// bench_preview: how fast `reproject preview` answers a changed control.
// Starts the preview's server in this process on a 3840 x 1920 panorama (the
// bundled scene, made at that size), asks for Varnel's 1920 x 1080 view with
// the input read as equirectangular, then sends N render requests, each with
// another azimuth, one after the other as the page does, and reads the
// server's own time for each (its Server-Timing header: from the request's
// arrival to the picture ready to send). Prints the median, the spread and
// the parts (plug-in, encoding), for the JPEG the page shows and, once, the
// lossless PNG.
#include <httplib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "server.h"

namespace {

struct Timing {
  double filter = 0, encode = 0, total = 0, round_trip = 0;
};

double Field(const std::string& header, const std::string& name) {
  const std::regex pattern(name + ";dur=([0-9.]+)");
  std::smatch m;
  return std::regex_search(header, m, pattern) ? std::atof(m[1].str().c_str()) : -1.0;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n == 0 ? 0.0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

bool Get(httplib::Client& client, const std::string& path, Timing* t, std::string* size) {
  const auto start = std::chrono::steady_clock::now();
  auto res = client.Get(path.c_str());
  t->round_trip = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  if (!res || res->status != 200) {
    std::fprintf(stderr, "bench_preview: %s: %s\n", path.c_str(),
                 res ? res->body.c_str() : httplib::to_string(res.error()).c_str());
    return false;
  }
  const std::string header = res->get_header_value("Server-Timing");
  t->filter = Field(header, "filter");
  t->encode = Field(header, "encode");
  t->total = Field(header, "total");
  *size = res->get_header_value("X-Frame-Size") + ", " + std::to_string(res->body.size() / 1024) + " KiB";
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int requests = 20;
  std::string input;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--requests" && i + 1 < argc) {
      requests = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--input" && i + 1 < argc) {
      input = argv[++i];
    } else {
      std::fprintf(stderr, "usage: bench_preview [--requests N] [--input PANORAMA]\n");
      return 2;
    }
  }
  char folder[] = "/tmp/bench-preview-XXXXXX";
  if (mkdtemp(folder) == nullptr) return 1;
  // The folder goes however the run ends.
  struct Remove {
    const char* folder;
    ~Remove() { std::system(("rm -rf '" + std::string(folder) + "'").c_str()); }
  } remove{folder};
  const std::string made = std::string(folder) + "/pano.png";
  if (input.empty()) {
    input = made;
    if (std::system((std::string(MAKE_SAMPLE_BIN) + " '" + input + "' 3840").c_str()) != 0) return 1;
  }
  reproject::preview::PreviewSettings settings;
  std::string error;
  if (!reproject::preview::ParsePreviewArgs({"varnel", "--input", "equirect", input}, &settings, &error,
                                             LENS_PLUGIN_DIR)) {
    std::fprintf(stderr, "bench_preview: %s\n", error.c_str());
    return 1;
  }
  settings.folder = folder;
  settings.open_browser = false;
  auto server = reproject::preview::PreviewServer::Start(std::move(settings), &error);
  if (server == nullptr) {
    std::fprintf(stderr, "bench_preview: %s\n", error.c_str());
    return 1;
  }
  httplib::Client client("127.0.0.1", server->port());
  client.set_read_timeout(60, 0);
  const std::string view = "/api/render?token=" + server->token() +
                           "&plugin=varnel&input=equirect&use-height=1&height=1080&width-16x9=1&pitch=10";
  Timing t;
  std::string size;
  // The first request reads the input frame.
  if (!Get(client, view + "&azimuth=0", &t, &size)) return 1;
  std::printf("first request (reads and imports the 3840x1920 input): %.1f ms\n", t.total);
  std::vector<double> totals, filters, encodes, trips;
  for (int i = 1; i <= requests; ++i) {
    const std::string azimuth = std::to_string(-180 + (i * 37) % 360) + "." + std::to_string(i % 10);
    if (!Get(client, view + "&azimuth=" + azimuth, &t, &size)) return 1;
    totals.push_back(t.total);
    filters.push_back(t.filter);
    encodes.push_back(t.encode);
    trips.push_back(t.round_trip);
  }
  std::printf("%d render requests, each a new azimuth, JPEG of %s\n", requests, size.c_str());
  std::printf("  server-side: median %.1f ms (min %.1f, max %.1f); plug-in with its input %.1f ms, JPEG %.1f ms\n",
              Median(totals), *std::min_element(totals.begin(), totals.end()),
              *std::max_element(totals.begin(), totals.end()), Median(filters), Median(encodes));
  std::printf("  round trip on this machine: median %.1f ms\n", Median(trips));
  if (!Get(client, view + "&azimuth=12.5&fmt=png", &t, &size)) return 1;
  std::printf("lossless PNG of %s: %.1f ms (PNG %.1f ms)\n", size.c_str(), t.total, t.encode);
  std::printf("preview_render_median_ms=%.1f\n", Median(totals));
  server.reset();
  return 0;
}
