// Setup files: the reader that restores the register image from one, the
// writers that save it, and the setup-file buttons.
#pragma once

#include "app/core/sbus_image.h"

// Setup directory: the working directory followed by "/Dac/". Null until
// start-up builds it; never freed.
extern char* g_DACSETUPFILES;
enum { SETUP_DIR_SIZE = 260, SETUP_PATH_SIZE = 260, DEFAULT_SETUP_PATH_SIZE = 128 };

int write_setup_file_to_sbus_structure(const char* path);
// Why the file at `path` cannot be loaded as a setup file (missing, not a
// regular file, unreadable, no record the reader takes), or "" when it can.
// The image is not changed.
const char* sbus_setup_file_problem(const char* path);
// After a load of the file at `path`: when it held fewer records than
// entries in use (the others are left as they were), prints "Setup file
// PATH: N records loaded: entries N..M keep what they held" and returns the
// text after "PATH: "; else null. N is what the load itself read.
const char* sbus_say_partly_loaded(const char* path);
// The writers save the entries in use ("Save Setup") or all 64 (a path
// given), and only those a setup defined while entries in use hold the
// image's placeholders; with no setup loaded they save nothing and say so
// (SBUS_NO_SETUP_SAVE), before any file dialog.
int write_structure_to_sbus_setupfile(void);
int write_structure_to_sbus_setupfile_pass_filename(const char* path);
// Loads a setup file, shows it and sends it; "NOFILE" loads nothing.
int sbus_test_setup_write(const char* path);
int create_sbus_select_setup_files(int panel, int control, int event, void* callbackData,
                                   int eventData1, int eventData2);
