#pragma once

// True when a JACK server is running for this user (the one JACK_DEFAULT_SERVER names, if set).
// Never starts a server and keeps libjack's own complaints off the terminal.
bool IsJackServerRunning();

// Routes libjack's error and information messages to the debug output (errors only), so that a
// probe or a vanished server does not spill several lines onto the terminal.
void QuietJackMessages();
