// The four packed register words. Each row maps one ring of a group (by its
// item in the group's control array) to bits of the word; a ring value that
// a row does not list sets no bits.
#include <array>

#include "codec/codec.h"

namespace {

struct ValueBits {
    int value;
    uint16_t bits;
};

struct Row {
    int item;
    int low;    // lowest bit of the field when the word is shown again
    int width;  // width of that field
    std::vector<ValueBits> packing;
};

// A plain field: the ring value itself at bits low..low+width-1, for each
// listed value.
Row field(int item, int low, int width, std::vector<int> listed) {
    Row row{item, low, width, {}};
    for (int v : listed) row.packing.push_back({v, static_cast<uint16_t>(v << low)});
    return row;
}

std::vector<int> upTo(int last) {
    std::vector<int> values;
    for (int v = 0; v <= last; ++v) values.push_back(v);
    return values;
}

struct Group {
    int items;
    std::vector<Row> rows;
};

const std::array<Group, GROUP_COUNT>& groups() {
    static const std::array<Group, GROUP_COUNT> table = {{
        // Driver word, register 0x19. Bits 8..5, 13 and 15 are 0; shown
        // again, bits 13..12 form the receive mux field.
        {6,
         {field(0, 0, 1, {0, 1}),           // DRVPOWER
          field(1, 1, 3, {0, 1, 3, 5, 7}),  // DRVFORCE
          field(2, 4, 1, {0, 1}),           // DRVRCV
          field(3, 14, 1, {0, 1}),          // DRVDATAMUX
          field(4, 12, 2, {0, 1}),          // DRVRCVMUX
          field(5, 9, 3, upTo(7))}},        // DRVCLC
        // PMU word, register 0x1C. Sense sits above clamps; the measure-out
        // select writes 00, 01 or 11 into bits 14..13.
        {8,
         {field(0, 0, 2, {0, 1, 3}),                                 // PMUPOWER
          field(1, 2, 3, {7, 6, 5, 4, 0}),                           // PMURANGES
          field(2, 5, 1, {0, 1}),                                    // PMUFVFI
          field(3, 6, 1, {0, 1}),                                    // PMUMVMI
          field(4, 7, 2, {2, 0, 1}),                                 // PMUINPUT
          field(5, 10, 1, {0, 1}),                                   // PMUSENSE
          field(6, 9, 1, {0, 1}),                                    // PMUCLAMPS
          Row{7, 13, 3, {{0, 0x0000}, {1, 0x2000}, {2, 0x6000}}}}},  // PMUMEASOUT
        // Comparator word, register 0x1A. Bit 7 is 0.
        {5,
         {field(0, 0, 1, {0, 1}),      // CMPSEL
          field(1, 4, 3, upTo(7)),     // CMPCLC
          field(2, 12, 4, upTo(15)),   // CMPHYS
          field(3, 1, 3, upTo(7)),     // DIFFCLC
          field(4, 8, 4, upTo(15))}},  // DIFFHYS
        // Alarm word, register 0x1D. Bits 1, 4 and 15..8 are 0; an alarm is
        // enabled by a 0 bit.
        {4,
         {field(0, 0, 1, {0, 1}),     // ALMOVD
          field(1, 2, 1, {0, 1}),     // ALMPPMU
          field(2, 3, 1, {0, 1}),     // ALMTHERM
          field(3, 5, 3, upTo(7))}},  // ALMTHRES
    }};
    return table;
}

constexpr int kMeasureOutItem = 7;

}  // namespace

int sbus_group_items(SBUS_REGISTER_GROUP group) {
    return groups()[group].items;
}

uint16_t sbus_pack_group(SBUS_REGISTER_GROUP group, const std::vector<int>& itemValues) {
    uint16_t word = 0;
    for (const Row& row : groups()[group].rows) {
        if (row.item >= static_cast<int>(itemValues.size())) continue;
        for (const ValueBits& vb : row.packing) {
            if (vb.value == itemValues[row.item]) word |= vb.bits;
        }
    }
    return word;
}

std::vector<int> sbus_unpack_group(SBUS_REGISTER_GROUP group, uint16_t word) {
    const Group& g = groups()[group];
    std::vector<int> values(g.items, 0);
    for (const Row& row : g.rows) {
        int value = (word >> row.low) & ((1 << row.width) - 1);
        if (group == GROUP_PMU && row.item == kMeasureOutItem) {
            // Bits 15..13 read 0, 1 and 3 for the three settings the panel
            // packs (HiZ, MV / MI, temperature sensor); 3 shows as the ring's
            // value 2 and 2 (bit 14 alone) as the unlisted value 3.
            if (value == 3) {
                value = 2;
            } else if (value == 2) {
                value = 3;
            }
        }
        values[row.item] = value;
    }
    return values;
}
