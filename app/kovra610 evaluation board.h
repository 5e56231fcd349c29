// The program's whole own interface in one place: the register image and
// the panel handles, the image transfer, setup files, and start-up and
// shut-down. Each part has a header of its own; a source includes the ones
// it uses.
#pragma once

#include "app/core/sbus_image.h"
#include "app/core/setup_files.h"
#include "app/core/transfer.h"
#include "app/startup.h"
