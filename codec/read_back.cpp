// The bulk read-back of the entries a setup defined: the batched read, the
// comparison with the image, and the texts that say what each found.
#include <algorithm>
#include <cstdio>
#include <string>

#include "app/core/sbus_image.h"
#include "codec/codec.h"
#include "link/FT2232H.h"
#include "platform/json/json_text.h"
#include "platform/protocol/sbus_protocol.h"

namespace {

// "3 DVL_Ch0" and the like, joined by `separator`, for each entry in use
// that `pick` chooses.
template <typename Pick>
std::string entryList(const char* separator, Pick pick) {
    std::string out;
    for (int i = 0; i < sbus_entries_in_use(); ++i) {
        const std::string text = pick(i);
        if (!text.empty()) out += (out.empty() ? "" : separator) + text;
    }
    return out;
}

}  // namespace

int sbus_entries_in_use(void) {
    return std::clamp(sbus_structure.number_registers, 0, static_cast<int>(SBUS_MAX_REGISTERS));
}

int sbus_read_entries_fast(void) {
    sbus_read_back = {};
    // The entries a setup defined, in entry order, read in one stream.
    int entry[SBUS_MAX_REGISTERS], ch[SBUS_MAX_REGISTERS], addr[SBUS_MAX_REGISTERS];
    int n = 0;
    for (int i = 0; i < sbus_entries_in_use(); ++i) {
        if (sbus_entry_defined[i] == 0) continue;
        entry[n] = i;
        ch[n] = sbus_structure.ch[i];
        addr[n] = sbus_structure.addr[i];
        ++n;
    }
    unsigned int words[SBUS_MAX_REGISTERS] = {};
    int answered[SBUS_MAX_REGISTERS] = {};
    const int result = n > 0 ? FTD232_sbus_read_words(ch, addr, n, words, answered) : 0;
    for (int k = 0; k < n; ++k) {
        if (answered[k] == 0) continue;
        const int i = entry[k];
        const kovra610::sbus::Word answer = kovra610::sbus::unpack(words[k]);
        sbus_read_back.answered[i] = 1;
        sbus_read_back.addr[i] = static_cast<int>(answer.addr);
        sbus_read_back.rw[i] = static_cast<int>(answer.rw);
        sbus_read_back.data[i] = static_cast<int>(answer.data);
    }
    return result;
}

int sbus_entries_defined(void) {
    return static_cast<int>(
        std::count(sbus_entry_defined, sbus_entry_defined + sbus_entries_in_use(), 1));
}

int sbus_verify_read_back(void) {
    int differing = 0;
    for (int i = 0; i < sbus_entries_in_use(); ++i) {
        const auto image = static_cast<unsigned int>(sbus_structure.data[i]) & 0xFFFFu;
        sbus_read_back.differs[i] = sbus_read_back.answered[i] != 0 &&
                                    static_cast<unsigned int>(sbus_read_back.data[i]) != image;
        differing += sbus_read_back.differs[i];
    }
    return differing;
}

std::string sbus_batched_read_failure(void) {
    const auto answered =
        std::count(sbus_read_back.answered, sbus_read_back.answered + sbus_entries_in_use(), 1);
    return "the chip's reply to the batched read is short, missing or not for the registers asked "
           "(" +
           std::to_string(answered) + " of " + std::to_string(sbus_entries_defined()) +
           " answers arrived); nothing was stored";
}

std::string sbus_unanswered_entries(void) {
    return entryList(", ", [](int i) {
        if (sbus_entry_defined[i] == 0 || sbus_read_back.answered[i] != 0) return std::string();
        return std::to_string(i) + " (" + sbus_structure.name[i] + ")";
    });
}

std::string sbus_differences(void) {
    return entryList("; ", [](int i) {
        if (sbus_read_back.differs[i] == 0) return std::string();
        char text[160];
        std::snprintf(text, sizeof text, "%d %s ch=0x%X addr=0x%X image=0x%X chip=0x%X", i,
                      sbus_structure.name[i], static_cast<unsigned>(sbus_structure.ch[i]),
                      static_cast<unsigned>(sbus_structure.addr[i]),
                      static_cast<unsigned>(sbus_structure.data[i]) & 0xFFFFu,
                      static_cast<unsigned>(sbus_read_back.data[i]));
        return std::string(text);
    });
}

std::vector<std::string> sbus_read_back_rows(int differences) {
    const SBUS_STRUCTURE& image = sbus_structure;
    const int* marked = differences ? sbus_read_back.differs : sbus_read_back.answered;
    std::vector<std::string> rows;
    for (int i = 0; i < sbus_entries_in_use(); ++i) {
        if (marked[i] == 0) continue;
        kovra610::json::JsonMembers row;
        row.add("index", i)
            .add("name", image.name[i])
            .add("ch", image.ch[i])
            .add("addr", image.addr[i]);
        if (differences) {
            row.add("image", static_cast<unsigned>(image.data[i]) & 0xFFFFu);
            row.add("chip", sbus_read_back.data[i]);
        } else {
            row.add("rw", sbus_read_back.rw[i]).add("data", image.data[i]);
            i < image.number_dacs ? row.number("volts", image.volts[i]) : row.raw("volts", "null");
        }
        rows.push_back(row.object());
    }
    return rows;
}
