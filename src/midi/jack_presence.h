#pragma once

#include <jack/types.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>

#include "midi/jack_shared_client.h"

// Whether the other program's port that a JACK device of ours is connected to is still there,
// and whom to tell when that may have changed: the same for inputs and outputs.
class JackPresence : public JackPortUser {
  public:
    bool FoundGone() const { return m_gone.load(std::memory_order_acquire); }

    // Looks for `reported` among the server's ports that send (inputs for us) or receive, listed
    // to the user as `name`; once it is not there the device is gone for good, which the debug
    // output tells. True while it is there.
    bool Look(jack_client_t* client, bool sending, const std::string& name,
              const std::string& reported);

    // Called from JACK's threads when the device may have gone.
    void SetNudge(std::function<void()> nudge);

    void ServerGone() override;
    void GraphChanged() override;

  private:
    std::atomic<bool> m_gone{false};
    std::mutex m_nudgeLock;  // m_nudge against a change while a JACK thread calls it
    std::function<void()> m_nudge;
};
