// Gathers the panel into the register image and shows the image on the
// panel.
#include <string>

#include "app/core/sbus_image.h"
#include "codec/codec.h"
#include "panel/kovra610 evaluation board uir.h"
#include "platform/runtime/panel_runtime.h"

namespace {

struct RegisterPair {
    SBUS_REGISTER_GROUP group;
    int* array;
    int entry;  // channel-0 entry; channel 1 is the next one
    const char* name0;
    const char* name1;
    int addr;
};

// The register entries that follow the DAC entries, one per register and
// channel: ch 1 addresses channel 0 and ch 2 channel 1.
const RegisterPair kPairs[] = {
    {GROUP_DRIVER, &DrvRegCtrlArr, 30, "DrvRegCh0", "DrvRegCh1", 0x19},
    {GROUP_PMU, &PMURegCtrlArr, 32, "PMU Reg", "PMU Reg", 0x1C},
    {GROUP_COMPARATOR, &CmpRegCtrlArr, 34, "CompReg", "CompReg", 0x1A},
    {GROUP_ALARM, &AlarmRegCtrlArr, 36, "Alarm Reg", "Alarm Reg", 0x1D},
};
constexpr int kLoadEntry = 38;
constexpr int kLoadAddr = 0x1B;
constexpr int kPanelDacRows = 32;

int modeChannelSelection() {
    int mode = 0;
    GetCtrlVal(panelHandle, MODECHSEL, &mode);
    return mode;
}

void writeEntry(int entry, const char* name, int ch, int addr, int data) {
    sbus_set_name(&sbus_structure, entry, name);
    sbus_structure.ch[entry] = ch;
    sbus_structure.addr[entry] = addr;
    sbus_structure.rw[entry] = 1;
    sbus_structure.data[entry] = data;
}

// Writes the pair of entries for the channels MODECHSEL selects: 0 both,
// 1 channel 0 only, 2 channel 1 only. An excluded entry keeps what it held.
void writePair(int entry, const char* name0, const char* name1, int addr, int word) {
    const int mode = modeChannelSelection();
    if (mode == 0 || mode == 1) writeEntry(entry, name0, 1, addr, word);
    if (mode == 0 || mode == 2) writeEntry(entry + 1, name1, 2, addr, word);
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
        writePair(pair.entry, pair.name0, pair.name1, pair.addr,
                  sbus_pack_group(pair.group, values));
    }

    int load = 0;
    const int mode = modeChannelSelection();
    GetCtrlVal(panelHandle, LOAD, &load);
    if (mode == 0 || mode == 1) writeEntry(kLoadEntry, "Load Reg", 1, kLoadAddr, load);
    if (mode == 0 || mode == 2) writeEntry(kLoadEntry + 1, "Load Reg", 2, kLoadAddr, load);
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
        const int entry = shownEntry(pair.entry);
        const std::vector<int> values =
            sbus_unpack_group(pair.group, static_cast<uint16_t>(sbus_structure.data[entry]));
        int count = 0;
        GetNumCtrlArrayItems(*pair.array, &count);
        for (int item = 0; item < count && item < static_cast<int>(values.size()); ++item)
            SetCtrlVal(panelHandle, GetCtrlArrayItem(*pair.array, item), values[item]);
    }
    SetCtrlVal(panelHandle, LOAD, sbus_structure.data[shownEntry(kLoadEntry)]);
    return 0;
}
