#include "LogDrain.h"

#include "EventBuffer.h"
#include "LogLines.h"
#include "ViewTWI.h"

#include <string>

namespace Wirelog {

std::size_t DrainEvents(LogLines& lines) {
    std::string line;
    line.reserve(128);
    std::size_t drained = 0;
    while (myevtTail < myevtHead.load(std::memory_order_acquire)) {
        const TWIevent& event = MyEvents[myevtTail];
        line.clear();
        AppendViewTWI(line, event.cmd, event.data, event.timer);
        if (IsSeparatorCode(event.cmd))
            lines.append({});
        lines.append(line);
        ++myevtTail;
        ++drained;
    }
    return drained;
}

} // namespace Wirelog
