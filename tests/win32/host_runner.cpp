#include "host_runner.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "expected_tables.h"

namespace wincheck {
namespace {

// Pixels of untouched memory before and after each buffer.
constexpr int kGuard = 4096;
constexpr PIXEL_YC kGuardPixel = {0x5A5A, -0x5A5B, 0x2525};

bool SamePixel(const PIXEL_YC& a, const PIXEL_YC& b) {
  return a.y == b.y && a.cb == b.cb && a.cr == b.cr;
}

// Frame content from a seed: mostly the editor's nominal ranges, every
// sixteenth pixel anywhere in the 16-bit range.
void FillPattern(PIXEL_YC* pixels, std::size_t count, std::uint32_t seed) {
  std::uint32_t s = seed * 2654435761u + 0x9E3779B9u;
  auto next = [&s]() {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return s;
  };
  for (std::size_t i = 0; i < count; ++i) {
    if ((next() & 15u) == 0u) {
      pixels[i] = PIXEL_YC{static_cast<short>(next() & 0xFFFFu),
                           static_cast<short>(next() & 0xFFFFu),
                           static_cast<short>(next() & 0xFFFFu)};
    } else {
      pixels[i] = PIXEL_YC{static_cast<short>(static_cast<int>(next() % 4597u) - 200),
                           static_cast<short>(static_cast<int>(next() % 4097u) - 2048),
                           static_cast<short>(static_cast<int>(next() % 4097u) - 2048)};
    }
  }
}

// One of the host's frame buffers, with guard pixels on both sides.
struct GuardedBuffer {
  std::vector<PIXEL_YC> storage;
  std::size_t capacity;
  std::vector<PIXEL_YC> before;  // content at the start of the call

  GuardedBuffer(std::size_t capacity_pixels, std::uint32_t seed)
      : storage(capacity_pixels + 2 * kGuard, kGuardPixel), capacity(capacity_pixels) {
    FillPattern(data(), capacity, seed);
    before.assign(data(), data() + capacity);
  }
  PIXEL_YC* data() { return storage.data() + kGuard; }
  int GuardDamage() const {
    int damaged = 0;
    for (std::size_t i = 0; i < storage.size(); ++i) {
      if (i >= static_cast<std::size_t>(kGuard) && i < kGuard + capacity) continue;
      if (!SamePixel(storage[i], kGuardPixel)) ++damaged;
    }
    return damaged;
  }
};

const ExpectedTable* FindExpected(const std::string& plugin) {
  for (const ExpectedTable& t : kExpectedTables) {
    if (plugin == t.plugin) return &t;
  }
  return nullptr;
}

std::string Hex(const char* s) {
  if (s == nullptr) return "(null)";
  std::string out;
  char buf[4];
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(s); *p != 0; ++p) {
    if (*p >= 0x20 && *p < 0x7F) {
      out += static_cast<char>(*p);
    } else {
      std::snprintf(buf, sizeof(buf), "%02X", *p);
      out += "\\x";
      out += buf;
    }
  }
  return out;
}

bool SameText(const char* actual, const char* expected) {
  return actual != nullptr && std::strcmp(actual, expected) == 0;
}

void Fault(Faults* faults, const std::string& where, const std::string& what) {
  faults->push_back(where + ": " + what);
}

template <typename T>
void ExpectNull(Faults* faults, const std::string& where, const char* field, T value) {
  if (value != nullptr) Fault(faults, where, std::string(field) + " is not null");
}

}  // namespace

bool CheckTable(const std::string& plugin, const FILTER_DLL& t, Faults* faults) {
  const ExpectedTable* e = FindExpected(plugin);
  const std::string where = plugin + " table";
  if (e == nullptr) {
    Fault(faults, where, "no expectations for this plug-in");
    return false;
  }
  if (t.flag != FILTER_FLAG_EX_INFORMATION) Fault(faults, where, "flag " + std::to_string(t.flag));
  if (t.x != 0 || t.y != 0) Fault(faults, where, "window position is not 0, 0");
  if (!SameText(t.name, e->title)) Fault(faults, where, "title " + Hex(t.name));
  if (!SameText(t.information, e->information)) {
    Fault(faults, where, "information " + Hex(t.information));
  }
  if (t.track_n != e->track_n) {
    Fault(faults, where, "track_n " + std::to_string(t.track_n));
  } else if (t.track_name == nullptr || t.track_default == nullptr || t.track_s == nullptr ||
             t.track_e == nullptr) {
    Fault(faults, where, "a track bar array is null");
  } else {
    for (int i = 0; i < e->track_n; ++i) {
      const std::string bar = "track bar " + std::to_string(i);
      if (!SameText(t.track_name[i], e->track_names[i])) {
        Fault(faults, where, bar + " caption " + Hex(t.track_name[i]));
      }
      if (t.track_default[i] != e->track_default[i] || t.track_s[i] != e->track_s[i] ||
          t.track_e[i] != e->track_e[i]) {
        Fault(faults, where,
              bar + " default/min/max " + std::to_string(t.track_default[i]) + "/" +
                  std::to_string(t.track_s[i]) + "/" + std::to_string(t.track_e[i]));
      }
    }
  }
  if (t.check_n != e->check_n) {
    Fault(faults, where, "check_n " + std::to_string(t.check_n));
  } else if (t.check_name == nullptr || t.check_default == nullptr) {
    Fault(faults, where, "a check box array is null");
  } else {
    for (int i = 0; i < e->check_n; ++i) {
      const std::string box = "check box " + std::to_string(i);
      if (!SameText(t.check_name[i], e->check_names[i])) {
        Fault(faults, where, box + " caption " + Hex(t.check_name[i]));
      }
      if (t.check_default[i] != 0) Fault(faults, where, box + " default is not 0");
    }
  }
  if (t.func_proc == nullptr) Fault(faults, where, "func_proc is null");
  ExpectNull(faults, where, "func_init", t.func_init);
  ExpectNull(faults, where, "func_exit", t.func_exit);
  ExpectNull(faults, where, "func_update", t.func_update);
  ExpectNull(faults, where, "func_WndProc", t.func_WndProc);
  ExpectNull(faults, where, "track", t.track);
  ExpectNull(faults, where, "check", t.check);
  ExpectNull(faults, where, "ex_data_ptr", t.ex_data_ptr);
  if (t.ex_data_size != 0) Fault(faults, where, "ex_data_size is not 0");
  ExpectNull(faults, where, "func_save_start", t.func_save_start);
  ExpectNull(faults, where, "func_save_end", t.func_save_end);
  ExpectNull(faults, where, "exfunc", t.exfunc);
  ExpectNull(faults, where, "hwnd", t.hwnd);
  ExpectNull(faults, where, "dll_hinst", t.dll_hinst);
  ExpectNull(faults, where, "ex_data_def", t.ex_data_def);
  ExpectNull(faults, where, "func_is_saveframe", t.func_is_saveframe);
  ExpectNull(faults, where, "func_project_load", t.func_project_load);
  ExpectNull(faults, where, "func_project_save", t.func_project_save);
  ExpectNull(faults, where, "func_modify_title", t.func_modify_title);
  ExpectNull(faults, where, "dll_path", t.dll_path);
  if (t.reserve[0] != 0 || t.reserve[1] != 0) Fault(faults, where, "reserve is not 0");
  return true;
}

bool ApplyControls(const std::string& controls, std::vector<int>* track, std::vector<int>* check,
                   Faults* faults) {
  std::istringstream words(controls);
  std::string word;
  while (words >> word) {
    const char kind = word[0];
    char* end = nullptr;
    const long index = std::strtol(word.c_str() + 1, &end, 10);
    long value = 1;
    bool ok = (kind == 't' || kind == 'c') && end != word.c_str() + 1;
    if (ok && *end == '=') {
      const char* value_start = end + 1;
      value = std::strtol(value_start, &end, 10);
      ok = end != value_start;
    }
    ok = ok && *end == '\0';
    std::vector<int>* target = kind == 't' ? track : check;
    if (!ok || index < 0 || index >= static_cast<long>(target->size())) {
      Fault(faults, "controls", "cannot set \"" + word + "\"");
      return false;
    }
    (*target)[static_cast<std::size_t>(index)] = static_cast<int>(value);
  }
  return true;
}

bool RunCase(const HostCase& c, const FILTER_DLL& table, CaseResult* result, Faults* faults) {
  *result = CaseResult();
  const std::string where = c.name;
  if (c.w > c.max_w || c.h > c.max_h || c.w < 0 || c.h < 0) {
    Fault(faults, where, "source frame larger than the capacity");
    return false;
  }
  // The editor's run-time copy of the table, with its own control arrays.
  FILTER filter;
  std::memcpy(&filter, &table, sizeof(FILTER));
  std::vector<int> track(table.track_default, table.track_default + table.track_n);
  std::vector<int> check(table.check_default, table.check_default + table.check_n);
  if (!ApplyControls(c.controls, &track, &check, faults)) return false;
  filter.track = track.data();
  filter.check = check.data();

  const std::size_t capacity = static_cast<std::size_t>(c.max_w) * static_cast<std::size_t>(c.max_h);
  GuardedBuffer edit(capacity, c.seed);
  GuardedBuffer temp(capacity, c.seed ^ 0xA5A5A5A5u);
  FILTER_PROC_INFO info = MakeFrameInfo(edit.data(), temp.data(), c.w, c.h, c.max_w, c.max_h);

  result->returned = filter.func_proc(&filter, &info);
  result->w = info.w;
  result->h = info.h;
  result->exchanged = (info.ycp_edit == temp.data() && info.ycp_temp == edit.data()) ? 1 : 0;
  result->guard_damage = edit.GuardDamage() + temp.GuardDamage();

  if (result->returned != 1) Fault(faults, where, "returned " + std::to_string(result->returned));
  if (result->guard_damage != 0) {
    Fault(faults, where, std::to_string(result->guard_damage) + " pixels written outside the buffers");
  }
  if (info.w < 0 || info.h < 0 || info.w > c.max_w || info.h > c.max_h) {
    Fault(faults, where, "reported size " + std::to_string(info.w) + "x" + std::to_string(info.h) +
                             " outside the capacity");
    return true;
  }
  GuardedBuffer* frame = info.ycp_edit == edit.data() ? &edit
                         : info.ycp_edit == temp.data() ? &temp : nullptr;
  GuardedBuffer* other = frame == &edit ? &temp : &edit;
  if (frame == nullptr || info.ycp_temp != other->data()) {
    Fault(faults, where, "ycp_edit/ycp_temp do not point at the host's two buffers");
    return true;
  }
  // The source frame is only read. When the pointers were exchanged the old
  // frame comes back as scratch and must be unchanged.
  if (frame != &edit) {
    for (std::size_t i = 0; i < capacity; ++i) {
      if (!SamePixel(edit.data()[i], edit.before[i])) ++result->source_changes;
    }
  }
  result->pixels.reserve(static_cast<std::size_t>(info.w) * static_cast<std::size_t>(info.h));
  for (int r = 0; r < c.max_h; ++r) {
    for (int col = 0; col < c.max_w; ++col) {
      const std::size_t i = static_cast<std::size_t>(r) * c.max_w + col;
      if (r < info.h && col < info.w) {
        result->pixels.push_back(frame->data()[i]);
      } else if (!SamePixel(frame->data()[i], frame->before[i])) {
        ++result->outside_writes;
      }
    }
  }
  if (result->source_changes != 0) {
    Fault(faults, where, std::to_string(result->source_changes) + " source pixels changed");
  }
  if (result->outside_writes != 0) {
    Fault(faults, where,
          std::to_string(result->outside_writes) + " pixels written outside the output frame");
  }
  return true;
}

namespace {
constexpr char kMagic[8] = {'L', 'E', 'N', 'S', 'R', 'E', 'S', '1'};
}

bool WriteResult(const std::string& path, const CaseResult& r) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const std::int32_t header[7] = {r.returned,       r.w,
                                  r.h,              r.exchanged,
                                  r.outside_writes, r.source_changes,
                                  r.guard_damage};
  bool ok = std::fwrite(kMagic, sizeof(kMagic), 1, f) == 1 &&
            std::fwrite(header, sizeof(header), 1, f) == 1;
  if (ok && !r.pixels.empty()) {
    ok = std::fwrite(r.pixels.data(), sizeof(PIXEL_YC), r.pixels.size(), f) == r.pixels.size();
  }
  return std::fclose(f) == 0 && ok;
}

bool ReadResult(const std::string& path, CaseResult* r) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  char magic[8];
  std::int32_t header[7];
  bool ok = std::fread(magic, sizeof(magic), 1, f) == 1 &&
            std::memcmp(magic, kMagic, sizeof(kMagic)) == 0 &&
            std::fread(header, sizeof(header), 1, f) == 1;
  if (ok) {
    r->returned = header[0];
    r->w = header[1];
    r->h = header[2];
    r->exchanged = header[3];
    r->outside_writes = header[4];
    r->source_changes = header[5];
    r->guard_damage = header[6];
    ok = r->w >= 0 && r->h >= 0 && r->w <= 1 << 15 && r->h <= 1 << 15;
  }
  if (ok) {
    r->pixels.resize(static_cast<std::size_t>(r->w) * static_cast<std::size_t>(r->h));
    ok = r->pixels.empty() ||
         std::fread(r->pixels.data(), sizeof(PIXEL_YC), r->pixels.size(), f) == r->pixels.size();
    char extra;
    ok = ok && std::fread(&extra, 1, 1, f) == 0;
  }
  std::fclose(f);
  return ok;
}

int RunAllCases(const LoadPlugin& load, const std::string& out_dir) {
  Faults faults;
  std::vector<std::string> plugins;
  for (const HostCase& c : kHostCases) {
    bool seen = false;
    for (const std::string& p : plugins) seen = seen || p == c.plugin;
    if (!seen) plugins.push_back(c.plugin);
  }
  int ran = 0;
  for (const std::string& plugin : plugins) {
    bool missing = false;
    std::string error;
    const FILTER_DLL* table = load(plugin, &missing, &error);
    if (table == nullptr) {
      if (missing) {
        std::printf("SKIP %s: plug-in file not built\n", plugin.c_str());
      } else {
        Fault(&faults, plugin, error);
      }
      continue;
    }
    const std::size_t before = faults.size();
    CheckTable(plugin, *table, &faults);
    std::printf("%s %s table\n", faults.size() == before ? "ok  " : "FAIL", plugin.c_str());
    if (table->func_proc == nullptr || faults.size() != before) continue;
    for (const HostCase& c : kHostCases) {
      if (plugin != c.plugin) continue;
      const std::size_t case_before = faults.size();
      CaseResult result;
      if (RunCase(c, *table, &result, &faults)) {
        const std::string path = out_dir + "/" + c.name + ".res";
        if (!WriteResult(path, result)) Fault(&faults, c.name, "cannot write " + path);
      }
      std::printf("%s %-36s %dx%d -> %dx%d\n", faults.size() == case_before ? "ok  " : "FAIL",
                  c.name, c.w, c.h, result.w, result.h);
      ++ran;
    }
  }
  for (const std::string& f : faults) std::printf("fault: %s\n", f.c_str());
  std::printf("%d cases run, %d faults\n", ran, static_cast<int>(faults.size()));
  std::fflush(stdout);
  return faults.empty() ? 0 : 1;
}

int CompareResultDirs(const std::string& reference_dir, const std::string& other_dir) {
  int failures = 0;
  int compared = 0;
  long total_differing = 0;
  std::printf("%-36s %9s %9s %9s %6s  %s\n", "case", "size", "pixels", "differ", "max|d|",
              "verdict");
  for (const HostCase& c : kHostCases) {
    CaseResult a;
    CaseResult b;
    const bool have_a = ReadResult(reference_dir + "/" + c.name + ".res", &a);
    const bool have_b = ReadResult(other_dir + "/" + c.name + ".res", &b);
    if (!have_a && !have_b) {
      std::printf("%-36s %9s %9s %9s %6s  skipped (%s not built)\n", c.name, "-", "-", "-", "-",
                  c.plugin);
      continue;
    }
    ++compared;
    std::string verdict;
    if (have_a != have_b) {
      verdict = std::string("FAIL: result missing from ") + (have_a ? other_dir : reference_dir);
    } else if (a.returned != b.returned || a.w != b.w || a.h != b.h ||
               a.exchanged != b.exchanged) {
      verdict = "FAIL: returned/size/exchange " + std::to_string(a.returned) + " " +
                std::to_string(a.w) + "x" + std::to_string(a.h) + " " +
                std::to_string(a.exchanged) + " vs " + std::to_string(b.returned) + " " +
                std::to_string(b.w) + "x" + std::to_string(b.h) + " " +
                std::to_string(b.exchanged);
    } else if (a.outside_writes + a.source_changes + a.guard_damage + b.outside_writes +
                   b.source_changes + b.guard_damage != 0) {
      verdict = "FAIL: a host saw writes outside the output frame";
    }
    long differing = 0;
    int max_delta = 0;
    if (have_a && have_b && a.pixels.size() == b.pixels.size()) {
      for (std::size_t i = 0; i < a.pixels.size(); ++i) {
        const PIXEL_YC& p = a.pixels[i];
        const PIXEL_YC& q = b.pixels[i];
        if (SamePixel(p, q)) continue;
        ++differing;
        const int d[3] = {std::abs(p.y - q.y), std::abs(p.cb - q.cb), std::abs(p.cr - q.cr)};
        for (int v : d) max_delta = v > max_delta ? v : max_delta;
      }
      // More than 1 differing pixel in 10,000 is more than last-bit
      // rounding of the C runtimes can explain.
      if (verdict.empty()) {
        verdict = differing * 10000 > static_cast<long>(a.pixels.size()) ? "FAIL: too many differ"
                  : differing != 0 ? "ok (within 1/10000)" : "ok (identical)";
      }
    }
    total_differing += differing;
    if (verdict.compare(0, 4, "FAIL") == 0) ++failures;
    char size[32];
    std::snprintf(size, sizeof(size), "%dx%d", a.w, a.h);
    std::printf("%-36s %9s %9ld %9ld %6d  %s\n", c.name, size,
                static_cast<long>(a.pixels.size()), differing, max_delta, verdict.c_str());
  }
  std::printf("%d cases compared, %ld differing pixels in all, %d failed\n", compared,
              total_differing, failures);
  std::fflush(stdout);
  if (compared == 0) {
    std::printf("nothing compared\n");
    return 1;
  }
  return failures == 0 ? 0 : 1;
}

}  // namespace wincheck
