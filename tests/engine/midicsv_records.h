#pragma once

// midicsv, an independent Standard MIDI File reader, run on a file: its records, for tests that
// check what we write against a reader that is not ours.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

struct MidicsvRecord {
    int track;
    uint32_t tick;
    std::string type;
    std::vector<std::string> fields;  // after the type
};

inline bool MidicsvInstalled() {
    return std::system("command -v midicsv >/dev/null 2>&1") == 0;
}

// midicsv's records, or nothing when it cannot run.
inline std::vector<MidicsvRecord> Midicsv(const std::string& path) {
    std::vector<MidicsvRecord> out;
    FILE* pipe = popen(("midicsv '" + path + "' 2>&1").c_str(), "r");
    if (!pipe) {
        return out;
    }
    std::string text;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        text.append(buffer, n);
    }
    EXPECT_EQ(pclose(pipe), 0) << text;
    std::stringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::stringstream in(line);
        std::vector<std::string> f;
        std::string field;
        while (std::getline(in, field, ',')) {
            const auto first = field.find_first_not_of(' ');
            f.push_back(first == std::string::npos ? "" : field.substr(first));
        }
        if (f.size() >= 3) {
            out.push_back({std::stoi(f[0]), static_cast<uint32_t>(std::stoul(f[1])), f[2],
                           std::vector<std::string>(f.begin() + 3, f.end())});
        }
    }
    return out;
}
