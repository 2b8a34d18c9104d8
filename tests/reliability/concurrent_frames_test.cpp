// Frames that a plug-in produces alone must come out byte for byte the same
// under any OpenMP thread count and while other host threads call the same
// plug-in's func_proc at the same time on other frames.
//
// ThreadSanitizer is not used for this: the plug-ins' parallel loops run on
// GCC's libgomp, which is not built with TSan instrumentation. Its team
// start-up and join barrier synchronise through futexes and atomics in
// uninstrumented code, so TSan never sees the happens-before edge from the
// frame entry's writes (the RemapJob, the tables) to the workers' reads, nor
// from the workers' output writes to the host's reads after the join, and
// reports those as races. Instead, any race that changes a result shows here
// as a byte difference, and the ASan build runs the same test.
#include <gtest/gtest.h>
#include <omp.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "frames.h"
#include "plugin_cases.h"
#include "plugin_host.h"

namespace {

using reliability::Controls;

struct Job {
  Controls controls;
  int w;
  int h;
  int max_w;
  int max_h;
  std::uint32_t seed;
};

struct Output {
  BOOL returned = 0;
  int w = -1;
  int h = -1;
  std::vector<PIXEL_YC> pixels;  // the whole handed-back buffer
};

Output RunJob(const FILTER_DLL& table, const Job& job) {
  host::FilterInstance instance(table);
  reliability::Apply(instance, job.controls);
  host::FrameBuffers buffers(job.max_w, job.max_h);
  testing_support::FillNoise(buffers.a, job.seed);
  testing_support::FillWith(buffers.b, testing_support::kSentinel);
  const host::FrameResult result = host::RunFrame(instance, buffers, job.w, job.h);
  Output out;
  out.returned = result.returned;
  out.w = result.w;
  out.h = result.h;
  out.pixels.assign(result.frame, result.frame + buffers.b.size());
  return out;
}

bool Same(const Output& a, const Output& b) {
  return a.returned == b.returned && a.w == b.w && a.h == b.h &&
         testing_support::CountDifferences(a.pixels.data(), b.pixels.data(),
                                           static_cast<int>(a.pixels.size()), 1,
                                           static_cast<int>(a.pixels.size())) == 0;
}

// Frames of several shapes, from empty to a few hundred pixels wide, some
// with fewer rows than threads, with random controls; the first few keep
// the defaults.
std::vector<Job> MakeJobs(const FILTER_DLL& table) {
  reliability::Rng rng(77);
  const int shapes[][2] = {{320, 180}, {64, 48}, {33, 17}, {3, 2}, {1, 1}, {0, 0},
                           {200, 100}, {7, 301}, {128, 5}, {90, 90}};
  std::vector<Job> jobs;
  std::uint32_t seed = 1;
  for (const auto& shape : shapes) {
    Job job;
    job.controls = jobs.size() < 2 ? reliability::Defaults(table) : reliability::RandomInRange(table, rng);
    job.w = shape[0];
    job.h = shape[1];
    job.max_w = shape[0] + rng.Between(0, 3);
    job.max_h = shape[1] + rng.Between(0, 3);
    job.seed = seed++;
    jobs.push_back(job);
  }
  return jobs;
}

class ConcurrentFrames : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    library_ = testing_support::LoadBuiltPlugin(GetParam());
    jobs_ = MakeJobs(library_->table());
    for (const Job& job : jobs_) alone_.push_back(RunJob(library_->table(), job));
  }
  std::unique_ptr<host::PluginLibrary> library_;
  std::vector<Job> jobs_;
  std::vector<Output> alone_;  // each job run alone with the default team
};

TEST_P(ConcurrentFrames, AnyThreadCountGivesTheSameBytes) {
  const int previous = omp_get_max_threads();
  for (int threads : {1, 2, 3, 4, 5, 7, 8, 13, 16, 33}) {
    omp_set_num_threads(threads);
    for (std::size_t j = 0; j < jobs_.size(); ++j) {
      const Output out = RunJob(library_->table(), jobs_[j]);
      EXPECT_TRUE(Same(out, alone_[j])) << GetParam() << " job " << j << " with " << threads
                                        << " threads: " << reliability::Describe(jobs_[j].controls);
    }
  }
  omp_set_num_threads(previous);
}

// Several host threads, each with its own OpenMP thread count, call the
// plug-in at once, each going through all the jobs in its own order for a
// few rounds.
TEST_P(ConcurrentFrames, SimultaneousCallsGiveTheFramesProducedAlone) {
  for (int host_threads : {2, 3, 4}) {
    std::atomic<int> mismatches{0};
    std::atomic<int> ready{0};
    std::vector<std::string> reports(host_threads);
    std::vector<std::thread> threads;
    for (int t = 0; t < host_threads; ++t) {
      threads.emplace_back([&, t] {
        omp_set_num_threads(1 + t % 3);
        ++ready;
        while (ready.load() < host_threads) std::this_thread::yield();
        for (int round = 0; round < 3; ++round) {
          for (std::size_t n = 0; n < jobs_.size(); ++n) {
            const std::size_t j = (n * (t + 1) + static_cast<std::size_t>(round) + t) % jobs_.size();
            const Output out = RunJob(library_->table(), jobs_[j]);
            if (!Same(out, alone_[j])) {
              ++mismatches;
              reports[t] += " job " + std::to_string(j) + " round " + std::to_string(round) + ";";
            }
          }
        }
      });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(mismatches.load(), 0) << GetParam() << " with " << host_threads << " host threads";
    for (int t = 0; t < host_threads; ++t) {
      if (!reports[t].empty()) ADD_FAILURE() << "host thread " << t << ":" << reports[t];
    }
  }
}

// One FILTER record shared by the calling threads (the editor keeps one per
// filter): func_proc only reads it, so calls on different frames still give
// the frames produced alone.
TEST_P(ConcurrentFrames, SharedFilterRecord) {
  const FILTER_DLL& table = library_->table();
  host::FilterInstance shared(table);
  reliability::Apply(shared, jobs_[2].controls);
  constexpr int kThreads = 4;
  constexpr int kFrames = 6;
  // The reference: each frame alone with the same controls.
  std::vector<Output> expected;
  for (int f = 0; f < kFrames; ++f) {
    Job job = jobs_[2];
    job.w = 40 + 13 * f;
    job.h = 30 + 7 * f;
    job.max_w = job.w + f % 2;
    job.max_h = job.h;
    job.seed = 100 + f;
    expected.push_back(RunJob(table, job));
  }
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int n = 0; n < 2 * kFrames; ++n) {
        const int f = (n + t) % kFrames;
        const int w = 40 + 13 * f;
        const int h = 30 + 7 * f;
        host::FrameBuffers buffers(w + f % 2, h);
        testing_support::FillNoise(buffers.a, 100 + f);
        testing_support::FillWith(buffers.b, testing_support::kSentinel);
        const host::FrameResult result = host::RunFrame(shared, buffers, w, h);
        Output out;
        out.returned = result.returned;
        out.w = result.w;
        out.h = result.h;
        out.pixels.assign(result.frame, result.frame + buffers.b.size());
        if (!Same(out, expected[f])) ++mismatches;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(mismatches.load(), 0) << GetParam();
}

INSTANTIATE_TEST_SUITE_P(Plugins, ConcurrentFrames,
                         ::testing::ValuesIn(host::PluginNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

}  // namespace
