#pragma once

#include <memory>
#include <string>

#include "midi/midi_port.h"

class MessageSink;

// Resolves the two names (replacing them by the resolved names), opens the output, then the
// input with the callback, and starts input; each failure is shown through sink, output's
// first. The caller has closed both devices, and holds no lock that the clock waits for.
void OpenDevicesByName(MidiService& service, std::string& inName, std::string& outName,
                       std::shared_ptr<MidiOut>& out, std::shared_ptr<MidiIn>& in,
                       MidiInCallback callback, void* instance, MessageSink& sink);

// Input first, then output; both handles end up null.
void CloseDevices(std::shared_ptr<MidiOut>& out, std::shared_ptr<MidiIn>& in);

// No input device of the chosen name (or none at all) at opening.
inline constexpr const char* kNoInputText = "MIDI入力デバイスがありません。";

// What the learner is told when a device disappears while a song plays.
inline constexpr const char* kOutputLostText =
    "MIDI出力デバイスが見つからなくなりました。演奏を停止しました。"
    "つなぎ直したら、設定でデバイスを選び直してください。";
inline constexpr const char* kInputLostText =
    "MIDI入力デバイスが見つからなくなりました。演奏を停止しました。"
    "つなぎ直したら、設定でデバイスを選び直してください。";
// The same, when nothing that listens to the learner was playing.
inline constexpr const char* kInputLostNothingStoppedText =
    "MIDI入力デバイスが見つからなくなりました。"
    "つなぎ直したら、設定でデバイスを選び直してください。";
