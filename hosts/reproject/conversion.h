// One run of a plug-in over an input, as a pipeline of four threads joined
// by short queues: decoding, conversion to YC48, the plug-in's frame
// function, and conversion, encoding and writing (on the calling thread).
// Audio packets go from the reader straight to the writer, which keeps those
// that start within the frames converted.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "console.h"
#include "frame_convert.h"
#include "media_input.h"
#include "media_output.h"
#include "options.h"
#include "plugin_controls.h"
#include "plugin_host.h"

namespace reproject {

struct ConversionJob {
  const host::PluginLibrary* library = nullptr;
  const ControlSet* controls = nullptr;
  Options options;
  OutputPlan plan;
  bool equirectangular_output = false;  // the plug-in makes 360-degree panoramas
  // Set from another thread, stops the run as an interruption does (nothing
  // is left under the output's name).
  const std::atomic<bool>* cancel = nullptr;
  // Called on the writing thread after each frame written: the frames done
  // and the total (0 when unknown).
  std::function<void(long done, long total)> progress;
};

// Checks the output against the input and settles how it is written: opens
// the input into *reader, fills job->plan, reads an input tagged as a
// 360-degree panorama as one unless the options chose an input projection,
// and tells the notes on the console. kExitOk, or the exit status with a
// one-line *error.
int PrepareConversion(ConversionJob* job, std::unique_ptr<MediaReader>* reader, Console* console,
                      std::string* error);

// Converts and writes; reports any failure on the console (and in *failure
// when given) and returns the exit status. Nothing is left under the
// output's name unless it succeeds.
int RunConversion(const ConversionJob& job, MediaReader* reader, Console* console, std::string* failure = nullptr);

// How many threads the plug-in's parallel loops get: half the processors.
// Decoding, encoding (or a browser showing the frames) run beside them, and
// a team larger than the processors it finds free spends its time waiting
// for its slowest member.
int PluginThreads();

// The size of a decoded picture once turned by the display rotation
// (clockwise degrees: 0, 90, 180, 270).
void TurnedSize(int width, int height, int rotation, int* w, int* h);

// A decoded picture in YC48 as the plug-in gets it: turned by `rotation`,
// written into rows of `stride` pixels at `out`. `unturned` is scratch room
// for a turned picture. The importer must have been prepared for its format.
void ImportTurned(const FrameImporter& importer, const AVFrame* frame, int rotation, PIXEL_YC* out, int stride,
                  std::vector<PIXEL_YC>* unturned);

// Runs the plug-in on the w x h frame in buffers.a with the controls' values
// at input frame `index`. False and a one-line *error when the plug-in
// reports a failure or hands back a frame that does not fit the buffers.
bool FilterFrame(host::FilterInstance& instance, const ControlValues& values, long index, host::FrameBuffers& buffers,
                 int w, int h, host::FrameResult* result, std::string* error);

// The capacity that never limits what the controls ask for, over every
// keyframe of the height setting (yc48::CapacityFor).
void AutomaticCapacity(const ControlSet& controls, const ControlValues& values, int in_w, int in_h,
                       int* max_w, int* max_h);

}  // namespace reproject
