#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "engine/take.h"

// A take as the history keeps it: a Standard MIDI File of one track on MIDI channel 1, a tick a
// millisecond of song time.
std::vector<uint8_t> TakeToSmf(const Take& take);
// Nothing when the bytes are no such file (a damaged record).
std::optional<Take> TakeFromSmf(const uint8_t* data, size_t size);
