#include "driver/run_update.h"

// The tool takes no arguments: the kit file comes from the current directory.
int main() {
    return runUpdate();
}
