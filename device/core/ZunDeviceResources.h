#pragma once

// Makes the device library's embedded resources (DSP program images, default setups
// under ":/resources/System/") available. The library is static, so its resources are
// linked in only through this call; call it before the first read. Calling it again
// does no harm.
void initDeviceResources();
