// Panel <-> register image: packing the register groups into their words
// and back, and converting DAC levels between volts and codes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/core/sbus_image.h"

int write_sbus_panel_to_structure(void);
int write_sbus_structure_to_panel(void);

double round_dbl(double value, int digits);
int volts_to_code(int panel, int control, int event, void* callbackData, int eventData1,
                  int eventData2);
int code_to_volts(int panel, int control, int event, void* callbackData, int eventData1,
                  int eventData2);
int read_all_dacs(int panel, int control, int event, void* callbackData, int eventData1,
                  int eventData2);
int write_to_all_dacs(int panel, int control, int event, void* callbackData, int eventData1,
                      int eventData2);

// The level of a DAC code, as the panel shows it: by conversion pair 0,
// rounded to 3 decimals.
double sbus_code_to_volts(unsigned int code);

// What the last read-back ("Read all Regs", or the batched read) got back,
// entry by entry: whether the entry's read was answered (1) or failed (0),
// the address, read/write flag and data field of the answer, and whether
// that data
// differs from the image's (set by sbus_verify_read_back). Entries beyond
// the pass hold 0.
struct SBUS_READ_BACK {
    int answered[SBUS_MAX_REGISTERS];
    int addr[SBUS_MAX_REGISTERS];
    int rw[SBUS_MAX_REGISTERS];
    int data[SBUS_MAX_REGISTERS];
    int differs[SBUS_MAX_REGISTERS];
};
extern SBUS_READ_BACK sbus_read_back;

// Entries in use: number_registers, within 0..SBUS_MAX_REGISTERS.
int sbus_entries_in_use(void);
// Reads every entry in use that a setup defined back in one batched stream
// into sbus_read_back; the image is not changed. Returns 0 when every
// answer arrived.
int sbus_read_entries_fast(void);
// Stores the answered entries of sbus_read_back in the image as "Read all
// Regs" stores its reads (data, and its level by pair 0), listing each on
// the console when `list` is set, and shows the image on the panel.
void sbus_store_read_back(int list);
// Marks the answered entries whose data differs from the image's; returns
// how many do.
int sbus_verify_read_back(void);
// How many entries in use a setup defined: those a read-back reads.
int sbus_entries_defined(void);
// Why the last batched read failed, in one line: how many answers arrived.
std::string sbus_batched_read_failure(void);
// The defined entries the last read-back left unanswered, "3 (DVL_Ch0), 7
// (CPU_Ch0)"; empty when every one was answered.
std::string sbus_unanswered_entries(void);
// The entries sbus_verify_read_back marked, "; " between: "3 DVL_Ch0 ch=0x1
// addr=0x3 image=0x8CCC chip=0x8CCD".
std::string sbus_differences(void);
// The entries the last read-back answered as JSON rows, one object each:
// index, name, channel and address, with the read/write flag, the data and
// the level as the image now holds them (the level null for register
// entries); with `differences`, the entries sbus_verify_read_back marked,
// each with the image's and the chip's data.
std::vector<std::string> sbus_read_back_rows(int differences);

// The value of a register field in the image: item `item` of the register
// group whose control array has the resource name `array` ("DRVREG",
// "PMUREG", "CMPREG", "ALARMREG"; any other name: the LOAD word), in
// channel 0's entry, or channel 1's when `channel1` is set.
int sbus_field_value(const char* array, int item, int channel1);

// The register words, as pure functions of the ring values of a group (in
// control-array item order) and back.
enum SBUS_REGISTER_GROUP { GROUP_DRIVER, GROUP_PMU, GROUP_COMPARATOR, GROUP_ALARM, GROUP_COUNT };
uint16_t sbus_pack_group(SBUS_REGISTER_GROUP group, const std::vector<int>& itemValues);
std::vector<int> sbus_unpack_group(SBUS_REGISTER_GROUP group, uint16_t word);
int sbus_group_items(SBUS_REGISTER_GROUP group);
