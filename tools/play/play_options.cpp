#include "play_options.h"

#include <sstream>

#include "engine/play_mode.h"
#include "engine/speed_percent.h"

namespace {

bool ParseMode(const std::string& text, PlayMode& mode) {
    if (text == "model") {
        mode = PlayMode::ModelPerformance;
    } else if (text == "lesson") {
        mode = PlayMode::MyPaceLesson;
    } else if (text == "accompaniment") {
        mode = PlayMode::Accompaniment;
    } else if (text == "solo") {
        mode = PlayMode::Solo;
    } else {
        return false;
    }
    return true;
}

bool ParseHand(const std::string& text, Hand& hand) {
    if (text == "both") {
        hand = Hand::Both;
    } else if (text == "right") {
        hand = Hand::Right;
    } else if (text == "left") {
        hand = Hand::Left;
    } else {
        return false;
    }
    return true;
}

// A key number 0-127, digits only.
bool ParseKey(const std::string& text, int& key) {
    if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != text.npos) {
        return false;
    }
    key = std::stoi(text);
    return key <= 127;
}

// A percent of up to three digits.
bool ParsePercent(const std::string& text, int& percent) {
    if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != text.npos) {
        return false;
    }
    percent = std::stoi(text);
    return true;
}

bool ParseSpeed(const std::string& text, PlayOptions& options) {
    int percent = 0;
    if (!ParsePercent(text, percent) || !ValidSpeedPercent(percent)) {
        return false;
    }
    for (int i = 0; i < kSpeedPositions; ++i) {
        if (percent == SpeedPercentTable[i]) {
            options.speedPosition = i;
            options.exactSpeed.reset();
            return true;
        }
    }
    options.speedPosition = NearestSpeedPosition(percent);
    options.exactSpeed = percent;
    return true;
}

bool ParseTrainer(const std::string& text, TrainerPlan& plan, std::string& error) {
    const auto first = text.find(':');
    const auto second = first == text.npos ? text.npos : text.find(':', first + 1);
    if (second == text.npos || !ParsePercent(text.substr(0, first), plan.start) ||
        !ParsePercent(text.substr(first + 1, second - first - 1), plan.step) ||
        !ParsePercent(text.substr(second + 1), plan.goal)) {
        error = "--trainer needs START:STEP:GOAL in percent: " + text;
        return false;
    }
    error = TrainerPlanError(plan);
    if (!error.empty()) {
        error = "--trainer " + text + ": " + error;
        return false;
    }
    return true;
}

bool ParsePractice(const std::string& text, std::array<bool, 16>& practice) {
    std::stringstream stream(text);
    std::string item;
    while (std::getline(stream, item, ',')) {
        if (item.empty() || item.size() > 2 || item.find_first_not_of("0123456789") != item.npos) {
            return false;
        }
        int channel = std::stoi(item);
        if (channel < 1 || channel > 16) {
            return false;
        }
        practice[channel - 1] = true;
    }
    return true;
}

// A whole number from 1 up, digits only.
bool ParseCount(const std::string& text, uint32_t& out) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != text.npos) {
        return false;
    }
    out = static_cast<uint32_t>(std::stoul(text));
    return out >= 1;
}

bool ParseLoop(const std::string& text, std::pair<uint32_t, uint32_t>& bars) {
    const auto dash = text.find('-');
    return dash != text.npos && ParseCount(text.substr(0, dash), bars.first) &&
           ParseCount(text.substr(dash + 1), bars.second) && bars.first <= bars.second;
}

}  // namespace

std::optional<PlayOptions> ParsePlayOptions(int argc, char** argv, std::string& error) {
    PlayOptions options;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) {
                error = arg + " needs a value";
                return false;
            }
            out = argv[++i];
            return true;
        };
        std::string text;
        if (arg == "--list") {
            options.list = true;
        } else if (arg == "--record") {
            options.record = true;
        } else if (arg == "--in" || arg == "--out") {
            if (!value(text)) {
                return std::nullopt;
            }
            (arg == "--in" ? options.inName : options.outName) = text;
        } else if (arg == "--mode") {
            if (!value(text) || !ParseMode(text, options.mode)) {
                error = error.empty() ? "unknown mode: " + text : error;
                return std::nullopt;
            }
        } else if (arg == "--speed") {
            if (!value(text) || !ParseSpeed(text, options)) {
                error = error.empty() ? "speed must be 30-150 in steps of 5: " + text : error;
                return std::nullopt;
            }
        } else if (arg == "--metronome") {
            options.metronome = true;
        } else if (arg == "--count-in") {
            if (!value(text) || (text != "0" && text != "1" && text != "2")) {
                error = error.empty() ? "--count-in needs 0, 1 or 2 bars: " + text : error;
                return std::nullopt;
            }
            options.countInBars = text[0] - '0';
        } else if (arg == "--trainer") {
            TrainerPlan plan;
            if (!value(text) || !ParseTrainer(text, plan, error)) {
                return std::nullopt;
            }
            options.trainer = plan;
        } else if (arg == "--practice") {
            if (!value(text) || !ParsePractice(text, options.practice)) {
                error =
                    error.empty() ? "practice channels are 1-16, comma separated: " + text : error;
                return std::nullopt;
            }
        } else if (arg == "--hand") {
            if (!value(text) || !ParseHand(text, options.hand)) {
                error = error.empty() ? "hand must be both, right or left: " + text : error;
                return std::nullopt;
            }
        } else if (arg == "--split") {
            if (!value(text) || !ParseKey(text, options.splitKey)) {
                error = error.empty() ? "split key must be 0-127: " + text : error;
                return std::nullopt;
            }
        } else if (arg == "--from") {
            uint32_t bar = 0;
            if (!value(text) || !ParseCount(text, bar)) {
                error = error.empty() ? "--from needs a bar number from 1: " + text : error;
                return std::nullopt;
            }
            options.fromBar = bar;
        } else if (arg == "--loop") {
            std::pair<uint32_t, uint32_t> bars;
            if (!value(text) || !ParseLoop(text, bars)) {
                error = error.empty() ? "--loop needs bars A-B with 1 <= A <= B: " + text : error;
                return std::nullopt;
            }
            options.loopBars = bars;
        } else if (arg == "--repeat") {
            uint32_t passes = 0;
            if (!value(text) || !ParseCount(text, passes) || passes > 10000) {
                error =
                    error.empty() ? "--repeat needs a number of passes, 1-10000: " + text : error;
                return std::nullopt;
            }
            options.repeat = static_cast<int>(passes);
        } else if (arg.size() > 1 && arg[0] == '-' && arg != "--") {
            error = "unknown option: " + arg;
            return std::nullopt;
        } else {
            if (arg == "--" && i + 1 < argc) {
                arg = argv[++i];
            }
            if (!options.file.empty()) {
                error = "only one file can be played";
                return std::nullopt;
            }
            options.file = arg;
        }
    }
    if (options.repeat != 1 && !options.loopBars) {
        error = "--repeat needs --loop";
        return std::nullopt;
    }
    if (options.trainer) {
        if (!options.loopBars) {
            error = "--trainer needs --loop";
            return std::nullopt;
        }
        if (options.mode != PlayMode::MyPaceLesson && options.mode != PlayMode::Accompaniment) {
            error = "--trainer needs --mode lesson or accompaniment: only they are scored";
            return std::nullopt;
        }
        if (options.repeat != 1) {
            error = "--trainer decides the passes itself; leave out --repeat";
            return std::nullopt;
        }
    }
    if (!options.list && options.file.empty()) {
        error = "no file to play";
        return std::nullopt;
    }
    return options;
}
