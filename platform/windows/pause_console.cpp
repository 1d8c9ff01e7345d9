#include <cstdlib>

#include "platform/win_base.h"

// The command interpreter prints its own prompt and waits for one key. If it cannot be started
// there is nothing better to do than to end the run without the wait.
void pauseConsole() {
    std::system("pause");
}
