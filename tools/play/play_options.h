#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "engine/play_mode.h"
#include "engine/practice_choice.h"
#include "engine/tempo_trainer.h"

// What the command line of pelorvane-play asks for.
struct PlayOptions {
    bool list = false;
    std::optional<std::string> inName;
    std::optional<std::string> outName;
    PlayMode mode = PlayMode::ModelPerformance;
    int speedPosition = 3;            // slider position of x1.0
    std::optional<int> exactSpeed;    // a percent between the slider's; speedPosition the nearest
    std::array<bool, 16> practice{};  // by channel index (MIDI channel - 1)
    std::optional<uint32_t> fromBar;  // bars counted from 1
    std::optional<std::pair<uint32_t, uint32_t>> loopBars;  // first and last bar, both played
    int repeat = 1;                                         // passes of the loop
    bool record = false;  // store the runs in the practice history
    bool metronome = false;
    int countInBars = 0;
    std::optional<TrainerPlan> trainer;  // on the --loop
    Hand hand = Hand::Both;
    int splitKey = 60;  // where a channel played by one track divides into hands
    std::string file;
};

// Parses argv; on a mistake returns nothing and puts the reason into error.
std::optional<PlayOptions> ParsePlayOptions(int argc, char** argv, std::string& error);

inline constexpr const char* kPlayUsage =
    "usage: pelorvane-play --list\n"
    "       pelorvane-play [--in NAME] [--out NAME] [--mode model|lesson|accompaniment|solo]\n"
    "                      [--speed PERCENT] [--practice 1,2,...]\n"
    "                      [--from BAR] [--loop A-B] [--repeat N] [--record]\n"
    "                      [--hand both|right|left] [--split KEY]\n"
    "                      [--metronome] [--count-in 0|1|2] [--trainer START:STEP:GOAL] FILE\n"
    "       PERCENT: 30-150 in steps of 5; the trainer needs --loop and --mode lesson or\n"
    "       accompaniment\n";
