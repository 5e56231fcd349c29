// Opens the link (KOVRA610_BOARD=virtual runs it without hardware), resets
// the chip, writes a word to each channel and to both, and reads them back.
#include <cstdio>

#include "link/FT2232H.h"
#include "platform/protocol/sbus_protocol.h"

int main() {
    if (OpenandConfigFT2232Hdevice() != 0) return 1;
    FTD232_sbus_reset_part();

    struct {
        int ch, addr, data;
    } const words[] = {{1, 0x05, 0x1234}, {2, 0x05, 0xABCD}, {3, 0x19, 0x1A1F}};
    for (const auto& w : words) FTD232_sbus_single_write(w.ch, 1, w.addr, w.data);

    int wrong = 0;
    for (const auto& w : words) {
        const int readCh = w.ch == 3 ? 2 : w.ch;  // both channels: check channel 1 too
        const unsigned data =
            kovra610::sbus::unpack(FTD232_sbus_single_read(readCh, 0, w.addr, 0)).data;
        std::printf("ch %d addr 0x%02X: wrote 0x%04X, read 0x%04X\n", readCh, w.addr, w.data, data);
        if (data != static_cast<unsigned>(w.data)) ++wrong;
    }
    CloseFT2232HDevice();
    if (wrong != 0) return 1;
    std::printf("all words read back\n");
    return 0;
}
