// Gathers the panel into the register image and shows the image on the
// panel.
#include <cstring>
#include <string>

#include "app/core/sbus_image.h"
#include "codec/codec.h"
#include "panel/kovra610 evaluation board uir.h"
#include "platform/protocol/sbus_registers.h"
#include "platform/runtime/panel_runtime.h"

namespace {

namespace sbus = kovra610::sbus;

// The register groups of the panel: each group's control array (its handle
// and resource name) and the pair of image entries its word goes to.
struct RegisterPair {
    SBUS_REGISTER_GROUP group;
    int* array;
    const char* resource;
    const sbus::RegisterEntries& entries;
};
const RegisterPair kPairs[] = {
    {GROUP_DRIVER, &DrvRegCtrlArr, "DRVREG", sbus::kDriverEntries},
    {GROUP_PMU, &PMURegCtrlArr, "PMUREG", sbus::kPmuEntries},
    {GROUP_COMPARATOR, &CmpRegCtrlArr, "CMPREG", sbus::kComparatorEntries},
    {GROUP_ALARM, &AlarmRegCtrlArr, "ALARMREG", sbus::kAlarmEntries},
};
constexpr int kPanelDacRows = 32;

int modeChannelSelection() {
    int mode = 0;
    GetCtrlVal(panelHandle, MODECHSEL, &mode);
    return mode;
}

void writeEntry(int entry, const char* name, unsigned int ch, unsigned int addr, int data) {
    sbus_set_name(&sbus_structure, entry, name);
    sbus_structure.ch[entry] = static_cast<int>(ch);
    sbus_structure.addr[entry] = static_cast<int>(addr);
    sbus_structure.rw[entry] = 1;
    sbus_structure.data[entry] = data;
}

// Writes the pair of entries for the channels MODECHSEL selects: 0 both,
// 1 channel 0 only, 2 channel 1 only. An excluded entry keeps what it held.
void writePair(const sbus::RegisterEntries& pair, int word) {
    const int mode = modeChannelSelection();
    if (mode == 0 || mode == 1)
        writeEntry(pair.entry, pair.name0, sbus::kChannel0, pair.addr, word);
    if (mode == 0 || mode == 2)
        writeEntry(pair.entry + 1, pair.name1, sbus::kChannel1, pair.addr, word);
}

// The entry a group shows: channel 1's when MODECHSEL selects it alone,
// else channel 0's.
int shownEntry(int entry) {
    return modeChannelSelection() == 2 ? entry + 1 : entry;
}

int dacRowsInUse() {
    int n = sbus_structure.number_dacs;
    if (n > kPanelDacRows) n = kPanelDacRows;
    if (n > SBUS_MAX_REGISTERS) n = SBUS_MAX_REGISTERS;
    return n < 0 ? 0 : n;
}

}  // namespace

int write_sbus_panel_to_structure(void) {
    const int rows = dacRowsInUse();
    for (int i = 0; i < rows; ++i) {
        std::string label;
        GetCtrlVal(panelHandle, GetCtrlArrayItem(LabelArr, i), &label);
        sbus_set_name(&sbus_structure, i, label.c_str());  // longer labels keep 80 characters
    }
    for (int i = 0; i < rows; ++i) {
        double volts = 0.0;
        GetCtrlVal(panelHandle, GetCtrlArrayItem(VoltDataCtrlArr, i), &volts);
        sbus_structure.volts[i] = volts;
    }
    for (int i = 0; i < rows; ++i) {
        unsigned int code = 0;
        GetCtrlVal(panelHandle, GetCtrlArrayItem(HexDataCtrlArr, i), &code);
        sbus_structure.data[i] = static_cast<int>(code);
    }

    for (const RegisterPair& pair : kPairs) {
        int count = 0;
        GetNumCtrlArrayItems(*pair.array, &count);
        std::vector<int> values(count > 0 ? count : 0, 0);
        for (int item = 0; item < count; ++item) {
            GetCtrlVal(panelHandle, GetCtrlArrayItem(*pair.array, item), &values[item]);
        }
        writePair(pair.entries, sbus_pack_group(pair.group, values));
    }

    int load = 0;
    GetCtrlVal(panelHandle, LOAD, &load);
    writePair(sbus::kLoadEntries, load);
    return 0;
}

int write_sbus_structure_to_panel(void) {
    const int rows = dacRowsInUse();
    for (int i = 0; i < rows; ++i)
        SetCtrlVal(panelHandle, GetCtrlArrayItem(LabelArr, i), sbus_structure.name[i]);
    for (int i = 0; i < rows; ++i)
        SetCtrlVal(panelHandle, GetCtrlArrayItem(VoltDataCtrlArr, i), sbus_structure.volts[i]);
    for (int i = 0; i < rows; ++i) {
        SetCtrlVal(panelHandle, GetCtrlArrayItem(HexDataCtrlArr, i),
                   static_cast<unsigned int>(sbus_structure.data[i]));
    }

    for (const RegisterPair& pair : kPairs) {
        const int entry = shownEntry(pair.entries.entry);
        const std::vector<int> values =
            sbus_unpack_group(pair.group, static_cast<uint16_t>(sbus_structure.data[entry]));
        int count = 0;
        GetNumCtrlArrayItems(*pair.array, &count);
        for (int item = 0; item < count && item < static_cast<int>(values.size()); ++item)
            SetCtrlVal(panelHandle, GetCtrlArrayItem(*pair.array, item), values[item]);
    }
    SetCtrlVal(panelHandle, LOAD, sbus_structure.data[shownEntry(sbus::kLoadEntries.entry)]);
    return 0;
}

int sbus_field_value(const char* array, int item, int channel1) {
    const int side = channel1 != 0 ? 1 : 0;
    for (const RegisterPair& pair : kPairs) {
        if (array == nullptr || std::strcmp(array, pair.resource) != 0) continue;
        const int data = sbus_structure.data[pair.entries.entry + side];
        const std::vector<int> items = sbus_unpack_group(pair.group, static_cast<uint16_t>(data));
        return item >= 0 && item < static_cast<int>(items.size()) ? items[item] : 0;
    }
    return sbus_structure.data[sbus::kLoadEntries.entry + side];
}
