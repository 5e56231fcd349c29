// Control callbacks of the operator panel that are thin glue between the
// panel, the register image and the link.
#include "panel/callbacks.h"

#include <cstdio>
#include <cstring>

#include "app/core/sbus_image.h"
#include "app/core/transfer.h"
#include "codec/codec.h"
#include "link/FT2232H.h"
#include "panel/kovra610 evaluation board uir.h"
#include "platform/runtime/panel_runtime.h"

int mode_write(int, int, int event, void*, int, int) {
    if (event != EVENT_COMMIT) return 0;
    SetCtrlAttribute(panelHandle, LED, ATTR_LED_BUSY, 1);
    part_single_write();
    SetCtrlAttribute(panelHandle, LED, ATTR_LED_BUSY, 0);
    return 0;
}

int single_readback(int, int, int event, void*, int, int) {
    if (event != EVENT_COMMIT) return 0;
    part_single_read();
    return 0;
}

// The single write's data in its second view follows the first, whichever
// control fired.
int translate_data1(int, int, int event, void*, int, int) {
    if (event != EVENT_COMMIT) return 0;
    unsigned int data = 0;
    GetCtrlVal(panelHandle, DATA_1, &data);
    SetCtrlVal(panelHandle, DATA_2, data);
    return 0;
}

// The second view reaches 131071; the word carries 16 data bits, so the
// first view takes the low 16 bits, and the second view is brought to the
// same value so both show what will be sent.
int translate_data2(int, int, int event, void*, int, int) {
    if (event != EVENT_COMMIT) return 0;
    unsigned int data = 0;
    GetCtrlVal(panelHandle, DATA_2, &data);
    const unsigned int sent = data & 0xFFFFu;
    SetCtrlVal(panelHandle, DATA_1, sent);
    if (sent != data) SetCtrlVal(panelHandle, DATA_2, sent);
    return 0;
}

int clear_alarm(int, int, int event, void*, int, int) {
    if (event != EVENT_COMMIT) return 0;
    // Both channels are read before either display changes; a display whose
    // read failed keeps what it showed.
    const int displays[2] = {DATA1, DATA2};
    unsigned int words[2] = {0, 0};
    int failed[2];
    for (int k = 0; k < 2; ++k) failed[k] = FTD232_sbus_read_word(k + 1, 0x1E, 0, &words[k]);
    for (int k = 0; k < 2; ++k) {
        if (failed[k] != 0) {
            printf("Alarm read ch=0x%X addr=0x1E failed: display kept\n", k + 1);
        } else {
            SetCtrlVal(panelHandle, displays[k], words[k] & 0xFFFFu);
        }
    }
    return 0;
}

// The chip forgets its setup on a reset, so the transfer forgets what it
// sent: the next transfer sends every entry in use.
int reset(int, int, int event, void*, int, int) {
    if (event != EVENT_COMMIT) return 0;
    FTD232_sbus_reset_part();
    if (FTD232_link_state() != LINK_UP) {
        printf("Chip not reset: the link is not up\n");
        return 0;
    }
    sbus_forget_last_sent();
    printf(
        "Chip reset: its registers are back at their reset values; the next transfer sends "
        "every entry\n");
    return 0;
}

int reset_FTDI2232(int, int, int event, void*, int, int) {
    if (event != EVENT_COMMIT) return 0;
    CloseFT2232HDevice();
    OpenandConfigFT2232Hdevice();
    return 0;
}

int setclkfreq(int, int, int event, void*, int, int) {
    if (event != EVENT_COMMIT) return 0;
    int divisor = 0;
    GetCtrlVal(panelHandle, CLKFREQ, &divisor);
    SetClkFreq(divisor, 0);
    return 0;
}

int write_crtl_registers(int, int, int event, void*, int, int) {
    if (event != EVENT_COMMIT) return 0;
    write_sbus_panel_to_structure();
    sbus_structure_write_to_testequip();
    return 0;
}

int updatemodectrl(int, int, int event, void*, int, int) {
    if (event != EVENT_COMMIT) return 0;
    write_sbus_structure_to_panel();
    return 0;
}

// Masks the over-voltage alarm on both channels: alarm register 0x1D := 12.
int set_ovdmask(int, int, int event, void*, int, int) {
    if (event != EVENT_COMMIT) return 0;
    FTD232_sbus_single_write(3, 1, 0x1D, 12);
    return 0;
}

// Sends one word given as 26 characters in wire order: 2 channel select,
// 7 address, 1 read/write, 16 data; only "1" counts as a set bit. A text
// shorter than 26 characters counts as 0 where it has no character.
int vector_data_serial_bus_write(const char* bits) {
    const size_t length = bits != nullptr ? strnlen(bits, 26) : 0;
    auto field = [&](size_t first, size_t count) {
        int value = 0;
        for (size_t k = first; k < first + count; ++k)
            value = (value << 1) | (k < length && bits[k] == '1' ? 1 : 0);
        return value;
    };
    FTD232_sbus_single_write(field(0, 2), field(9, 1), field(2, 7), field(10, 16));
    return 0;
}
