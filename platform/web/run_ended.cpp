#include "platform/web/run_ended.h"

#include <emscripten.h>

EM_JS(void, pageRunEnded, (int status), { Module.page.runEnded(status); });

void reportRunEnded(int status) {
    pageRunEnded(status);
}
