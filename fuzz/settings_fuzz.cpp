// Feeds arbitrary bytes to the settings reader as the contents of setting.txt, then saves the
// names it read and checks that they read back the same.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "midi/settings_file.h"
#include "platform/text_file.h"

namespace {

void Fail(const char* what, const std::string& name) {
    std::fprintf(stderr, "%s: [%s]\n", what, name.c_str());
    std::abort();
}

// A name that the file can hold: it fits in one piece of a line beside its key, and it does
// not start with a separator, which the reader skips as part of the frame.
bool Keepable(const std::string& name) {
    return name.size() + 18 <= kMaxLinePiece && (name.empty() || name.front() != ':');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // tmpfs, so that the writer's flushes to disk cost nothing.
    static const std::string path =
        "/dev/shm/pelorvane_fuzz_settings_" + std::to_string(getpid()) + ".txt";
    static const bool cleanup = std::atexit([] { unlink(path.c_str()); }) == 0;
    (void)cleanup;

    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::string inName = "in", outName = "out";
    ParseSettingsLine(bytes, inName, outName);  // the raw bytes as one line, undecoded

    inName = "in";
    outName = "out";
    ReadTextLinesFromBuffer(bytes.data(), bytes.size(), [&](const std::string& line) {
        ParseSettingsLine(line, inName, outName);
    });
    for (const std::string* name : {&inName, &outName}) {
        if (!IsValidUtf8(*name) || name->find_first_of("\r\n") != std::string::npos) {
            Fail("bad name", *name);
        }
    }
    if (!Keepable(inName) || !Keepable(outName)) {
        return 0;
    }
    if (!SaveSettingsFile(path, inName, outName)) {
        Fail("cannot save", path);
    }
    std::string inBack = "?", outBack = "?";
    LoadSettingsFile(path, inBack, outBack);
    if (inBack != inName) {
        Fail("input name does not read back", inName);
    }
    if (outBack != outName) {
        Fail("output name does not read back", outName);
    }
    return 0;
}
