// Placeholder until the libftdi1 backend lands: no devices.
#include "hardware_backend.h"
#include "../no_device_backend.h"
namespace kovra610::d2xx {
std::shared_ptr<Backend> makeHardwareBackend() { return std::make_shared<NoDeviceBackend>(); }
}  // namespace kovra610::d2xx
