// portprobe: the diagnostic run over this computer's own MIDI service.
#include "app/console_setup.h"
#include "app/run.h"
#include "midi/manager.h"

int main() {
  PrepareConsole();
  return RunProbe(*GetInstance(), kRunDuration);
}
