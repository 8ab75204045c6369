#include "TimeBase.h"

#include "Counter.h"
#include "ViewTWI.h"

namespace Wirelog {

void InitTimeBase() {
    div = static_cast<double>(CounterFrequency()) / 1000.0;
}

} // namespace Wirelog
