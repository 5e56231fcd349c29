// Sends the register image to the chip, entry by entry, only what changed
// since the last pass unless "Write All Reg" forces every entry.
#include "app/core/transfer.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "link/FT2232H.h"
#include "panel/kovra610 evaluation board uir.h"
#include "platform/protocol/sbus_protocol.h"
#include "platform/runtime/panel_runtime.h"

namespace {

// The four fields of a serial-bus word as the panel's single-word controls
// hold them: channel, read/write flag, address and data.
struct PanelWord {
    unsigned int ch = 0, rw = 0, addr = 0, data = 0;
};

PanelWord panelWord(int chControl, int rwControl, int addrControl, int dataControl) {
    PanelWord w;
    GetCtrlVal(panelHandle, chControl, &w.ch);
    GetCtrlVal(panelHandle, rwControl, &w.rw);
    GetCtrlVal(panelHandle, addrControl, &w.addr);
    GetCtrlVal(panelHandle, dataControl, &w.data);
    return w;
}

SBUS_LAST_SENT nothingSentYet() {
    SBUS_LAST_SENT sent;
    std::memset(&sent, 0xFF, sizeof sent);  // every element -1
    return sent;
}

// What the entries no setup defined held at the last pass: they are never
// sent, and a change to one is said instead of dropped unseen.
SBUS_LAST_SENT undefinedSeen = nothingSentYet();

// The text of the last pass that found changed entries no setup defined.
char unsentText[400];

// Whether entry i, which no setup defined, changed since the last pass
// (not at the first pass that sees it); it is remembered as it is now.
bool undefinedEntryChanged(const SBUS_STRUCTURE& image, int i) {
    SBUS_LAST_SENT& seen = undefinedSeen;
    const bool changed =
        seen.data[i] != -1 && (image.data[i] != seen.data[i] || image.addr[i] != seen.addr[i] ||
                               image.rw[i] != seen.rw[i] || image.ch[i] != seen.ch[i]);
    seen.data[i] = image.data[i];
    seen.addr[i] = image.addr[i];
    seen.rw[i] = image.rw[i];
    seen.ch[i] = image.ch[i];
    return changed;
}

// The text of the last pass that a refused word ended.
char refusedText[200];

// Says which changed entries were not sent, on the console, and points
// sbus_no_setup_refused at the text for the status bar.
void sayUnsent(const std::string& entries, int count) {
    std::snprintf(unsentText, sizeof unsentText,
                  count == 1 ? "Entry %s holds no setup: its change is not sent - load a setup "
                               "file that defines it"
                             : "Entries %s hold no setup: their changes are not sent - load a "
                               "setup file that defines them",
                  entries.c_str());
    printf("%s\n", unsentText);
    sbus_no_setup_refused = unsentText;
}

}  // namespace

SBUS_LAST_SENT sbus_last_sent = nothingSentYet();
const char SBUS_NO_SETUP[] = "No setup loaded: nothing sent - load a setup file first";
const char SBUS_NO_SETUP_READ[] = "No setup loaded: nothing read - load a setup file first";
const char SBUS_NO_SETUP_SAVE[] = "No setup loaded: nothing saved - load a setup file first";
const char* sbus_no_setup_refused = nullptr;
const char* sbus_action_outcome = nullptr;

void sbus_link_failed(const char* outcome) {
    if (FTD232_link_state() == LINK_UP && kovra610::runtime::actionUnderWay())
        sbus_action_outcome = outcome;
}

int sbus_forget_last_sent(void) {
    sbus_last_sent = nothingSentYet();
    return 0;
}

int sbus_structure_write_to_testequip(void) {
    SBUS_STRUCTURE* const image = &sbus_structure;
    SuspendTimerCallbacks();

    int forced = 0;
    GetCtrlVal(panelHandle, LED_2, &forced);
    if (forced == 1) sbus_forget_last_sent();

    if (image->number_registers > SBUS_MAX_REGISTERS) {
        MessagePopup("SPI REGISTER ERROR",
                     "Ptr->number_registers is larger than 64, Please change varible value in "
                     "your test code load defaults test");
    }

    // Only what a setup defined goes to the chip: an entry no setup file
    // gave holds a placeholder (channel 1, address 1), never a setting.
    if (!sbus_setup_loaded()) {
        printf("%s\n", SBUS_NO_SETUP);
        sbus_no_setup_refused = SBUS_NO_SETUP;
        ResumeTimerCallbacks();
        return 0;
    }

    SetCtrlVal(panelHandle, LED, 1);
    std::string unsent;
    int unsentCount = 0;
    for (int i = 0; i < image->number_registers && i < SBUS_MAX_REGISTERS; ++i) {
        const int code = sbus_level_code(image, i);
        if (code >= 0) {
            // A code committed on an entry that converts lasts until here:
            // its field shows the code of the level that goes instead.
            if (code != image->data[i])
                SetCtrlVal(panelHandle, GetCtrlArrayItem(HexDataCtrlArr, i),
                           static_cast<unsigned int>(code));
            image->data[i] = code;
        }
        if (sbus_entry_defined[i] == 0) {
            if (undefinedEntryChanged(*image, i)) {
                unsent += (unsent.empty() ? "" : ", ") + std::to_string(i);
                ++unsentCount;
            }
            continue;
        }

        const bool due =
            image->data[i] != sbus_last_sent.data[i] || image->addr[i] != sbus_last_sent.addr[i] ||
            image->rw[i] != sbus_last_sent.rw[i] || image->ch[i] != sbus_last_sent.ch[i];
        int data = image->data[i], addr = image->addr[i], rw = image->rw[i], ch = image->ch[i];
        if (due) {
            // No word goes on a link that is not up (it could not arrive):
            // the entry stays due until the link is reopened.
            if (FTD232_link_state() != LINK_UP) continue;
            ProcessSystemEvents();
            // What goes on the wire is what is recorded as sent: an edit that
            // a nested callback makes to this entry while its word is on the
            // way is still due at the next pass.
            data = image->data[i];
            addr = image->addr[i];
            rw = image->rw[i];
            ch = image->ch[i];
            // A word the link did not send is not recorded as sent: it stays
            // due, and the pass ends here (the link is down or lost, and
            // every further word would fail the same way).
            const bool sent = FTD232_sbus_serial_write(image, i) == 0;
            ProcessSystemEvents();
            if (!sent) {
                std::snprintf(refusedText, sizeof refusedText,
                              "not all sent: the link refused the word of entry %d (%s); it and "
                              "the changes after it go with the next transfer",
                              i, image->name[i]);
                sbus_link_failed(refusedText);
                break;
            }
        }
        sbus_last_sent.data[i] = data;
        sbus_last_sent.addr[i] = addr;
        sbus_last_sent.rw[i] = rw;
        sbus_last_sent.ch[i] = ch;
    }
    SetCtrlVal(panelHandle, LED, 0);
    if (unsentCount > 0) sayUnsent(unsent, unsentCount);

    ResumeTimerCallbacks();
    return 0;
}

void sbus_last_sent_from_image(void) {
    for (int i = 0; i < sbus_structure.number_registers && i < SBUS_MAX_REGISTERS; ++i) {
        sbus_last_sent.data[i] = sbus_structure.data[i];
        sbus_last_sent.addr[i] = sbus_structure.addr[i];
        sbus_last_sent.rw[i] = sbus_structure.rw[i];
        sbus_last_sent.ch[i] = sbus_structure.ch[i];
    }
}

int part_single_write(void) {
    const PanelWord w = panelWord(CH, REG, ADDR, DATA_1);
    if (w.rw == 0) {
        // A read cycle; the answer is dropped.
        if (FTD232_sbus_read_word(static_cast<int>(w.ch), static_cast<int>(w.addr),
                                  static_cast<int>(w.data), nullptr) != 0)
            sbus_link_failed("the read cycle got no answer");
    } else if (FTD232_sbus_single_write(w.ch, w.rw, w.addr, w.data) != 0) {
        sbus_link_failed("not sent: the link refused the word");
    }
    return 0;
}

int part_single_read(void) {
    const PanelWord w = panelWord(CH2, RW2, ADDR2, DAT2);
    unsigned int word = 0;
    if (FTD232_sbus_read_word(static_cast<int>(w.ch), static_cast<int>(w.addr),
                              static_cast<int>(w.data), &word) != 0) {
        printf("Single read ch=0x%X addr=0x%X failed: fields kept\n", w.ch, w.addr);
        sbus_link_failed("read failed: fields kept");
        return 0;
    }
    const kovra610::sbus::Word answer = kovra610::sbus::unpack(word);
    SetCtrlVal(panelHandle, CH2, answer.ch);
    SetCtrlVal(panelHandle, RW2, answer.rw);
    SetCtrlVal(panelHandle, ADDR2, answer.addr);
    SetCtrlVal(panelHandle, DAT2, answer.data);
    return 0;
}
