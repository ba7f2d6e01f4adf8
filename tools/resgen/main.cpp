// Writes the program's pictures and demo songs into a resource folder:
//   pelorvane-resgen <res folder>
// The outputs are committed; a test regenerates them and compares.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bmp_file.h"
#include "demo_songs.h"
#include "pictures.h"
#include "png_file.h"

namespace fs = std::filesystem;

namespace {

bool WriteFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "pelorvane-resgen: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: pelorvane-resgen <res folder>\n");
        return 2;
    }
    const fs::path res = argv[1];
    bool ok = true;

    ok &= WriteFile(res / "led_on.bmp", resgen::EncodeBmp24(resgen::DrawLed(true)));
    ok &= WriteFile(res / "led_off.bmp", resgen::EncodeBmp24(resgen::DrawLed(false)));

    ok &= WriteFile(res / "pelorvane.png", resgen::EncodePng(resgen::DrawIcon(256)));
    for (int size : {16, 32, 48, 64, 128, 256}) {
        const std::string name = "pelorvane-" + std::to_string(size) + ".png";
        ok &= WriteFile(res / "icons" / name, resgen::EncodePng(resgen::DrawIcon(size)));
    }

    for (const resgen::DemoSong& song : resgen::MakeDemoSongs()) {
        ok &= WriteFile(res / "demo" / song.fileName, song.bytes);
    }
    return ok ? 0 : 1;
}
