#include "platform/debug_output.h"

#include <atomic>
#include <cstdio>
#include <string>

namespace {
std::atomic<DebugSink> g_sink{nullptr};
}

void DebugOutput(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    if (DebugSink sink = g_sink.load(std::memory_order_acquire)) {
        sink(text);
        return;
    }
    // One write per line so that lines from several threads do not interleave.
    std::string line(text);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
}

void SetDebugSinkForTest(DebugSink sink) { g_sink.store(sink, std::memory_order_release); }
