// Panel <-> register image: packing the register groups into their words
// and back, and converting DAC levels between volts and codes.
#pragma once

#include <cstdint>
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

// What the last "Read all Regs" got back, entry by entry: whether the
// entry's read was answered (1) or failed (0), and the read/write flag of
// the answer. Entries beyond the pass hold 0.
struct SBUS_READ_BACK {
    int answered[SBUS_MAX_REGISTERS];
    int rw[SBUS_MAX_REGISTERS];
};
extern SBUS_READ_BACK sbus_read_back;

// The register words, as pure functions of the ring values of a group (in
// control-array item order) and back.
enum SBUS_REGISTER_GROUP { GROUP_DRIVER, GROUP_PMU, GROUP_COMPARATOR, GROUP_ALARM, GROUP_COUNT };
uint16_t sbus_pack_group(SBUS_REGISTER_GROUP group, const std::vector<int>& itemValues);
std::vector<int> sbus_unpack_group(SBUS_REGISTER_GROUP group, uint16_t word);
int sbus_group_items(SBUS_REGISTER_GROUP group);
