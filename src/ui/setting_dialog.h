#pragma once

#include <QComboBox>
#include <QDialog>

#include "midi/device_enum.h"

class MidiService;

// Chooses the MIDI input and output device. The device list's ids are the selected positions
// of the two combo boxes (-1: none), and its names the chosen devices' names.
class CSettingDialog : public QDialog {
  public:
    CSettingDialog(MidiService& service, QWidget* parent = nullptr);

    // The devices shown and, after OK, chosen.
    CMidiDeviceEnum& Devices() { return m_devices; }

    // Fills both combo boxes in device order and selects the current ids.
    void OnInitDialog();
    // OK: takes the selected positions and their names, then closes with the OK result.
    void accept() override;

    QComboBox* m_inCombo;
    QComboBox* m_outCombo;

  private:
    MidiService& m_service;
    CMidiDeviceEnum m_devices;
};
