// What the program hands the runtime at start.
#pragma once

#include "window_services.hpp"

namespace mirtolk {

// The window frmTovix as start-up object, created with an all-zero GameValue;
// no start-up procedure; one thread. Load goes to Form_Load and each Click of
// Command1 to Command1_Click; no other event reaches the program. The
// application ID, version and icon are those the installed files carry.
extern const rt::StartData ProgramStart;

}  // namespace mirtolk
