// Varnel for the 64-bit editor: the classic Varnel table behind the adapter.
#include "classic_adapter.h"

extern "C" FILTER_DLL* LENS_PLUGIN_CALL GetFilterTable(void);  // Varnel's own export

namespace {

const editor2::ClassicFilter kVarnel = {
    GetFilterTable,
    0x3Fu,  // tracks 0-5: input angle, input mask, output angle, pitch, azimuth, roll
    8,      // height setting
    1, 4,   // equidistant, orthographic, equisolid, equirectangular
    "\x93\xFC\x97\xCD\x8E\xCB\x89" "e",  // 入力射影 input projection
    "\x92\x86\x90S\x8E\xCB\x89" "e(\x8E\xCA\x90^)\x93\xFC\x97\xCD",  // 中心射影(写真)入力 central
};

}  // namespace

LENS_EDITOR2_ENTRY(kVarnel)
