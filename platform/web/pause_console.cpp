// The console's final key press in the page: the same prompt as cmd's "pause", then a key in the
// terminal view or the page's Continue button.
#include <emscripten.h>

#include <cstdio>

#include "platform/pause_prompt.h"
#include "platform/win_base.h"

// The program is suspended (Asyncify) until the page has seen the key.
EM_JS(void, pageWaitForKey, (),
      { Asyncify.handleSleep(function(wakeUp) { Module.page.waitForKey(wakeUp); }); });

void pauseConsole() {
    std::printf("%s", kPausePrompt);
    std::fflush(stdout);
    pageWaitForKey();
    std::printf("\n");
    std::fflush(stdout);
}
