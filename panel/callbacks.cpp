// Control callbacks of the operator panel that are thin glue between the
// panel, the register image and the link.
#include "panel/callbacks.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "app/core/sbus_image.h"
#include "app/core/transfer.h"
#include "codec/codec.h"
#include "link/FT2232H.h"
#include "panel/kovra610 evaluation board uir.h"
#include "platform/protocol/sbus_registers.h"
#include "platform/runtime/panel_runtime.h"

namespace sbus = kovra610::sbus;

namespace {
// What the second data view said of a value wider than the word's data.
char keptText[100];
}  // namespace

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
    if (sent != data) {
        SetCtrlVal(panelHandle, DATA_2, sent);
        std::snprintf(keptText, sizeof keptText, "the word carries 16 data bits: %u is kept as %u",
                      data, sent);
        sbus_action_outcome = keptText;
    }
    return 0;
}

int clear_alarm(int, int, int event, void*, int, int) {
    if (event != EVENT_COMMIT) return 0;
    // Both channels are read before either display changes; a display whose
    // read failed keeps what it showed.
    const int displays[2] = {DATA1, DATA2};
    unsigned int words[2] = {0, 0};
    int failed[2];
    const unsigned int channels[2] = {sbus::kChannel0, sbus::kChannel1};
    for (int k = 0; k < 2; ++k) {
        failed[k] =
            FTD232_sbus_read_word(static_cast<int>(channels[k]),
                                  static_cast<int>(sbus::kAlarmFlagsRegister), 0, &words[k]);
    }
    for (int k = 0; k < 2; ++k) {
        if (failed[k] != 0) {
            printf("Alarm read ch=0x%X addr=0x%X failed: display kept\n", channels[k],
                   sbus::kAlarmFlagsRegister);
        } else {
            SetCtrlVal(panelHandle, displays[k], sbus::unpack(words[k]).data);
        }
    }
    if (failed[0] != 0 && failed[1] != 0)
        sbus_link_failed("both reads failed: displays kept");
    else if (failed[0] != 0 || failed[1] != 0)
        sbus_link_failed(failed[0] != 0 ? "read of ch=0x1 failed: its display kept"
                                        : "read of ch=0x2 failed: its display kept");
    return 0;
}

// The chip forgets its setup on a reset, so the transfer forgets what it
// sent: the next transfer sends every entry in use.
int reset(int, int, int event, void*, int, int) {
    if (event != EVENT_COMMIT) return 0;
    if (FTD232_sbus_reset_part() != 0) {
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

// Masks the over-voltage alarm on both channels: the alarm register := 12.
int set_ovdmask(int, int, int event, void*, int, int) {
    if (event != EVENT_COMMIT) return 0;
    constexpr int kOvdMasked = 12;
    if (FTD232_sbus_single_write(sbus::kBothChannels, 1, sbus::kAlarmRegister, kOvdMasked) != 0)
        sbus_link_failed("not sent: the link refused the word");
    return 0;
}

// Sends one word given as its 26 bits in wire order (most significant
// first: channel select, address, read/write, data); only "1" counts as a
// set bit. A text shorter than 26 characters counts as 0 where it has no
// character.
int vector_data_serial_bus_write(const char* bits) {
    const size_t length = bits != nullptr ? strnlen(bits, sbus::kWordBits) : 0;
    uint32_t word = 0;
    for (size_t k = 0; k < sbus::kWordBits; ++k)
        word = (word << 1) | (k < length && bits[k] == '1' ? 1u : 0u);
    const sbus::Word w = sbus::unpack(word);
    FTD232_sbus_single_write(static_cast<int>(w.ch), static_cast<int>(w.rw),
                             static_cast<int>(w.addr), static_cast<int>(w.data));
    return 0;
}
