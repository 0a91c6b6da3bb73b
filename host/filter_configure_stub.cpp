// Stands in for the dialog until it is built: reports that none can be shown.
#include "host/filter_configure.h"

namespace trackloom {

int TRACKLOOM_CDECL FilterConfigure(HostContext*, HostServices*, HostWindow) { return -1; }

}  // namespace trackloom
