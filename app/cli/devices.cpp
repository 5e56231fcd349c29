#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/cli/cli.h"
#include "platform/d2xx/backend.h"

namespace kovra610::cli {
namespace {

using kovra610::d2xx::FtdiPort;

// A named virtual board is on no bus: it has no index, bus or address.
std::string portJson(const FtdiPort& p) {
    JsonMembers o;
    if (p.virtualBoard) {
        o.add("chip", p.chip).add("serial", p.serial).add("description", p.description);
        o.raw("virtual", "true").add("interface", std::string(1, p.interfaceLetter));
        return o.raw("open", p.selected ? "true" : "false").object();
    }
    o.add("index", p.index).add("chip", p.chip).add("serial", p.serial);
    o.add("description", p.description).add("bus", p.bus).add("address", p.address);
    o.add("interface", std::string(1, p.interfaceLetter))
        .raw("open", p.selected ? "true" : "false");
    return o.object();
}

std::string portLine(const FtdiPort& p) {
    char text[512];
    if (p.virtualBoard) {
        std::snprintf(text, sizeof text,
                      "-   %-8s %-12s %-22s virtual board           interface %c%s", p.chip.c_str(),
                      p.serial.c_str(), ("\"" + p.description + "\"").c_str(), p.interfaceLetter,
                      p.selected ? "  <- the tool opens this one" : "");
        return text;
    }
    std::snprintf(text, sizeof text, "%-3d %-8s %-12s %-22s bus %03u address %03u interface %c%s",
                  p.index, p.chip.c_str(), p.serial.empty() ? "-" : p.serial.c_str(),
                  ("\"" + p.description + "\"").c_str(), p.bus, p.address, p.interfaceLetter,
                  p.selected ? "  <- the tool opens this one" : "");
    return text;
}

}  // namespace

namespace {

// The port the board setting opens, if it is listed.
bool openedPort(FtdiPort* port) {
    const char* board = std::getenv("KOVRA610_BOARD");
    const auto setting = kovra610::d2xx::parseBoardSetting(board != nullptr ? board : "");
    const bool named =
        setting.kind == kovra610::d2xx::BoardSetting::Kind::Virtual && !setting.serial.empty();
    if (named) {
        *port = kovra610::d2xx::virtualBoardPort(setting.serial);
        return true;
    }
    if (setting.kind != kovra610::d2xx::BoardSetting::Kind::Usb) return false;
    std::vector<FtdiPort> ports;
    std::string why;
    if (!kovra610::d2xx::listFtdiPorts(ports, &why)) return false;
    for (const FtdiPort& p : ports) {
        if (p.selected) {
            *port = p;
            return true;
        }
    }
    return false;
}

}  // namespace

std::string openedPortJson(std::string* serial) {
    FtdiPort port;
    if (!openedPort(&port)) return "";
    if (serial != nullptr) *serial = port.serial;
    return portJson(port);
}

Answer devicesStep(const Step&, const PanelFields&) {
    std::vector<FtdiPort> ports;
    Answer a;
    if (!kovra610::d2xx::listFtdiPorts(ports, &a.why)) {
        a.ok = false;
        return a;
    }
    std::string list;
    for (const FtdiPort& p : ports) {
        a.rows.push_back(portJson(p));
        list += (list.empty() ? "" : ",") + a.rows.back();
    }
    a.members.raw("devices", "[" + list + "]");
    return a;
}

int listDevices(bool json) {
    std::vector<FtdiPort> ports;
    std::string why;
    if (!kovra610::d2xx::listFtdiPorts(ports, &why)) {
        std::fprintf(stderr, "%s: devices: %s\n", kProgram, why.c_str());
        return kLinkDown;
    }
    if (!json && !ports.empty()) std::puts("#   chip     serial       description            USB");
    for (const FtdiPort& p : ports) std::puts((json ? portJson(p) : portLine(p)).c_str());
    if (json) return kDone;
    if (ports.empty()) std::puts("No FTDI ports found.");
    const char* board = std::getenv("KOVRA610_BOARD");
    if (board != nullptr && std::string(board) == "virtual")
        std::puts("KOVRA610_BOARD=virtual: the tool opens the virtual board, none of these.");
    else if (!ports.empty()) {
        bool any = false;
        for (const FtdiPort& p : ports) any |= p.selected;
        if (!any) std::puts("None of these is the board KOVRA610_BOARD names.");
    }
    return kDone;
}

}  // namespace kovra610::cli
