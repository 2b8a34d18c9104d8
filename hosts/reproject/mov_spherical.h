// The spherical video box (sv3d, equirectangular projection) for QuickTime
// files. FFmpeg's muxer writes it into MP4 files only; for a .mov the box is
// added to the video track's sample description of the finished file, whose
// movie box FFmpeg puts last, after the media data, so no media offset moves.
#pragma once

#include <string>

namespace reproject {

// Adds the box to the first video track of the MOV file open as `fd` (read
// and write). False and *error if the file is not laid out as expected.
bool AddEquirectangularBox(int fd, std::string* error);

}  // namespace reproject
