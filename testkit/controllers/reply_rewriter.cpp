#include "testkit/controllers/reply_rewriter.h"

namespace testkit {

using namespace port::sim;

// What the inner controller sends through: hands each event to the rewriter.
// The host's link is the same one for the whole life of the host.
class ReplyRewriter::InnerLink final : public ControllerLink {
 public:
  explicit InnerLink(ReplyRewriter& owner) : owner(owner) {}
  void Attach(ControllerLink& link) {
    std::lock_guard<std::mutex> guard(owner.lock);
    host = &link;
  }
  void Send(ControllerEvent event) override {
    std::lock_guard<std::mutex> guard(owner.lock);
    if (host != nullptr) owner.Rewrite(std::move(event), *host);
  }

 private:
  ReplyRewriter& owner;
  ControllerLink* host = nullptr;
};

ReplyRewriter::ReplyRewriter(std::shared_ptr<VirtualController> inner)
    : inner(std::move(inner)), innerLink(std::make_unique<InnerLink>(*this)) {}

ReplyRewriter::~ReplyRewriter() = default;

void ReplyRewriter::OnInputStarted(ControllerLink& link) {
  innerLink->Attach(link);
  inner->OnInputStarted(*innerLink);
}

void ReplyRewriter::OnReceive(const uint8_t* bytes, size_t length, ControllerLink& link) {
  innerLink->Attach(link);
  inner->OnReceive(bytes, length, *innerLink);
}

} // namespace testkit
