#include "midi/port/rtmidi/api_choice.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#if defined(PORTPROBE_HAVE_ALSA)
#include <alsa/asoundlib.h>
#endif
#if defined(PORTPROBE_HAVE_JACK)
#include <jack/jack.h>
#endif

namespace port::rtmidi {

namespace {

#if defined(PORTPROBE_HAVE_ALSA)
void SilentAlsaError(const char*, int, const char*, int, const char*, ...) {}
#endif
#if defined(PORTPROBE_HAVE_JACK)
void SilentJackMessage(const char*) {}
#endif

bool Compiled(RtMidi::Api api) {
  std::vector<RtMidi::Api> apis;
  RtMidi::getCompiledApi(apis);
  return std::find(apis.begin(), apis.end(), api) != apis.end();
}

} // namespace

bool AlsaSequencerAvailable() {
#if defined(PORTPROBE_HAVE_ALSA)
  // Without the sequencer device alsa-lib prints why; the tool says it its own way.
  snd_lib_error_set_handler(SilentAlsaError);
  snd_seq_t* sequencer = nullptr;
  const bool opened = snd_seq_open(&sequencer, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK) == 0;
  if (opened) snd_seq_close(sequencer);
  snd_lib_error_set_handler(nullptr);
  return opened;
#else
  return false;
#endif
}

bool JackServerRunning() {
#if defined(PORTPROBE_HAVE_JACK)
  jack_set_error_function(SilentJackMessage);
  jack_set_info_function(SilentJackMessage);
  jack_status_t status{};
  jack_client_t* client = jack_client_open("portprobe", JackNoStartServer, &status);
  if (client != nullptr) jack_client_close(client);
  jack_set_error_function(nullptr);
  jack_set_info_function(nullptr);
  return client != nullptr;
#else
  return false;
#endif
}

RtMidi::Api ChooseApi(bool withJack) {
  // Also covers the clients RtMidi opens itself: none may start a server.
  ::setenv("JACK_NO_START_SERVER", "1", 1);
  if (Compiled(RtMidi::MACOSX_CORE)) return RtMidi::MACOSX_CORE;
  if (Compiled(RtMidi::LINUX_ALSA) && AlsaSequencerAvailable()) return RtMidi::LINUX_ALSA;
  if (withJack && Compiled(RtMidi::UNIX_JACK) && JackServerRunning()) return RtMidi::UNIX_JACK;
  return RtMidi::UNSPECIFIED;
}

} // namespace port::rtmidi
