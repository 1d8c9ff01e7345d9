// Tells the page that the update run has ended, with the program's exit status.
#pragma once

void reportRunEnded(int status);
