// SPDX-License-Identifier: MIT
// libFuzzer target over the capture-file readers (sigrok session, VCD, CSV): any file is read
// to its end or refused with a CaptureError, in bounded memory, and what is read keeps the
// readers' promises (first change at sample 0, samples increasing, every change a change, the
// end past the last change, progress within 0 to 1, errors naming the file in printable text).
//
// Input: byte 0 picks the mode, byte 1 the two channels (low and high nibble), the rest is the
// file:
//   mode % 6 = 0: probed by content;  1: read as VCD;  2: as CSV;  3: as a sigrok session;
//   4, 5: a sigrok session built here, so the fuzzer reaches the metadata and the sample scan
//         past the zip's checksums: the file bytes are the metadata text, a NUL, then sample
//         bytes; mode 5 repeats the samples up to 64 times (byte 2) to cross the reader's
//         blocks, and splits them over several entries.
#include "busmonitor/CaptureReader.h"

#include <zip.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// A path of its own for this process. Its file goes when the run ends (a crash leaves it beside
// its artifact); the exit handler is registered once the path exists, so it runs before the path
// is destroyed.
const std::string& ScratchPath() {
    static const std::string path = [] {
        const char* dir = std::getenv("TMPDIR");
        return std::string(dir != nullptr ? dir : "/tmp") + "/wirelog_capture_fuzz_" +
               std::to_string(getpid());
    }();
    static const bool removedAtExit = std::atexit([] { std::remove(path.c_str()); }) == 0;
    (void)removedAtExit;
    return path;
}

void WriteFile(std::string_view bytes) {
    std::FILE* file = std::fopen(ScratchPath().c_str(), "wb");
    Require(file != nullptr);
    Require(std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size());
    Require(std::fclose(file) == 0);
}

void WriteSession(std::string_view bytes, unsigned repeat) {
    const std::size_t split = std::min(bytes.find('\0'), bytes.size());
    const std::string metadata(bytes.substr(0, split));
    std::string samples;
    const std::string_view once = bytes.substr(std::min(split + 1, bytes.size()));
    for (unsigned i = 0; i < repeat; ++i) {
        samples.append(once);
    }
    int code = 0;
    zip_t* archive = zip_open(ScratchPath().c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    Require(archive != nullptr);
    const auto add = [&](const std::string& name, std::string_view data) {
        zip_source_t* source = zip_source_buffer(archive, data.data(), data.size(), 0);
        const zip_int64_t index = zip_file_add(archive, name.c_str(), source, 0);
        // Stored, not deflated: deflate's set-up would cost more than the whole read.
        Require(index >= 0 && zip_set_file_compression(archive, static_cast<zip_uint64_t>(index),
                                                       ZIP_CM_STORE, 0) == 0);
    };
    add("metadata", metadata);
    const std::size_t parts = repeat > 1 ? 3 : 1;
    for (std::size_t part = 0; part < parts; ++part) {
        const std::size_t from = samples.size() * part / parts;
        const std::size_t to = samples.size() * (part + 1) / parts;
        add("logic-1-" + std::to_string(part + 1),
            std::string_view(samples).substr(from, to - from));
    }
    Require(zip_close(archive) == 0);
}

void CheckError(const Wirelog::CaptureError& error) {
    const std::string_view message = error.what();
    Require(message.starts_with(ScratchPath() + ": "));
    for (const char c : message) {
        Require(c >= 0x20 && c < 0x7f);
    }
}

void ReadCapture(std::string_view format, unsigned channels) {
    const auto reader = Wirelog::OpenCapture(ScratchPath(), format);
    const auto& info = reader->Info();
    Require(info.sampleRate > 0 && !info.channels.empty());
    const std::size_t count = info.channels.size();
    reader->SelectChannels((channels & 15) % count, (channels >> 4) % count);
    std::vector<Wirelog::BusLevels> block;
    bool first = true;
    Wirelog::BusLevels last{};
    while (reader->Read(block)) {
        Require(!block.empty());
        for (const auto& change : block) {
            Require(first ? change.sample == 0
                          : change.sample > last.sample &&
                                (change.scl != last.scl || change.sda != last.sda));
            first = false;
            last = change;
        }
        const double progress = reader->Progress();
        Require(progress >= 0.0 && progress <= 1.0);
    }
    Require(block.empty() && !first && reader->EndSample() > last.sample);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) {
        return 0;
    }
    const unsigned mode = data[0] % 6;
    const unsigned channels = data[1];
    const std::string_view file(reinterpret_cast<const char*>(data) + 2, size - 2);
    constexpr std::string_view kFormats[] = {"", "vcd", "csv", "sr", "sr", "sr"};
    if (mode < 4) {
        WriteFile(file);
    } else {
        WriteSession(file.substr(1), mode == 5 ? 1U + file[0] % 64U : 1U);
    }
    try {
        ReadCapture(kFormats[mode], channels);
    } catch (const Wirelog::CaptureError& error) {
        CheckError(error);
    }
    return 0;
}
