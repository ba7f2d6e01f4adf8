#pragma once

// The program's own threads that must be on time (the playback clock, the output senders) run at
// a low real-time priority, ahead of ordinary work. When the MIDI system is JACK they run below
// JACK's client threads instead, or not real-time at all when JACK itself does not run
// real-time: a JACK process callback (ours among them) must never wait for them.

// Runs the calling thread at the program's real-time priority, now and whenever it is lowered,
// until the thread ends. Quietly does nothing where the user may not raise priorities.
void RunAtProgramRealTimePriority();

// Told by whoever opens a JACK client: jack_client_real_time_priority() of it, -1 when JACK
// does not run real-time. The program's priority only ever goes down.
void KeepBelowJackClients(int jackClientPriority);

// The priority the program's threads are given: 0 for not real-time.
int ProgramRealTimePriority();
