#include "platform/web/page_clock.h"

#include <emscripten.h>

// The program is suspended (Asyncify) until the page's clock says the pause is over.
EM_JS(void, pagePauseSuspended, (double milliseconds), {
    Asyncify.handleSleep(function(wakeUp) { Module.page.clock.pause(milliseconds, wakeUp); });
});

EM_JS(double, pageClockNow, (), { return Module.page.clock.now(); });

double pageNowMilliseconds() {
    return pageClockNow();
}

void pagePause(double milliseconds) {
    pagePauseSuspended(milliseconds);
}
