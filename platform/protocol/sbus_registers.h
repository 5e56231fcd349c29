// The KOVRA610's registers by name, and the entries of the register image
// that hold them: named once for the program, its command line and the
// virtual board.
#pragma once

#include "platform/protocol/sbus_protocol.h"

namespace kovra610::sbus {

// Channel selects of a word.
inline constexpr unsigned kChannel0 = 1;
inline constexpr unsigned kChannel1 = 2;
inline constexpr unsigned kBothChannels = 3;

// The largest value each field of a word carries.
inline constexpr unsigned kChannelMax = kChannel.mask;
inline constexpr unsigned kAddressMax = kAddress.mask;
inline constexpr unsigned kDataMax = kData.mask;

// Register addresses.
inline constexpr unsigned kDriverRegister = 0x19;
inline constexpr unsigned kComparatorRegister = 0x1A;
inline constexpr unsigned kLoadRegister = 0x1B;
inline constexpr unsigned kPmuRegister = 0x1C;
inline constexpr unsigned kAlarmRegister = 0x1D;       // alarm enables: a 0 bit enables
inline constexpr unsigned kAlarmFlagsRegister = 0x1E;  // alarms raised; writes are ignored

// The image keeps each register of both channels in a pair of entries
// after the DAC levels: channel 0's (channel select 1), then channel 1's
// (channel select 2).
struct RegisterEntries {
    int entry;  // channel 0's entry
    unsigned addr;
    const char* name0;  // the entries' names
    const char* name1;
};
inline constexpr RegisterEntries kDriverEntries{30, kDriverRegister, "DrvRegCh0", "DrvRegCh1"};
inline constexpr RegisterEntries kPmuEntries{32, kPmuRegister, "PMU Reg", "PMU Reg"};
inline constexpr RegisterEntries kComparatorEntries{34, kComparatorRegister, "CompReg", "CompReg"};
inline constexpr RegisterEntries kAlarmEntries{36, kAlarmRegister, "Alarm Reg", "Alarm Reg"};
inline constexpr RegisterEntries kLoadEntries{38, kLoadRegister, "Load Reg", "Load Reg"};

}  // namespace kovra610::sbus
