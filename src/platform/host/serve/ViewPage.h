#pragma once
// The one page a served Fernhold shows: the live picture, the filter's name and the
// luminosity readout as text, and, for a control link, buttons for the filter and the
// assists. Self-contained (no script or style from elsewhere), so it works offline and on
// a loopback-only machine.
#include <string>

namespace host {

std::string viewPage(bool withControls);

} // namespace host
