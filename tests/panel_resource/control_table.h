// The panel's control table as the panel generator (tools/panel/make_panel.py)
// lists it, read from the list it writes beside the build, so that the panel
// file can be checked against the list it was made from.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace panel_resource {

struct RingItem {
    int value;
    std::string text;
};

struct ExpectedControl {
    std::string name{};
    int id = 0;
    std::string kind{};      // numeric, command, ring, ringslide, string, textbox, ...
    std::string dataType{};  // double, unsigned, int, string
    std::string caption{};   // "" when the control has none
    std::string callback{};  // "" when none
    std::string array{};     // "" when in no control array
    int arrayIndex = -1;
    double minimum = 0, maximum = 0, step = 0;  // numerics
    double initial = 0;                         // numerics, rings, ring slides, LEDs
    std::string initialText{};                  // strings and the text box
    std::vector<RingItem> items{};              // rings and ring slides, in item order
};

// All controls, in the generator's order.
const std::vector<ExpectedControl>& expectedControls();

// The control arrays: resource ID, name, members in item order.
struct ExpectedArray {
    int resourceId;
    std::string name;
    std::vector<std::string> members;
};
const std::vector<ExpectedArray>& expectedArrays();

}  // namespace panel_resource
