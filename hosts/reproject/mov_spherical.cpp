#include "mov_spherical.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

namespace reproject {
namespace {

std::uint32_t Be32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

std::uint64_t Be64(const std::uint8_t* p) { return (std::uint64_t{Be32(p)} << 32) | Be32(p + 4); }

void PutBe32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}

void PutBe64(std::uint8_t* p, std::uint64_t v) {
  PutBe32(p, static_cast<std::uint32_t>(v >> 32));
  PutBe32(p + 4, static_cast<std::uint32_t>(v));
}

// A box inside the buffer: where it starts, its whole size and the size of
// its header.
struct Box {
  std::size_t at = 0;
  std::uint64_t size = 0;
  std::size_t header = 8;
};

bool ReadBox(const std::vector<std::uint8_t>& data, std::size_t at, std::size_t end, Box* box) {
  if (at + 8 > end) return false;
  box->at = at;
  box->size = Be32(&data[at]);
  box->header = 8;
  if (box->size == 1) {
    if (at + 16 > end) return false;
    box->size = Be64(&data[at + 8]);
    box->header = 16;
  } else if (box->size == 0) {
    box->size = end - at;
  }
  return box->size >= box->header && at + box->size <= end;
}

bool IsType(const std::vector<std::uint8_t>& data, const Box& box, const char* type) {
  return std::memcmp(&data[box.at + 4], type, 4) == 0;
}

// The first child of `parent` of `type`, its children starting `skip` bytes
// after the parent's header.
bool FindChild(const std::vector<std::uint8_t>& data, const Box& parent, const char* type, std::size_t skip,
               Box* child) {
  const std::size_t end = parent.at + parent.size;
  std::size_t at = parent.at + parent.header + skip;
  Box box;
  while (ReadBox(data, at, end, &box)) {
    if (IsType(data, box, type)) {
      *child = box;
      return true;
    }
    at += box.size;
  }
  return false;
}

void Grow(std::vector<std::uint8_t>& data, const Box& box, std::uint64_t by) {
  if (box.header == 16) {
    PutBe64(&data[box.at + 8], box.size + by);
  } else {
    PutBe32(&data[box.at], static_cast<std::uint32_t>(box.size + by));
  }
}

// sv3d { svhd { source }, proj { prhd { yaw pitch roll }, equi { bounds } } }
std::vector<std::uint8_t> SphericalBox() {
  const char source[] = "reproject";
  const std::uint32_t svhd = 8 + 4 + sizeof(source);
  const std::uint32_t prhd = 24;
  const std::uint32_t equi = 28;
  const std::uint32_t proj = 8 + prhd + equi;
  const std::uint32_t sv3d = 8 + svhd + proj;
  std::vector<std::uint8_t> b(sv3d, 0);
  std::uint8_t* p = b.data();
  auto header = [&](std::uint32_t size, const char* type) {
    PutBe32(p, size);
    std::memcpy(p + 4, type, 4);
    p += 8;
  };
  header(sv3d, "sv3d");
  header(svhd, "svhd");
  p += 4;  // version and flags
  std::memcpy(p, source, sizeof(source));
  p += sizeof(source);
  header(proj, "proj");
  header(prhd, "prhd");
  p += 16;  // version and flags, yaw, pitch, roll: all 0
  header(equi, "equi");
  return b;  // version and flags and the four bounds: all 0
}

}  // namespace

bool AddEquirectangularBox(int fd, std::string* error) {
  struct stat st;
  if (fstat(fd, &st) != 0) {
    *error = std::strerror(errno);
    return false;
  }
  const std::uint64_t file_size = static_cast<std::uint64_t>(st.st_size);
  // The movie box: the last top-level box.
  std::uint64_t at = 0, moov_at = 0, moov_size = 0;
  while (at + 8 <= file_size) {
    std::uint8_t h[16];
    if (pread(fd, h, sizeof(h), static_cast<off_t>(at)) < 8) break;
    std::uint64_t size = Be32(h);
    if (size == 1) size = Be64(h + 8);
    if (size == 0) size = file_size - at;
    if (size < 8 || at + size > file_size) break;
    if (std::memcmp(h + 4, "moov", 4) == 0) {
      moov_at = at;
      moov_size = size;
    }
    at += size;
  }
  if (moov_size == 0 || moov_at + moov_size != file_size) {
    *error = "the movie box is not at the end of the file";
    return false;
  }
  std::vector<std::uint8_t> data(moov_size);
  if (pread(fd, data.data(), data.size(), static_cast<off_t>(moov_at)) != static_cast<ssize_t>(data.size())) {
    *error = "cannot read the movie box";
    return false;
  }
  Box moov;
  if (!ReadBox(data, 0, data.size(), &moov)) {
    *error = "damaged movie box";
    return false;
  }
  // The video track: trak/mdia with a 'vide' handler, then
  // minf/stbl/stsd and its first sample description.
  std::size_t end = moov.at + moov.size;
  std::size_t next = moov.header;
  Box trak, mdia, hdlr, minf, stbl, stsd, entry;
  bool found = false;
  while (!found && ReadBox(data, next, end, &trak)) {
    next += trak.size;
    if (!IsType(data, trak, "trak")) continue;
    found = FindChild(data, trak, "mdia", 0, &mdia) && FindChild(data, mdia, "hdlr", 0, &hdlr) &&
            hdlr.size >= hdlr.header + 12 && std::memcmp(&data[hdlr.at + hdlr.header + 8], "vide", 4) == 0 &&
            FindChild(data, mdia, "minf", 0, &minf) && FindChild(data, minf, "stbl", 0, &stbl) &&
            FindChild(data, stbl, "stsd", 0, &stsd) && ReadBox(data, stsd.at + stsd.header + 8, stsd.at + stsd.size, &entry);
  }
  if (!found) {
    *error = "no video track description";
    return false;
  }
  const std::vector<std::uint8_t> box = SphericalBox();
  const std::size_t insert_at = entry.at + entry.size;
  for (const Box* b : {&moov, &trak, &mdia, &minf, &stbl, &stsd, &entry}) {
    if (b->header == 8 && b->size + box.size() > 0xFFFFFFFFu) {
      *error = "movie box too large";
      return false;
    }
    Grow(data, *b, box.size());
  }
  data.insert(data.begin() + static_cast<std::ptrdiff_t>(insert_at), box.begin(), box.end());
  if (pwrite(fd, data.data(), data.size(), static_cast<off_t>(moov_at)) != static_cast<ssize_t>(data.size())) {
    *error = std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace reproject
