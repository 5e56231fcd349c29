#include "control_table.h"

namespace panel_resource {
namespace {

std::vector<RingItem> numbered(const std::string& off, const std::string& prefix, int digits) {
    std::vector<RingItem> items{{0, off}};
    for (int v = 1; v < (1 << digits); ++v) {
        std::string bits;
        for (int b = digits - 1; b >= 0; --b) bits += ((v >> b) & 1) ? '1' : '0';
        items.push_back({v, prefix + bits});
    }
    return items;
}

// ID of the voltage numeric of DAC row i.
int voltsId(int row) {
    if (row >= 16) return 2 + (31 - row);  // DAC1_31 .. DAC1_16: 2 .. 17
    if (row == 15) return 36;
    if (row >= 3) return 53 + (14 - row);  // DAC1_14 .. DAC1_3: 53 .. 64
    if (row == 1) return 65;
    if (row == 2) return 66;
    return 67;
}

// ID of the name string of DAC row i.
int labelId(int row) {
    if (row >= 16) return 37 + (31 - row);  // LAB_31 .. LAB_16: 37 .. 52
    if (row == 1) return 68;
    if (row >= 2) return 96 + (15 - row);  // LAB_15 .. LAB_2: 96 .. 109
    return 110;
}

// ID of the code numeric ADDR_n (n = row + 1).
int codeId(int n) {
    if (n >= 17) return 69 + (32 - n);  // ADDR_32 .. ADDR_17: 69 .. 84
    return 111 + (16 - n);              // ADDR_16 .. ADDR_1: 111 .. 126
}

std::vector<ExpectedControl> build() {
    std::vector<ExpectedControl> t;
    auto add = [&](ExpectedControl c) { t.push_back(std::move(c)); };

    for (int row = 0; row < 32; ++row) {
        const std::string r = std::to_string(row);
        add({.name = "DAC1_" + r,
             .id = voltsId(row),
             .kind = "numeric",
             .dataType = "double",
             .callback = "volts_to_code",
             .array = "VOLTARR",
             .arrayIndex = row,
             .minimum = -2.5,
             .maximum = 7.5,
             .step = 0.1});
        add({.name = "ADDR_" + std::to_string(row + 1),
             .id = codeId(row + 1),
             .kind = "numeric",
             .dataType = "unsigned",
             .callback = "code_to_volts",
             .array = "HEXARR",
             .arrayIndex = row,
             .minimum = 0,
             .maximum = 65535,
             .step = 1});
        add({.name = "LAB_" + r,
             .id = labelId(row),
             .kind = "string",
             .dataType = "string",
             .array = "LABARR",
             .arrayIndex = row});
    }

    struct Button {
        int id;
        const char *name, *caption, *callback;
    };
    for (const Button& b : std::initializer_list<Button>{
             {18, "COMMANDBUTTON_7", "Exit", "auto_test_exit"},
             {19, "COMMANDBUTTON_6", "Reset FTDI232H", "reset_FTDI2232"},
             {20, "SBUSWRITE", "Write to Part", "create_sbus_select_setup_files"},
             {21, "COMMANDBUTTON_5", "Read Alarm Reg 0x1E", "clear_alarm"},
             {29, "SBUSLRN", "Save Setup", "create_sbus_select_setup_files"},
             {30, "SBUSSEL", "Load Setup", "create_sbus_select_setup_files"},
             {31, "ALL", "Write All Reg", "write_to_all_dacs"},
             {32, "ALL_2", "Read all Regs", "read_all_dacs"},
             {33, "COMMANDBUTTON_4", "Reset Part ", "reset"},
             {34, "SINGLEREAD", "Single Read from Part ", "single_readback"},
             {35, "COMMANDBUTTON", "Single Write To Part", "mode_write"},
             {171, "SETCLKFREQ", "Set SCLK Freq", "setclkfreq"},
         })
        add({.name = b.name,
             .id = b.id,
             .kind = "command",
             .dataType = "int",
             .caption = b.caption,
             .callback = b.callback});

    struct Numeric {
        int id;
        const char *name, *caption;
        int minimum, maximum, initial;
        const char* callback;
    };
    for (const Numeric& n : std::initializer_list<Numeric>{
             {22, "CLKFREQ", "Sclk Divider", 0, 59, 15, "setclkfreq"},
             {85, "DAT2", " Data Code", 0, 65535, 0, "translate_data1"},
             {86, "ADDR2", "Addr", 0, 127, 1, ""},
             {87, "RW2", "R/W", 0, 1, 0, ""},
             {88, "CH2", "CH", 1, 2, 1, ""},
             {89, "DATA_2", "", 0, 131071, 0, "translate_data2"},
             {90, "DATA_1", "Data Code", 0, 65535, 0, "translate_data1"},
             {91, "ADDR", "Addr", 0, 127, 127, ""},
             {92, "REG", "R/W", 0, 1, 1, ""},
             {93, "CH", "CH", 1, 3, 1, ""},
             {94, "DATA1", "Ch0 Alarm Mask", 0, 65535, 0, ""},
             {95, "DATA2", "Ch1 Alarm Mask", 0, 65535, 0, ""},
         })
        add({.name = n.name,
             .id = n.id,
             .kind = "numeric",
             .dataType = "unsigned",
             .caption = n.caption,
             .callback = n.callback,
             .minimum = double(n.minimum),
             .maximum = double(n.maximum),
             .step = 1,
             .initial = double(n.initial)});

    const auto clc = numbered("CLC Off", "CLC ", 3);
    const auto hys = numbered("HYS Off", "HYS ", 4);
    const std::vector<RingItem> enable{{0, "Enable"}, {1, "Disable"}};
    const std::vector<RingItem> fromCh{{0, "From Ch0"}, {1, "From Ch1"}};
    struct Field {
        int id;
        const char *name, *caption, *kind, *array;
        int index;
        std::vector<RingItem> items;
    };
    const std::vector<Field> fields{
        {150,
         "DRVPOWER",
         "Driver Power",
         "ringslide",
         "DRVREG",
         0,
         {{0, "Disable Low Leak"}, {1, "Driver Enabled"}}},
        {156,
         "DRVFORCE",
         "Force State",
         "ringslide",
         "DRVREG",
         1,
         {{0, "Data / Rcv"}, {1, "Vl"}, {3, "Vh"}, {5, "HiZ"}, {7, "Vt"}}},
        {154, "DRVRCV", "RCV High", "ringslide", "DRVREG", 2, {{0, "HiZ"}, {1, "Vt"}}},
        {153, "DRVDATAMUX", "Drv Data Mux", "ringslide", "DRVREG", 3, fromCh},
        {152, "DRVRCVMUX", "Drv RCV Mux", "ringslide", "DRVREG", 4, fromCh},
        {28, "DRVCLC", "Drv CLC ", "ring", "DRVREG", 5, clc},
        {155,
         "PMUPOWER",
         "PPMU  Power",
         "ringslide",
         "PMUREG",
         0,
         {{0, "PMU Disabled"}, {1, "PMU Enabled"}, {3, "PMU Standby FP"}}},
        {161,
         "PMURANGES",
         "PMU Ranges",
         "ringslide",
         "PMUREG",
         1,
         {{7, "Range A"}, {6, "Range B"}, {5, "Range C"}, {4, "Range D"}, {0, "Range E"}}},
        {160, "PMUFVFI", "Force VI ", "ringslide", "PMUREG", 2, {{0, "FV"}, {1, "FI"}}},
        {159, "PMUMVMI", "Meas VI", "ringslide", "PMUREG", 3, {{0, "MV"}, {1, "MI"}}},
        {151,
         "PMUINPUT",
         "PPMU Input",
         "ringslide",
         "PMUREG",
         4,
         {{2, "PPMU DAC"}, {0, "DUTGND"}, {1, "+2.5V"}}},
        {158, "PMUSENSE", "Sense", "ringslide", "PMUREG", 5, {{0, "Internal"}, {1, "External"}}},
        {157,
         "PMUCLAMPS",
         "Volt Clamps",
         "ringslide",
         "PMUREG",
         6,
         {{0, "Diasbled"}, {1, "Enabled"}}},
        {162,
         "PMUMEASOUT",
         "Meas Out Sel",
         "ringslide",
         "PMUREG",
         7,
         {{0, "HiZ"}, {1, "MV / MI"}, {2, "Temp Sensor "}}},
        {149,
         "CMPSEL",
         " Comparator Sel",
         "ringslide",
         "CMPREG",
         0,
         {{0, "Normal Window"}, {1, "Diff Comp"}}},
        {27, "CMPCLC", "Comp CLC ", "ring", "CMPREG", 1, clc},
        {25, "CMPHYS", "Comp Hyst", "ring", "CMPREG", 2, hys},
        {23, "DIFFCLC", "Diff  CLC ", "ring", "CMPREG", 3, clc},
        {24, "DIFFHYS", "Diff Hyst", "ring", "CMPREG", 4, hys},
        {147, "ALMOVD", "Alarm OVD", "ringslide", "ALARMREG", 0, enable},
        {146, "ALMPPMU", "Alarm PPMU", "ringslide", "ALARMREG", 1, enable},
        {144, "ALMTHERM", "Alarm Therm", "ringslide", "ALARMREG", 2, enable},
        {26,
         "ALMTHRES",
         "Thermal Threshold",
         "ring",
         "ALARMREG",
         3,
         {{0, "  0 DegC  - 000 "},
          {1, "  25 DegC - 001"},
          {2, "  50 DegC - 010"},
          {3, "  75 DegC - 011"},
          {4, " 100 DegC - 100"},
          {5, " 125 DegC - 101"},
          {6, " 150 DegC - 110"},
          {7, " 175 DegC - 111"}}},
        {145,
         "LOAD",
         "Load Power",
         "ringslide",
         "",
         -1,
         {{0, "Disabled"}, {1, "Enabled-RCV Cntrl"}, {3, "Force Load On"}}},
    };
    for (const Field& f : fields)
        add({.name = f.name,
             .id = f.id,
             .kind = f.kind,
             .dataType = "int",
             .caption = f.caption,
             .callback = "write_crtl_registers",
             .array = f.array,
             .arrayIndex = f.index,
             .items = f.items});

    add({.name = "DAC1TEXTBOX",
         .id = 127,
         .kind = "textbox",
         .dataType = "string",
         .caption = "SETUP FILE ",
         .initialText = "None Loaded"});
    add({.name = "LED_2", .id = 142, .kind = "led", .dataType = "int", .caption = "Write All"});
    add({.name = "LED", .id = 143, .kind = "led", .dataType = "int", .caption = "Busy"});
    add({.name = "MODECHSEL",
         .id = 170,
         .kind = "ring",
         .dataType = "int",
         .caption = "Write Read Ch0/1",
         .callback = "updatemodectrl",
         .items = {{0, "RW Ch0/Ch1"}, {1, "RW Ch0"}, {2, "RW CH1"}}});

    struct Message {
        int id;
        const char *name, *text;
    };
    for (const Message& m : std::initializer_list<Message>{
             {128, "TEXTMSG_49", "DAC Name"},
             {129, "TEXTMSG_39", "DAC Name"},
             {130, "TEXTMSG_50", "VOLTAGE"},
             {131, "TEXTMSG_40", "VOLTAGE"},
             {132, "TEXTMSG_48", "CODE"},
             {133, "TEXTMSG_41", "CODE"},
             {134, "TEXTMSG_46", "Load Register 0x1B"},
             {135, "TEXTMSG_47", " Single Read from Part "},
             {136, "TEXTMSG_45", "Alarm Register 0x1D"},
             {137, "TEXTMSG_44", "Comp Register 0x1A"},
             {138, "TEXTMSG_43", "Driver Register 0x19"},
             {139, "TEXTMSG_42", "PPMU Register 0x1C"},
             {140, "TEXTMSG_38", "KOVRA610 DAC Levels"},
             {141, "TEXTMSG_27", " Single Write To Part "},
             {172, "TEXTMSG_64", "FTDI 232H UART"},
         })
        add({.name = m.name,
             .id = m.id,
             .kind = "textmsg",
             .dataType = "string",
             .caption = m.text});

    add({.name = "PICTURE", .id = 148, .kind = "picture", .dataType = "int"});
    int id = 163;
    for (const char* s : {"SPLITTER_7", "SPLITTER_5", "SPLITTER_4", "SPLITTER_3", "SPLITTER_2",
                          "SPLITTER_6", "SPLITTER"})
        add({.name = s, .id = id++, .kind = "splitter", .dataType = "int"});
    return t;
}

std::vector<std::string> series(const std::string& prefix, int first, int last) {
    std::vector<std::string> names;
    for (int i = first; i <= last; ++i) names.push_back(prefix + std::to_string(i));
    return names;
}

}  // namespace

const std::vector<ExpectedControl>& expectedControls() {
    static const std::vector<ExpectedControl> table = build();
    return table;
}

const std::vector<ExpectedArray>& expectedArrays() {
    static const std::vector<ExpectedArray> arrays{
        {1, "ALARMREG", {"ALMOVD", "ALMPPMU", "ALMTHERM", "ALMTHRES"}},
        {2, "CMPREG", {"CMPSEL", "CMPCLC", "CMPHYS", "DIFFCLC", "DIFFHYS"}},
        {3, "DRVREG", {"DRVPOWER", "DRVFORCE", "DRVRCV", "DRVDATAMUX", "DRVRCVMUX", "DRVCLC"}},
        {4, "HEXARR", series("ADDR_", 1, 32)},
        {5, "LABARR", series("LAB_", 0, 31)},
        {6,
         "PMUREG",
         {"PMUPOWER", "PMURANGES", "PMUFVFI", "PMUMVMI", "PMUINPUT", "PMUSENSE", "PMUCLAMPS",
          "PMUMEASOUT"}},
        {7, "VOLTARR", series("DAC1_", 0, 31)},
    };
    return arrays;
}

}  // namespace panel_resource
