#pragma once

// Asks the system to run the calling thread ahead of ordinary work, so that a busy machine
// does not make the playback clock late. The thread sleeps every millisecond, so it cannot
// starve others. Quietly does nothing where the user may not raise priorities. Below JACK's
// client threads when the MIDI system is JACK.
void RaiseClockThreadPriority();
