// Oskuda for the 64-bit editor: the classic Oskuda table behind the adapter.
#include "classic_adapter.h"

extern "C" FILTER_DLL* LENS_PLUGIN_CALL GetFilterTable(void);  // Oskuda's own export

namespace {

const editor2::ClassicFilter kOskuda = {
    GetFilterTable,
    0x3Fu,  // tracks 0-5: input angle, input mask, output angle, pitch, azimuth, roll
    8,      // height setting
    1, 4,   // orthographic, equisolid, central, equirectangular
    "\x93\xFC\x97\xCD\x8E\xCB\x89" "e",  // 入力射影 input projection
    // 等距離射影/ドームマスタ入力 equidistant / dome master
    "\x93\x99\x8B\x97\x97\xA3\x8E\xCB\x89" "e/\x83h\x81[\x83\x80\x83}\x83X\x83^\x93\xFC\x97\xCD",
};

}  // namespace

LENS_EDITOR2_ENTRY(kOskuda)
