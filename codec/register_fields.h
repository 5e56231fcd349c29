// The panel's register fields as its panel file describes them: the rings
// and ring slides whose commit packs the register groups into the image and
// sends them (the controls bound to write_crtl_registers), with their ring
// values and captions, and the channel selection MODECHSEL. Read from the
// file, so a tool can name them before the panel is made.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct RegisterField {
    std::string name;                   // constant name, e.g. DRVFORCE
    int control = 0;                    // control ID
    std::string array;                  // control array (DRVREG, PMUREG, ...); empty for LOAD
    int item = 0;                       // item index in that array
    std::vector<int> values;            // ring values, in item order
    std::vector<std::string> captions;  // their captions

    // The ring value `text` names: one of `values` by its number (decimal or
    // 0x hex) or by its caption, blanks around either ignored; none if it
    // names no value of this field.
    std::optional<int> valueNamed(const std::string& text) const;
    // The caption of `value` without the blanks around it; none when the
    // ring lists no such value (a word read back from the chip may hold one).
    std::optional<std::string> captionOf(int value) const;
};

struct PanelFields {
    std::vector<RegisterField> fields;
    RegisterField channelSelection;
    // The field named `name`, compared without regard to case; null if none.
    const RegisterField* find(const std::string& name) const;
};

// Reads the register fields from the panel file at `path`; false with the
// reason when the file cannot be read.
bool read_register_fields(const std::string& path, PanelFields* out, std::string* why);
// The panel file `name` beside the running program, as the run-time looks
// it up.
std::string panel_file_beside_program(const char* name);
