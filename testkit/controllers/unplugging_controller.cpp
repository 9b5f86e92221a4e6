#include "testkit/controllers/unplugging_controller.h"

namespace testkit {

using namespace port::sim;

void UnpluggingController::Rewrite(ControllerEvent event, ControllerLink& link) {
  if (answersLeft <= 0) return; // pulled: nothing more comes from it
  link.Send(std::move(event));
  if (--answersLeft > 0) return;
  ControllerEvent unplug;
  unplug.kind = ControllerEvent::Kind::Unplug;
  link.Send(std::move(unplug));
}

} // namespace testkit
