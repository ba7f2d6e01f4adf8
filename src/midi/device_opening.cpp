#include "midi/device_opening.h"

#include "midi/device_enum.h"
#include "platform/message_sink.h"

namespace {

const char* OutputFailureText(int result) {
    switch (result) {
        case MIDI_BAD_DEVICE_ID:
            return "MIDI出力デバイスがありません。";
        case MIDI_ALLOCATED:
            return "MIDI出力デバイスは他のプログラムにより使用中です。";
        default:
            return "MIDI出力デバイスの初期化に失敗しました。";
    }
}

const char* InputFailureText(int result) {
    switch (result) {
        case MIDI_BAD_DEVICE_ID:
            return kNoInputText;
        case MIDI_ALLOCATED:
            return "MIDI入力デバイスは他のプログラムにより使用中です。";
        default:
            return "MIDI入力デバイスの初期化に失敗しました。";
    }
}

}  // namespace

void OpenDevicesByName(MidiService& service, std::string& inName, std::string& outName,
                       std::shared_ptr<MidiOut>& out, std::shared_ptr<MidiIn>& in,
                       MidiInCallback callback, void* instance, MessageSink& sink) {
    CMidiDeviceEnum devices;
    devices.SetDeviceNames(service, inName, outName);
    int inId = -1;
    int outId = -1;
    // The stored names follow the resolution whether or not the devices open below.
    inName = devices.GetInDevice(inId);
    outName = devices.GetOutDevice(outId);

    int result = outId >= 0 ? service.OpenOutput(outId, out) : MIDI_BAD_DEVICE_ID;
    if (result != MIDI_OK) {
        out.reset();
        sink.ShowMessage(OutputFailureText(result));
    }

    result = inId >= 0 ? service.OpenInput(inId, callback, instance, in) : MIDI_BAD_DEVICE_ID;
    if (result != MIDI_OK) {
        in.reset();
        sink.ShowMessage(InputFailureText(result));
        return;
    }
    if (in && in->Start() != MIDI_OK) {
        sink.ShowMessage("MIDIからの入力を開始できません。");
        in->Close();
        in.reset();
    }
}

void CloseDevices(std::shared_ptr<MidiOut>& out, std::shared_ptr<MidiIn>& in) {
    if (in) {
        in->Close();
        in.reset();
    }
    if (out) {
        out->Close();
        out.reset();
    }
}
