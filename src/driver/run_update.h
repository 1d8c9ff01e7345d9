#pragma once

// One update run from banner to key press. Always returns the exit status 0: the outcome is told
// on standard output only.
int runUpdate();
