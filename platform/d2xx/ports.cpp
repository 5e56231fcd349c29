// The FTDI ports as the tool shows them: the devices table, one
// JSON object (devices --json, serve's hello line, the session log), and the
// port the board setting opens.
#include <cstdio>
#include <string>
#include <vector>

#include "backend.h"
#include "platform/json/json_text.h"

namespace kovra610::d2xx {
namespace {

// The port the board setting opens, if it is listed.
bool openedPort(FtdiPort* port) {
    const BoardSetting setting = parseBoardSetting(boardSettingText());
    if (setting.kind == BoardSetting::Kind::Virtual && !setting.serial.empty()) {
        *port = virtualBoardPort(setting.serial);
        return true;
    }
    if (setting.kind != BoardSetting::Kind::Usb) return false;
    std::vector<FtdiPort> ports;
    std::string why;
    if (!listFtdiPorts(ports, &why)) return false;
    for (const FtdiPort& p : ports) {
        if (p.selected) {
            *port = p;
            return true;
        }
    }
    return false;
}

// A port as one line of the devices table.
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

// A named virtual board is on no bus: it has no index, bus or address.
std::string portJson(const FtdiPort& p) {
    json::JsonMembers o;
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

std::string portsTable(const std::vector<FtdiPort>& ports) {
    std::string table = ports.empty() ? "No FTDI ports found.\n"
                                      : "#   chip     serial       description            USB\n";
    bool opened = false;
    for (const FtdiPort& p : ports) {
        table += portLine(p) + "\n";
        opened |= p.selected;
    }
    if (boardSettingText() == "virtual")
        table += "KOVRA610_BOARD=virtual: the tool opens the virtual board, none of these.\n";
    else if (boardSettingText() == "usb" && !ports.empty() && !opened)
        table +=
            "KOVRA610_BOARD=usb takes the first port, which has no MPSSE: the tool opens none of "
            "these. Name the board with usb:serial=SN.\n";
    else if (!ports.empty() && !opened)
        table += "None of these is the board KOVRA610_BOARD names.\n";
    return table;
}

std::string openedPortJson() {
    FtdiPort port;
    return openedPort(&port) ? portJson(port) : "";
}

}  // namespace kovra610::d2xx
