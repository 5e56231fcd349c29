// The register image: the program's one in-memory copy of the chip's
// register settings, and the rule that turns a DAC level into a DAC code;
// beside it the panel handles every part of the program reaches the panel
// through.
#pragma once

enum {
    SBUS_MAX_REGISTERS = 64,  // entries in the image
    SBUS_NAME_SIZE = 81,      // name text, 80 characters and the terminator
    SBUS_DAC_SCALES = 4,      // conversion pairs
    SBUS_CODE_MAX = 65535,    // a DAC code is 16 bits
};

struct SBUS_DAC_SCALE {
    double offset;  // code for 0 V
    double lsb;     // volts per code step
};

struct SBUS_STRUCTURE {
    char name[SBUS_MAX_REGISTERS][SBUS_NAME_SIZE];
    double volts[SBUS_MAX_REGISTERS];
    int data[SBUS_MAX_REGISTERS];
    int addr[SBUS_MAX_REGISTERS];
    int rw[SBUS_MAX_REGISTERS];
    int ch[SBUS_MAX_REGISTERS];
    int number_registers;
    int number_dacs;
    int dac_type[SBUS_MAX_REGISTERS];
    SBUS_DAC_SCALE dac_scale[SBUS_DAC_SCALES];
};

extern SBUS_STRUCTURE sbus_structure;

// Which entries of the image hold a setup: 1 for each entry a setup file
// gave a record (the default file at start-up, Load Setup, the command
// line's load, the names and addresses --attach reads back). Before any is
// loaded none does: the image's initial contents are placeholders, no setup
// to send. The image transfer sends only entries that hold a setup.
extern int sbus_entry_defined[SBUS_MAX_REGISTERS];
// Whether any entry in use holds a setup.
int sbus_setup_loaded(void);

// The image as it stands before start-up and before any setup file is read.
SBUS_STRUCTURE sbus_structure_initial_contents(void);

// What start-up sets before anything is loaded: the counts (30 DAC entries,
// 40 entries in use) and the conversion pairs (code 16384 at 0 V; pair 0
// 10 V over 65535 steps, pairs 1 to 3 the decimal 0.000152590219 V a step).
void sbus_set_startup_constants(SBUS_STRUCTURE* image);

// DAC code of a level: offset + volts / lsb, truncated toward zero. A level
// outside the converter's span saturates at 0 or 65535 instead of wrapping
// round when only the low 16 bits reach the chip.
int sbus_volts_to_code(double volts, const SBUS_DAC_SCALE* scale);

// Conversion pair that entry i converts through (dac_type 1..4 selects pair
// 0..3), or -1 when the entry does not convert: an entry converts only when
// it is a DAC level in use (i < number_dacs, i < number_registers).
int sbus_conversion_pair(const SBUS_STRUCTURE* image, int i);
// The code entry i's level converts to through its pair, or -1 when the
// entry does not convert: what the transfer sends for a converting entry.
int sbus_level_code(const SBUS_STRUCTURE* image, int i);

// Copies text into an entry's name, cut to 80 characters, always terminated.
void sbus_set_name(SBUS_STRUCTURE* image, int i, const char* text);

// Panel and control-array handles, set by start-up.
extern int panelHandle;
extern int AlarmRegCtrlArr, CmpRegCtrlArr, DrvRegCtrlArr, HexDataCtrlArr, LabelArr, PMURegCtrlArr,
    VoltDataCtrlArr;
