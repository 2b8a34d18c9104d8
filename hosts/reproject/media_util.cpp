#include "media_util.h"

extern "C" {
#include <libavutil/error.h>
#include <libavutil/log.h>
}

namespace reproject {

std::string AvError(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {0};
  av_strerror(code, text, sizeof(text));
  return text;
}

void QuietLibraryLog() { av_log_set_level(AV_LOG_QUIET); }

}  // namespace reproject
