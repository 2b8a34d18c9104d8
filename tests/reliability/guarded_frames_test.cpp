// Every plug-in, loaded as the editor loads it, over a grid of frame sizes,
// capacities and control values, with both frame buffers pushed against
// inaccessible pages: a read or write past either end of either buffer
// faults. Each run also checks that the source frame is untouched, that
// nothing outside the reported output rectangle changes, and that the
// reported size fits the capacity.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "frames.h"
#include "guarded_buffers.h"
#include "plugin_cases.h"
#include "plugin_host.h"

namespace {

using testing_support::GuardedFrameBuffers;
using testing_support::GuardSide;
using reliability::Controls;

struct Size {
  int w;
  int h;
};

void FillNoise(PIXEL_YC* p, std::size_t n, std::uint32_t seed) {
  std::uint32_t s = seed * 2654435761u + 1u;
  for (std::size_t i = 0; i < n; ++i) {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    p[i] = PIXEL_YC{static_cast<short>(s), static_cast<short>(s >> 8), static_cast<short>(s >> 16)};
  }
}

class Checker {
 public:
  explicit Checker(const std::string& plugin)
      : library_(testing_support::LoadBuiltPlugin(plugin)),
        table_(library_->table()),
        instance_(table_),
        plugin_(plugin) {}

  const FILTER_DLL& table() const { return table_; }

  // Runs one frame on both placements of the guard pages. Returns false (and
  // records a test failure) when an invariant does not hold.
  bool Run(const Controls& k, Size frame, Size capacity) {
    for (GuardSide side : {GuardSide::kAfterEnd, GuardSide::kBeforeStart}) {
      if (!RunOn(k, frame, capacity, side)) return false;
    }
    return true;
  }

  long runs() const { return runs_; }

 private:
  bool RunOn(const Controls& k, Size frame, Size capacity, GuardSide side) {
    const std::string description =
        plugin_ + " frame " + std::to_string(frame.w) + "x" + std::to_string(frame.h) +
        " capacity " + std::to_string(capacity.w) + "x" + std::to_string(capacity.h) +
        (side == GuardSide::kAfterEnd ? " guard after end, " : " guard before start, ") +
        reliability::Describe(k);
    reliability::SetCurrentCase(description);
    GuardedFrameBuffers& buffers = Buffers(capacity, side);
    const std::size_t n = buffers.a.size();
    FillNoise(buffers.a.data(), n, static_cast<std::uint32_t>(runs_));
    FillNoise(buffers.b.data(), n, static_cast<std::uint32_t>(runs_) + 7777u);
    source_copy_.assign(buffers.a.data(), buffers.a.data() + n);
    scratch_copy_.assign(buffers.b.data(), buffers.b.data() + n);

    reliability::Apply(instance_, k);
    const host::FrameResult result = host::RunFrame(instance_, buffers.a.data(), buffers.b.data(),
                                                    frame.w, frame.h, capacity.w, capacity.h);
    ++runs_;

    std::string fault;
    if (result.returned != 1) fault = "func_proc returned " + std::to_string(result.returned);
    else if (!result.exchanged) fault = "the buffers were not exchanged";
    else if (result.w < 0 || result.h < 0 || result.w > capacity.w || result.h > capacity.h)
      fault = "reported size " + std::to_string(result.w) + "x" + std::to_string(result.h) +
              " does not fit the capacity";
    else if (n > 0 && std::memcmp(buffers.a.data(), source_copy_.data(), n * sizeof(PIXEL_YC)) != 0)
      fault = "the source frame was modified";
    else if (!buffers.a.SlackIntact() || !buffers.b.SlackIntact())
      fault = "a byte next to a buffer was written";
    else {
      const PIXEL_YC* out = buffers.b.data();
      for (int r = 0; r < capacity.h && fault.empty(); ++r) {
        for (int c = 0; c < capacity.w; ++c) {
          if (r < result.h && c < result.w) continue;
          const std::size_t i = static_cast<std::size_t>(r) * capacity.w + c;
          if (!testing_support::SamePixel(out[i], scratch_copy_[i])) {
            fault = "pixel (" + std::to_string(c) + ", " + std::to_string(r) +
                    ") outside the " + std::to_string(result.w) + "x" +
                    std::to_string(result.h) + " output was written";
            break;
          }
        }
      }
    }
    if (!fault.empty()) {
      ADD_FAILURE() << fault << "\n  in " << description;
      return false;
    }
    return true;
  }

  // One pair of buffers per guard side, kept while the capacity stays.
  GuardedFrameBuffers& Buffers(Size capacity, GuardSide side) {
    std::unique_ptr<GuardedFrameBuffers>& buffers =
        side == GuardSide::kAfterEnd ? after_end_ : before_start_;
    if (!buffers || buffers->max_w != capacity.w || buffers->max_h != capacity.h) {
      buffers.reset();
      buffers = std::make_unique<GuardedFrameBuffers>(capacity.w, capacity.h, side);
    }
    return *buffers;
  }

  std::unique_ptr<host::PluginLibrary> library_;
  const FILTER_DLL& table_;
  host::FilterInstance instance_;
  std::string plugin_;
  std::unique_ptr<GuardedFrameBuffers> after_end_;
  std::unique_ptr<GuardedFrameBuffers> before_start_;
  std::vector<PIXEL_YC> source_copy_;
  std::vector<PIXEL_YC> scratch_copy_;
  long runs_ = 0;
};

// Capacities for a frame: exactly its size, one more in each direction (odd
// against even), and a roomier one of mixed parity.
std::vector<Size> CapacitiesFor(Size frame) {
  return {frame, {frame.w + 1, frame.h + 1}, {frame.w + 2, frame.h + 5}};
}

class GuardedFrames : public ::testing::TestWithParam<std::string> {
 protected:
  static void SetUpTestSuite() { reliability::InstallCrashReporter(); }
};

// Every frame size of the grid, against every capacity, with the default
// controls, all boxes, the first box (the height track) and all boxes but
// the first: sizes from empty to a few hundred, odd and even.
TEST_P(GuardedFrames, SizeGrid) {
  Checker checker(GetParam());
  const FILTER_DLL& table = checker.table();
  const std::vector<int> sizes = {0, 1, 2, 3, 4, 5, 8, 17, 64, 127, 200, 301};
  std::vector<Controls> settings;
  settings.push_back(reliability::Defaults(table));
  Controls all = reliability::Defaults(table);
  all.check.assign(table.check_n, 1);
  settings.push_back(all);
  Controls height = reliability::Defaults(table);
  height.check[0] = 1;
  settings.push_back(height);
  Controls rest = all;
  rest.check[0] = 0;
  settings.push_back(rest);
  for (int w : sizes) {
    for (int h : sizes) {
      for (Size capacity : CapacitiesFor({w, h})) {
        for (const Controls& k : settings) {
          ASSERT_TRUE(checker.Run(k, {w, h}, capacity));
        }
      }
    }
  }
  std::printf("%s: %ld guarded frames\n", GetParam().c_str(), checker.runs());
}

// Each frame at its own capacity and at one `extra` larger, with each track
// bar in turn at each of values(table, i) and the others at their defaults,
// under every check set.
template <typename Values>
void SweepTracks(Checker& checker, const std::vector<Size>& frames, Size extra, Values values,
                 const std::vector<std::vector<int>>& check_sets) {
  const FILTER_DLL& table = checker.table();
  for (Size frame : frames) {
    for (Size capacity : {frame, Size{frame.w + extra.w, frame.h + extra.h}}) {
      for (int i = 0; i < table.track_n; ++i) {
        for (int value : values(table, i)) {
          for (const auto& checks : check_sets) {
            Controls k = reliability::Defaults(table);
            k.track[i] = value;
            k.check = checks;
            ASSERT_TRUE(checker.Run(k, frame, capacity));
          }
        }
      }
    }
  }
}

// Each track bar over its whole range (ends included), under every
// check-box set, on small frames of both parities, empty ones included.
TEST_P(GuardedFrames, EveryTrackOverItsRange) {
  Checker checker(GetParam());
  const std::vector<Size> frames = {{0, 0}, {0, 5}, {6, 0}, {1, 1}, {2, 2}, {3, 3}, {7, 4}, {16, 9}, {33, 20}};
  ASSERT_NO_FATAL_FAILURE(
      SweepTracks(checker, frames, {1, 2}, reliability::RangeValues, reliability::CheckSets(checker.table().check_n)));
  std::printf("%s: %ld guarded frames\n", GetParam().c_str(), checker.runs());
}

// Every track at its minimum, every track at its maximum, and random
// in-range settings that favour the ends, on frames of mixed sizes.
TEST_P(GuardedFrames, CombinedExtremesAndRandomSettings) {
  Checker checker(GetParam());
  const FILTER_DLL& table = checker.table();
  const std::vector<Size> frames = {{1, 2}, {5, 3}, {40, 31}, {96, 54}, {150, 75}};
  const auto check_sets = reliability::CheckSets(table.check_n);
  for (Size frame : frames) {
    for (const auto& checks : check_sets) {
      for (bool maximum : {false, true}) {
        Controls k = reliability::Defaults(table);
        for (int i = 0; i < table.track_n; ++i) k.track[i] = maximum ? table.track_e[i] : table.track_s[i];
        k.check = checks;
        ASSERT_TRUE(checker.Run(k, frame, {frame.w + 1, frame.h}));
      }
    }
  }
  reliability::Rng rng(2024);
  for (int n = 0; n < 300; ++n) {
    const Size frame{rng.Between(0, 90), rng.Between(0, 60)};
    const Size capacity{frame.w + rng.Between(0, 9), frame.h + rng.Between(0, 9)};
    ASSERT_TRUE(checker.Run(reliability::RandomInRange(table, rng), frame, capacity));
  }
  std::printf("%s: %ld guarded frames\n", GetParam().c_str(), checker.runs());
}

// Values no track bar can produce (huge heights, INT_MIN, INT_MAX) and check
// values other than 0 and 1: the plug-ins use them unchanged, so they must
// still keep every access inside the buffers.
TEST_P(GuardedFrames, ValuesOutsideTheTrackRanges) {
  Checker checker(GetParam());
  const FILTER_DLL& table = checker.table();
  const std::vector<Size> frames = {{0, 0}, {1, 1}, {3, 2}, {24, 17}};
  std::vector<std::vector<int>> check_sets = reliability::CheckSets(table.check_n);
  check_sets.emplace_back(table.check_n, -1);
  check_sets.emplace_back(table.check_n, 0x7FFFFFFF);
  ASSERT_NO_FATAL_FAILURE(SweepTracks(checker, frames, {3, 1}, reliability::OutOfRangeValues, check_sets));
  // Every track and every box at once.
  for (Size frame : frames) {
    for (Size capacity : {frame, Size{frame.w + 3, frame.h + 1}}) {
      for (int value : {INT_MIN, -1, INT_MAX}) {
        Controls k = reliability::Defaults(table);
        k.track.assign(table.track_n, value);
        k.check.assign(table.check_n, 1);
        ASSERT_TRUE(checker.Run(k, frame, capacity));
      }
    }
  }
  std::printf("%s: %ld guarded frames\n", GetParam().c_str(), checker.runs());
}

// The guard itself: one pixel past the guarded end faults, the whole buffer
// is usable, and a write into the unguarded slack is noticed.
TEST(GuardedBufferDeathTest, AccessPastTheGuardedEndFaults) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  for (std::size_t pixels : {std::size_t{0}, std::size_t{1}, std::size_t{683}, std::size_t{5000}}) {
    testing_support::GuardedBuffer after(pixels, GuardSide::kAfterEnd);
    testing_support::GuardedBuffer before(pixels, GuardSide::kBeforeStart);
    for (std::size_t i = 0; i < pixels; ++i) {
      after.data()[i] = PIXEL_YC{1, 2, 3};
      before.data()[i] = PIXEL_YC{1, 2, 3};
    }
    EXPECT_TRUE(after.SlackIntact());
    EXPECT_TRUE(before.SlackIntact());
    volatile short* past_end = &after.data()[pixels].y;
    volatile short* before_start = &before.data()[-1].cr;
    EXPECT_DEATH(*past_end = 0, "");
    EXPECT_DEATH(*before_start = 0, "");
    if (pixels > 0) {
      // The other side of each buffer is not guarded by a page but by the
      // slack pattern (none of these sizes fills its pages exactly).
      after.data()[-1].cr = 0;
      before.data()[pixels].y = 0;
      EXPECT_FALSE(after.SlackIntact());
      EXPECT_FALSE(before.SlackIntact());
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Plugins, GuardedFrames,
                         ::testing::ValuesIn(host::PluginNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

}  // namespace
