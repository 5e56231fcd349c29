// Panel <-> register image: packing the register groups into their words
// and back, and converting DAC levels between volts and codes.
#pragma once

#include <cstdint>
#include <vector>

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

// The register words, as pure functions of the ring values of a group (in
// control-array item order) and back.
enum SBUS_REGISTER_GROUP { GROUP_DRIVER, GROUP_PMU, GROUP_COMPARATOR, GROUP_ALARM, GROUP_COUNT };
uint16_t sbus_pack_group(SBUS_REGISTER_GROUP group, const std::vector<int>& itemValues);
std::vector<int> sbus_unpack_group(SBUS_REGISTER_GROUP group, uint16_t word);
int sbus_group_items(SBUS_REGISTER_GROUP group);
