// Trimbel for the 64-bit editor: the classic Trimbel table behind the adapter.
#include "classic_adapter.h"

extern "C" FILTER_DLL* LENS_PLUGIN_CALL GetFilterTable(void);  // Trimbel's own export

namespace {

const editor2::ClassicFilter kTrimbel = {
    GetFilterTable,
    0x1Fu,  // tracks 0-4: input angle, input mask, pitch, azimuth, roll
    7,      // height setting
    1, 4,   // equidistant, orthographic, equisolid, central
    "\x93\xFC\x97\xCD\x8E\xCB\x89" "e",  // 入力射影 input projection
    "\x90\xB3\x8B\x97\x89~\x93\x9B\x90}\x96@(Equirectangular)",  // 正距円筒図法(Equirectangular)
};

}  // namespace

LENS_EDITOR2_ENTRY(kTrimbel)
