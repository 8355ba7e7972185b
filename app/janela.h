// How the executable reaches the window: a module loaded only in window mode (Linux), or the
// window linked in (Windows). Main calls this after the permission check either way.
#pragma once

namespace kelvane::app {

int AbrirJanela(int argc, char** argv);

} // namespace kelvane::app
