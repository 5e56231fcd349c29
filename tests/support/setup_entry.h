// Checks one entry of a setup image against the fields a test expects of it.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "app/core/sbus_image.h"

namespace kovra610::testing {

// The fields of an entry a test cares about; a field left empty is not
// checked. Levels compare exactly.
struct EntryFields {
    std::optional<std::string> name = std::nullopt;
    std::optional<double> volts = std::nullopt;
    std::optional<int> addr = std::nullopt;
    std::optional<int> rw = std::nullopt;
    std::optional<int> ch = std::nullopt;
    std::optional<int> data = std::nullopt;
};

template <typename T, typename U>
void expectField(const std::optional<T>& want, const U& got, const char* field, int i) {
    if (want) {
        EXPECT_EQ(got, *want) << field << " of entry " << i;
    }
}

inline void expectEntry(const SBUS_STRUCTURE& image, int i, const EntryFields& want) {
    expectField(want.name, std::string(image.name[i]), "name", i);
    expectField(want.volts, image.volts[i], "level", i);
    expectField(want.addr, image.addr[i], "address", i);
    expectField(want.rw, image.rw[i], "read/write", i);
    expectField(want.ch, image.ch[i], "channel", i);
    expectField(want.data, image.data[i], "data", i);
}

}  // namespace kovra610::testing
