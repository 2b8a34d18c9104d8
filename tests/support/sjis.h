// Converting expected captions from UTF-8 to the editor's Shift-JIS with the
// C library's converter, so table tests do not depend on the code's escapes.
#pragma once

#include <iconv.h>

#include <stdexcept>
#include <string>

namespace testing_support {

inline std::string ToShiftJis(const std::string& utf8) {
  iconv_t cd = iconv_open("CP932", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("no CP932 converter");
  std::string in = utf8;
  std::string out(in.size() * 2 + 4, '\0');
  char* inp = in.data();
  char* outp = out.data();
  size_t in_left = in.size();
  size_t out_left = out.size();
  const size_t rc = iconv(cd, &inp, &in_left, &outp, &out_left);
  iconv_close(cd);
  if (rc == static_cast<size_t>(-1)) throw std::runtime_error("cannot convert " + utf8);
  out.resize(out.size() - out_left);
  return out;
}

}  // namespace testing_support
