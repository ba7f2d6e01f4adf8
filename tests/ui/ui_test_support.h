#pragma once

#include <QDialog>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "midi/memory_midi.h"
#include "midi_file_writer/smf_writer.h"
#include "ui/pelorvane_dlg.h"

// The main window with its modal parts replaced: messages are recorded, the file choice and the
// modal dialogs are answered by the test.
class TestWindow : public CPelorvaneDlg {
  public:
    using CPelorvaneDlg::CPelorvaneDlg;

    void ShowMessage(const std::string& text) override { m_messages.push_back(text); }
    void ShowSaveFailure(const std::string& text) override { m_messages.push_back(text); }
    int RunModal(QDialog& dialog) override {
        ++m_modalRuns;
        return m_onModal ? m_onModal(dialog) : QDialog::Rejected;
    }
    QString AskSongFile() override {
        ++m_fileAsks;
        return m_nextFile;
    }

    std::vector<std::string> m_messages;
    std::function<int(QDialog&)> m_onModal;
    int m_modalRuns = 0;
    int m_fileAsks = 0;
    QString m_nextFile;
};

// While it lives, hands every widget that find() returns (a popup menu, a modal dialog) to
// answer as soon as it shows, from the event loop, including the widget's own modal loop: a
// menu or dialog that shows late is still answered, so the test never hangs on it. answer must
// close what it is given; whatever is still open afterwards is closed.
class WhenShown {
  public:
    WhenShown(std::function<QWidget*()> find, std::function<void(QWidget&)> answer);
    ~WhenShown();
    WhenShown(const WhenShown&) = delete;
    WhenShown& operator=(const WhenShown&) = delete;

    int Count() const { return m_count; }  // widgets answered so far

    static QWidget* PopupMenu();    // the open context menu, if any
    static QWidget* ModalDialog();  // the active modal dialog, if any

  private:
    std::function<QWidget*()> m_find;
    std::function<void(QWidget&)> m_answer;
    QTimer* m_timer;
    int m_count = 0;
};

// A temporary working directory with copies of the demo songs, an in-memory MIDI service with
// the default device names and a window over both.
class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Builds and opens the window (songlist.txt written beforehand is read).
    void OpenWindow();
    // Writes the song into the working directory as fileName, lists it alone, opens the window
    // and selects it.
    void OpenWithSong(const SmfWriter& song, const std::string& fileName);
    // Copies demo song n (0-2) into the working directory and returns its path.
    std::string DemoSong(int n);
    std::string WriteFile(const std::string& name, const std::string& content);
    void WriteSongList(const std::vector<std::string>& paths);
    std::string ReadFile(const std::string& name) const;
    bool FileExists(const std::string& name) const;

    // The user's click on a row of the song list.
    void ClickSongRow(int row);
    std::vector<std::string> RowTitles() const;
    std::vector<int> RowData() const;
    QWidget* Control(int id) const { return m_window->Control(id); }
    // Waits (processing events) until pred holds or ms passed.
    static bool WaitFor(const std::function<bool()>& pred, int ms = 3000);

    QTemporaryDir m_dir;
    std::string m_path;
    InMemoryMidiService m_service{{"Digital Keyboard-1"}, {"Digital Keyboard-1"}};
    std::unique_ptr<TestWindow> m_window;
};

// Pixels in which what the window shows of the widget differs from the widget drawn whole (a
// paint event of its own): a partial repaint that left something stale shows here.
int PixelsShownDifferently(QWidget* widget);
