// The page's files, built into the program from page/ (embed.cmake).
#pragma once

namespace reproject {
namespace preview {

extern const char kIndexHtml[];
extern const char kPageJs[];
extern const char kPageCss[];

}  // namespace preview
}  // namespace reproject
