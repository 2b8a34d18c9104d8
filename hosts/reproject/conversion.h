// One run of a plug-in over an input, as a pipeline of four threads joined
// by short queues: decoding, conversion to YC48, the plug-in's frame
// function, and conversion, encoding and writing (on the calling thread).
// Audio packets go from the reader straight to the writer, which keeps those
// that start within the frames converted.
#pragma once

#include "console.h"
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
};

// Converts and writes; reports any failure on the console and returns the
// exit status. Nothing is left under the output's name unless it succeeds.
int RunConversion(const ConversionJob& job, MediaReader* reader, Console* console);

// The capacity that never limits what the controls ask for, over every
// keyframe of the height setting (yc48::CapacityFor).
void AutomaticCapacity(const ControlSet& controls, const ControlValues& values, int in_w, int in_h,
                       int* max_w, int* max_h);

}  // namespace reproject
