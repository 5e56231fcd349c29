#include "app/core/sbus_image.h"

#include <cmath>
#include <cstring>

SBUS_STRUCTURE sbus_structure_initial_contents(void) {
    SBUS_STRUCTURE image{};
    for (int i = 0; i < SBUS_MAX_REGISTERS; ++i) {
        image.volts[i] = 1.0;
        image.data[i] = 1;
        image.addr[i] = 1;
        image.rw[i] = 1;
        image.ch[i] = 1;
        image.dac_type[i] = 0;
    }
    image.name[0][0] = '\x01';
    // Entries 8 and 9 carry levels that are always sent as the code of
    // their level, through pair 0.
    image.dac_type[8] = 1;
    image.dac_type[9] = 1;
    return image;
}

SBUS_STRUCTURE sbus_structure = sbus_structure_initial_contents();
int sbus_entry_defined[SBUS_MAX_REGISTERS] = {};

int sbus_setup_loaded(void) {
    for (int i = 0; i < sbus_structure.number_registers && i < SBUS_MAX_REGISTERS; ++i) {
        if (sbus_entry_defined[i] != 0) return 1;
    }
    return 0;
}

int panelHandle = 0;
int AlarmRegCtrlArr = 0, CmpRegCtrlArr = 0, DrvRegCtrlArr = 0, HexDataCtrlArr = 0, LabelArr = 0,
    PMURegCtrlArr = 0, VoltDataCtrlArr = 0;

void sbus_set_startup_constants(SBUS_STRUCTURE* image) {
    image->dac_scale[0].offset = 16384.0;
    image->dac_scale[0].lsb = 10.0 / (std::pow(2.0, 16) - 1);
    for (int k = 1; k < SBUS_DAC_SCALES; ++k) {
        image->dac_scale[k].offset = 16384.0;
        image->dac_scale[k].lsb = 0.000152590219;
    }
    image->number_dacs = 30;
    image->number_registers = 40;
}

int sbus_volts_to_code(double volts, const SBUS_DAC_SCALE* scale) {
    const double code = volts / scale->lsb + scale->offset;
    if (std::isnan(code) || code <= 0.0) return 0;
    if (code >= static_cast<double>(SBUS_CODE_MAX)) return SBUS_CODE_MAX;
    return static_cast<int>(code);  // truncation toward zero
}

int sbus_conversion_pair(const SBUS_STRUCTURE* image, int i) {
    if (i < 0 || i >= SBUS_MAX_REGISTERS) return -1;
    if (i >= image->number_registers || i >= image->number_dacs) return -1;
    const int type = image->dac_type[i];
    return (type >= 1 && type <= SBUS_DAC_SCALES) ? type - 1 : -1;
}

int sbus_level_code(const SBUS_STRUCTURE* image, int i) {
    const int pair = sbus_conversion_pair(image, i);
    return pair < 0 ? -1 : sbus_volts_to_code(image->volts[i], &image->dac_scale[pair]);
}

void sbus_set_name(SBUS_STRUCTURE* image, int i, const char* text) {
    if (i < 0 || i >= SBUS_MAX_REGISTERS) return;
    const size_t n = text != nullptr ? strnlen(text, SBUS_NAME_SIZE - 1) : 0;
    std::memcpy(image->name[i], text != nullptr ? text : "", n);
    image->name[i][n] = '\0';
}
