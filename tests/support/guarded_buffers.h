// Frame buffers whose ends lie against inaccessible pages, so that a read or
// write outside a buffer faults at once.
#pragma once

#include <cstddef>

#include "aviutl_filter.h"

namespace testing_support {

// Which end of a guarded block lies against the inaccessible page.
enum class GuardSide {
  kAfterEnd,     // the byte after the last one is on a PROT_NONE page
  kBeforeStart,  // the byte before the first one is on a PROT_NONE page
};

// A block of exactly `bytes` in its own mapping, with a PROT_NONE page on
// each side of the pages it occupies and the block pushed against one of
// them: a read or write past that end faults at once (SIGSEGV). The bytes
// between the block and the other guard page (less than a page) hold a known
// pattern, so a stray write on that side shows in SlackIntact().
class GuardedBlock {
 public:
  GuardedBlock(std::size_t bytes, GuardSide side);
  ~GuardedBlock();
  GuardedBlock(const GuardedBlock&) = delete;
  GuardedBlock& operator=(const GuardedBlock&) = delete;

  void* data() const { return start_; }
  bool SlackIntact() const;

 private:
  void* mapping_ = nullptr;
  std::size_t mapping_bytes_ = 0;
  unsigned char* start_ = nullptr;
  unsigned char* slack_ = nullptr;
  std::size_t slack_bytes_ = 0;
};

// `pixels` PIXEL_YC in a guarded block.
class GuardedBuffer {
 public:
  GuardedBuffer(std::size_t pixels, GuardSide side) : block_(pixels * sizeof(PIXEL_YC), side), count_(pixels) {}

  PIXEL_YC* data() const { return static_cast<PIXEL_YC*>(block_.data()); }
  std::size_t size() const { return count_; }
  bool SlackIntact() const { return block_.SlackIntact(); }

 private:
  GuardedBlock block_;
  std::size_t count_;
};

// The editor's two frame buffers, each guarded as above (both on the same
// side). Run a frame twice, once per side, to guard both ends of both.
struct GuardedFrameBuffers {
  int max_w;
  int max_h;
  GuardSide side;
  GuardedBuffer a;
  GuardedBuffer b;

  GuardedFrameBuffers(int max_w, int max_h, GuardSide side);
};

}  // namespace testing_support
