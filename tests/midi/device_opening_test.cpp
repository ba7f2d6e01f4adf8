#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "midi/device_enum.h"
#include "midi/device_opening.h"
#include "midi/memory_midi.h"
#include "platform/message_sink.h"

namespace {

constexpr const char* kNoOut = "MIDI出力デバイスがありません。";
constexpr const char* kOutBusy = "MIDI出力デバイスは他のプログラムにより使用中です。";
constexpr const char* kOutFailed = "MIDI出力デバイスの初期化に失敗しました。";
constexpr const char* kNoIn = "MIDI入力デバイスがありません。";
constexpr const char* kInBusy = "MIDI入力デバイスは他のプログラムにより使用中です。";
constexpr const char* kInFailed = "MIDI入力デバイスの初期化に失敗しました。";
constexpr const char* kStartFailed = "MIDIからの入力を開始できません。";

class RecordingSink : public MessageSink {
  public:
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    std::vector<std::string> messages;
};

void IgnoreInput(MidiIn*, uint32_t, void*, uintptr_t, uintptr_t) {}

struct Opening {
    InMemoryMidiService service;
    RecordingSink sink;
    std::string inName = "Digital Keyboard-1";
    std::string outName = "Digital Keyboard-1";
    std::shared_ptr<MidiOut> out;
    std::shared_ptr<MidiIn> in;

    Opening(std::vector<std::string> inputs, std::vector<std::string> outputs)
        : service(std::move(inputs), std::move(outputs)) {}
    ~Opening() { CloseDevices(out, in); }

    void Open() { OpenDevicesByName(service, inName, outName, out, in, &IgnoreInput, this, sink); }
};

TEST(DeviceEnumTest, ResolvesByNameIgnoringCaseAndFallsBackToTheFirstDevice) {
    InMemoryMidiService service({"USB Keys", "Dup", "Other", "Dup"},
                                {"Synth", "Digital Keyboard-1"});
    CMidiDeviceEnum devices;
    int id = -2;
    EXPECT_EQ("", devices.GetInDevice(id));  // a new one knows no device
    EXPECT_EQ(-1, id);

    devices.SetDeviceNames(service, "dup", "DIGITAL KEYBOARD-1");
    EXPECT_EQ("dup", devices.GetInDevice(id));  // the highest id wins; the stored case stays
    EXPECT_EQ(3, id);
    EXPECT_EQ("DIGITAL KEYBOARD-1", devices.GetOutDevice(id));
    EXPECT_EQ(1, id);

    devices.SetDeviceNames(service, "Gone", std::string(40, 'x'));
    EXPECT_EQ("USB Keys", devices.GetInDevice(id));
    EXPECT_EQ(0, id);
    EXPECT_EQ("Synth", devices.GetOutDevice(id));
    EXPECT_EQ(0, id);

    // Names on this platform may be longer than 31 characters and still match.
    std::string longName = "Digital Keyboard:Digital Keyboard MIDI 1";
    service.SetOutputNames({"Synth", longName});
    devices.SetDeviceNames(service, "", longName);
    EXPECT_EQ(longName, devices.GetOutDevice(id));
    EXPECT_EQ(1, id);

    service.SetInputNames({});
    devices.SetDeviceNames(service, "Kept", "Synth");
    EXPECT_EQ("", devices.GetInDevice(id));
    EXPECT_EQ(-1, id);
    EXPECT_EQ("Kept", devices.m_inDeviceName);
}

TEST(DeviceOpeningTest, OpensBothDevicesAndStartsInput) {
    Opening o({"Keys In", "digital keyboard-1"}, {"digital keyboard-1", "Synth"});
    o.Open();
    EXPECT_TRUE(o.sink.messages.empty());
    ASSERT_NE(nullptr, o.out);
    ASSERT_NE(nullptr, o.in);
    EXPECT_EQ("Digital Keyboard-1", o.inName);
    EXPECT_EQ((std::vector<std::string>{"open-out 0", "open-in 1", "start-in 1"}),
              o.service.Operations());
    CloseDevices(o.out, o.in);
    EXPECT_EQ(nullptr, o.out);
    EXPECT_EQ(nullptr, o.in);
    EXPECT_EQ((std::vector<std::string>{"open-out 0", "open-in 1", "start-in 1", "close-in 1",
                                        "close-out 0"}),
              o.service.Operations());
    // Reopening after a close never trips over the program's own handles.
    o.Open();
    EXPECT_TRUE(o.sink.messages.empty());
}

TEST(DeviceOpeningTest, NoDeviceOfEitherKindShowsBothMessagesOutputFirst) {
    Opening o({}, {});
    o.Open();
    EXPECT_EQ((std::vector<std::string>{kNoOut, kNoIn}), o.sink.messages);
    EXPECT_EQ("", o.inName);
    EXPECT_EQ("", o.outName);
    EXPECT_TRUE(o.service.Operations().empty());  // no open was attempted
}

TEST(DeviceOpeningTest, FallbackReplacesTheStoredNamesEvenWhenOpeningFails) {
    Opening o({"First In", "Second In"}, {"First Out"});
    o.service.FailOpenOutput(MIDI_ERROR);
    o.service.FailOpenInput(MIDI_ERROR);
    o.Open();
    EXPECT_EQ("First In", o.inName);
    EXPECT_EQ("First Out", o.outName);
    EXPECT_EQ((std::vector<std::string>{kOutFailed, kInFailed}), o.sink.messages);
}

TEST(DeviceOpeningTest, EachOpenFailureCodeShowsItsMessageAndTheOtherSideStillOpens) {
    struct Case {
        int code;
        bool output;
        const char* message;
    };
    const Case cases[] = {
        {MIDI_BAD_DEVICE_ID, true, kNoOut}, {MIDI_ALLOCATED, true, kOutBusy},
        {MIDI_ERROR, true, kOutFailed},     {11, true, kOutFailed},
        {MIDI_BAD_DEVICE_ID, false, kNoIn}, {MIDI_ALLOCATED, false, kInBusy},
        {MIDI_ERROR, false, kInFailed},     {11, false, kInFailed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.message) + " code " + std::to_string(c.code));
        Opening o({"In"}, {"Out"});
        if (c.output) {
            o.service.FailOpenOutput(c.code);
        } else {
            o.service.FailOpenInput(c.code);
        }
        o.Open();
        EXPECT_EQ(std::vector<std::string>{c.message}, o.sink.messages);
        EXPECT_EQ(c.output, o.out == nullptr);
        EXPECT_EQ(!c.output, o.in == nullptr);
        if (c.output) {
            // The player's notes still reach the callback without an output.
            EXPECT_EQ(1, o.service.InjectInput(0x403C90));
        }
    }
}

TEST(DeviceOpeningTest, OnlyOneKindMissing) {
    Opening noOut({"In"}, {});
    noOut.Open();
    EXPECT_EQ(std::vector<std::string>{kNoOut}, noOut.sink.messages);
    EXPECT_EQ("", noOut.outName);
    EXPECT_NE(nullptr, noOut.in);

    Opening noIn({}, {"Out"});
    noIn.Open();
    EXPECT_EQ(std::vector<std::string>{kNoIn}, noIn.sink.messages);
    EXPECT_EQ("", noIn.inName);
    EXPECT_NE(nullptr, noIn.out);
}

TEST(DeviceOpeningTest, FailedInputStartClosesTheInputAgain) {
    Opening o({"In"}, {"Out"});
    o.service.FailStart(true);
    o.Open();
    EXPECT_EQ(std::vector<std::string>{kStartFailed}, o.sink.messages);
    EXPECT_EQ(nullptr, o.in);
    EXPECT_NE(nullptr, o.out);
    EXPECT_EQ(0, o.service.OpenInputCount());
    EXPECT_EQ("close-in 0", o.service.Operations().back());
}

}  // namespace
