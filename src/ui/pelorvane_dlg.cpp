#include "ui/pelorvane_dlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>

#include "engine/key_state.h"
#include "midi/device_opening.h"
#include "platform/clock.h"
#include "platform/debug_output.h"
#include "ui/about_dlg.h"
#include "ui/control_ids.h"
#include "ui/dialog_units.h"
#include "ui/drag_list_box.h"
#include "ui/fonts.h"
#include "ui/idle_wake.h"
#include "ui/keyboard_panel.h"
#include "ui/led_ctrl.h"
#include "ui/note_view.h"
#include "ui/position_bar.h"
#include "ui/practice_results_window.h"
#include "ui/setting_dialog.h"
#include "ui/string_table.h"
#include "ui/track_list_box.h"

namespace {

struct Accelerator {
    int key;
    int command;
};

// Plain keys without Shift, Ctrl or Alt, in the order the table was laid down.
const Accelerator kAccelerators[] = {
    {Qt::Key_F5, ids::kModelPerformance},
    {Qt::Key_Insert, ids::kAddSong},
    {Qt::Key_Delete, ids::kDeleteSong},
    {Qt::Key_F6, ids::kMyPaceLesson},
    {Qt::Key_F7, ids::kAccompaniment},
    {Qt::Key_F8, ids::kSolo},
    {Qt::Key_F9, ids::kStop},
};

constexpr uint32_t kTrackRepaintMs = 33;
// How often the idle routine runs: often enough that a flashing key shows its 10 ms lit phase,
// twice per 33 ms repaint step while only the activity bars move. When all is still (play
// stopped, or a lesson waiting for the learner, with nothing fading or flashing) it sleeps until
// the engine publishes something (a device found gone included) or the learner does something,
// so that an idle program costs nothing; without a way to be woken, it asks often enough that
// keys held on the MIDI keyboard show within one quiet period.
constexpr int kFlashIdleMs = 8;
constexpr int kBusyIdleMs = 16;
constexpr int kQuietIdleMs = 50;

}  // namespace

CPelorvaneDlg::CPelorvaneDlg(MidiService& service, std::string dataDir)
    // A normal top-level window, not a dialog: a dialog without a parent is made transient for
    // a hidden window on X11, and many taskbars and task switchers then leave it out.
    : QDialog(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint | Qt::WindowMaximizeButtonHint),
      m_core(std::make_unique<CPelorvaneCore>(service, *this, std::move(dataDir))),
      m_trainer(std::make_unique<TrainerSession>(m_core->Session(),
                                                 [this](PlayMode mode, int speedPercent) {
                                                     m_core->SetSpeedPercent(speedPercent);
                                                     m_core->StartPlay(mode);
                                                     return m_core->CurrentPlayState() != Stopped;
                                                 })) {
    InstallFontSubstitutes();
    m_hIcon = QIcon(QStringLiteral(":/res/pelorvane.png"));
    BuildControls();
    m_idleTimer.setInterval(kBusyIdleMs);
    connect(&m_idleTimer, &QTimer::timeout, this, &CPelorvaneDlg::OnKickIdle);
    m_idleWake = new IdleWake(m_core->Published(), &m_core->KeysPlayed(), this);
    connect(m_idleWake, &IdleWake::woken, this, [this] {
        if (!m_destroyed) {
            OnKickIdle();
        }
    });
    ConnectViewFrames();
}

CPelorvaneDlg::~CPelorvaneDlg() {
    OnDestroy();
    // What refers to the core goes before it; the core then writes setting.txt.
    m_results.reset();
    m_core.reset();
}

QPushButton* CPelorvaneDlg::AddButton(int id, const char* caption, int x, int y) {
    const DialogUnits du(font());
    auto* button = new QPushButton(QString::fromUtf8(caption), this);
    button->setObjectName(QString::number(id));
    button->setGeometry(du.Rect(x, y, 66, 24));
    // No button is the default one: Enter never presses a button.
    button->setAutoDefault(false);
    button->setDefault(false);
    button->setFocusPolicy(Qt::StrongFocus);
    connect(button, &QPushButton::clicked, this, [this, id] { OnCommand(id); });
    return button;
}

void CPelorvaneDlg::BuildControls() {
    setWindowTitle(QStringLiteral("Pelorvane"));
    setFont(QFont(QStringLiteral("MS UI Gothic"), 9));
    const DialogUnits du(font());

    // Created in tab order.
    QWidget* tabOrder[16];
    int tabs = 0;
    tabOrder[tabs++] = AddButton(ids::kAddSong, "曲を追加", 210, 6);
    tabOrder[tabs++] = AddButton(ids::kDeleteSong, "曲を削除", 210, 30);
    tabOrder[tabs++] = AddButton(ids::kModelPerformance, "お手本演奏", 210, 66);
    tabOrder[tabs++] = AddButton(ids::kMyPaceLesson, "マイペースレッスン", 210, 90);
    tabOrder[tabs++] = AddButton(ids::kAccompaniment, "伴奏演奏", 210, 114);
    tabOrder[tabs++] = AddButton(ids::kSolo, "ソロ演奏", 210, 138);
    tabOrder[tabs++] = AddButton(ids::kStop, "停止", 210, 168);
    BuildHandChoice();

    auto addLabel = [&](const char* text, int x, int y, int w, int h) {
        auto* label = new QLabel(QString::fromUtf8(text), this);
        QRect rect = du.Rect(x, y, w, h);
        // A caption never gets cut: the installed font may run a little wider than the template's.
        rect.setWidth(qMax(rect.width(), label->sizeHint().width()));
        label->setGeometry(rect);
        label->setFocusPolicy(Qt::NoFocus);
        return label;
    };
    addLabel("再生速度", 216, 198, 28, 8);
    // The speed the slider stands at, also between the labelled positions.
    m_speedValue = addLabel("x1.0", 248, 198, 28, 8);
    m_speedValue->setObjectName(QStringLiteral("speedValue"));

    m_speedSlider = new QSlider(Qt::Horizontal, this);
    m_speedSlider->setObjectName(QString::number(ids::kSpeedSlider));
    m_speedSlider->setGeometry(du.Rect(210, 210, 66, 18));
    m_speedSlider->setTickPosition(QSlider::TicksBelow);
    m_speedSlider->setTickInterval(1);
    m_speedSlider->setSingleStep(1);
    m_speedSlider->setPageStep(1);
    m_speedSlider->setFocusPolicy(Qt::StrongFocus);
    tabOrder[tabs++] = m_speedSlider;

    addLabel("x0.5", 210, 228, 12, 8);
    addLabel("x1.0", 252, 228, 12, 8);
    addLabel("x1.2", 270, 228, 12, 8);

    BuildTimeControls();

    tabOrder[tabs++] = AddButton(ids::kSettings, "設定", 210, 264);

    m_songListBox = new CMyDragListBox(this);
    m_songListBox->setObjectName(QString::number(ids::kSongList));
    m_songListBox->setGeometry(du.Rect(7, 7, 197, 95));
    m_songListBox->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_songListBox->setFocusPolicy(Qt::StrongFocus);
    tabOrder[tabs++] = m_songListBox;

    m_trackList = new CTrackListBox(m_core->Activity(), this);
    m_trackList->setObjectName(QString::number(ids::kTrackList));
    m_trackList->setGeometry(du.Rect(6, 108, 198, 180));
    m_trackList->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_trackList->setFocusPolicy(Qt::StrongFocus);
    tabOrder[tabs++] = m_trackList;

    const int ledY[4] = {66, 90, 114, 138};
    for (int i = 0; i < 4; ++i) {
        m_leds[i] = new CLEDCtrl(this);
        m_leds[i]->setObjectName(QString::number(ids::kLed[i]));
        m_leds[i]->setGeometry(du.Rect(277, ledY[i], 8, 24));
    }

    // The position bar, then the screen keyboard across the bottom, under everything of the
    // template.
    m_positionBar = new CPositionBar(this);
    m_positionBar->setObjectName(QStringLiteral("position"));
    m_positionBar->setGeometry(du.Rect(6, 295, 279, 12));
    connect(m_positionBar, &CPositionBar::seekRequested, this, &CPelorvaneDlg::OnPositionSeek);
    connect(m_positionBar, &CPositionBar::loopChangeRequested, this, &CPelorvaneDlg::OnLoopChange);
    m_keyboard = new CKeyboardPanel(*m_core, this);
    m_keyboard->setObjectName(QStringLiteral("keyboard"));
    m_keyboard->setGeometry(du.Rect(6, 309, 279, 44));
    tabOrder[tabs++] = m_keyboard;
    m_keyboardHint = new QLabel(
        QString::fromUtf8("MIDIキーボードがなくても、この鍵盤をマウスやパソコンのキーで弾けます。"),
        this);
    m_keyboardHint->setObjectName(QStringLiteral("keyboardHint"));
    m_keyboardHint->setAlignment(Qt::AlignCenter);
    m_keyboardHint->hide();
    // The falling notes, above the keyboard: as tall as the window has grown.
    m_noteView = new CNoteView(*m_core, *m_keyboard, this);
    m_noteView->setObjectName(QStringLiteral("notes"));
    m_noteView->hide();
    m_basePositionBar = m_positionBar->geometry();
    m_baseKeyboard = m_keyboard->geometry();
    m_baseSongList = m_songListBox->geometry();
    m_baseTrackList = m_trackList->geometry();
    const int rightColumn = du.X(205);
    for (QWidget* child : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (child->geometry().left() >= rightColumn && child->geometry().top() < du.Y(295)) {
            m_baseRightColumn.emplace_back(child, child->geometry());
        }
    }

    for (int i = 0; i + 1 < tabs; ++i) {
        setTabOrder(tabOrder[i], tabOrder[i + 1]);
    }
    // The controls added to the template come after all of its own.
    setTabOrder(tabOrder[tabs - 1], m_speedPercent);
    setTabOrder(m_speedPercent, m_countIn);
    setTabOrder(m_countIn, m_metronome);

    connect(m_songListBox, &QListWidget::itemSelectionChanged, this,
            &CPelorvaneDlg::OnSongSelChange);
    connect(m_trackList, &QListWidget::itemChanged, this, &CPelorvaneDlg::OnTrackCheckChange);
    // Every change of the slider applies the speed at once, during a drag as well.
    connect(m_speedSlider, &QSlider::valueChanged, this, &CPelorvaneDlg::OnHScroll);
    connect(m_speedSlider, &QSlider::sliderReleased, this, &CPelorvaneDlg::OnHScroll);
    connect(m_trackList, &QListWidget::itemChanged, this, &CPelorvaneDlg::UpdateKeyboardRange);
    connect(m_keyboard, &CKeyboardPanel::handChosen, this, &CPelorvaneDlg::ChooseHand);
    connect(m_keyboard, &CKeyboardPanel::splitRequested, this, &CPelorvaneDlg::SplitHandsAt);
    m_songListBox->m_onReordered = [this] { OnSongsReordered(); };
    m_songListBox->m_onFilesDropped = [this](const QStringList& paths) { OnDropFiles(paths); };

    m_baseSize = QSize(du.X(291), du.Y(359));
    setMinimumSize(m_baseSize);
    resize(m_baseSize);
}

QWidget* CPelorvaneDlg::Control(int id) const {
    return findChild<QWidget*>(QString::number(id));
}

void CPelorvaneDlg::OnInitDialog() {
    // The About entry lives in the context menu (contextMenuEvent).
    setWindowIcon(m_hIcon);

    // Tooltips: every control whose id has a string shows it.
    for (QWidget* child : findChildren<QWidget*>()) {
        bool isId = false;
        const int id = child->objectName().toInt(&isId);
        if (isId) {
            child->setToolTip(LoadString(id));
        }
    }

    setAcceptDrops(true);

    m_listFont = QFont(QStringLiteral("ＭＳ Ｐゴシック"), 12);
    m_songListBox->setFont(m_listFont);

    {
        const QSignalBlocker block(m_speedSlider);
        m_speedSlider->setRange(0, kSpeedPositions - 1);
        m_speedSlider->setValue(kDefaultSpeedPosition);
    }
    UpdateSpeedValue();

    for (CLEDCtrl* led : m_leds) {
        CLEDCtrl::LoadImageResource(led->m_imgOn, kLedOnBitmap);
        CLEDCtrl::LoadImageResource(led->m_imgOff, kLedOffBitmap);
        led->m_stretch = 0;
        led->update();
    }

    FillSongListBox();
    m_core->OpenMidiDevices();
    UpdateInputHint();
    m_core->StartClockThread();
    m_results = std::make_unique<CPracticeResultsWindow>(*m_core, this);
    connect(m_results.get(), &CPracticeResultsWindow::Message, this,
            [this](const QString& text) { ShowMessage(text.toStdString()); });
    connect(m_results.get(), &CPracticeResultsWindow::SaveFailure, this,
            [this](const QString& text) { ShowSaveFailure(text.toStdString()); });
    connect(m_results.get(), &CPracticeResultsWindow::LoopRequested, this,
            &CPelorvaneDlg::OnPractiseLoop);
    connect(m_results.get(), &CPracticeResultsWindow::TrainerRequested, this,
            &CPelorvaneDlg::OnTrainLoop);
    connect(m_results.get(), &CPracticeResultsWindow::TrainerSettingsRequested, this,
            &CPelorvaneDlg::OnTrainerSettings);
    m_results->m_onScored = [this](const PracticeRun& run, const PracticeSummary& summary) {
        OnRunScored(run, summary);
    };
    connect(m_results.get(), &CPracticeResultsWindow::TakeChosen, this,
            &CPelorvaneDlg::ShowTakeInView);
    connect(m_results.get(), &CPracticeResultsWindow::ReplayRequested, this,
            &CPelorvaneDlg::ReplayTake);

    SelectLastSong();

    qApp->installEventFilter(this);
    m_idleTimer.start();
    if (QWidget* first = Control(ids::kAddSong)) {
        first->setFocus();
    }
}

void CPelorvaneDlg::OnDestroy() {
    if (m_destroyed) {
        return;
    }
    m_destroyed = true;
    m_idleTimer.stop();
    m_idleWake->Stay();
    qApp->removeEventFilter(this);
    // Its notes end before the devices close, and it never reaches the core again.
    m_keyboard->Detach();
    m_core->ShutDown();
    if (m_results) {
        m_results->CollectRuns(true);
        m_results->close();
    }
}

void CPelorvaneDlg::RequestClose(bool unattended) {
    m_closeRequested = true;
    m_unattended = m_unattended || unattended;
    // A menu or modal window of ours (a message, the settings, the file choice) would hold the
    // close back until the user answers it; close those first.
    for (int guard = 0; guard < 8; ++guard) {
        QWidget* popup = QApplication::activePopupWidget();  // the context menu
        if (!popup) {
            break;
        }
        popup->close();
    }
    for (int guard = 0; guard < 8; ++guard) {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal == this) {
            break;
        }
        if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            dialog->reject();
        } else {
            modal->close();
        }
    }
    reject();
}

// --- Commands ---------------------------------------------------------------------------------

void CPelorvaneDlg::OnCommand(int id) {
    const bool modeCommand = id == ids::kModelPerformance || id == ids::kMyPaceLesson ||
                             id == ids::kAccompaniment || id == ids::kSolo;
    if (modeCommand && !SongChosen()) {
        return;
    }
    if (modeCommand) {
        // A song chosen a moment ago starts from its remembered place, so that is shown first.
        FinishSongPreparation(true);
    }
    // Playing by hand ends the training.
    if (modeCommand || id == ids::kStop) {
        m_trainer->Stop();
    }
    switch (id) {
        case ids::kAddSong:
            OnAddSong();
            break;
        case ids::kDeleteSong:
            OnDeleteSong();
            break;
        case ids::kModelPerformance:
            m_core->StartPlay(PlayMode::ModelPerformance);
            break;
        case ids::kMyPaceLesson:
            m_core->StartPlay(PlayMode::MyPaceLesson);
            break;
        case ids::kAccompaniment:
            m_core->StartPlay(PlayMode::Accompaniment);
            break;
        case ids::kSolo:
            m_core->StartPlay(PlayMode::Solo);
            break;
        case ids::kStop:
            m_core->StopPlay();
            break;
        case ids::kSettings:
            OnSettings();
            break;
        default:
            break;
    }
}

void CPelorvaneDlg::OnSettings() {
    if (m_core->CurrentPlayState() != Stopped) {
        m_core->StopPlay();
    }
    CSettingDialog dialog(m_core->Service(), this);
    dialog.Devices().SetDeviceNames(m_core->Service(), m_core->InDeviceName(),
                                    m_core->OutDeviceName());
    dialog.OnInitDialog();
    if (RunModal(dialog) != QDialog::Accepted) {
        return;
    }
    int id = -1;
    const std::string inName = dialog.Devices().GetInDevice(id);
    const std::string outName = dialog.Devices().GetOutDevice(id);
    m_core->ApplyDeviceNames(inName, outName);
    UpdateInputHint();
}

void CPelorvaneDlg::OnAbout() {
    CAboutDlg about(this);
    RunModal(about);
}

int CPelorvaneDlg::RunModal(QDialog& dialog) {
    if (m_closeRequested) {
        return QDialog::Rejected;
    }
    return dialog.exec();
}

void CPelorvaneDlg::ShowMessage(const std::string& text) {
    if (m_closeRequested) {
        return;
    }
    const bool noInput = text == kNoInputText && m_viewState;
    if (noInput && m_viewState->NoInputNoticeHidden()) {
        return;
    }
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Pelorvane"), QString::fromStdString(text),
                    QMessageBox::Ok, this);
    if (noInput) {
        // Without a keyboard the screen keyboard plays; a learner who knows may skip this.
        box.setCheckBox(new QCheckBox(QString::fromUtf8("次回から表示しない"), &box));
    }
    box.exec();
    if (noInput && box.checkBox()->isChecked()) {
        m_viewState->SetNoInputNoticeHidden(true);
    }
    if (text == kInputLostText) {
        UpdateInputHint();
    }
}

void CPelorvaneDlg::ShowSaveFailure(const std::string& text) {
    // At exit the window is already closing and shows no ordinary message, but a list or
    // setting that will be lost is worth one more box, unless nobody is there to answer it.
    if (m_unattended) {
        DebugOutput(text);
        return;
    }
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Pelorvane"), QString::fromStdString(text),
                    QMessageBox::Ok, isVisible() ? this : nullptr);
    box.exec();
}

// --- Speed slider and keys ----------------------------------------------------------------

void CPelorvaneDlg::OnHScroll() {
    m_core->ApplySpeedFromSlider();
    UpdateSpeedValue();
}

void CPelorvaneDlg::StepSpeed(int delta) {
    const int position = ClampSpeedPosition(m_speedSlider->value() + delta);
    {
        // One application per step, as for a mouse action.
        const QSignalBlocker block(m_speedSlider);
        m_speedSlider->setValue(position);
    }
    OnHScroll();
}

bool CPelorvaneDlg::PreTranslateMessage(QWidget* target, QKeyEvent* key) {
    if (!target || target->window() != this) {
        return false;
    }
    if (PassageKey(target, key)) {
        return true;
    }
    if (HandKey(key)) {
        return true;
    }
    if (key->key() == Qt::Key_Left) {
        StepSpeed(-1);
        return true;
    }
    if (key->key() == Qt::Key_Right) {
        StepSpeed(+1);
        return true;
    }
    const Qt::KeyboardModifiers held =
        key->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
    if (held == Qt::NoModifier) {
        for (const Accelerator& accelerator : kAccelerators) {
            if (key->key() == accelerator.key) {
                OnCommand(accelerator.command);
                return true;
            }
        }
    }
    if (key->key() == Qt::Key_F12 && held == Qt::NoModifier) {
        SetMetronome(!m_core->Metronome());
        return true;
    }
    if (key->key() == Qt::Key_F10 && held == Qt::ShiftModifier) {
        // The desktop's other key for the context menu, besides the Menu key.
        const QPoint centre = target->rect().center();
        QContextMenuEvent menu(QContextMenuEvent::Keyboard, centre, target->mapToGlobal(centre));
        QCoreApplication::sendEvent(target, &menu);
        return true;
    }
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
        // Forward and back again: the focus stays where it was and no button is pressed.
        focusNextPrevChild(true);
        focusNextPrevChild(false);
        return true;
    }
    return false;
}

bool CPelorvaneDlg::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::Wheel:
            // What the learner does may change what the window shows: a sleeping idle routine
            // runs once it is handled.
            m_idleWake->Input();
            break;
        default:
            break;
    }
    if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
        auto* target = static_cast<QWidget*>(watched);
        auto* key = static_cast<QKeyEvent*>(event);
        if (PreTranslateMessage(target, key)) {
            return true;
        }
        if (PlaysComputerKeys(target) && m_keyboard->TakeComputerKeyPress(*key)) {
            return true;
        }
    } else if (event->type() == QEvent::KeyRelease && watched->isWidgetType() && m_keyboard) {
        // A key-up ends the note wherever the focus has gone meanwhile.
        if (m_keyboard->TakeComputerKeyRelease(*static_cast<QKeyEvent*>(event))) {
            return true;
        }
    } else if (event->type() == QEvent::WindowDeactivate && watched == this && m_keyboard) {
        m_keyboard->ReleaseComputerKeys();  // their key-ups go to another window now
    }
    return QDialog::eventFilter(watched, event);
}

bool CPelorvaneDlg::PlaysComputerKeys(const QWidget* target) const {
    if (!m_keyboard || !target || target->window() != this) {
        return false;
    }
    // Where letters are typed, they stay letters: the song list finds a song by its first
    // letters, and an edit field takes text.
    for (const QWidget* w = target; w; w = w->parentWidget()) {
        if (w == m_songListBox) {
            return false;
        }
    }
    return !target->inherits("QLineEdit") && !target->inherits("QAbstractSpinBox") &&
           !target->inherits("QTextEdit") && !target->inherits("QPlainTextEdit");
}

void CPelorvaneDlg::contextMenuEvent(QContextMenuEvent* event) {
    const QString text = LoadString(ids::kAboutEntry);
    QMenu menu(this);
    QAction* about = text.isEmpty() ? nullptr : menu.addAction(text);
    QAction* history = menu.addAction(QString::fromUtf8("練習の記録(&H)..."));
    QAction* metronome = menu.addAction(QString::fromUtf8("メトロノーム(&M)"));
    metronome->setCheckable(true);
    metronome->setChecked(m_core->Metronome());
    // Before each pass of a loop as well as before the start; nothing to repeat without a
    // count-in.
    QAction* eachPass = menu.addAction(QString::fromUtf8("ループの毎回カウント(&L)"));
    eachPass->setCheckable(true);
    eachPass->setChecked(m_core->LoopCountIn());
    eachPass->setEnabled(m_core->CountInBars() > 0);
    QAction* chosen = menu.exec(event->globalPos());
    if (chosen && chosen == about) {
        OnAbout();
    } else if (chosen == history) {
        OnPracticeHistory();
    } else if (chosen == metronome) {
        SetMetronome(!m_core->Metronome());
    } else if (chosen == eachPass) {
        SetLoopCountIn(!m_core->LoopCountIn());
    }
}

// --- Idle routine and LEDs ----------------------------------------------------------------

void CPelorvaneDlg::OnKickIdle() {
    ++m_idleRuns;
    // Read first: whatever is published from here on wakes a routine that goes to sleep.
    const uint64_t published = m_core->Published().Count();
    FinishSongPreparation(false);
    const uint32_t t = NowMs();
    const uint32_t before = m_core->Activity().m_now.load(std::memory_order_relaxed);
    const bool step = t - before >= kTrackRepaintMs;
    if (step) {
        m_core->Activity().m_now.store(t, std::memory_order_relaxed);
    }
    // Notes that played while the routine slept were stamped with the repaint clock as it stood
    // when it fell asleep, which no row's last note had then (every bar had gone): they count
    // from now, as they would have from the next step.
    const bool wokeUp = m_idleSlept;
    m_idleSlept = false;
    bool barsVisible = false;
    int firstBar = -1;
    int lastBar = -1;
    const int rows = std::min(m_trackList->count(), TrackActivity::kMaxRows);
    for (int row = 0; row < rows; ++row) {
        uint32_t last = m_core->Activity().m_lastNoteTime[row].load(std::memory_order_relaxed);
        if (wokeUp && step && last == before &&
            m_core->Activity().m_lastNoteTime[row].compare_exchange_strong(
                last, t, std::memory_order_relaxed)) {
            last = t;
        }
        if (before - last < CTrackListBox::kFadeMs || t - last < CTrackListBox::kFadeMs) {
            barsVisible = true;
            // Only a row whose bar shows or has just gone changes: its bar is all that moves.
            if (step) {
                firstBar = firstBar < 0 ? row : firstBar;
                lastBar = row;
            }
        }
    }
    if (firstBar >= 0) {
        m_trackList->RepaintActivity(firstBar, lastBar);
    }
    m_core->CheckDevices();
    // Repaints only the keys whose look changed since the last run.
    m_keyboard->Refresh(t);
    m_noteView->Refresh(t);
    RefreshPositionBar();
    const bool stopped = m_core->CurrentPlayState() == Stopped;
    if (m_results) {
        m_results->CollectWhileRunsPending(!stopped);
    }
    if (stopped) {
        for (CLEDCtrl* led : m_leds) {
            if (led->m_lit) {
                led->m_lit = 0;
                led->repaint();
            }
        }
    }
    // A lesson that waits for the learner stands still: only a key played (published) or a
    // command moves it on.
    const bool waiting = m_core->CurrentPlayState() == Playing && m_core->ReadSongClock().waiting;
    // A song prepared on a worker is picked up here, so the routine keeps looking for it.
    const bool still =
        (stopped || waiting) && !barsVisible && !m_keyboard->Flashing() && !m_awaitingPreparation;
    const int interval = m_keyboard->Flashing()    ? kFlashIdleMs
                         : !stopped || barsVisible ? kBusyIdleMs
                                                   : kQuietIdleMs;
    // Asleep, the routine has no timer at all: only a notice or the learner wakes it.
    const bool asleep = still && m_idleWake->CanSleep() && !m_destroyed;
    if (asleep) {
        m_idleSlept = true;
        m_idleWake->Sleep(published);
    } else {
        m_idleWake->Stay();
    }
    if (m_idleTimer.interval() != interval) {
        m_idleTimer.setInterval(interval);
    }
    // While the falling notes move, it runs on their frames instead, which come at least every
    // 51 ms: the program wakes half as often. A flashing key keeps its own pace, and a key the
    // learner plays runs it at once.
    const bool onFrames = m_noteView->Animating() && interval != kFlashIdleMs;
    m_idleWake->WatchKeys(onFrames);
    if ((onFrames || asleep) && m_idleTimer.isActive()) {
        m_idleTimer.stop();
    } else if (!onFrames && !asleep && !m_idleTimer.isActive() && !m_destroyed) {
        m_idleTimer.start();
    }
}

void CPelorvaneDlg::UpdateKeyboardRange() {
    const int row = SelectedSongRow();
    int low = CKeyboardPanel::kLowestKey;
    int high = CKeyboardPanel::kHighestKey;
    PracticeChoice practice{0, m_core->PracticeHand()};
    int split = -1;
    if (row >= 0 && static_cast<size_t>(row) < m_core->Songs().m_entries.size()) {
        const SongEntry& entry = m_core->Songs().m_entries[static_cast<size_t>(row)];
        for (int ch = 0; ch < 16; ++ch) {
            practice.SetChannel(ch, entry.m_channels[static_cast<size_t>(ch)].m_practice != 0);
        }
        const auto prepared = entry.m_midiData ? m_core->ReadyPreparedSongOf(entry) : nullptr;
        m_awaitingPreparation = m_awaitingPreparation || (entry.m_midiData && !prepared);
        if (prepared) {
            PracticeKeyRange(*prepared, practice, low, high);
            // With one hand chosen, a practised channel divided by key shows where.
            for (int ch = 0; ch < 16; ++ch) {
                if (practice.hand != Hand::Both && practice.HasChannel(ch) &&
                    prepared->Parts().Channel(ch).source == PartMap::Source::Split) {
                    split = prepared->Parts().SplitKey();
                }
            }
        }
    }
    m_keyboard->SetKeyRange(low, high);
    m_keyboard->SetSplitMark(split);
    ShowHandChoice();
    // The view follows the keyboard's keys and shows the practised channels bright.
    m_noteView->SetPracticeChoice(practice);
    m_noteView->update();
}

void CPelorvaneDlg::LightModeLed(int index) {
    for (int i = 0; i < 4; ++i) {
        const uint8_t lit = i == index ? 1 : 0;
        if (m_leds[i]->m_lit != lit) {
            m_leds[i]->m_lit = lit;
            m_leds[i]->repaint();
        }
    }
}

int CPelorvaneDlg::SpeedSliderPosition() {
    return m_speedSlider->value();
}

// --- Files dropped on the window ------------------------------------------------------------

void CPelorvaneDlg::dragEnterEvent(QDragEnterEvent* event) {
    if (!LocalPathsOf(event->mimeData()).isEmpty()) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    }
}

void CPelorvaneDlg::dragMoveEvent(QDragMoveEvent* event) {
    if (!LocalPathsOf(event->mimeData()).isEmpty()) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    }
}

void CPelorvaneDlg::dropEvent(QDropEvent* event) {
    const QStringList paths = LocalPathsOf(event->mimeData());
    if (!paths.isEmpty()) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
        OnDropFiles(paths);
    }
}

void CPelorvaneDlg::OnPracticeHistory() {
    if (!m_results || !SongChosen()) {
        return;
    }
    const int row = SelectedSongRow();
    if (static_cast<size_t>(row) >= m_core->Songs().m_entries.size()) {
        return;
    }
    m_results->ShowHistory(
        QString::fromStdString(m_core->Songs().m_entries[static_cast<size_t>(row)].m_path));
}
