// SPDX-License-Identifier: MIT
#pragma once
// The simulated module's demo traffic, read in this process from the adapter library as fast as
// the simulator makes it, and turned into the log a capture of the same traffic must write: the
// reference a capture's output is compared with, in constant memory however long. The traffic
// is deterministic; only the gaps a START shows depend on when the reads happened, so the
// reference is decoded with every read stamped 0, which shows none, and the gaps are taken out
// of the capture's log before the comparison.
#include "cli/LogPipeline.h"
#include "decode/LogTextWriter.h"
#include "ftd2xx.h"
#include "wirelog_sim.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace Wirelog::test {

// The log without the " [Gap from last Stop = NmS]" of its STARTs.
inline std::string WithoutGaps(std::string_view log) {
    constexpr std::string_view kGap = " [Gap from last Stop = ";
    std::string out;
    out.reserve(log.size());
    for (std::size_t at = 0;;) {
        const std::size_t gap = log.find(kGap, at);
        out.append(log.substr(at, gap - at));
        if (gap == std::string_view::npos)
            return out;
        at = log.find(']', gap) + 1;
    }
}

class DemoReference {
public:
    DemoReference() {
        Call<decltype(&WirelogSim_Configure)>("WirelogSim_Configure")("hw:off;dev:rate=1000000000");
        if (Call<decltype(&FT_Open)>("FT_Open")(0, &handle_) != FT_OK)
            throw std::runtime_error("cannot open the simulated module");
        std::uint8_t start[] = {0x01, 0xFE};
        DWORD written = 0;
        Call<decltype(&FT_Write)>("FT_Write")(handle_, start, 2, &written);
        pipeline_.emplace(1000.0, std::make_unique<LogTextWriter>(), [this](std::string_view b) {
            text_.append(b);
            return true;
        });
    }
    ~DemoReference() { Call<decltype(&FT_Close)>("FT_Close")(handle_); }

    // The next `count` bytes of the reference log.
    std::string_view Take(std::size_t count) {
        text_.erase(0, at_);
        at_ = 0;
        while (text_.size() < count)
            Pump();
        at_ = count;
        return std::string_view(text_).substr(0, count);
    }

private:
    void Pump() {
        DWORD got = 0;
        while (got == 0)
            Call<decltype(&FT_Read)>("FT_Read")(handle_, buffer_.data(),
                                                static_cast<DWORD>(buffer_.size()), &got);
        pipeline_->addRead(0, buffer_.data(), got);
        pipeline_->flush();
    }

    template <class Fn> static Fn Call(const char* name) {
        static void* const library = dlopen(WIRELOG_TEST_ADAPTER_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        if (void* address = library ? dlsym(library, name) : nullptr)
            return reinterpret_cast<Fn>(address);
        throw std::runtime_error(std::string("cannot bind ") + name);
    }

    FT_HANDLE handle_ = nullptr;
    std::vector<std::uint8_t> buffer_ = std::vector<std::uint8_t>(1 << 16);
    std::optional<cli::LogPipeline> pipeline_;
    std::string text_;
    std::size_t at_ = 0;
};

// Compares a capture's log, as it comes in pieces, with the reference, whole lines at a time.
class LogChecker {
public:
    // False once the log has differed from the reference; `mismatch` then shows where.
    bool Feed(std::string_view bytes) {
        if (!mismatch.empty())
            return false;
        pending_.append(bytes);
        const std::size_t whole = pending_.rfind("\r\n");
        if (whole == std::string::npos)
            return true;
        const std::string log = WithoutGaps(std::string_view(pending_).substr(0, whole + 2));
        pending_.erase(0, whole + 2);
        const std::string_view expected = reference_.Take(log.size());
        if (log != expected) {
            const std::size_t at = static_cast<std::size_t>(
                std::mismatch(log.begin(), log.end(), expected.begin()).first - log.begin());
            mismatch = "after " + std::to_string(events) + " events: '" + log.substr(at, 60) +
                       "', expected '" + std::string(expected.substr(at, 60)) + "'";
            return false;
        }
        for (std::size_t at = 0, end; (end = log.find("\r\n", at)) != std::string::npos;
             at = end + 2)
            events += end > at;
        return true;
    }
    // What followed the last whole line: a line cut short (empty when the log ended whole).
    const std::string& Rest() const { return pending_; }

    std::uint64_t events = 0;
    std::string mismatch;

private:
    DemoReference reference_;
    std::string pending_;
};

} // namespace Wirelog::test
