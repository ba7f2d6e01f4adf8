#pragma once

#include <string>

#include "platform/message_sink.h"

// What the window core asks of whatever shows it: the main window, a benchmark or a test's fake
// window. The host outlives the core it is given to: the core's last save, as it is destroyed, may
// still have a failure to tell.
class CoreHost : public MessageSink {
  public:
    virtual int SelectedSongRow() = 0;         // -1 when no row is selected
    virtual int SpeedSliderPosition() = 0;     // 0-4
    virtual void LightModeLed(int index) = 0;  // light LED index (0-3), darken the others
    // ShowMessage (from MessageSink): a modal message box.
    // A file of ours could not be written. Comes at exit too, when the window may already be
    // closing and no longer shows ordinary messages.
    virtual void ShowSaveFailure(const std::string& text) { ShowMessage(text); }
};
