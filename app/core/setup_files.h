// Setup files: the reader that restores the register image from one, the
// writers that save it, and the setup-file buttons.
#pragma once

#include "app/core/sbus_image.h"

// Setup directory: the working directory followed by "/Dac/". Null until
// start-up builds it; never freed.
extern char* g_DACSETUPFILES;
enum { SETUP_DIR_SIZE = 260, SETUP_PATH_SIZE = 260, DEFAULT_SETUP_PATH_SIZE = 128 };

int write_setup_file_to_sbus_structure(const char* path);
// How many records the reader takes from the file at `path` (0 for a file
// that holds none), without changing the image; -1 when the file cannot be
// opened (errno says why).
int sbus_setup_file_records(const char* path);
int write_structure_to_sbus_setupfile(void);
int write_structure_to_sbus_setupfile_pass_filename(const char* path);
// Loads a setup file, shows it and sends it; "NOFILE" loads nothing.
int sbus_test_setup_write(const char* path);
int create_sbus_select_setup_files(int panel, int control, int event, void* callbackData,
                                   int eventData1, int eventData2);
