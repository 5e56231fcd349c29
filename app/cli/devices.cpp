// devices: the FTDI ports attached, as a table or as JSON lines.
#include <cstdio>
#include <string>
#include <vector>

#include "app/cli/cli.h"
#include "platform/d2xx/backend.h"

namespace kovra610::cli {

using kovra610::d2xx::FtdiPort;
using kovra610::d2xx::portJson;

int listDevices(bool json) {
    std::vector<FtdiPort> ports;
    std::string why;
    if (!kovra610::d2xx::listFtdiPorts(ports, &why)) {
        std::fprintf(stderr, "%s: devices: %s\n", kProgram, why.c_str());
        return kLinkDown;
    }
    if (!json) {
        std::fputs(kovra610::d2xx::portsTable(ports).c_str(), stdout);
        return kDone;
    }
    for (const FtdiPort& p : ports) std::puts(portJson(p).c_str());
    return kDone;
}

}  // namespace kovra610::cli
