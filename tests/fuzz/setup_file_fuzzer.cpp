// Fuzz target: arbitrary bytes as a setup file for the reader. After each
// input the image must be sound (names terminated, converted codes in
// range, nothing touched that the file does not reach), and saving it and
// loading it again must give it back.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "setup_reader_checks.h"

namespace {

void fail(const std::vector<std::string>& faults) {
    for (const std::string& f : faults) std::fprintf(stderr, "%s\n", f.c_str());
    std::abort();
}

const std::string& saveFile() {
    static const std::string file = [] {
        const char* dir = std::getenv("TMPDIR");
        return std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/setup-fuzz-" +
               std::to_string(getpid()) + ".sbus";
    }();
    return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static setup_checks::MemoryFile input;
    if (!input.hold(data, size)) return 0;

    // No panel is loaded: the file name the reader shows goes nowhere.
    panelHandle = 0;
    const SBUS_STRUCTURE before = setup_checks::startup_image();
    sbus_structure = before;
    const SBUS_LAST_SENT lastSent = sbus_last_sent;
    write_setup_file_to_sbus_structure(input.path());

    const int records = setup_checks::whole_records(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> faults = setup_checks::image_faults(before, sbus_structure, records);
    if (std::memcmp(&lastSent, &sbus_last_sent, sizeof lastSent) != 0)
        faults.push_back("the transfer's record of what it sent changed");
    if (g_DACSETUPFILES != nullptr) faults.push_back("the setup directory was set");
    if (!faults.empty()) fail(faults);

    faults = setup_checks::round_trip_faults(saveFile());
    if (!faults.empty()) fail(faults);
    return 0;
}
