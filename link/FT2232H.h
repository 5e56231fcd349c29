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

int FTD232_sbus_single_write(int ch, int rw, int addr, int data);
unsigned int FTD232_sbus_single_read(int ch, int rw, int addr, int data);
int FTD232_sbus_serial_write(SBUS_STRUCTURE* image, int index);

int SetClkFreq(int divisor, int unused);
int FTD232_sbus_reset_part(void);
