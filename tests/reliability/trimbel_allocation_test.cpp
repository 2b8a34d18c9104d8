// Trimbel's per-frame longitude tables under failing allocations: with the
// sine table, the cosine table or both missing, every frame must come out
// byte for byte as with both tables. Tables are also handed out against an
// inaccessible page, so a table access past its out_w entries faults.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "frames.h"
#include "guarded_buffers.h"
#include "plugin_cases.h"
#include "plugin_host.h"
#include "trimbel.h"

namespace {

using reliability::Controls;
using testing_support::GuardedBlock;
using testing_support::GuardSide;

enum class Mode { kHeap, kFailSine, kFailCosine, kFailBoth, kGuardedAfter, kGuardedBefore };

Mode mode = Mode::kHeap;
int calls = 0;
std::map<void*, std::unique_ptr<GuardedBlock>> mappings;  // guarded tables
std::vector<void*> obtained, given_back;  // tables handed out and released, in order
std::vector<float> released_entry1;       // entry 1 of each released table, when recorded
bool record_entries = false;              // only for tables known to hold two entries

void* GuardedTable(std::size_t bytes, GuardSide side) {
  auto block = std::make_unique<GuardedBlock>(bytes, side);
  void* table = block->data();
  mappings[table] = std::move(block);
  return table;
}

void* Obtain(std::size_t bytes, int call) {
  switch (mode) {
    case Mode::kFailSine: return call == 0 ? nullptr : std::malloc(bytes);
    case Mode::kFailCosine: return call == 1 ? nullptr : std::malloc(bytes);
    case Mode::kFailBoth: return nullptr;
    case Mode::kGuardedAfter: return GuardedTable(bytes, GuardSide::kAfterEnd);
    case Mode::kGuardedBefore: return GuardedTable(bytes, GuardSide::kBeforeStart);
    case Mode::kHeap: break;
  }
  return std::malloc(bytes);
}

void* Allocate(std::size_t bytes) {
  void* table = Obtain(bytes, calls++);  // call 0: sine table, 1: cosine table
  if (table != nullptr) obtained.push_back(table);
  return table;
}

void Release(void* table) {
  given_back.push_back(table);
  if (record_entries) released_entry1.push_back(static_cast<float*>(table)[1]);
  const auto found = mappings.find(table);
  if (found == mappings.end()) {
    std::free(table);
    return;
  }
  mappings.erase(found);
}

struct Output {
  BOOL returned;
  int w;
  int h;
  std::vector<PIXEL_YC> pixels;
};

Output RunEntry(Mode m, const Controls& k, int w, int h, int max_w, int max_h) {
  mode = m;
  calls = 0;
  obtained.clear();
  given_back.clear();
  released_entry1.clear();
  host::FilterInstance instance(*trimbel::FilterTable());
  reliability::Apply(instance, k);
  host::FrameBuffers buffers(max_w, max_h);
  testing_support::FillNoise(buffers.a, static_cast<std::uint32_t>(w * 31 + h));
  testing_support::FillWith(buffers.b, testing_support::kSentinel);
  FILTER_PROC_INFO info{};
  info.ycp_edit = buffers.a.data();
  info.ycp_temp = buffers.b.data();
  info.w = w;
  info.h = h;
  info.max_w = max_w;
  info.max_h = max_h;
  Output out;
  out.returned = trimbel::FrameEntry(&instance.filter, &info, trimbel::TableAllocator{Allocate, Release});
  out.w = info.w;
  out.h = info.h;
  out.pixels.assign(info.ycp_edit, info.ycp_edit + buffers.b.size());
  return out;
}

TEST(TrimbelTableFaults, MissingOrGuardedTablesGiveTheSameBytes) {
  const FILTER_DLL& table = *trimbel::FilterTable();
  std::vector<Controls> settings;
  settings.push_back(reliability::Defaults(table));
  Controls wide = reliability::Defaults(table);  // 2:1 from the height track
  wide.check[trimbel::kUseHeight] = 1;
  wide.check[trimbel::kTwoToOne] = 1;
  settings.push_back(wide);
  reliability::Rng rng(5);
  for (int n = 0; n < 12; ++n) settings.push_back(reliability::RandomInRange(table, rng));
  const int frames[][4] = {{0, 0, 0, 0}, {1, 1, 1, 1}, {2, 1, 3, 1}, {3, 3, 3, 3}, {22, 11, 22, 11},
                           {64, 32, 65, 33}, {301, 150, 301, 150}, {1920, 4, 1920, 4}};
  for (const auto& f : frames) {
    for (const Controls& k : settings) {
      SCOPED_TRACE(std::to_string(f[0]) + "x" + std::to_string(f[1]) + " " + reliability::Describe(k));
      const Output both = RunEntry(Mode::kHeap, k, f[0], f[1], f[2], f[3]);
      ASSERT_EQ(both.returned, 1);
      for (Mode m : {Mode::kFailSine, Mode::kFailCosine, Mode::kFailBoth, Mode::kGuardedAfter,
                     Mode::kGuardedBefore}) {
        const Output other = RunEntry(m, k, f[0], f[1], f[2], f[3]);
        EXPECT_EQ(other.returned, 1);
        EXPECT_EQ(other.w, both.w);
        EXPECT_EQ(other.h, both.h);
        EXPECT_EQ(testing_support::CountDifferences(other.pixels.data(), both.pixels.data(),
                                                    f[2] * f[3], 1, f[2] * f[3]),
                  0)
            << "allocation mode " << static_cast<int>(m);
        EXPECT_TRUE(mappings.empty()) << "a table was not given back";
        EXPECT_EQ(given_back, obtained) << "tables not given back once each, in order";
      }
    }
  }
}

TEST(TrimbelTableFaults, SineTableFirstThenCosineBothGivenBackInThatOrder) {
  record_entries = true;
  const Output out = RunEntry(Mode::kHeap, reliability::Defaults(*trimbel::FilterTable()), 64, 32, 64, 32);
  record_entries = false;
  ASSERT_EQ(out.returned, 1);
  EXPECT_EQ(calls, 2);
  ASSERT_EQ(obtained.size(), 2u);
  EXPECT_EQ(given_back, obtained);
  // Entry 1 is column 1's longitude, 2 pi / 64, rounded as the tables round it.
  const float lon = static_cast<float>(static_cast<double>(3.1415927f) * 2.0) / 64.0f;
  ASSERT_EQ(released_entry1.size(), 2u);
  EXPECT_EQ(released_entry1[0], static_cast<float>(std::sin(static_cast<double>(lon))));
  EXPECT_EQ(released_entry1[1], static_cast<float>(std::cos(static_cast<double>(lon))));
}

}  // namespace
