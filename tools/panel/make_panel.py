#!/usr/bin/env python3
"""Writes the operator panel resource and its constants header.

The control list below is the panel: constant name, kind, data type, range,
initial value, caption, callback, ring items and control array, in the panel's
own order (a control's ID is its position in the list plus 1), together with
where each control sits on the panel.

    tools/panel/make_panel.py [--out-dir panel] [--test-list FILE] [--list FILE]

writes "kovra610 evaluation board uir.uir" and "kovra610 evaluation board uir.h"
into the output folder. With --test-list it also writes the C++ list of
(constant name, constant) pairs that the resource test compiles against the
header. With --list it also writes the control list itself as JSON, so that
the resource test checks the panel file against this list.
"""

import argparse
import json
import os
from xml.sax.saxutils import escape

UIR_NAME = "kovra610 evaluation board uir.uir"
HEADER_NAME = "kovra610 evaluation board uir.h"
PICTURE_NAME = "kovra610_board.png"

PANEL = dict(name="SBUS_1", resource_id=2, title="KOVRA610", left=9, top=21, width=1271,
             height=932, background="#C0C0C0")

ARRAYS = ["ALARMREG", "CMPREG", "DRVREG", "HEXARR", "LABARR", "PMUREG", "VOLTARR"]

CLC_ITEMS = [(0, "CLC Off")] + [(v, "CLC " + format(v, "03b")) for v in range(1, 8)]
HYS_ITEMS = [(0, "HYS Off")] + [(v, "HYS " + format(v, "04b")) for v in range(1, 16)]
THRES_ITEMS = [(0, "  0 DegC  - 000 "), (1, "  25 DegC - 001"), (2, "  50 DegC - 010"),
               (3, "  75 DegC - 011"), (4, " 100 DegC - 100"), (5, " 125 DegC - 101"),
               (6, " 150 DegC - 110"), (7, " 175 DegC - 111")]
ENABLE_ITEMS = [(0, "Enable"), (1, "Disable")]
FROM_CH_ITEMS = [(0, "From Ch0"), (1, "From Ch1")]

# ---------------------------------------------------------------------------
# Layout. The DAC rows fill the left column in two blocks; the register groups
# sit in bands on the right; single write/read, alarm read-back and the board
# picture share the bottom band with the setup-file and link buttons.

ROW_H = 22      # numerics, strings, rings
BTN_H = 26      # command buttons
CAPTION = 18    # band the run-time draws a caption in, above the control

DAC_X_NAME, DAC_W_NAME = 10, 110
DAC_X_VOLT, DAC_W_VOLT = 126, 80
DAC_X_CODE, DAC_W_CODE = 212, 76
DAC_PITCH = 25
DAC_BLOCK_Y = (28, 458)  # column headers of the two blocks; rows follow 20 px below


def dac_row_y(row):
    block = row // 16
    return DAC_BLOCK_Y[block] + 20 + DAC_PITCH * (row % 16)


def slide_h(items):
    return 16 * len(items) + 6


# ---------------------------------------------------------------------------
# The control list.

controls = []


def add(name, kind, dtype, geom, caption=None, callback=None, **extra):
    controls.append(dict(name=name, kind=kind, dtype=dtype, geom=geom, caption=caption,
                         callback=callback, **extra))


def volts(row):
    add(f"DAC1_{row}", "numeric", "double", (DAC_X_VOLT, dac_row_y(row), DAC_W_VOLT, ROW_H),
        callback="volts_to_code", array=("VOLTARR", row), rng=(-2.5, 7.5, 0.1), init=0.0)


def code(row):
    add(f"ADDR_{row + 1}", "numeric", "unsigned", (DAC_X_CODE, dac_row_y(row), DAC_W_CODE, ROW_H),
        callback="code_to_volts", array=("HEXARR", row), rng=(0, 65535, 1), init=0)


def label(row):
    add(f"LAB_{row}", "string", "string", (DAC_X_NAME, dac_row_y(row), DAC_W_NAME, ROW_H),
        array=("LABARR", row), init="")


def button(name, caption, callback, geom):
    add(name, "command", "int", geom, caption=caption, callback=callback)


def unsigned(name, caption, lo, hi, init, callback, geom):
    add(name, "numeric", "unsigned", geom, caption=caption, callback=callback, rng=(lo, hi, 1),
        init=init)


def ring(name, caption, items, array, geom, callback="write_crtl_registers"):
    add(name, "ring", "int", geom, caption=caption, callback=callback, items=items, array=array,
        init=0)


def slide(name, caption, items, array, x, y, w):
    add(name, "ringslide", "int", (x, y, w, slide_h(items)), caption=caption,
        callback="write_crtl_registers", items=items, array=array, init=0)


def textmsg(name, text, geom):
    add(name, "textmsg", "string", geom, caption=text)


def splitter(name, geom, vertical):
    add(name, "splitter", "int", geom, vertical=vertical)


R1, R2, R3, R4 = 44, 186, 332, 476   # captioned controls of the four bands on the right

for row in range(31, 15, -1):                                               # 2..17
    volts(row)
button("COMMANDBUTTON_7", "Exit", "auto_test_exit", (1134, 896, 120, 28))     # 18
button("COMMANDBUTTON_6", "Reset FTDI232H", "reset_FTDI2232", (884, 608, 130, BTN_H))
button("SBUSWRITE", "Write to Part", "create_sbus_select_setup_files", (884, 508, 118, BTN_H))
button("COMMANDBUTTON_5", "Read Alarm Reg 0x1E", "clear_alarm", (310, 604, 160, BTN_H))
unsigned("CLKFREQ", "Sclk Divider", 0, 59, 15, "setclkfreq", (884, 662, 80, ROW_H))   # 22
ring("DIFFCLC", "Diff  CLC ", CLC_ITEMS, ("CMPREG", 3), (658, R2, 90, ROW_H))         # 23
ring("DIFFHYS", "Diff Hyst", HYS_ITEMS, ("CMPREG", 4), (756, R2, 100, ROW_H))
ring("CMPHYS", "Comp Hyst", HYS_ITEMS, ("CMPREG", 2), (550, R2, 100, ROW_H))
ring("ALMTHRES", "Thermal Threshold", THRES_ITEMS, ("ALARMREG", 3), (884, 250, 150, ROW_H))
ring("CMPCLC", "Comp CLC ", CLC_ITEMS, ("CMPREG", 1), (452, R2, 90, ROW_H))
ring("DRVCLC", "Drv CLC ", CLC_ITEMS, ("DRVREG", 5), (864, R1, 96, ROW_H))          # 28
button("SBUSLRN", "Save Setup", "create_sbus_select_setup_files", (1010, 508, 118, BTN_H))
button("SBUSSEL", "Load Setup", "create_sbus_select_setup_files", (1136, 508, 118, BTN_H))
button("ALL", "Write All Reg", "write_to_all_dacs", (884, 542, 118, BTN_H))
button("ALL_2", "Read all Regs", "read_all_dacs", (1010, 542, 118, BTN_H))
button("COMMANDBUTTON_4", "Reset Part ", "reset", (1024, 608, 110, BTN_H))
button("SINGLEREAD", "Single Read from Part ", "single_readback", (710, 550, 160, BTN_H))
button("COMMANDBUTTON", "Single Write To Part", "mode_write", (710, 474, 160, BTN_H))  # 35
volts(15)                                                                   # 36
for row in range(31, 15, -1):                                               # 37..52
    label(row)
for row in range(14, 2, -1):                                                # 53..64
    volts(row)
volts(1)                                                                    # 65
volts(2)
volts(0)
label(1)                                                                    # 68
for row in range(31, 15, -1):                                               # 69..84
    code(row)
unsigned("DAT2", " Data Code", 0, 65535, 0, "translate_data1", (516, 552, 84, ROW_H))  # 85
unsigned("ADDR2", "Addr", 0, 127, 1, None, (442, 552, 64, ROW_H))
unsigned("RW2", "R/W", 0, 1, 0, None, (376, 552, 56, ROW_H))
unsigned("CH2", "CH", 1, 2, 1, None, (310, 552, 56, ROW_H))
unsigned("DATA_2", None, 0, 131071, 0, "translate_data2", (610, R4, 90, ROW_H))
unsigned("DATA_1", "Data Code", 0, 65535, 0, "translate_data1", (516, R4, 84, ROW_H))  # 90
unsigned("ADDR", "Addr", 0, 127, 127, None, (442, R4, 64, ROW_H))
unsigned("REG", "R/W", 0, 1, 1, None, (376, R4, 56, ROW_H))
unsigned("CH", "CH", 1, 3, 1, None, (310, R4, 56, ROW_H))
unsigned("DATA1", "Ch0 Alarm Mask", 0, 65535, 0, None, (486, 606, 104, ROW_H))
unsigned("DATA2", "Ch1 Alarm Mask", 0, 65535, 0, None, (606, 606, 104, ROW_H))   # 95
for row in range(15, 1, -1):                                                # 96..109
    label(row)
label(0)                                                                    # 110
for row in range(15, -1, -1):                                               # 111..126
    code(row)
add("DAC1TEXTBOX", "textbox", "string", (884, 456, 370, 44), caption="SETUP FILE ",
    init="None Loaded")                                                      # 127
headers = [(n, b, c) for n, b, c in [
    ("TEXTMSG_49", 0, 0), ("TEXTMSG_39", 1, 0), ("TEXTMSG_50", 0, 1), ("TEXTMSG_40", 1, 1),
    ("TEXTMSG_48", 0, 2), ("TEXTMSG_41", 1, 2)]]
for name, block, col in headers:                                            # 128..133
    x, w = [(DAC_X_NAME, DAC_W_NAME), (DAC_X_VOLT, DAC_W_VOLT), (DAC_X_CODE, DAC_W_CODE)][col]
    textmsg(name, ["DAC Name", "VOLTAGE", "CODE"][col], (x, DAC_BLOCK_Y[block], w, 18))
textmsg("TEXTMSG_46", "Load Register 0x1B", (984, 4, 160, 18))              # 134
textmsg("TEXTMSG_47", " Single Read from Part ", (310, 512, 180, 18))
textmsg("TEXTMSG_45", "Alarm Register 0x1D", (884, 146, 160, 18))
textmsg("TEXTMSG_44", "Comp Register 0x1A", (310, 146, 160, 18))
textmsg("TEXTMSG_43", "Driver Register 0x19", (310, 4, 160, 18))
textmsg("TEXTMSG_42", "PPMU Register 0x1C", (310, 292, 160, 18))
textmsg("TEXTMSG_38", "KOVRA610 DAC Levels", (10, 4, 278, 18))
textmsg("TEXTMSG_27", " Single Write To Part ", (310, 436, 180, 18))       # 141
add("LED_2", "led", "int", (960, 720, 24, 24), caption="Write All", init=0, on_color="#FFB000")
add("LED", "led", "int", (884, 720, 24, 24), caption="Busy", init=0, on_color="#00E000")
slide("ALMTHERM", "Alarm Therm", ENABLE_ITEMS, ("ALARMREG", 2), 1074, R2, 90)   # 144
slide("LOAD", "Load Power",
      [(0, "Disabled"), (1, "Enabled-RCV Cntrl"), (3, "Force Load On")], None, 984, R1, 150)
slide("ALMPPMU", "Alarm PPMU", ENABLE_ITEMS, ("ALARMREG", 1), 974, R2, 90)
slide("ALMOVD", "Alarm OVD", ENABLE_ITEMS, ("ALARMREG", 0), 884, R2, 80)
add("PICTURE", "picture", "int", (310, 646, 540, 280), picture=PICTURE_NAME)       # 148
slide("CMPSEL", " Comparator Sel", [(0, "Normal Window"), (1, "Diff Comp")], ("CMPREG", 0),
      310, R2, 134)
slide("DRVPOWER", "Driver Power", [(0, "Disable Low Leak"), (1, "Driver Enabled")],
      ("DRVREG", 0), 310, R1, 144)
slide("PMUINPUT", "PPMU Input", [(2, "PPMU DAC"), (0, "DUTGND"), (1, "+2.5V")], ("PMUREG", 4),
      692, R3, 100)
slide("DRVRCVMUX", "Drv RCV Mux", FROM_CH_ITEMS, ("DRVREG", 4), 756, R1, 100)
slide("DRVDATAMUX", "Drv Data Mux", FROM_CH_ITEMS, ("DRVREG", 3), 648, R1, 100)
slide("DRVRCV", "RCV High", [(0, "HiZ"), (1, "Vt")], ("DRVREG", 2), 570, R1, 70)
slide("PMUPOWER", "PPMU  Power", [(0, "PMU Disabled"), (1, "PMU Enabled"), (3, "PMU Standby FP")],
      ("PMUREG", 0), 310, R3, 138)
slide("DRVFORCE", "Force State",
      [(0, "Data / Rcv"), (1, "Vl"), (3, "Vh"), (5, "HiZ"), (7, "Vt")], ("DRVREG", 1), 462, R1,
      100)
slide("PMUCLAMPS", "Volt Clamps", [(0, "Diasbled"), (1, "Enabled")], ("PMUREG", 6), 896, R3, 88)
slide("PMUSENSE", "Sense", [(0, "Internal"), (1, "External")], ("PMUREG", 5), 800, R3, 88)
slide("PMUMVMI", "Meas VI", [(0, "MV"), (1, "MI")], ("PMUREG", 3), 620, R3, 64)
slide("PMUFVFI", "Force VI ", [(0, "FV"), (1, "FI")], ("PMUREG", 2), 548, R3, 64)
slide("PMURANGES", "PMU Ranges",
      [(7, "Range A"), (6, "Range B"), (5, "Range C"), (4, "Range D"), (0, "Range E")],
      ("PMUREG", 1), 456, R3, 84)
slide("PMUMEASOUT", "Meas Out Sel", [(0, "HiZ"), (1, "MV / MI"), (2, "Temp Sensor ")],
      ("PMUREG", 7), 992, R3, 118)                                            # 162
splitter("SPLITTER_7", (298, 4, 4, 922), True)                              # 163
splitter("SPLITTER_5", (968, 4, 4, 130), True)
splitter("SPLITTER_4", (310, 136, 951, 4), False)
splitter("SPLITTER_3", (872, 142, 4, 140), True)
splitter("SPLITTER_2", (310, 284, 951, 4), False)
splitter("SPLITTER_6", (310, 426, 951, 4), False)
splitter("SPLITTER", (872, 432, 4, 494), True)                              # 169
ring("MODECHSEL", "Write Read Ch0/1", [(0, "RW Ch0/Ch1"), (1, "RW Ch0"), (2, "RW CH1")], None,
     (1142, R1, 118, ROW_H), callback="updatemodectrl")                     # 170
button("SETCLKFREQ", "Set SCLK Freq", "setclkfreq", (974, 660, 120, BTN_H))
textmsg("TEXTMSG_64", "FTDI 232H UART", (884, 584, 160, 18))                 # 172

FIRST_ID = 2


# ---------------------------------------------------------------------------
# Writers.

def s(text):
    return f"<string>{escape(text)}</string>"


def code_s(text):
    """A string for the run-time, not for people: Designer leaves it out of translation."""
    return f'<string notr="true">{escape(text)}</string>'


def prop(name, value_xml, dynamic=False, indent=3):
    stdset = ' stdset="0"' if dynamic else ""
    pad = " " * indent
    return f'{pad}<property name="{name}"{stdset}>\n{pad} {value_xml}\n{pad}</property>\n'


def num(v):
    return f"<number>{v}</number>"


def dbl(v):
    return f"<double>{v!r}</double>"


def palette_xml(colour):
    """A palette whose window colour is `colour` ("#RRGGBB") in every state."""
    r, g, b = (int(colour[i:i + 2], 16) for i in (1, 3, 5))
    role = ('     <colorrole role="Window">\n      <brush brushstyle="SolidPattern">\n'
            f'       <color alpha="255">\n        <red>{r}</red>\n        <green>{g}</green>\n'
            f'        <blue>{b}</blue>\n       </color>\n      </brush>\n     </colorrole>\n')
    groups = "".join(f"    <{state}>\n{role}    </{state}>\n"
                     for state in ("active", "inactive", "disabled"))
    return f"<palette>\n{groups}   </palette>"


def rect(x, y, w, h):
    return (f"<rect>\n     <x>{x}</x>\n     <y>{y}</y>\n     <width>{w}</width>\n"
            f"     <height>{h}</height>\n    </rect>")


WIDGET_CLASS = {"command": "QPushButton", "ring": "QComboBox", "ringslide": "RingSlide",
                "string": "QLineEdit", "textbox": "QPlainTextEdit", "textmsg": "QLabel",
                "led": "Led", "picture": "QLabel", "splitter": "QFrame"}


def widget_xml(c, ctrl_id):
    kind = c["kind"]
    cls = WIDGET_CLASS.get(kind)
    if kind == "numeric":
        cls = "QDoubleSpinBox" if c["dtype"] == "double" else "QSpinBox"
    out = f'  <widget class="{cls}" name="{c["name"]}">\n'
    out += prop("geometry", rect(*c["geom"]))
    if kind == "numeric":
        lo, hi, step = c["rng"]
        if c["dtype"] == "double":
            out += prop("decimals", num(3))
            out += prop("minimum", dbl(lo)) + prop("maximum", dbl(hi))
            out += prop("singleStep", dbl(step)) + prop("value", dbl(c["init"]))
        else:
            out += prop("minimum", num(lo)) + prop("maximum", num(hi))
            out += prop("singleStep", num(step)) + prop("value", num(c["init"]))
    elif kind == "command":
        out += prop("text", s(c["caption"]))
    elif kind == "ring":
        out += prop("currentIndex", num([v for v, _ in c["items"]].index(c["init"])))
    elif kind == "string":
        out += prop("text", s(c["init"]))
    elif kind == "textbox":
        out += prop("plainText", s(c["init"]))
    elif kind == "textmsg":
        out += prop("text", s(c["caption"]))
    elif kind == "picture":
        out += prop("pixmap", f"<pixmap>{c['picture']}</pixmap>")
        out += prop("scaledContents", "<bool>true</bool>")
    elif kind == "splitter":
        shape = "VLine" if c["vertical"] else "HLine"
        out += prop("frameShape", f"<enum>QFrame::{shape}</enum>")
        out += prop("frameShadow", "<enum>QFrame::Sunken</enum>")
    out += prop("ctrlId", num(ctrl_id), True)
    out += prop("ctrlKind", code_s(kind), True)
    out += prop("dataType", code_s(c["dtype"]), True)
    if c["caption"] is not None:
        out += prop("caption", s(c["caption"]), True)
    if c["callback"]:
        out += prop("callback", code_s(c["callback"]), True)
    if c.get("array"):
        out += prop("ctrlArray", code_s(c["array"][0]), True)
        out += prop("ctrlArrayIndex", num(c["array"][1]), True)
    if kind in ("ring", "ringslide"):
        out += prop("ringValues", code_s(",".join(str(v) for v, _ in c["items"])), True)
    if kind == "ringslide":
        items = "".join(s(t) for _, t in c["items"])
        out += prop("ringItems", f"<stringlist>{items}</stringlist>", True)
    if kind in ("ringslide", "led"):
        out += prop("value", num(c["init"]), True)
    if kind == "led":
        out += prop("onColor", code_s(c["on_color"]), True)
    if kind == "ring":
        for _, text in c["items"]:
            out += f'   <item>\n    <property name="text">\n     {s(text)}\n    </property>\n   </item>\n'
    out += "  </widget>\n"
    return out


def tab_order():
    """DAC rows first, row by row, then the other controls in reading order."""
    by_name = {c["name"]: c for c in controls}
    order = []
    for row in range(32):
        order += [f"LAB_{row}", f"DAC1_{row}", f"ADDR_{row + 1}"]
    rest = [c for c in controls if c["name"] not in order
            and c["kind"] not in ("textmsg", "picture", "splitter", "led")]
    # Reading order by band: bands on the right are read left to right.
    rest.sort(key=lambda c: (c["geom"][0] >= 872 and c["geom"][1] > 430, c["geom"][1] // 30,
                             c["geom"][0], c["geom"][1]))
    assert all(n in by_name for n in order)
    return order + [c["name"] for c in rest]


def write_uir(path):
    p = PANEL
    arrays = ";".join(f"{i + 1}:{a}" for i, a in enumerate(ARRAYS))
    out = '<?xml version="1.0" encoding="UTF-8"?>\n<ui version="4.0">\n'
    out += f" <class>{p['name']}</class>\n"
    out += f' <widget class="QWidget" name="{p["name"]}">\n'
    out += prop("geometry", rect(p["left"], p["top"], p["width"], p["height"]), indent=2)
    out += prop("windowTitle", s(p["title"]), indent=2)
    # The background is the panel's palette, not a style sheet: a style sheet
    # on the panel makes Qt style every control through its slow style-sheet
    # engine, which costs start-up time for nothing.
    out += prop("autoFillBackground", "<bool>true</bool>", indent=2)
    out += prop("palette", palette_xml(p["background"]), indent=2)
    out += prop("panelResourceId", num(p["resource_id"]), True, indent=2)
    out += prop("ctrlArrays", code_s(arrays), True, indent=2)
    for i, c in enumerate(controls):
        out += widget_xml(c, FIRST_ID + i)
    out += " </widget>\n"
    out += " <tabstops>\n" + "".join(f"  <tabstop>{n}</tabstop>\n" for n in tab_order())
    out += " </tabstops>\n <customwidgets>\n"
    out += ("  <customwidget>\n   <class>RingSlide</class>\n   <extends>QWidget</extends>\n"
            "   <header>ringslide.h</header>\n  </customwidget>\n")
    out += ("  <customwidget>\n   <class>Led</class>\n   <extends>QWidget</extends>\n"
            "   <header>led.h</header>\n  </customwidget>\n")
    out += " </customwidgets>\n <resources/>\n <connections/>\n</ui>\n"
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        f.write(out)


def write_header(path):
    out = ("// Constants of the operator panel \"" + UIR_NAME + "\": the panel, the\n"
           "// numeric ID of every control and the resource IDs of the control arrays.\n"
           "// Written by tools/panel/make_panel.py together with the panel resource.\n"
           "#pragma once\n\n")
    out += "// Panel\n"
    out += f"inline constexpr int {PANEL['name']} = {PANEL['resource_id']};\n\n"
    out += "// Controls of " + PANEL["name"] + "\n"
    for i, c in enumerate(controls):
        out += f"inline constexpr int {c['name']} = {FIRST_ID + i};\n"
    out += "\n// Control arrays\n"
    for i, a in enumerate(ARRAYS):
        out += f"inline constexpr int {a} = {i + 1};\n"
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        f.write(out)


def write_test_list(path):
    out = ("// Every constant of the panel header with its name, for the resource test.\n"
           "// Written by tools/panel/make_panel.py --test-list.\n"
           "// clang-format off\n")
    out += "#define KOVRA610_PANEL_CONTROL_CONSTANTS(X) \\\n"
    out += " \\\n".join(f"    X({c['name']})" for c in controls) + "\n"
    out += "#define KOVRA610_PANEL_ARRAY_CONSTANTS(X) \\\n"
    out += " \\\n".join(f"    X({a})" for a in ARRAYS) + "\n"
    out += "// clang-format on\n"
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        f.write(out)


def listed_control(c, ctrl_id):
    """One control of the list as the resource test reads it."""
    array, index = c.get("array") or ("", -1)
    out = dict(name=c["name"], id=ctrl_id, kind=c["kind"], dataType=c["dtype"],
               caption=c["caption"] or "", callback=c["callback"] or "", array=array,
               arrayIndex=index, items=[dict(value=v, text=t) for v, t in c.get("items", [])])
    if "rng" in c:
        out.update(minimum=c["rng"][0], maximum=c["rng"][1], step=c["rng"][2])
    init = c.get("init")
    if isinstance(init, str):
        out["initialText"] = init
    elif init is not None:
        out["initial"] = init
    return out


def write_list(path):
    listed = dict(
        panel=dict(name=PANEL["name"], resourceId=PANEL["resource_id"]),
        arrays=[dict(resourceId=i + 1, name=a) for i, a in enumerate(ARRAYS)],
        controls=[listed_control(c, FIRST_ID + i) for i, c in enumerate(controls)])
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        json.dump(listed, f, indent=1)
        f.write("\n")


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--out-dir", default=os.path.join(here, "..", "..", "panel"))
    ap.add_argument("--test-list")
    ap.add_argument("--list")
    args = ap.parse_args()
    assert len(controls) == 171, len(controls)
    names = [c["name"] for c in controls]
    assert len(set(names)) == len(names)
    write_uir(os.path.join(args.out_dir, UIR_NAME))
    write_header(os.path.join(args.out_dir, HEADER_NAME))
    if args.test_list:
        write_test_list(args.test_list)
    if args.list:
        write_list(args.list)


if __name__ == "__main__":
    main()
