// The capacity of the two frame buffers a host hands a plug-in: large enough
// for every output the controls can ask for, so that the capacity never
// limits the output.
#pragma once

namespace yc48 {

// For an input of w x h: the output is at most the input size, or the height
// setting (where its box is ticked; pass 0 otherwise) with the input's aspect
// ratio (the width truncated, so at most one more than the exact quotient),
// or twice the height (the widest aspect box, 2:1), whichever is largest;
// rounded up to even sizes. `max_side` > 0 limits an enlarged output per
// side (the input itself always fits); 0 leaves it unlimited.
void CapacityFor(int w, int h, int height_setting, int max_side, int* max_w, int* max_h);

}  // namespace yc48
