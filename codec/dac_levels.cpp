// DAC rows: a level in volts and its 16-bit code, kept in step; and the
// two bulk buttons "Write All Reg" and "Read all Regs".
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/core/sbus_image.h"
#include "app/core/transfer.h"
#include "codec/codec.h"
#include "link/FT2232H.h"
#include "panel/kovra610 evaluation board uir.h"
#include "platform/protocol/sbus_protocol.h"
#include "platform/runtime/panel_runtime.h"

namespace {

const SBUS_DAC_SCALE& pair0() {
    return sbus_structure.dac_scale[0];
}

// One line of the read-back listing: the entry's name and channel, and the
// answer's address, read/write flag and data.
void listReadBack(int i, const kovra610::sbus::Word& answer) {
    printf("%-10s ch=0x%X addr=0x%X rw=0x%X data=0x%X %d\n", sbus_structure.name[i],
           static_cast<unsigned int>(sbus_structure.ch[i]), answer.addr, answer.rw, answer.data,
           static_cast<int>(answer.data));
}

// What the last "Read all Regs" said of the reads that got no answer.
char unanswered[100];

// Entry i takes the data read back, and its level by pair 0.
void storeReadBack(int i, unsigned int data) {
    sbus_structure.volts[i] = sbus_code_to_volts(data);
    sbus_structure.data[i] = static_cast<int>(data);
}

}  // namespace

double sbus_code_to_volts(unsigned int code) {
    return round_dbl((static_cast<double>(code) - pair0().offset) * pair0().lsb, 3);
}

double round_dbl(double value, int digits) {
    const double p1 = std::pow(10.0, digits + 1);
    const double p = std::pow(10.0, digits);
    return std::floor(p * (value + 5.0 / p1)) / p;
}

// Rows 30 and 31 of the panel have no DAC entry (entries 30 and 31 are the
// driver registers): there the two views are kept in step and nothing is
// stored or sent.
int volts_to_code(int, int control, int event, void*, int, int) {
    if (event != EVENT_COMMIT) return 0;
    int i = -1;
    if (GetCtrlArrayIndex(VoltDataCtrlArr, panelHandle, control, &i) < 0 || i < 0) return 0;
    double volts = 0.0;
    GetCtrlVal(panelHandle, control, &volts);
    const int code = sbus_volts_to_code(volts, &pair0());
    SetCtrlVal(panelHandle, GetCtrlArrayItem(HexDataCtrlArr, i), static_cast<unsigned int>(code));
    if (i >= sbus_structure.number_dacs || i >= SBUS_MAX_REGISTERS) return 0;
    sbus_structure.volts[i] = volts;
    sbus_structure.data[i] = code;
    sbus_structure_write_to_testequip();
    return 0;
}

int code_to_volts(int, int control, int event, void*, int, int) {
    if (event != EVENT_COMMIT) return 0;
    int i = -1;
    if (GetCtrlArrayIndex(HexDataCtrlArr, panelHandle, control, &i) < 0 || i < 0) return 0;
    unsigned int code = 0;
    GetCtrlVal(panelHandle, control, &code);
    const double volts = sbus_code_to_volts(code);
    SetCtrlVal(panelHandle, GetCtrlArrayItem(VoltDataCtrlArr, i), volts);
    if (i >= sbus_structure.number_dacs || i >= SBUS_MAX_REGISTERS) return 0;
    sbus_structure.data[i] = static_cast<int>(code);
    sbus_structure.volts[i] = volts;
    return 0;
}

SBUS_READ_BACK sbus_read_back = {};

// An entry whose read failed keeps its level, code and name; its line in
// the listing says so and sbus_read_back marks it. With no answer at all
// the panel is left alone.
int read_all_dacs(int, int, int event, void*, int, int) {
    if (event != EVENT_COMMIT) return 0;
    SBUS_STRUCTURE* const image = &sbus_structure;
    sbus_read_back = {};
    // Only the entries a setup defined are read: the others hold
    // placeholders (channel 1, address 1), not a register of the chip.
    if (!sbus_setup_loaded()) {
        printf("%s\n", SBUS_NO_SETUP_READ);
        sbus_no_setup_refused = SBUS_NO_SETUP_READ;
        return 0;
    }
    unsigned int previousData = 0;  // the first read has no previous reply
    int answered = 0;
    int asked = 0;
    for (int i = 0; i < image->number_registers && i < SBUS_MAX_REGISTERS; ++i) {
        if (sbus_entry_defined[i] == 0) continue;
        const unsigned int ch = static_cast<unsigned int>(image->ch[i]);
        unsigned int word = 0;
        ++asked;
        if (FTD232_sbus_read_word(image->ch[i], image->addr[i], previousData, &word) != 0) {
            printf("%-10s ch=0x%X addr=0x%X read failed: level and code kept\n", image->name[i], ch,
                   static_cast<unsigned int>(image->addr[i]));
            continue;
        }
        const kovra610::sbus::Word answer = kovra610::sbus::unpack(word);
        listReadBack(i, answer);
        storeReadBack(i, answer.data);
        sbus_read_back.answered[i] = 1;
        sbus_read_back.addr[i] = static_cast<int>(answer.addr);
        sbus_read_back.rw[i] = static_cast<int>(answer.rw);
        sbus_read_back.data[i] = static_cast<int>(answer.data);
        previousData = answer.data;
        ++answered;
    }
    if (answered > 0) write_sbus_structure_to_panel();
    if (answered < asked) {
        std::snprintf(unanswered, sizeof unanswered,
                      "%d of %d reads failed: their levels and codes kept", asked - answered,
                      asked);
        sbus_link_failed(unanswered);
    }
    return 0;
}

void sbus_store_read_back(int list) {
    for (int i = 0; i < sbus_entries_in_use(); ++i) {
        if (sbus_read_back.answered[i] == 0) continue;
        const auto data = static_cast<unsigned int>(sbus_read_back.data[i]);
        if (list != 0) {
            listReadBack(i, {static_cast<unsigned int>(sbus_structure.ch[i]),
                             static_cast<unsigned int>(sbus_read_back.addr[i]),
                             static_cast<unsigned int>(sbus_read_back.rw[i]), data});
        }
        storeReadBack(i, data);
    }
    write_sbus_structure_to_panel();
}

int write_to_all_dacs(int, int, int event, void*, int, int) {
    if (event != EVENT_COMMIT) return 0;
    SetCtrlAttribute(panelHandle, LED, ATTR_LED_BUSY, 1);
    SetCtrlVal(panelHandle, LED_2, 1);
    write_sbus_panel_to_structure();
    sbus_structure_write_to_testequip();
    SetCtrlVal(panelHandle, LED_2, 0);
    SetCtrlAttribute(panelHandle, LED, ATTR_LED_BUSY, 0);
    return 0;
}
