// Setup files: the text format that saves and restores the register image,
// its reader and writers, and the three setup-file buttons.
//
// A file is a run of records with no line breaks, each six fields followed
// by a comma ("%s ,%f ,%d,%d,%d,%d,": name, volts, addr, rw, ch, data), and
// the end marker "EOF".
#include "app/core/setup_files.h"

#include <fcntl.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "app/core/transfer.h"
#include "codec/codec.h"
#include "panel/kovra610 evaluation board uir.h"
#include "platform/runtime/panel_runtime.h"
#include "platform/session_log/session_log.h"

char* g_DACSETUPFILES = nullptr;

namespace {

constexpr size_t kFileReadLimit = 6096;  // bytes of a file the reader looks at
constexpr size_t kFieldSize = 512;       // a field holds at most 511 characters
constexpr int kFieldsPerRecord = 6;

// Setup files always use the decimal point, whatever locale the panel
// run-time or the operator's environment set: a decimal comma would split
// the level across two fields.
class DecimalPointNumbers {
public:
    DecimalPointNumbers()
        : c_(newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(nullptr))),
          previous_(c_ != static_cast<locale_t>(nullptr) ? uselocale(c_)
                                                         : static_cast<locale_t>(nullptr)) {}
    ~DecimalPointNumbers() {
        if (c_ == static_cast<locale_t>(nullptr)) return;
        uselocale(previous_);
        freelocale(c_);
    }
    DecimalPointNumbers(const DecimalPointNumbers&) = delete;
    DecimalPointNumbers& operator=(const DecimalPointNumbers&) = delete;

private:
    locale_t c_;
    locale_t previous_;
};

// Takes the field that starts at `pos`: the characters up to the next comma,
// of which at most 511 are kept. Returns false when the data ends before the
// comma (the record is cut off).
bool takeField(const char* data, size_t size, size_t* pos, char (&field)[kFieldSize]) {
    const void* comma = std::memchr(data + *pos, ',', size - *pos);
    if (comma == nullptr) return false;
    const size_t end = static_cast<size_t>(static_cast<const char*>(comma) - data);
    size_t length = end - *pos;
    if (length > kFieldSize - 1) length = kFieldSize - 1;
    std::memcpy(field, data + *pos, length);
    field[length] = '\0';
    *pos = end + 1;
    return true;
}

// Decimal text to int: leading blanks skipped, optional sign, the first
// non-digit ends the number, no digits give 0; values beyond int saturate.
int textToInt(const char* text) {
    errno = 0;
    const long value = std::strtol(text, nullptr, 10);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

void stripTrailingBlanks(char* text) {
    size_t n = std::strlen(text);
    while (n > 0 && text[n - 1] == ' ') text[--n] = '\0';
}

// The whole text of a setup file: `count` records and the end marker.
std::string setupFileText(int count) {
    const DecimalPointNumbers numbers;
    std::string text;
    for (int i = 0; i < count && i < SBUS_MAX_REGISTERS; ++i) {
        // A comma would end the name early and shift every later field.
        char name[SBUS_NAME_SIZE];
        std::memcpy(name, sbus_structure.name[i], sizeof name);
        name[SBUS_NAME_SIZE - 1] = '\0';
        for (char* c = name; *c != '\0'; ++c)
            if (*c == ',') *c = ';';
        // 80 name characters, a level of at most 317 and four ints fit.
        char record[512];
        const int length =
            std::snprintf(record, sizeof record, "%s ,%f ,%d,%d,%d,%d,", name,
                          sbus_structure.volts[i], sbus_structure.addr[i], sbus_structure.rw[i],
                          sbus_structure.ch[i], sbus_structure.data[i]);
        if (length > 0)
            text.append(record, std::min(static_cast<size_t>(length), sizeof record - 1));
    }
    return text + "EOF";
}

// A file descriptor closed when it goes out of scope.
struct Descriptor {
    int fd = -1;
    explicit Descriptor(int f) : fd(f) {}
    ~Descriptor() {
        if (fd >= 0) close(fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    // Closes now; false when the close reports a failure (data not written).
    bool closeNow() {
        const int f = fd;
        fd = -1;
        return f < 0 || close(f) == 0;
    }
};

bool writeAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return fsync(fd) == 0;
}

// Where a save lands: the file a symbolic link names, link after link, or
// the path itself.
std::string saveTarget(const char* path) {
    namespace fs = std::filesystem;
    fs::path target = path;
    std::error_code error;
    for (int hops = 0; hops < 40 && fs::is_symlink(fs::symlink_status(target, error)); ++hops) {
        const fs::path next = fs::read_symlink(target, error);
        if (error) break;
        target = next.is_absolute() ? next : target.parent_path() / next;
    }
    return target.string();
}

mode_t currentUmask() {
    const mode_t mask = umask(0);
    umask(mask);
    return mask;
}

// Writes the text into an open file from its start and cuts it there.
bool writeInPlace(Descriptor& file, const std::string& text) {
    const bool ok = lseek(file.fd, 0, SEEK_SET) == 0 && writeAll(file.fd, text) &&
                    ftruncate(file.fd, static_cast<off_t>(text.size())) == 0;
    return file.closeNow() && ok;
}

// Writes the text under a temporary name beside the target, with the
// target's mode and owner (a new file: 0666 less the umask), and renames it
// over the target once complete. Returns 1 when saved, 0 on a failure, and
// -1 when a replacement would lose something (the folder takes no new file,
// the owner cannot be kept): the target is then to be written in place.
int replaceAtomically(const std::string& target, const std::string& text,
                      const struct stat* existing) {
    std::string temporary = target + ".XXXXXX";
    Descriptor file(mkstemp(temporary.data()));
    if (file.fd < 0) return existing != nullptr && (errno == EACCES || errno == EPERM) ? -1 : 0;
    const bool owner = existing == nullptr ||
                       (existing->st_uid == geteuid() && existing->st_gid == getegid()) ||
                       fchown(file.fd, existing->st_uid, existing->st_gid) == 0;
    const mode_t mode = existing != nullptr ? existing->st_mode & 07777 : 0666 & ~currentUmask();
    bool ok = owner && fchmod(file.fd, mode) == 0 && writeAll(file.fd, text);
    ok = file.closeNow() && ok;
    if (ok && std::rename(temporary.c_str(), target.c_str()) == 0) return 1;
    unlink(temporary.c_str());
    return owner ? 0 : -1;
}

// Saves the text at `path`. The file is replaced atomically, so a failed
// save never leaves a half-written setup file; a link is followed to its
// file; a file that cannot be written is left untouched and the save
// fails. A file that a replacement would change in more than its text
// (another hard link to it, an owner that cannot be kept, a folder that
// takes no new file) is written in place instead.
bool saveSetupText(const char* path, const std::string& text) {
    const std::string target = saveTarget(path);
    struct stat existing;
    const bool exists = stat(target.c_str(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode)) return false;
    Descriptor direct(exists ? open(target.c_str(), O_WRONLY | O_CLOEXEC) : -1);
    if (exists && direct.fd < 0) return false;
    if (exists && existing.st_nlink > 1) return writeInPlace(direct, text);
    const int replaced = replaceAtomically(target, text, exists ? &existing : nullptr);
    if (replaced < 0) return writeInPlace(direct, text);
    return replaced == 1;
}

// Writes `count` records and the end marker to `path`. Returns false on
// any failure.
bool writeSetupFile(const char* path, int count) {
    const std::string text = setupFileText(count);
    if (!saveSetupText(path, text)) return false;
    // The reader looks at the first 6096 bytes only: say so when records
    // (long names, wide numbers) push the end marker past them.
    if (text.size() > kFileReadLimit) {
        std::printf(
            "Setup file %s is %ld bytes: records past its first %d bytes will not load "
            "back\n",
            path, static_cast<long>(text.size()), static_cast<int>(kFileReadLimit));
    }
    return true;
}

// Reads the records of the file's first 6096 bytes into the image, up to
// the end marker or the first record the data cuts off. Returns how many
// records were read.
int readRecords(FILE* file, SBUS_STRUCTURE* image) {
    char data[kFileReadLimit];
    const size_t size = std::fread(data, 1, sizeof data, file);
    const DecimalPointNumbers numbers;
    size_t pos = 0;
    int i = 0;
    for (; i < SBUS_MAX_REGISTERS; ++i) {
        if (size - pos >= 3 && std::memcmp(data + pos, "EOF", 3) == 0) break;
        char fields[kFieldsPerRecord][kFieldSize];
        bool whole = true;
        for (int f = 0; f < kFieldsPerRecord && whole; ++f)
            whole = takeField(data, size, &pos, fields[f]);
        if (!whole) break;  // a record cut off by the end of the data is not used

        stripTrailingBlanks(fields[0]);
        sbus_set_name(image, i, fields[0]);
        stripTrailingBlanks(image->name[i]);
        image->volts[i] = std::strtod(fields[1], nullptr);
        image->addr[i] = textToInt(fields[2]);
        image->rw[i] = textToInt(fields[3]);
        image->ch[i] = textToInt(fields[4]);
        image->data[i] = textToInt(fields[5]);
    }
    return i;
}

// How many records the reader takes from the open file, which it closes;
// the image is not changed.
int recordsIn(FILE* file) {
    SBUS_STRUCTURE scratch = sbus_structure;
    const int records = readRecords(file, &scratch);
    std::fclose(file);
    return records;
}

// What a setup-file button says in the status bar when it did not do what
// its caption names (see sbus_action_outcome).
const char kNothingLoaded[] = "no file chosen: nothing loaded";
const char kNothingSaved[] = "no file chosen: nothing saved";
const char kNotSaved[] = "the file could not be written: nothing saved";
char notLoadedText[400];
char partlyLoadedText[120];
// How many records the last file read into the image held.
int recordsLoaded = 0;
char partlySavedText[120];

void reportUnableToCreate(const char* path) {
    char message[SETUP_PATH_SIZE + 32];
    Fmt(message, "%s<Unable to Create  %s", path);
    MessagePopup("Error", message);
    sbus_action_outcome = kNotSaved;
}

// How many records a save writes of the `wanted`: all of them once every
// entry in use was defined by a setup; else only those a setup defined (a
// setup file defines its records from the first on), since the others hold
// the image's placeholders, which a file loaded back would make a setup.
// With none defined nothing is saved: SBUS_NO_SETUP_SAVE is printed,
// sbus_no_setup_refused points at it, and the result is 0.
int recordsToSave(int wanted) {
    int defined = 0;
    while (defined < SBUS_MAX_REGISTERS && sbus_entry_defined[defined] != 0) ++defined;
    if (defined == 0) {
        std::printf("%s\n", SBUS_NO_SETUP_SAVE);
        sbus_no_setup_refused = SBUS_NO_SETUP_SAVE;
        return 0;
    }
    return defined >= sbus_structure.number_registers ? wanted : std::min(defined, wanted);
}

// After a save of `records`: says so when entries in use were left out.
void sayLeftOut(int records) {
    if (records < sbus_structure.number_registers)
        std::printf("Only the %d entries a setup defined are saved: entries %d..%d hold no setup\n",
                    records, records, sbus_structure.number_registers - 1);
}

// What the setup-file box shows for a file just saved: the path less the
// setup directory when the file lies in it, else the whole path.
void showSavedPath(const char* path) {
    const char* shown = path;
    if (g_DACSETUPFILES != nullptr) {
        const size_t prefix = std::strlen(g_DACSETUPFILES);
        if (std::strncmp(path, g_DACSETUPFILES, prefix) == 0) shown = path + prefix;
    }
    SetCtrlVal(panelHandle, DAC1TEXTBOX, shown);
}

}  // namespace

int write_setup_file_to_sbus_structure(const char* path) {
    recordsLoaded = 0;
    if (path == nullptr) return 0;
    FILE* file = std::fopen(path, "r");
    if (file == nullptr) {
        std::printf("Unable to Open File  %s\n", path);
        return 0;
    }
    SBUS_STRUCTURE* const image = &sbus_structure;
    const int records = readRecords(file, image);
    recordsLoaded = records;
    // The session log keeps which file this was: its path and the SHA-256
    // of the bytes of the file opened here.
    kovra610::sessionlog::recordSetupFile(path, fileno(file));
    for (int i = 0; i < records; ++i) sbus_entry_defined[i] = 1;
    for (int i = 0; i < image->number_registers && i < SBUS_MAX_REGISTERS; ++i) {
        const int code = sbus_level_code(image, i);
        if (code >= 0) image->data[i] = code;
    }
    SetCtrlVal(panelHandle, DAC1TEXTBOX, path);
    std::fclose(file);
    return 0;
}

const char* sbus_say_partly_loaded(const char* path) {
    if (recordsLoaded >= sbus_entries_in_use()) return nullptr;
    std::snprintf(partlyLoadedText, sizeof partlyLoadedText,
                  "%d records loaded: entries %d..%d keep what they held", recordsLoaded,
                  recordsLoaded, sbus_entries_in_use() - 1);
    std::printf("Setup file %s: %s\n", path, partlyLoadedText);
    return partlyLoadedText;
}

const char* sbus_setup_file_problem(const char* path) {
    struct stat info;
    if (stat(path, &info) != 0) return errno == ENOENT ? "no such file" : std::strerror(errno);
    if (!S_ISREG(info.st_mode)) return "not a setup file (not a regular file)";
    errno = 0;
    FILE* file = std::fopen(path, "r");
    if (file == nullptr) return errno != 0 ? std::strerror(errno) : "cannot open the file";
    const int records = recordsIn(file);
    if (records == 0)
        return "not a setup file (no setup record \"name ,volts ,addr,rw,ch,data,\" at its start)";
    return "";
}

int write_structure_to_sbus_setupfile(void) {
    // The box names the current setup file and is the dialog's default name.
    // A text too long for the name buffer offers just its file name.
    std::string current;
    GetCtrlVal(panelHandle, DAC1TEXTBOX, &current);
    char defaultName[166];
    if (current.size() > sizeof defaultName - 1) {
        const size_t slash = current.find_last_of('/');
        current = slash == std::string::npos ? std::string() : current.substr(slash + 1);
        if (current.size() > sizeof defaultName - 1) current.clear();
    }
    std::snprintf(defaultName, sizeof defaultName, "%s", current.c_str());

    const int records = recordsToSave(sbus_structure.number_registers);
    if (records == 0) return 0;
    char path[SETUP_PATH_SIZE] = "";
    if (FileSelectPopup(g_DACSETUPFILES != nullptr ? g_DACSETUPFILES : "", defaultName, "*.sbus",
                        "Save As", VAL_SAVE_BUTTON, 0, 1, 1, 1, path) == VAL_NO_FILE_SELECTED) {
        sbus_action_outcome = kNothingSaved;
        return 0;
    }
    if (!writeSetupFile(path, records)) {
        reportUnableToCreate(path);
        return 0;
    }
    sayLeftOut(records);
    if (records < sbus_structure.number_registers) {
        std::snprintf(partlySavedText, sizeof partlySavedText,
                      "%d records saved: entries %d..%d hold no setup", records, records,
                      sbus_structure.number_registers - 1);
        sbus_action_outcome = partlySavedText;
    }
    showSavedPath(path);
    return 0;
}

int write_structure_to_sbus_setupfile_pass_filename(const char* path) {
    const int records = recordsToSave(SBUS_MAX_REGISTERS);
    if (records == 0) return 0;
    if (path == nullptr || !writeSetupFile(path, records)) {
        reportUnableToCreate(path != nullptr ? path : "");
        return 0;
    }
    sayLeftOut(records);
    showSavedPath(path);
    return 0;
}

int sbus_test_setup_write(const char* path) {
    if (path == nullptr || std::strcmp(path, "NOFILE") == 0) return 1;
    SuspendTimerCallbacks();
    write_setup_file_to_sbus_structure(path);
    write_sbus_structure_to_panel();
    sbus_structure_write_to_testequip();
    ProcessSystemEvents();
    ResumeTimerCallbacks();
    return 0;
}

int create_sbus_select_setup_files(int, int control, int event, void*, int, int) {
    if (event != EVENT_COMMIT) return 0;
    if (control == SBUSWRITE) {
        SetCtrlVal(panelHandle, LED, 1);
        write_sbus_panel_to_structure();
        sbus_structure_write_to_testequip();
        SetCtrlVal(panelHandle, LED, 0);
    } else if (control == SBUSSEL) {
        char directory[SETUP_DIR_SIZE];
        std::snprintf(directory, sizeof directory, "%s",
                      g_DACSETUPFILES != nullptr ? g_DACSETUPFILES : "");
        char path[SETUP_PATH_SIZE] = "";
        if (FileSelectPopup(directory, "*.sbus", "*.sbus", "Select SBUS Setup File",
                            VAL_LOAD_BUTTON, 0, 0, 1, 1, path) == VAL_NO_FILE_SELECTED) {
            sbus_action_outcome = kNothingLoaded;
            return 1;
        }
        // A file the reader would take nothing from (gone, unreadable, not
        // a setup file) changes nothing, and the box keeps naming the setup
        // in use.
        const std::string problem = sbus_setup_file_problem(path);
        if (!problem.empty()) {
            std::snprintf(notLoadedText, sizeof notLoadedText, "not loaded: %s", problem.c_str());
            std::printf("Setup file %s %s: image, panel and chip unchanged\n", path, notLoadedText);
            sbus_action_outcome = notLoadedText;
            return 0;
        }
        write_setup_file_to_sbus_structure(path);
        write_sbus_structure_to_panel();
        sbus_structure_write_to_testequip();
        // A file with fewer records than entries in use leaves the others
        // as they were: said, so a file cut short is not taken for whole.
        const char* partly =
            sbus_no_setup_refused == nullptr ? sbus_say_partly_loaded(path) : nullptr;
        if (partly != nullptr && sbus_action_outcome == nullptr) sbus_action_outcome = partly;
    } else if (control == SBUSLRN) {
        write_sbus_panel_to_structure();
        write_structure_to_sbus_setupfile();
    }
    return 0;
}
