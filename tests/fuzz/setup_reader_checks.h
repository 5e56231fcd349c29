// What must hold after the setup-file reader has taken any input at all,
// shared by the fuzz target and the corpus regression test.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/kovra610 evaluation board.h"
#include "app/core/sbus_image.h"

namespace setup_checks {

// The image as start-up leaves it before the default file is read.
inline SBUS_STRUCTURE startup_image() {
    SBUS_STRUCTURE image = sbus_structure_initial_contents();
    sbus_set_startup_constants(&image);
    return image;
}

// Records a file holds in full before its end marker, as far as the reader
// looks (its first 6096 bytes, at most 64 records).
inline int whole_records(const char* data, std::size_t size) {
    if (size > 6096) size = 6096;
    std::size_t pos = 0;
    int records = 0;
    while (records < SBUS_MAX_REGISTERS) {
        if (size - pos >= 3 && std::memcmp(data + pos, "EOF", 3) == 0) break;
        int commas = 0;
        std::size_t p = pos;
        while (p < size && commas < 6)
            if (data[p++] == ',') ++commas;
        if (commas < 6) break;
        pos = p;
        ++records;
    }
    return records;
}

inline bool same_entry(const SBUS_STRUCTURE& a, const SBUS_STRUCTURE& b, int i) {
    return std::memcmp(a.name[i], b.name[i], SBUS_NAME_SIZE) == 0 &&
           std::memcmp(&a.volts[i], &b.volts[i], sizeof(double)) == 0 && a.data[i] == b.data[i] &&
           a.addr[i] == b.addr[i] && a.rw[i] == b.rw[i] && a.ch[i] == b.ch[i];
}

// Faults in `after`, the image the reader made from `before` and a file
// holding `records` whole records. Empty when all is well.
inline std::vector<std::string> image_faults(const SBUS_STRUCTURE& before,
                                             const SBUS_STRUCTURE& after, int records) {
    std::vector<std::string> faults;
    auto fault = [&faults](int i, const char* what) {
        faults.push_back("entry " + std::to_string(i) + ": " + what);
    };
    for (int i = 0; i < SBUS_MAX_REGISTERS; ++i) {
        const char* name = after.name[i];
        const void* end = std::memchr(name, '\0', SBUS_NAME_SIZE);
        if (end == nullptr) {
            fault(i, "name not terminated within 81 bytes");
            continue;
        }
        const std::size_t length = static_cast<const char*>(end) - name;
        if (std::memchr(name, ',', length) != nullptr) fault(i, "name holds a comma");
        if (length > 0 && name[length - 1] == ' ') fault(i, "name ends in a blank");
    }
    for (int i : {8, 9}) {
        if (after.data[i] < 0 || after.data[i] > SBUS_CODE_MAX) fault(i, "code outside 0..65535");
    }
    // Entries the file does not reach keep what they held; only the codes of
    // the converting entries are made again.
    for (int i = records; i < SBUS_MAX_REGISTERS; ++i) {
        SBUS_STRUCTURE expected = before;
        if (i == 8 || i == 9) expected.data[i] = after.data[i];
        if (!same_entry(expected, after, i)) fault(i, "changed without a record for it");
    }
    if (after.number_registers != before.number_registers ||
        after.number_dacs != before.number_dacs)
        faults.push_back("counts changed");
    if (std::memcmp(after.dac_type, before.dac_type, sizeof before.dac_type) != 0)
        faults.push_back("conversion types changed");
    if (std::memcmp(after.dac_scale, before.dac_scale, sizeof before.dac_scale) != 0)
        faults.push_back("conversion pairs changed");
    return faults;
}

// A file the reader is given by path; the bytes live in memory only.
class MemoryFile {
public:
    MemoryFile() : fd_(memfd_create("setup", 0)) {
        if (fd_ >= 0) path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    ~MemoryFile() {
        if (fd_ >= 0) close(fd_);
    }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    bool hold(const void* data, std::size_t size) {
        if (fd_ < 0 || ftruncate(fd_, 0) != 0) return false;
        const char* bytes = static_cast<const char*>(data);
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = pwrite(fd_, bytes + done, size - done, static_cast<off_t>(done));
            if (n <= 0) return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }
    const char* path() const { return path_.c_str(); }

private:
    int fd_;
    std::string path_;
};

// Saves the image with the named-file writer, reads the file back into a
// fresh start-up image and lists what did not come back. Every entry whose
// record the reader reaches (all before the first name beginning with "EOF",
// within the first 6096 bytes) must return: names, addresses,
// flags and channels exactly, levels as their six-decimal text, codes
// exactly except those the reader makes again from the level.
inline std::vector<std::string> round_trip_faults(const std::string& file) {
    std::vector<std::string> faults;
    const SBUS_STRUCTURE saved = sbus_structure;
    std::remove(file.c_str());
    write_structure_to_sbus_setupfile_pass_filename(file.c_str());
    // The writer puts out all 64 entries; with long names or levels the file
    // can outgrow what the reader looks at, and only the records wholly
    // inside that part can come back.
    std::string written;
    if (FILE* in = std::fopen(file.c_str(), "rb")) {
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0) written.append(buffer, n);
        std::fclose(in);
    }
    const int readable = whole_records(written.data(), written.size());
    sbus_structure = startup_image();
    write_setup_file_to_sbus_structure(file.c_str());
    const SBUS_STRUCTURE back = sbus_structure;
    sbus_structure = saved;

    auto fault = [&faults](int i, const char* what) {
        faults.push_back("entry " + std::to_string(i) + " after a save and load: " + what);
    };
    for (int i = 0; i < readable; ++i) {
        if (std::strcmp(saved.name[i], back.name[i]) != 0) fault(i, "name differs");
        char text[400];
        std::snprintf(text, sizeof text, "%f", saved.volts[i]);
        const double expected = std::strtod(text, nullptr);
        const bool bothNan = std::isnan(expected) && std::isnan(back.volts[i]);
        if (!bothNan && std::memcmp(&expected, &back.volts[i], sizeof expected) != 0)
            fault(i, "level differs");
        if (saved.addr[i] != back.addr[i] || saved.rw[i] != back.rw[i] || saved.ch[i] != back.ch[i])
            fault(i, "address, flag or channel differs");
        if (i != 8 && i != 9 && saved.data[i] != back.data[i]) fault(i, "code differs");
    }
    std::remove(file.c_str());
    return faults;
}

}  // namespace setup_checks
