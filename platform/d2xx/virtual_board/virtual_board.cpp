// Placeholder until the virtual board lands: no devices.
#include "virtual_board.h"
#include "../no_device_backend.h"
namespace kovra610::vboard {
std::shared_ptr<d2xx::Backend> makeVirtualBoardBackend() {
    return std::make_shared<d2xx::NoDeviceBackend>();
}
}  // namespace kovra610::vboard
