#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "engine/play_mode.h"
#include "engine/practice_choice.h"

// What the command line of pelorvane-play asks for.
struct PlayOptions {
    bool list = false;
    std::optional<std::string> inName;
    std::optional<std::string> outName;
    PlayMode mode = PlayMode::ModelPerformance;
    int speedPosition = 3;                                  // slider position of x1.0
    std::array<bool, 16> practice{};                        // by channel index (MIDI channel - 1)
    std::optional<uint32_t> fromBar;                        // bars counted from 1
    std::optional<std::pair<uint32_t, uint32_t>> loopBars;  // first and last bar, both played
    int repeat = 1;                                         // passes of the loop
    bool record = false;  // store the runs in the practice history
    Hand hand = Hand::Both;
    int splitKey = 60;  // where a channel played by one track divides into hands
    std::string file;
};

// Parses argv; on a mistake returns nothing and puts the reason into error.
std::optional<PlayOptions> ParsePlayOptions(int argc, char** argv, std::string& error);

inline constexpr const char* kPlayUsage =
    "usage: pelorvane-play --list\n"
    "       pelorvane-play [--in NAME] [--out NAME] [--mode model|lesson|accompaniment|solo]\n"
    "                      [--speed 50|80|90|100|120] [--practice 1,2,...]\n"
    "                      [--from BAR] [--loop A-B] [--repeat N] [--record]\n"
    "                      [--hand both|right|left] [--split KEY] FILE\n";
