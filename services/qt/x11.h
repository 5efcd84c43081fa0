#pragma once
// The X11 connection under the Qt backend, for its platform files.

#include <xcb/xcb.h>

namespace kelvarion::platform {

// The atom of `name`, or XCB_ATOM_NONE.
xcb_atom_t Atom(xcb_connection_t* c, const char* name);
// The toolkit's connection to the X server, or nullptr on another platform plugin.
xcb_connection_t* X11Connection();

}  // namespace kelvarion::platform
