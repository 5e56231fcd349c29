// Serial-bus link over the first port of an FT2232H in MPSSE mode.
//
// Pins of the low byte (ADBUS0..7): 0 serial clock (idles low), 1 data to
// the chip, 2 data from the chip, 3 chip select (active low), 4 chip reset
// (active low), 5 read-back marker, 6 command marker, 7 unused (low).
#include "FT2232H.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <thread>
#include <vector>

#include "app/sbus_image.h"
#include "platform/runtime/panel_runtime.h"

FT_HANDLE ftHandle = nullptr;

namespace {

// MPSSE command bytes.
constexpr UCHAR kLoopbackOn = 0x84;
constexpr UCHAR kLoopbackOff = 0x85;
constexpr UCHAR kBadCommand = 0xAB;  // answered with 0xFA 0xAB
constexpr UCHAR kBadCommandAnswer = 0xFA;

// How long the bad-command echo is waited for before the port is given up
// as silent (an unplugged cable, a port that is not an MPSSE).
constexpr auto kEchoPollLimit = std::chrono::milliseconds(500);
// How much longer a read waits for reply bytes that did not arrive within
// its fixed 10 ms.
constexpr auto kLateReplyLimit = std::chrono::milliseconds(100);
// Largest single driver read when draining the receive queue.
constexpr DWORD kDrainChunk = 4096;

// The handle is handed to the driver only while the port is open: after a
// close (or before the first open) ftHandle still holds the old value, and
// calls on it are answered here as failed.
bool portOpen = false;

FT_STATUS queueStatus(DWORD* waiting) {
    *waiting = 0;
    if (!portOpen) return FT_INVALID_HANDLE;
    return FT_GetQueueStatus(ftHandle, waiting);
}

FT_STATUS readBytes(UCHAR* buffer, DWORD count, DWORD* got) {
    *got = 0;
    if (!portOpen) return FT_INVALID_HANDLE;
    return FT_Read(ftHandle, buffer, count, got);
}

FT_STATUS writeBytes(const UCHAR* bytes, DWORD count) {
    if (!portOpen) return FT_INVALID_HANDLE;
    DWORD written = 0;
    FT_STATUS status = FT_Write(ftHandle, const_cast<UCHAR*>(bytes), count, &written);
    if (status == FT_OK && written != count) status = FT_IO_ERROR;
    return status;
}

void closePort(bool resetBitMode) {
    if (!portOpen) return;
    if (resetBitMode) FT_SetBitMode(ftHandle, 0x00, FT_BITMODE_RESET);
    FT_Close(ftHandle);
    portOpen = false;
}

// Reads `count` waiting bytes in chunks. The bytes are appended to `into`
// when it is given, else discarded. Returns the OR of the read statuses.
FT_STATUS drain(DWORD count, std::vector<UCHAR>* into) {
    FT_STATUS status = FT_OK;
    UCHAR chunk[kDrainChunk];
    do {
        const DWORD ask = count < kDrainChunk ? count : kDrainChunk;
        DWORD got = 0;
        status |= readBytes(chunk, ask, &got);
        if (got > ask) got = ask;
        if (into != nullptr) into->insert(into->end(), chunk, chunk + got);
        if (got < ask) break;  // the driver delivered less than it reported
        count -= ask;
    } while (count > 0);
    return status;
}

// Writes the invalid command 0xAB and looks for its answer 0xFA 0xAB among
// the bytes waiting once the first of them shows up.
bool echoCheck() {
    writeBytes(&kBadCommand, 1);
    DWORD waiting = 0;
    FT_STATUS status;
    const auto deadline = std::chrono::steady_clock::now() + kEchoPollLimit;
    do {
        status = queueStatus(&waiting);
    } while (status == FT_OK && waiting == 0 && std::chrono::steady_clock::now() < deadline);
    if (status == FT_OK && waiting == 0) {
        printf("Error - no answer from the MPSSE within %d ms\n",
               static_cast<int>(kEchoPollLimit.count()));
        return false;
    }
    if (waiting == 0) return false;
    std::vector<UCHAR> reply;
    drain(waiting, &reply);
    for (size_t i = 0; i + 1 < reply.size(); ++i) {
        if (reply[i] == kBadCommandAnswer && reply[i + 1] == kBadCommand) return true;
    }
    return false;
}

// The 26-bit serial-bus word: channel select 25-24, address 23-17,
// read/write 16, data 15-0. Wider arguments lose their upper bits.
uint32_t sbusWord(int ch, int rw, int addr, int data) {
    return ((static_cast<uint32_t>(ch) & 0x3u) << 24) |
           ((static_cast<uint32_t>(addr) & 0x7Fu) << 17) |
           ((static_cast<uint32_t>(rw) & 0x1u) << 16) | (static_cast<uint32_t>(data) & 0xFFFFu);
}

// Splits a word for the shift commands: three whole bytes (bits 25-2) and
// the last two bits at the top of a fourth byte.
void splitWord(uint32_t w, UCHAR s[4]) {
    s[0] = static_cast<UCHAR>(w >> 18);
    s[1] = static_cast<UCHAR>(w >> 10);
    s[2] = static_cast<UCHAR>(w >> 2);
    s[3] = static_cast<UCHAR>((w & 0x3u) << 6);
}

}  // namespace

int OpenandConfigFT2232Hdevice(void) {
    FT_STATUS ftStatus;
    DWORD numDevs = 0;
    DWORD waiting = 0;

    printf("Checking for FTDI devices...\n");
    ftStatus = FT_CreateDeviceInfoList(&numDevs);
    if (ftStatus != FT_OK) {
        printf("Error in getting the number of devices\n");
        return 1;
    }
    if (numDevs < 1) {
        printf("There are no FTDI devices installed\n");
        return 1;
    }
    printf("%d FTDI devices found - the count includes individual ports on a single chip\n",
           static_cast<int>(numDevs));
    printf("\nAssume first device has the MPSSE and open it...\n");

    closePort(true);  // an open port is never opened a second time
    ftStatus = FT_Open(0, &ftHandle);
    if (ftStatus != FT_OK) {
        printf("Open Failed with error %d\n", static_cast<int>(ftStatus));
        return 1;
    }
    portOpen = true;

    printf("\nConfiguring port for MPSSE use...\n");
    ftStatus |= FT_ResetDevice(ftHandle);
    ftStatus |= FT_GetQueueStatus(ftHandle, &waiting);
    if (ftStatus == FT_OK && waiting > 0) drain(waiting, nullptr);
    ftStatus |= FT_SetUSBParameters(ftHandle, 65536, 65535);
    ftStatus |= FT_SetChars(ftHandle, 0, 0, 0, 0);
    ftStatus |= FT_SetTimeouts(ftHandle, 0, 5000);
    ftStatus |= FT_SetLatencyTimer(ftHandle, 1);
    ftStatus |= FT_SetFlowControl(ftHandle, FT_FLOW_RTS_CTS, 0x00, 0x00);
    ftStatus |= FT_SetBitMode(ftHandle, 0x00, FT_BITMODE_RESET);
    ftStatus |= FT_SetBitMode(ftHandle, 0x00, FT_BITMODE_MPSSE);
    if (ftStatus != FT_OK) {
        printf("Error in initializing the MPSSE %d\n", static_cast<int>(ftStatus));
        closePort(false);
        return 1;
    }
    printf("MPSSE Initialize Successfull, %d\n", static_cast<int>(ftStatus));

    Delay(0.2);

    writeBytes(&kLoopbackOn, 1);
    ftStatus = queueStatus(&waiting);
    if (waiting != 0) {
        printf("Error - MPSSE receive buffer should be empty %d\n", static_cast<int>(ftStatus));
        closePort(true);
        return 1;
    }

    if (!echoCheck()) {
        printf("Error in synchronizing the MPSSE\n");
        closePort(false);
        return 1;
    }

    writeBytes(&kLoopbackOff, 1);
    ftStatus = queueStatus(&waiting);
    if (waiting != 0) {
        printf("Error - MPSSE receive buffer should be empty%d Aborting \n",
               static_cast<int>(ftStatus));
        closePort(true);
        return 1;
    }
    printf("Synchronize Completed\n");

    // 60 MHz master clock, no adaptive or three-phase clocking; divisor 15
    // (1.875 MHz); select high, clock and data low, reset and markers not
    // driven; the high byte all inputs.
    static const UCHAR clocking[3] = {0x8A, 0x97, 0x8D};
    static const UCHAR divisor[3] = {0x86, 0x0F, 0x00};
    static const UCHAR lowByte[3] = {0x80, 0x18, 0x0B};
    static const UCHAR highByte[3] = {0x82, 0x00, 0x00};
    writeBytes(clocking, 3);
    writeBytes(divisor, 3);
    writeBytes(lowByte, 3);
    writeBytes(highByte, 3);
    return 0;
}

int synchronize_MPSSE(void) {
    std::vector<UCHAR> reply;
    DWORD waiting = 0;
    if (queueStatus(&waiting) == FT_OK && waiting > 0) drain(waiting, &reply);
    UCHAR shown[4] = {0, 0, 0, 0};  // positions the drain did not fill show 0
    for (size_t i = 0; i < 4 && i < reply.size(); ++i) shown[i] = reply[i];
    printf(" !!!!! %X %X %X %X  \n", shown[0], shown[1], shown[2], shown[3]);

    if (!echoCheck()) printf("Error in synchronizing the MPSSE - FT2332 Reset \n");
    writeBytes(&kLoopbackOff, 1);
    return 0;
}

int CloseFT2232HDevice(void) {
    if (!portOpen) return 0;
    DWORD waiting = 0;
    if (queueStatus(&waiting) == FT_OK && waiting > 0) drain(waiting, nullptr);
    closePort(true);
    return 0;
}

int FTD232_sbus_single_write(int ch, int rw, int addr, int data) {
    UCHAR s[4];
    splitWord(sbusWord(ch, rw, addr, data), s);
    const UCHAR stream[18] = {
        0x80, 0x50, 0xFB,  // command frame: select low, command marker high
        0x11, 0x02, 0x00,  // shift out 3 bytes, falling edge, MSB first
        s[0], s[1], s[2],  // word bits 25-2
        0x13, 0x01, s[3],  // shift out 2 bits: word bits 1-0
        0x80, 0x18, 0xFB,  // idle: select high, markers low
        0x8F, 0x08, 0x00,  // 72 clocks with select high
    };
    if (writeBytes(stream, sizeof stream) != FT_OK) {
        printf("USB Glitch Detected - Reseting FT2332   \n");
    }
    DWORD waiting = 0;
    queueStatus(&waiting);
    UCHAR none[1];
    if (waiting == 0) {
        DWORD got = 0;
        readBytes(none, 0, &got);
    } else {
        drain(waiting, nullptr);
        synchronize_MPSSE();
    }
    return 0;
}

unsigned int FTD232_sbus_single_read(int ch, int rw, int addr, int data) {
    (void)rw;  // a read always goes out with the read/write bit clear
    UCHAR s[4];
    splitWord(sbusWord(ch, 0, addr, data), s);

    DWORD waiting = 0;
    queueStatus(&waiting);
    if (waiting == 0) {
        UCHAR none[1];
        DWORD got = 0;
        readBytes(none, 0, &got);
    } else {
        drain(waiting, nullptr);
    }

    const UCHAR stream[34] = {
        0x85,              // loopback off
        0x80, 0x50, 0xFB,  // command frame
        0x11, 0x02, 0x00,  // shift out 3 bytes
        s[0], s[1], s[2],  // word bits 25-2
        0x13, 0x01, s[3],  // shift out word bits 1-0
        0x80, 0x18, 0xFB,  // select high, markers low
        0x8E, 0x02,        // 3 clocks with select high
        0x00,              // invalid command: answered 0xFA 0x00
        0x80, 0x30, 0xFB,  // read-back frame: select low, read-back marker high
        0x87,              // send immediate
        0x24, 0x02, 0x00,  // shift in 3 bytes, falling edge, MSB first
        0x26, 0x01,        // shift in 2 bits
        0x80, 0x38, 0xFB,  // select high, read-back marker stays high
        0x8F, 0x08, 0x00,  // 72 clocks with select high
    };
    writeBytes(stream, sizeof stream);

    Delay(0.01);

    std::vector<UCHAR> reply;
    FT_STATUS status = queueStatus(&waiting);
    const DWORD reported = waiting;
    if (waiting > 0) {
        status |= drain(waiting, &reply);
    } else {
        UCHAR none[1];
        DWORD got = 0;
        status |= readBytes(none, 0, &got);
    }
    if (status != FT_OK && reported != 1) {
        printf("Error - GPIO cannot be read\n");
        return 1;
    }
    // Reply bytes that have not arrived are waited for a little longer;
    // bytes that never come are never decoded.
    const auto deadline = std::chrono::steady_clock::now() + kLateReplyLimit;
    while (reply.size() < 6 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (queueStatus(&waiting) != FT_OK) break;
        if (waiting > 0) drain(waiting, &reply);
    }
    if (reply.size() < 6) {
        printf("Error - GPIO cannot be read\n");
        return 1;
    }

    const unsigned int answer =
        (static_cast<unsigned int>(reply[2]) << 18) | (static_cast<unsigned int>(reply[3]) << 10) |
        (static_cast<unsigned int>(reply[4]) << 2) | (static_cast<unsigned int>(reply[5]) & 0x03u);

    // Bytes still arriving after the answer are drained; if a second look
    // still finds some, the engine is out of step.
    if (queueStatus(&waiting) == FT_OK && waiting > 0) {
        drain(waiting, nullptr);
        if (queueStatus(&waiting) == FT_OK && waiting > 0) {
            drain(waiting, nullptr);
            synchronize_MPSSE();
        }
    } else {
        UCHAR none[1];
        DWORD got = 0;
        readBytes(none, 0, &got);
    }
    return answer;
}

int FTD232_sbus_serial_write(SBUS_STRUCTURE* image, int index) {
    if (image == nullptr || index < 0 || index >= SBUS_MAX_REGISTERS) return 0;
    FTD232_sbus_single_write(image->ch[index], image->rw[index], image->addr[index],
                             image->data[index]);
    return 0;
}

int SetClkFreq(int divisor, int unused) {
    (void)unused;
    const UCHAR command[3] = {0x86, static_cast<UCHAR>(divisor & 0xFF),
                              static_cast<UCHAR>((divisor >> 8) & 0xFF)};
    writeBytes(command, 3);
    return 0;
}

int FTD232_sbus_reset_part(void) {
    static const UCHAR resetLow[3] = {0x80, 0x08, 0xFB};  // reset low, select high
    static const UCHAR idle[3] = {0x80, 0x18, 0xFB};      // reset high: idle
    static const UCHAR settle[3] = {0x8F, 0x7D, 0x00};    // 1008 clocks, select high
    writeBytes(resetLow, 3);
    writeBytes(idle, 3);
    writeBytes(settle, 3);
    return 0;
}
