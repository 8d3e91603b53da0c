// A reader that reaches up into the beatmap writer: check-layers.sh must
// name this line.
#pragma once

#include "common/console.h"
#include "beatmap/beatmap_writer.h"
