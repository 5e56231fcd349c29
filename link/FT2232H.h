// Serial-bus link to the KOVRA610 over the first port of an FT2232H in MPSSE
// mode: open, configure and synchronise the port, send and read 26-bit
// serial-bus words, set the serial clock divisor and pulse the chip reset.
#pragma once

#include "platform/d2xx/ftd2xx.h"

struct SBUS_STRUCTURE;

// The one D2XX handle, held from start-up to exit.
extern FT_HANDLE ftHandle;

int OpenandConfigFT2232Hdevice(void);
int synchronize_MPSSE(void);
int CloseFT2232HDevice(void);

// The state of the link, as FTD232_link_state() reports it.
enum {
    LINK_DOWN = 0,  // never opened, the open failed, or closed
    LINK_UP = 1,    // open, configured and in step
    LINK_LOST = 2,  // was up until the port stopped answering (an unplugged cable)
};
// A lost link makes no driver call and no wait until it is closed and
// opened again ("Reset FTDI232H"): every word, divisor and reset call on it
// returns at once, without a console line of its own.
int FTD232_link_state(void);

// 0 when the word's stream went out to the port, non-zero when it did not
// (the link down or lost, or the write refused).
int FTD232_sbus_single_write(int ch, int rw, int addr, int data);
// One read cycle: 0 with the answer word in *word, or non-zero when the
// reply could not be read or answers another channel select or address
// (*word is then left as it was). Reply bytes a failed read did not get are
// waited for (bounded) and dropped before the next command goes out, so no
// read takes another's reply.
int FTD232_sbus_read_word(int ch, int addr, int data, unsigned int* word);
// The answer word, or 1 when the reply could not be read.
unsigned int FTD232_sbus_single_read(int ch, int rw, int addr, int data);
// Sends the entry's word as the single write does, with its result; an
// index outside the image sends nothing and gives 0.
int FTD232_sbus_serial_write(SBUS_STRUCTURE* image, int index);
// Reads `count` words in one batched stream: the read stream of each word
// (channel select ch[i], address addr[i], data 0) back to back in one write,
// then the replies taken together and each 6-byte answer decoded as the
// single read decodes it, with no fixed wait. ok[i] is 1 when answer i
// arrived whole and answers ch[i] and addr[i] (words[i] then holds it), else
// 0 and words[i] is left as it was. Returns 0 when every answer arrived,
// non-zero otherwise.
int FTD232_sbus_read_words(const int* ch, const int* addr, int count, unsigned int* words, int* ok);

int SetClkFreq(int divisor, int unused);
// 0 when the reset line went low (the chip is reset, even should the link
// be lost before the pulse ends), non-zero when it did not.
int FTD232_sbus_reset_part(void);
