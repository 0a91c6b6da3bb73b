// The configuration dialog: edits the audio file, the output directory and the break
// frames of one instance, writing them back only when the user confirms.
#pragma once

#include "host/host_interface.h"

namespace trackloom {

// 0 when the user confirmed, 1 when cancelled, -1 when no dialog can be shown.
int TRACKLOOM_CDECL FilterConfigure(HostContext* context, HostServices* services,
                                    HostWindow parent_window);

}  // namespace trackloom
