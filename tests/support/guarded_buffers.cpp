#include "guarded_buffers.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace testing_support {

namespace {

constexpr unsigned char kSlackPattern = 0xA5;

std::size_t PageSize() {
  static const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  return page;
}

}  // namespace

GuardedBlock::GuardedBlock(std::size_t bytes, GuardSide side) {
  const std::size_t page = PageSize();
  const std::size_t data_pages = (bytes + page - 1) / page;
  mapping_bytes_ = (data_pages + 2) * page;
  mapping_ = mmap(nullptr, mapping_bytes_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                  -1, 0);
  if (mapping_ == MAP_FAILED) {
    std::perror("GuardedBlock: mmap");
    std::abort();
  }
  unsigned char* const base = static_cast<unsigned char*>(mapping_);
  unsigned char* const first = base + page;  // first accessible byte
  unsigned char* const end = first + data_pages * page;  // first byte of the back guard
  if (mprotect(base, page, PROT_NONE) != 0 || mprotect(end, page, PROT_NONE) != 0) {
    std::perror("GuardedBlock: mprotect");
    std::abort();
  }
  start_ = side == GuardSide::kAfterEnd ? end - bytes : first;
  slack_ = side == GuardSide::kAfterEnd ? first : start_ + bytes;
  slack_bytes_ = data_pages * page - bytes;
  std::memset(slack_, kSlackPattern, slack_bytes_);
}

GuardedBlock::~GuardedBlock() {
  if (mapping_ != nullptr) munmap(mapping_, mapping_bytes_);
}

bool GuardedBlock::SlackIntact() const {
  for (std::size_t i = 0; i < slack_bytes_; ++i) {
    if (slack_[i] != kSlackPattern) return false;
  }
  return true;
}

GuardedFrameBuffers::GuardedFrameBuffers(int w, int h, GuardSide guard_side)
    : max_w(w), max_h(h), side(guard_side),
      a(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), guard_side),
      b(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), guard_side) {}

}  // namespace testing_support
