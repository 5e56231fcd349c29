// Serial-bus link over the first port of an FT2232H in MPSSE mode. The
// pins, the word and the command streams are those of sbus_protocol.h.
#include "FT2232H.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <thread>
#include <vector>

#include "app/core/sbus_image.h"
#include "platform/protocol/sbus_protocol.h"
#include "platform/runtime/panel_runtime.h"

FT_HANDLE ftHandle = nullptr;

namespace {

namespace mpsse = kovra610::mpsse;
namespace sbus = kovra610::sbus;

// How long the bad-command echo is waited for before the port is given up
// as silent (an unplugged cable, a port that is not an MPSSE).
constexpr auto kEchoPollLimit = std::chrono::milliseconds(500);
// How much longer a read waits for reply bytes that did not arrive within
// its fixed 10 ms.
constexpr auto kLateReplyLimit = std::chrono::milliseconds(100);
// Largest single driver read when draining the receive queue.
constexpr DWORD kDrainChunk = 4096;
// How long after a failed read the rest of its reply is still waited for
// before the next command goes out. The FT2232H holds a short packet for
// its latency timer, 255 ms at most, however slow a port is set.
constexpr auto kStaleReplyLimit = std::chrono::milliseconds(300);

// The handle is handed to the driver only while the port is open: after a
// close (or before the first open) ftHandle still holds the old value, and
// calls on it are answered here as failed.
bool portOpen = false;
int linkState = LINK_DOWN;

// Reply bytes that a failed read asked for and did not get, and until when
// they are waited for. They come in order before any reply to a later
// command, so they are taken and dropped before the next command goes out.
size_t owedReplyBytes = 0;
std::chrono::steady_clock::time_point owedUntil;

const char kLinkLost[] =
    "Link lost: the FT2232H stopped answering (USB cable unplugged?) - re-plug it, press "
    "\"Reset FTDI232H\", then \"Write All Reg\"\n";

// How an unplugged device answers every call on its handle.
bool deviceGone(FT_STATUS status) {
    return status == FT_IO_ERROR || status == FT_DEVICE_NOT_FOUND;
}

// A call on an up link that failed the way an unplugged device fails is
// checked with one queue query: when that fails the same way, the link is
// lost (a lone refused write is not).
FT_STATUS watched(FT_STATUS status) {
    if (linkState != LINK_UP || !deviceGone(status)) return status;
    DWORD waiting = 0;
    if (!deviceGone(FT_GetQueueStatus(ftHandle, &waiting))) return status;
    linkState = LINK_LOST;
    printf("%s", kLinkLost);
    return status;
}

// The handle may be used: open, and not lost.
bool usable() {
    return portOpen && linkState != LINK_LOST;
}

FT_STATUS queueStatus(DWORD* waiting) {
    *waiting = 0;
    if (!usable()) return FT_INVALID_HANDLE;
    return watched(FT_GetQueueStatus(ftHandle, waiting));
}

FT_STATUS readBytes(UCHAR* buffer, DWORD count, DWORD* got) {
    *got = 0;
    if (!usable()) return FT_INVALID_HANDLE;
    return watched(FT_Read(ftHandle, buffer, count, got));
}

void takeOwedReply();

// Every command goes out here, after whatever a failed read still owed.
FT_STATUS writeBytes(const UCHAR* bytes, DWORD count) {
    if (owedReplyBytes > 0) takeOwedReply();
    if (!usable()) return FT_INVALID_HANDLE;  // closed, or found lost while they were taken
    DWORD written = 0;
    FT_STATUS status = watched(FT_Write(ftHandle, const_cast<UCHAR*>(bytes), count, &written));
    if (status == FT_OK && written != count) status = FT_IO_ERROR;
    return status;
}

template <std::size_t N>
FT_STATUS writeCommand(const std::array<UCHAR, N>& bytes) {
    return writeBytes(bytes.data(), N);
}

FT_STATUS writeCommand(UCHAR command) {
    return writeBytes(&command, 1);
}

// A lost device is not asked to reset its bit mode; its handle is still
// closed so the driver lets go of it.
void closePort(bool resetBitMode) {
    if (portOpen) {
        if (resetBitMode && linkState != LINK_LOST) FT_SetBitMode(ftHandle, 0x00, FT_BITMODE_RESET);
        FT_Close(ftHandle);
        portOpen = false;
    }
    linkState = LINK_DOWN;
    owedReplyBytes = 0;  // the next open drains the port afresh
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

// Reads the `waiting` bytes a queue query reported (appended to `into` when
// it is given, else discarded), or makes a read of 0 bytes when it reported
// none. Returns the reads' status.
FT_STATUS takeReported(DWORD waiting, std::vector<UCHAR>* into) {
    if (waiting > 0) return drain(waiting, into);
    UCHAR none[1];
    DWORD got = 0;
    return readBytes(none, 0, &got);
}

// Queries the receive queue and takes what it reports as above. Returns the
// OR of the query's and the reads' statuses; `waiting` gets the count.
FT_STATUS takeWaiting(std::vector<UCHAR>* into, DWORD* waiting) {
    const FT_STATUS status = queueStatus(waiting);
    return status | takeReported(*waiting, into);
}

// Writes the echo probe, an invalid command, and looks for its answer
// (0xFA and the probe) among the bytes waiting once the first shows up.
bool echoCheck() {
    writeCommand(sbus::kEchoProbe);
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
        if (reply[i] == mpsse::kBadCommandAnswer && reply[i + 1] == sbus::kEchoProbe) return true;
    }
    return false;
}

// The 26-bit serial-bus word of the four arguments; wider arguments lose
// their upper bits.
uint32_t sbusWord(int ch, int rw, int addr, int data) {
    return sbus::pack(sbus::Word{static_cast<uint32_t>(ch), static_cast<uint32_t>(addr),
                                 static_cast<uint32_t>(rw), static_cast<uint32_t>(data)});
}

// Finds the FTDI ports and opens the first.
bool openFirstPort() {
    DWORD numDevs = 0;
    printf("Checking for FTDI devices...\n");
    FT_STATUS ftStatus = FT_CreateDeviceInfoList(&numDevs);
    if (ftStatus != FT_OK) {
        printf("Error in getting the number of devices\n");
        return false;
    }
    if (numDevs < 1) {
        printf("There are no FTDI devices installed\n");
        return false;
    }
    printf("%d FTDI devices found - the count includes individual ports on a single chip\n",
           static_cast<int>(numDevs));
    printf("\nAssume first device has the MPSSE and open it...\n");

    ftStatus = FT_Open(0, &ftHandle);
    if (ftStatus != FT_OK) {
        printf("Open Failed with error %d\n", static_cast<int>(ftStatus));
        return false;
    }
    portOpen = true;
    return true;
}

// Drops what earlier use left waiting and puts the port in MPSSE mode.
bool configurePort() {
    DWORD waiting = 0;
    printf("\nConfiguring port for MPSSE use...\n");
    FT_STATUS ftStatus = FT_ResetDevice(ftHandle);
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
        return false;
    }
    printf("MPSSE Initialize Successfull, %d\n", static_cast<int>(ftStatus));
    return true;
}

// Brings the MPSSE command processor into step: with loopback on, the echo
// probe must come back, and nothing else may be waiting around it.
bool synchronisePort() {
    DWORD waiting = 0;
    writeCommand(mpsse::kLoopbackOn);
    FT_STATUS ftStatus = queueStatus(&waiting);
    if (waiting != 0) {
        printf("Error - MPSSE receive buffer should be empty %d\n", static_cast<int>(ftStatus));
        closePort(true);
        return false;
    }
    if (!echoCheck()) {
        printf("Error in synchronizing the MPSSE\n");
        closePort(false);
        return false;
    }
    writeCommand(mpsse::kLoopbackOff);
    ftStatus = queueStatus(&waiting);
    if (waiting != 0) {
        printf("Error - MPSSE receive buffer should be empty%d Aborting \n",
               static_cast<int>(ftStatus));
        closePort(true);
        return false;
    }
    printf("Synchronize Completed\n");
    return true;
}

// Waits for the reply bytes a failed read is still owed and drops them
// with anything that came before them. Bounded: what has not come by the
// failed read's limit is given up (and, should it come later, is refused
// as an answer for another register).
void takeOwedReply() {
    const size_t owed = owedReplyBytes;
    owedReplyBytes = 0;
    std::vector<UCHAR> late;
    DWORD waiting = 0;
    for (;;) {
        if (queueStatus(&waiting) != FT_OK) return;
        if (waiting > 0) drain(waiting, &late);
        if (late.size() >= owed || std::chrono::steady_clock::now() >= owedUntil) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// `expected` reply bytes were asked for and only `got` came: the rest may
// still arrive, and belongs to this read, not to the next.
void oweRest(size_t expected, size_t got) {
    if (got >= expected) return;
    owedReplyBytes += expected - got;
    owedUntil = std::chrono::steady_clock::now() + kStaleReplyLimit;
}

// The read's error line, unless the link is lost (that was said once).
int readFailed() {
    if (linkState != LINK_LOST) printf("Error - GPIO cannot be read\n");
    return 1;
}

// An answer word carries the channel select and address of the word it
// answers (the chip echoes select 1, 2 or 3 as sent). One for another
// register is a reply to another read, or garbled, and never data.
bool answersFor(unsigned int answer, int ch, int addr) {
    const sbus::Word got = sbus::unpack(answer);
    const sbus::Word asked = sbus::unpack(sbusWord(ch, 0, addr, 0));
    return got.ch == asked.ch && got.addr == asked.addr;
}

// The answer word of the reply that starts at `at`.
unsigned int answerAt(const std::vector<UCHAR>& reply, size_t at) {
    const UCHAR* a = &reply[at + sbus::kAnswerAt];
    return sbus::answerWord(a[0], a[1], a[2], a[3]);
}

// Whether the `count` replies from `start` on have come whole and answer
// the registers asked; `marked`: each also starts with the reply marker's
// answer, 0xFA 0x00 (which a read that finds its reply in place never
// compares).
bool repliesAt(const std::vector<UCHAR>& reply, size_t start, const int* ch, const int* addr,
               int count, bool marked) {
    if (reply.size() < start + static_cast<size_t>(count) * sbus::kReplyLength) return false;
    for (int i = 0; i < count; ++i) {
        const size_t at = start + static_cast<size_t>(i) * sbus::kReplyLength;
        if (marked &&
            (reply[at] != mpsse::kBadCommandAnswer || reply[at + 1] != sbus::kReplyMarker))
            return false;
        if (!answersFor(answerAt(reply, at), ch[i], addr[i])) return false;
    }
    return true;
}

// Where a read's `count` replies begin among the bytes that came. Stray
// bytes the engine sent just before the read's stream went out (held back
// by the latency timer, so the read's first look did not see them) come
// first, and are no part of them: the replies are the last marked run
// that answers the registers asked. 0 when no more came than the replies
// take, or there is no such run (the replies are then decoded where they
// belong, and found wanting).
size_t repliesStart(const std::vector<UCHAR>& reply, const int* ch, const int* addr, int count) {
    const size_t length = static_cast<size_t>(count) * sbus::kReplyLength;
    if (reply.size() <= length) return 0;
    for (size_t at = reply.size() - length + 1; at-- > 0;) {
        if (repliesAt(reply, at, ch, addr, count, true)) return at;
    }
    return 0;
}

// Whether the replies are all there, wherever bytes before them put them.
bool repliesWhole(const std::vector<UCHAR>& reply, const int* ch, const int* addr, int count) {
    return repliesAt(reply, repliesStart(reply, ch, addr, count), ch, addr, count, false);
}

// The read's error line for an answer to another register.
int wrongAnswer(unsigned int answer, int ch, int addr) {
    const sbus::Word got = sbus::unpack(answer);
    const sbus::Word asked = sbus::unpack(sbusWord(ch, 0, addr, 0));
    if (linkState != LINK_LOST)
        printf(
            "Error - GPIO cannot be read: the answer is for ch=0x%X addr=0x%X, not ch=0x%X "
            "addr=0x%X\n",
            got.ch, got.addr, asked.ch, asked.addr);
    return 1;
}

// Waits a little longer for reply bytes that did not arrive within the
// read's fixed wait (or that stray bytes before them held back); bytes
// that never come are never decoded.
void awaitLateReply(int ch, int addr, std::vector<UCHAR>* reply) {
    DWORD waiting = 0;
    const auto deadline = std::chrono::steady_clock::now() + kLateReplyLimit;
    while (!repliesWhole(*reply, &ch, &addr, 1) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (queueStatus(&waiting) != FT_OK) break;
        if (waiting > 0) drain(waiting, reply);
    }
}

}  // namespace

int OpenandConfigFT2232Hdevice(void) {
    closePort(true);  // an open port is never opened a second time
    if (!openFirstPort() || !configurePort()) return 1;
    Delay(0.2);
    if (!synchronisePort()) return 1;

    // 60 MHz master clock, no adaptive or three-phase clocking; divisor 15
    // (1.875 MHz); select high, clock and data low, reset and markers not
    // driven; the high byte all inputs.
    // A port that stops taking commands here (a cable pulled during the
    // open) is not open, configured and in step: the open fails.
    FT_STATUS ftStatus = writeCommand(sbus::kClocking);
    ftStatus |= writeCommand(mpsse::setClockDivisor(sbus::kOpenDivisor));
    ftStatus |= writeCommand(mpsse::setLowByte(sbus::kEndOfOpen));
    ftStatus |= writeCommand(mpsse::setHighByte(sbus::kHighByteInputs));
    if (ftStatus != FT_OK) {
        printf("Error in setting the MPSSE clock and pins %d\n", static_cast<int>(ftStatus));
        closePort(false);
        return 1;
    }
    linkState = LINK_UP;
    return 0;
}

int synchronize_MPSSE(void) {
    if (linkState == LINK_LOST) return 0;
    std::vector<UCHAR> reply;
    DWORD waiting = 0;
    if (queueStatus(&waiting) == FT_OK && waiting > 0) drain(waiting, &reply);
    UCHAR shown[4] = {0, 0, 0, 0};  // positions the drain did not fill show 0
    for (size_t i = 0; i < 4 && i < reply.size(); ++i) shown[i] = reply[i];
    printf(" !!!!! %X %X %X %X  \n", shown[0], shown[1], shown[2], shown[3]);

    if (!echoCheck()) printf("Error in synchronizing the MPSSE - FT2332 Reset \n");
    writeCommand(mpsse::kLoopbackOff);
    return 0;
}

// Closing is not watched: a device found gone on the way out is not news.
int CloseFT2232HDevice(void) {
    DWORD waiting = 0;
    if (usable() && FT_GetQueueStatus(ftHandle, &waiting) == FT_OK && waiting > 0)
        drain(waiting, nullptr);
    closePort(true);
    return 0;
}

int FTD232_link_state(void) {
    return linkState;
}

int FTD232_sbus_single_write(int ch, int rw, int addr, int data) {
    if (linkState == LINK_LOST) return 1;
    const bool sent = writeCommand(sbus::writeStream(sbusWord(ch, rw, addr, data))) == FT_OK;
    if (!sent && linkState != LINK_LOST) printf("USB Glitch Detected - Reseting FT2332   \n");
    DWORD waiting = 0;
    takeWaiting(nullptr, &waiting);
    if (waiting > 0) synchronize_MPSSE();
    return sent ? 0 : 1;
}

// A read always goes out with the read/write bit clear.
int FTD232_sbus_read_word(int ch, int addr, int data, unsigned int* word) {
    if (linkState == LINK_LOST) return 1;
    DWORD waiting = 0;
    takeWaiting(nullptr, &waiting);
    writeCommand(sbus::readStream(sbusWord(ch, 0, addr, data)));
    if (linkState == LINK_LOST) return 1;

    Delay(0.01);

    std::vector<UCHAR> reply;
    const FT_STATUS status = takeWaiting(&reply, &waiting);
    if (status != FT_OK && waiting != 1) {
        oweRest(sbus::kReplyLength, reply.size());
        return readFailed();
    }
    awaitLateReply(ch, addr, &reply);
    if (reply.size() < sbus::kReplyLength) {
        oweRest(sbus::kReplyLength, reply.size());
        return readFailed();
    }
    const unsigned int answer = answerAt(reply, repliesStart(reply, &ch, &addr, 1));

    // Bytes still arriving after the answer are drained; if a second look
    // still finds some, the engine is out of step.
    const bool late = queueStatus(&waiting) == FT_OK && waiting > 0;
    takeReported(late ? waiting : 0, nullptr);
    if (late && queueStatus(&waiting) == FT_OK && waiting > 0) {
        drain(waiting, nullptr);
        synchronize_MPSSE();
    }
    if (!answersFor(answer, ch, addr)) return wrongAnswer(answer, ch, addr);
    if (word != nullptr) *word = answer;
    return 0;
}

unsigned int FTD232_sbus_single_read(int ch, int, int addr, int data) {
    unsigned int word = 1;
    FTD232_sbus_read_word(ch, addr, data, &word);
    return word;
}

int FTD232_sbus_serial_write(SBUS_STRUCTURE* image, int index) {
    if (image == nullptr || index < 0 || index >= SBUS_MAX_REGISTERS) return 0;
    return FTD232_sbus_single_write(image->ch[index], image->rw[index], image->addr[index],
                                    image->data[index]);
}

int SetClkFreq(int divisor, int) {
    writeCommand(mpsse::setClockDivisor(static_cast<unsigned>(divisor)));
    return 0;
}

// Once the reset line has gone low the chip's registers are at their reset
// values, whatever becomes of the rest of the pulse (a cable pulled between
// the writes): the result says whether that happened.
int FTD232_sbus_reset_part(void) {
    const bool pulsed =
        writeCommand(mpsse::setLowByte(sbus::kResetLow)) == FT_OK;  // reset low, select high
    writeCommand(mpsse::setLowByte(sbus::kIdle));                   // reset high: idle
    writeCommand(mpsse::clockBytePulses(sbus::kResetClockGroups));  // select high
    return pulsed ? 0 : 1;
}

namespace {

// The read streams of several words, back to back, and a send-immediate.
// Each stream's own send-immediate comes before its answer is shifted in,
// so it flushes the answer before it; the last answer would otherwise wait
// for the latency timer, longer than the read waits on a port that keeps
// it high.
std::vector<UCHAR> batchedReadStreams(const int* ch, const int* addr, int count) {
    std::vector<UCHAR> stream;
    stream.reserve(static_cast<size_t>(count) * sbus::kReadStreamLength + 1);
    for (int i = 0; i < count; ++i) {
        const auto one = sbus::readStream(sbusWord(ch[i], 0, addr[i], 0));
        stream.insert(stream.end(), one.begin(), one.end());
    }
    stream.push_back(mpsse::kSendImmediate);
    return stream;
}

// Collects reply bytes until the replies are whole or the wait for them is
// over: the serial clock's time for the words and the late-reply margin.
void awaitReplies(const int* ch, const int* addr, int count, std::vector<UCHAR>* reply) {
    const auto deadline =
        std::chrono::steady_clock::now() + kLateReplyLimit + std::chrono::milliseconds(count);
    DWORD waiting = 0;
    while (!repliesWhole(*reply, ch, addr, count) && std::chrono::steady_clock::now() < deadline) {
        if (queueStatus(&waiting) != FT_OK) return;
        if (waiting > 0)
            drain(waiting, reply);
        else
            std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
}

}  // namespace

int FTD232_sbus_read_words(const int* ch, const int* addr, int count, unsigned int* words,
                           int* ok) {
    if (count <= 0) return 0;
    for (int i = 0; i < count; ++i) ok[i] = 0;
    if (linkState == LINK_LOST) return 1;
    DWORD waiting = 0;
    takeWaiting(nullptr, &waiting);
    const std::vector<UCHAR> stream = batchedReadStreams(ch, addr, count);
    const size_t expected = static_cast<size_t>(count) * sbus::kReplyLength;
    // A refused write may still have sent part of the stream.
    if (writeBytes(stream.data(), static_cast<DWORD>(stream.size())) != FT_OK) {
        oweRest(expected, 0);
        return readFailed();
    }

    std::vector<UCHAR> reply;
    awaitReplies(ch, addr, count, &reply);
    const size_t start = repliesStart(reply, ch, addr, count);
    const size_t whole = std::min(reply.size() - start, expected) / sbus::kReplyLength;
    int taken = 0;
    int firstWrong = -1;
    unsigned int wrong = 0;
    for (size_t i = 0; i < whole; ++i) {
        const unsigned int answer = answerAt(reply, start + i * sbus::kReplyLength);
        if (!answersFor(answer, ch[i], addr[i])) {
            if (firstWrong < 0) {
                firstWrong = static_cast<int>(i);
                wrong = answer;
            }
            continue;
        }
        words[i] = answer;
        ok[i] = 1;
        ++taken;
    }
    // Bytes beyond the answers, now or still arriving: the engine is out of
    // step and is brought back into it. Otherwise answers that did not come
    // are owed.
    const bool late = queueStatus(&waiting) == FT_OK && waiting > 0;
    if (reply.size() > start + expected || late) {
        if (late) drain(waiting, nullptr);
        synchronize_MPSSE();
    } else {
        oweRest(expected, reply.size());
    }
    if (taken == count) return 0;
    if (firstWrong >= 0) return wrongAnswer(wrong, ch[firstWrong], addr[firstWrong]);
    if (linkState != LINK_LOST)
        printf("Error - GPIO cannot be read: %d of %d answers arrived\n", static_cast<int>(whole),
               count);
    return 1;
}
