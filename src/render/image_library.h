// Start-up of the image library.
#pragma once

#include <string>

namespace render {

// Points the image library at the policy file beside the running program (its folder first in
// MAGICK_CONFIGURE_PATH) and initialises it. Safe to call more than once.
void InitializeImageLibrary(const std::string &programPath = {});

} // namespace render
