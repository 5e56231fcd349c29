// Sending the register image to the chip, entry by entry, and the panel's
// single-word write and read.
#pragma once

#include "app/core/sbus_image.h"

// What the image transfer last sent for each entry (-1: nothing yet).
struct SBUS_LAST_SENT {
    int data[SBUS_MAX_REGISTERS];
    int addr[SBUS_MAX_REGISTERS];
    int rw[SBUS_MAX_REGISTERS];
    int ch[SBUS_MAX_REGISTERS];
};
extern SBUS_LAST_SENT sbus_last_sent;
// Forgets what was sent (every element -1), as after a chip reset: the next
// transfer sends every entry in use.
int sbus_forget_last_sent(void);

// Sends the entries in use that changed since the last pass ("Write All
// Reg" forces every entry), of those a setup defined (sbus_entry_defined).
// No word goes while the link is not up, and only a word the link sent
// counts as sent: the first that does not go out ends the pass, and it and
// the rest stay due until the link is up again.
// With no setup loaded it sends nothing, prints SBUS_NO_SETUP and points
// sbus_no_setup_refused at it, which the report of the operator's action
// takes (and clears) to say so in the status bar. The bulk read-backs do
// the same with SBUS_NO_SETUP_READ, the saves of setup files with
// SBUS_NO_SETUP_SAVE. A refusal fails the CLI's step as well.
int sbus_structure_write_to_testequip(void);
extern const char SBUS_NO_SETUP[];
extern const char SBUS_NO_SETUP_READ[];
extern const char SBUS_NO_SETUP_SAVE[];
extern const char* sbus_no_setup_refused;
// What became of the operator's action when it did not do all its caption
// names and was no refusal: a load or save that did not happen or not
// wholly (no file chosen, a file not loaded or not written, fewer records
// than entries in use). The report of the action takes (and clears) it for
// the status bar, after a refusal; null otherwise.
extern const char* sbus_action_outcome;
// A word the link refused, or a read it brought no answer to, while the
// link stays up: `outcome` (text that outlives the action) becomes the
// outcome of the operator's action under way, so it is not reported as
// done. With the link lost or down, the link's state is the outcome and
// this leaves it so; outside an action (start-up) it records nothing that
// a later action could report as its own.
void sbus_link_failed(const char* outcome);
// Records the image's entries in use as what the transfer last sent: for an
// image read back from the chip, so the next pass sends only what changes.
void sbus_last_sent_from_image(void);
int part_single_write(void);
int part_single_read(void);
