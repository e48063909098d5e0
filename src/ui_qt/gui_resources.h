// The pictures compiled into the window library. A static library's resources are only linked
// in when something refers to them; this does. Any thread before the first picture is loaded;
// repeated calls do nothing.
#pragma once

namespace kelvo {

void InitGuiResources();

}  // namespace kelvo
