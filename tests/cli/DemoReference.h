// SPDX-License-Identifier: MIT
#pragma once
// Checks a capture's log against the simulated module's demo traffic, read in this process from
// the same adapter library as fast as the simulator makes it and decoded with every read stamped
// 0. The traffic is deterministic; only the gaps a START shows depend on when the reads
// happened, and stamps of 0 show none, so the gaps are taken out of the capture's log.
#include "cli/LogPipeline.h"
#include "decode/LogTextWriter.h"
#include "ftd2xx.h"
#include "wirelog_sim.h"

#include <dlfcn.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace Wirelog::test {

class LogChecker {
public:
    LogChecker() {
        Call<decltype(&WirelogSim_Configure)>("WirelogSim_Configure")("hw:off;dev:rate=1000000000");
        Call<decltype(&FT_Open)>("FT_Open")(0, &handle_);
        std::uint8_t start[] = {0x01, 0xFE};
        DWORD written = 0;
        Call<decltype(&FT_Write)>("FT_Write")(handle_, start, 2, &written);
    }

    // The log's next bytes; false once it has differed from the traffic (`mismatch` says where).
    bool Feed(std::string_view bytes) {
        pending_.append(bytes);
        const std::size_t end = pending_.rfind("\r\n");
        const std::size_t whole = end == std::string::npos ? 0 : end + 2;
        std::string log;
        for (std::size_t at = 0; at < whole;) {
            const std::size_t gap = std::min(pending_.find(" [Gap from last Stop = ", at), whole);
            log.append(pending_, at, gap - at);
            at = gap == whole ? whole : pending_.find(']', gap) + 1;
        }
        pending_.erase(0, whole);
        while (reference_.size() < log.size())
            Pump();
        if (mismatch.empty() && reference_.compare(0, log.size(), log) != 0)
            mismatch = "after " + std::to_string(events) + " events: " + log.substr(0, 300);
        for (std::size_t i = 2; i < log.size(); ++i) // line ends not right after another
            events += log[i] == '\n' && log[i - 1] == '\r' && log[i - 2] != '\n';
        reference_.erase(0, log.size());
        return mismatch.empty();
    }
    // What followed the last whole line: a line cut short (empty when the log ended whole).
    const std::string& Rest() const { return pending_; }

    std::uint64_t events = 0;
    std::string mismatch;

private:
    void Pump() {
        std::vector<std::uint8_t> buffer(1 << 16);
        DWORD got = 0;
        Call<decltype(&FT_Read)>("FT_Read")(handle_, buffer.data(), 1 << 16, &got);
        pipeline_.addRead(0, buffer.data(), got);
        pipeline_.flush();
    }
    template <class Fn> static Fn Call(const char* name) {
        static void* const library = dlopen(WIRELOG_TEST_ADAPTER_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        return reinterpret_cast<Fn>(dlsym(library, name));
    }

    FT_HANDLE handle_ = nullptr;
    std::string reference_, pending_;
    cli::LogPipeline pipeline_{1000.0, std::make_unique<LogTextWriter>(), [this](auto bytes) {
                                   reference_.append(bytes);
                                   return true;
                               }};
};

} // namespace Wirelog::test
