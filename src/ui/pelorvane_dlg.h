#pragma once

#include <QDialog>
#include <QFont>
#include <QIcon>
#include <QStringList>
#include <QTimer>
#include <array>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/take.h"
#include "engine/trainer_session.h"
#include "engine/window_core.h"
#include "ui/passage_memory.h"
#include "ui/ui_state.h"

struct StoredRun;

class CMyDragListBox;
struct SongEntry;
namespace smf {
class MeterMap;
}
class CTrackListBox;
class CHandChoice;
class IdleWake;
class CLEDCtrl;
class CKeyboardPanel;
class CPositionBar;
class CNoteView;
class CPracticeResultsWindow;
class QCheckBox;
class QComboBox;
class QKeyEvent;
class QLabel;
class QSpinBox;
class QPushButton;
class QSlider;

// The main window: the song list, the track check list, the command buttons, the speed slider
// and the mode LEDs over the window core that plays the songs. The window owns the core and is
// its host.
class CPelorvaneDlg : public QDialog, public CoreHost {
    Q_OBJECT

    // Built before every member that refers to it. The destructor ends it first, while the
    // whole window is still there to tell a failure of its last save.
    std::unique_ptr<CPelorvaneCore> m_core;

  public:
    // Reads the settings and the song list from dataDir (empty: the working directory). No
    // device is opened and no thread runs until OnInitDialog.
    CPelorvaneDlg(MidiService& service, std::string dataDir = {});
    ~CPelorvaneDlg() override;

    // Everything between building the window and showing it: tooltips, fonts, slider, LEDs,
    // the song rows, the devices (their messages appear now) and, last, the clock thread.
    void OnInitDialog();
    // Stops playback and the clock, closes the devices and writes songlist.txt. The destructor
    // writes setting.txt afterwards.
    void OnDestroy();
    // Closes the window as the close box does, also when a dialog or message of ours is open:
    // used for SIGTERM, SIGINT and a desktop logout. Unattended (a signal, a logout): nobody is
    // there to answer a message, not even one about a file that could not be saved.
    void RequestClose(bool unattended = false);
    bool CloseRequested() const { return m_closeRequested; }

    // --- Commands -------------------------------------------------------------------------
    void OnCommand(int id);
    void OnAddSong();
    void AddSongPath(const QString& path);
    void OnDropFiles(const QStringList& paths);
    void OnDeleteSong();
    void OnSettings();
    void OnAbout();
    void OnSongSelChange();
    void OnTrackCheckChange();
    void OnSongsReordered();
    void OnHScroll();
    void StepSpeed(int delta);
    void OnKickIdle();
    // Widens the screen keyboard to the selected song's practice notes.
    void UpdateKeyboardRange();

    void FillSongListBox();
    void FillTrackList();
    bool SelectSongByPath(const std::string& path);

    // The keyboard filter that runs before any control sees a key; true when handled.
    bool PreTranslateMessage(QWidget* target, QKeyEvent* key);

    // --- Window core --------------------------------------------------------------------------
    CPelorvaneCore& Core() { return *m_core; }
    const CPelorvaneCore& Core() const { return *m_core; }
    // What the core asks of its host.
    int SelectedSongRow() override;
    int SpeedSliderPosition() override;
    void LightModeLed(int index) override;
    void ShowMessage(const std::string& text) override;
    void ShowSaveFailure(const std::string& text) override;

    // Runs a modal dialog of the window (settings, About, file choice). Tests override it.
    virtual int RunModal(QDialog& dialog);
    // Asks for one MIDI file; empty when cancelled.
    virtual QString AskSongFile();

    QWidget* Control(int id) const;
    CPracticeResultsWindow* Results() const { return m_results.get(); }
    void OnPracticeHistory();

    // --- Guidance for the learner (pelorvane_dlg_guidance.cpp) ---------------------------------
    // With no song selected: asks for one and returns false.
    bool SongChosen();
    // The exact speed beside the slider.
    void UpdateSpeedValue();
    // The hint over the screen keyboard, shown while no input device is open.
    void UpdateInputHint();
    QLabel* m_speedValue = nullptr;
    QLabel* m_keyboardHint = nullptr;

    // --- Keeping time (pelorvane_dlg_time.cpp) ------------------------------------------------
    // The exact speed in percent, the count-in and the metronome, under the speed slider.
    void BuildTimeControls();
    // An exact speed chosen: one of the slider's goes through the slider as before.
    void OnSpeedPercentChosen(int percent);
    void SetMetronome(bool on);
    void OnCountInChosen(int bars);
    // The count-in before each pass of a loop as well, on or off (the context menu's
    // ループの毎回カウント).
    void SetLoopCountIn(bool on);
    // The choices remembered with the window state, shown and handed to the core.
    void RestoreTimeKeeping();
    // A hard bar's だんだん速く: trains the loop around it from the usual start to the goal.
    void OnTrainLoop(LoopSpan loop, int mode);
    // だんだん速くの設定: the trainer's plan, remembered with the window state.
    void OnTrainerSettings();
    TrainerPlan ChosenTrainerPlan() const;
    // A scored run from the 練習結果 window, for the trainer.
    void OnRunScored(const PracticeRun& run, const PracticeSummary& summary);
    TrainerSession& Trainer() { return *m_trainer; }
    // The slider at the nearest position to the trainer's speed, the exact one beside it.
    void ShowTrainerSpeed();
    std::unique_ptr<TrainerSession> m_trainer;
    QSpinBox* m_speedPercent = nullptr;
    QComboBox* m_countIn = nullptr;
    QCheckBox* m_metronome = nullptr;

    // --- Position bar and A-B loop (pelorvane_dlg_passage.cpp) -------------------------------
    // Where each song's place and loop are remembered; none until set.
    void SetPassageMemory(PassageMemory memory) { m_passageMemory = std::move(memory); }
    // Shows the selected song on the position bar with its remembered place and loop, when the
    // selection has moved to another song.
    void ShowSelectedSongPassage();
    void OnPositionSeek(quint32 songMs, bool final);
    void OnLoopChange(std::optional<LoopSpan> loop);
    // A hard bar's button in the 練習結果 window.
    void OnPractiseLoop(LoopSpan loop);
    // Home, Page Up, Page Down and the loop keys; true when handled.
    bool PassageKey(QWidget* target, QKeyEvent* key);
    // The hand practised and where one track's notes divide into hands: F2 both, F3 right, F4
    // left, and the screen keyboard's menu. Remembered with the song's place.
    bool HandKey(QKeyEvent* key);
    void ChooseHand(Hand hand);
    void SplitHandsAt(int key);
    // The 両手 / 右手 / 左手 buttons, between the song buttons and the mode buttons; they show the
    // core's hand.
    void BuildHandChoice();
    void ShowHandChoice();
    CHandChoice* m_handChoice = nullptr;
    void RefreshPositionBar();
    CPositionBar* m_positionBar = nullptr;

    QIcon m_hIcon;
    CMyDragListBox* m_songListBox = nullptr;
    QFont m_listFont;
    CTrackListBox* m_trackList = nullptr;
    QSlider* m_speedSlider = nullptr;
    std::array<CLEDCtrl*, 4> m_leds{};
    CKeyboardPanel* m_keyboard = nullptr;
    CNoteView* m_noteView = nullptr;
    QTimer m_idleTimer;
    uint64_t m_idleRuns = 0;         // runs of the idle routine, for whoever checks that it ran
    bool m_idleSlept = false;        // the routine went to sleep after its last run
    IdleWake* m_idleWake = nullptr;  // lets the idle routine sleep while nothing moves
    std::unique_ptr<CPracticeResultsWindow> m_results;  // the 練習結果 window, beside this one

    // --- Falling-notes view and the window's size (pelorvane_dlg_view.cpp) ---------------------
    // Where the view's zoom and choices are remembered; none until set.
    void SetViewState(UiState state);
    // The smallest size: the window as it was before it could grow.
    QSize BaseSize() const { return m_baseSize; }
    // Gives the extra height to the view and the extra width to the view, the keyboard, the
    // position bar and the two lists; the column of buttons keeps to the right edge.
    void LayOutView();
    // The size to open at when no size is remembered: room for the view, within available
    // (the screen's area less the frame), never smaller than the base size.
    QSize FirstStartSize(const QSize& available) const;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Whether the computer keys play the screen keyboard while this control has the focus.
    bool PlaysComputerKeys(const QWidget* target) const;
    void resizeEvent(QResizeEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    void BuildControls();
    QPushButton* AddButton(int id, const char* caption, int x, int y);

    void RememberPassage();
    void ConnectViewFrames();
    void ShowSongInView(const PreparedSong* song);
    // A run's take chosen in the results: drawn over the song when it is the song shown.
    void ShowTakeInView(const QString& songPath, std::shared_ptr<const Take> take,
                        std::optional<PracticeChoice> parts);
    // 聴く in the results: the run's take replayed over the song shown, from the run's first
    // bar, and drawn over it as it plays.
    void ReplayTake(const StoredRun& run, std::shared_ptr<const Take> take);
    // Shows what waited for the selected song's preparation, when it is ready or, with wait,
    // once it is.
    void FinishSongPreparation(bool wait);
    PassageMemory m_passageMemory;
    std::optional<UiState> m_viewState;
    QSize m_baseSize;
    QRect m_basePositionBar;
    QRect m_baseKeyboard;
    QRect m_baseSongList;
    QRect m_baseTrackList;
    std::vector<std::pair<QWidget*, QRect>> m_baseRightColumn;  // buttons, slider, labels, LEDs
    // Selects the song selected when the window last closed, if it is still listed and there.
    void SelectLastSong();
    void RememberSelectedSong();
    std::optional<std::string> m_rememberedSong;
    std::string m_passageSongPath;  // the song the position bar shows
    // The selected song is being prepared: its place, the falling notes and the keyboard's
    // range are shown once it is ready (FinishSongPreparation).
    bool m_awaitingPreparation = false;
    bool m_passageAwaited = false;  // its place is not yet shown, nor remembered
    bool m_destroyed = false;
    bool m_closeRequested = false;
    bool m_unattended = false;
};
