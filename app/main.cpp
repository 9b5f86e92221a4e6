// portprobe: the diagnostic run over this computer's own MIDI service.
#include "app/run.h"
#include "midi/manager.h"

int main() {
  return app::RunTool(*GetInstance());
}
