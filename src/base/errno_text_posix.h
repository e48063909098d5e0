// The system's text for an errno value, safe on any thread (strerror may share one buffer
// between threads). POSIX only.
#pragma once

#include <string.h>

#include <string>

namespace kelvo {

namespace errno_text_detail {

// strerror_r comes in two forms: glibc's (with _GNU_SOURCE) returns the text, which may or may
// not be in the buffer; the XSI one returns 0 and fills the buffer.
inline std::string Result(const char* AText, const char* /*ABuffer*/, int /*AError*/) {
  return AText;
}
inline std::string Result(int ACode, const char* ABuffer, int AError) {
  return ACode == 0 ? std::string(ABuffer) : "error " + std::to_string(AError);
}

}  // namespace errno_text_detail

inline std::string ErrnoText(int AError) {
  char Buffer[256] = {};
  return errno_text_detail::Result(::strerror_r(AError, Buffer, sizeof(Buffer)), Buffer, AError);
}

}  // namespace kelvo
