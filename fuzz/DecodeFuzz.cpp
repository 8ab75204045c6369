// SPDX-License-Identifier: MIT
// libFuzzer target over everything that turns untrusted recordings into log text: the timed-batch
// parser, the framing, the event buffer with its cap, the decoder and the log writer.
//
// The first byte picks how the rest is used:
//   0: timed-batch text, parsed in memory and streamed, and the two must agree;
//   1: a raw module stream, decoded whole and cut into reads at fuzzer-chosen places, and the
//      two logs must be identical;
//   2: records (cmd, data, 8-byte timer) placed straight into the buffer, including codes and
//      stamps the framing never produces, with a fuzzer-chosen time base.
#include "batchfile/TimedBatchFile.h"
#include "cli/LogPipeline.h"
#include "decode/LogDrain.h"
#include "decode/LogLines.h"
#include "decode/LogTextWriter.h"
#include "decode/ViewTWI.h"
#include "events/EventBuffer.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

using Wirelog::cli::LogPipeline;

void Require(bool condition) {
    if (!condition)
        std::abort();
}

// Every line is printable ASCII; the file is empty or ends with CR LF; no stray CR or LF.
void CheckLogBytes(const std::string& log) {
    Require(log.empty() || log.ends_with("\r\n"));
    for (std::size_t i = 0; i < log.size(); ++i) {
        const auto ch = static_cast<unsigned char>(log[i]);
        if (ch == '\r') {
            Require(i + 1 < log.size() && log[i + 1] == '\n');
        } else if (ch == '\n') {
            Require(i > 0 && log[i - 1] == '\r');
        } else {
            Require(ch >= 0x20 && ch < 0x7F);
        }
    }
}

LogPipeline::Sink Collect(std::string& log) {
    return [&log](std::string_view bytes) {
        log.append(bytes);
        return true;
    };
}

void FuzzTimedBatches(std::string_view text) {
    std::vector<Wirelog::TimedBatch> parsed;
    std::string log;
    LogPipeline pipeline(1000.0, std::make_unique<Wirelog::LogTextWriter>(), Collect(log));
    Wirelog::BatchParseError inMemoryError;
    const bool inMemoryOk = Wirelog::ParseTimedBatches(
        text,
        [&](const Wirelog::TimedBatch& batch) {
            Require(batch.timeStamp <= Wirelog::kMaxTimeStamp);
            Require(parsed.empty() || batch.timeStamp >= parsed.back().timeStamp);
            parsed.push_back(batch);
            return pipeline.addRead(static_cast<std::int64_t>(batch.timeStamp), batch.bytes.data(),
                                    batch.bytes.size());
        },
        inMemoryError);
    Require(pipeline.finish());
    CheckLogBytes(log);

    std::size_t at = 0;
    std::istringstream in{std::string(text)};
    Wirelog::BatchParseError streamedError;
    const bool streamedOk = Wirelog::ReadTimedBatches(
        in,
        [&](const Wirelog::TimedBatch& batch) {
            Require(at < parsed.size());
            Require(batch.timeStamp == parsed[at].timeStamp);
            Require(batch.bytes == parsed[at].bytes);
            ++at;
            return true;
        },
        streamedError);
    Require(streamedOk == inMemoryOk && at == parsed.size());
    if (!inMemoryOk) {
        Require(streamedError.line == inMemoryError.line);
        Require(streamedError.detail == inMemoryError.detail);
        for (const char ch : inMemoryError.describe())
            Require(ch >= 0x20 && ch < 0x7F);
    }
}

std::string DecodeRaw(const std::uint8_t* bytes, std::size_t size,
                      const std::vector<std::size_t>& cuts) {
    std::string log;
    LogPipeline pipeline(1000.0, std::make_unique<Wirelog::LogTextWriter>(), Collect(log));
    std::size_t from = 0;
    for (const std::size_t cut : cuts) {
        Require(pipeline.addRead(0, bytes + from, cut - from));
        from = cut;
    }
    Require(pipeline.addRead(0, bytes + from, size - from));
    Require(pipeline.finish());
    Require(Wirelog::myevtHead.load() <= Wirelog::kEventCapacity);
    return log;
}

void FuzzRawStream(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return;
    // The first byte seeds the cut positions, the rest is the stream.
    unsigned seed = data[0];
    const std::uint8_t* stream = data + 1;
    const std::size_t length = size - 1;
    std::vector<std::size_t> cuts;
    for (std::size_t at = 0; length > 0;) {
        seed = seed * 1103515245u + 12345u;
        at += (seed >> 16) % 7; // reads of 0 to 6 bytes, empty reads included
        if (at >= length)
            break;
        cuts.push_back(at);
    }
    const std::string whole = DecodeRaw(stream, length, {});
    CheckLogBytes(whole);
    Require(DecodeRaw(stream, length, cuts) == whole);
}

void FuzzRecords(const std::uint8_t* data, std::size_t size) {
    if (size < 8)
        return;
    double ticksPerMs;
    std::memcpy(&ticksPerMs, data, sizeof ticksPerMs);
    Wirelog::div = ticksPerMs;
    Wirelog::ResetEventBuffer();
    Wirelog::ResetDecoder();
    for (std::size_t at = 8; at + 10 <= size; at += 10) {
        std::int64_t timer;
        std::memcpy(&timer, data + at + 2, sizeof timer);
        Wirelog::AppendEvent(data[at], data[at + 1], timer);
    }
    Wirelog::LogLines lines;
    Wirelog::DrainEvents(lines);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string_view line = lines[i];
        for (const char ch : line)
            Require(ch >= 0x20 && ch < 0x7F);
        if (line.starts_with("START (valid) [Gap from last Stop = "))
            Require(line.ends_with("mS]"));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::uint8_t* rest = data + 1;
    const std::size_t restSize = size - 1;
    switch (data[0] % 3) {
    case 0:
        FuzzTimedBatches(std::string_view(reinterpret_cast<const char*>(rest), restSize));
        break;
    case 1:
        FuzzRawStream(rest, restSize);
        break;
    default:
        FuzzRecords(rest, restSize);
        break;
    }
    return 0;
}
