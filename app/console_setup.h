// Prepares the console for the tool's output before the run starts.
#pragma once

// On Windows, switches console output to UTF-8 so that port names print as
// they are; elsewhere the terminal already speaks UTF-8.
void PrepareConsole();
