// The position bar and the A-B loop of the main window: what the bar shows, what it and its keys
// ask of the core, and each song's place and loop remembered between runs.

#include <QKeyEvent>
#include <QListWidget>

#include "platform/clock.h"
#include "smf/meter_map.h"
#include "ui/note_view.h"
#include "ui/pelorvane_dlg.h"
#include "ui/position_bar.h"

void CPelorvaneDlg::ShowSelectedSongPassage() {
    const int row = SelectedSongRow();
    const SongEntry* entry =
        row >= 0 && static_cast<std::size_t>(row) < m_core->Songs().m_entries.size()
            ? &m_core->Songs().m_entries[static_cast<std::size_t>(row)]
            : nullptr;
    const bool loaded = entry && entry->m_midiData;
    const std::string path = loaded ? entry->m_path : std::string();
    if (path == m_passageSongPath && !m_passageAwaited) {
        return;  // the same song, only moved or refilled
    }
    m_passageSongPath = path;
    m_passageAwaited = false;
    if (!loaded) {
        m_core->SetHands(Hand::Both, PartMap::kDefaultSplitKey);
        ShowHandChoice();
        m_positionBar->SetSong(nullptr);
        ShowSongInView(nullptr);
        m_core->SetLoop(std::nullopt);
        m_core->SeekTo(0);
        return;
    }
    const SongPassage passage = m_passageMemory.Read(QString::fromStdString(path));
    const bool handsChanged =
        passage.hand != m_core->PracticeHand() || passage.splitKey != m_core->SplitKey();
    m_core->SetHands(passage.hand, passage.splitKey);
    const std::shared_ptr<const PreparedSong> prepared = m_core->ReadyPreparedSongOf(*entry);
    if (!prepared) {
        // Nothing of the song before stays on show meanwhile.
        m_awaitingPreparation = true;
        m_passageAwaited = true;
        m_positionBar->SetSong(nullptr);
        ShowSongInView(nullptr);
        return;
    }
    const uint32_t end = prepared->Meter()->EndMs();
    m_positionBar->SetSong(prepared->Meter());
    ShowSongInView(prepared.get());
    // A remembered place past a song that has since become shorter counts from its start.
    std::optional<LoopSpan> loop = passage.loop;
    if (loop && loop->a >= end) {
        loop.reset();
    }
    // The loop last: a place remembered outside it moves to A.
    m_core->SeekTo(passage.start < end ? passage.start : 0);
    m_core->SetLoop(loop);
    m_positionBar->SetLoop(m_core->Loop());
    m_noteView->SetLoop(m_core->Loop());
    m_positionBar->SetPosition(m_core->ShownSongTime());
    if (handsChanged) {
        UpdateKeyboardRange();
    }
}

void CPelorvaneDlg::RememberPassage() {
    if (m_passageSongPath.empty() || m_passageAwaited) {
        return;
    }
    SongPassage passage;
    passage.start = m_core->PassageStart();
    passage.loop = m_core->Loop();
    passage.hand = m_core->PracticeHand();
    passage.splitKey = m_core->SplitKey();
    m_passageMemory.Write(QString::fromStdString(m_passageSongPath), passage);
}

void CPelorvaneDlg::OnPositionSeek(quint32 songMs, bool final) {
    const bool stopped = m_core->CurrentPlayState() == Stopped;
    // While playing, a drag moves the song only where it ends: every jump stops the notes.
    if (!stopped && !final) {
        return;
    }
    m_core->SeekTo(songMs);
    if (stopped && final) {
        RememberPassage();
    }
}

void CPelorvaneDlg::OnLoopChange(std::optional<LoopSpan> loop) {
    m_core->SetLoop(loop);  // may move the place to A
    m_positionBar->SetLoop(m_core->Loop());
    m_noteView->SetLoop(m_core->Loop());
    RefreshPositionBar();
    RememberPassage();
}

void CPelorvaneDlg::OnPractiseLoop(LoopSpan loop) {
    // As if set on the position bar: shown there and over the notes, and remembered.
    OnLoopChange(loop);
    if (m_core->CurrentPlayState() == Stopped) {
        OnPositionSeek(loop.a, true);  // the next start begins there
        RefreshPositionBar();
    }
    // The button was in another window; the play keys belong to this one.
    activateWindow();
    raise();
}

bool CPelorvaneDlg::PassageKey(QWidget* target, QKeyEvent* key) {
    const smf::MeterMap* meter = m_positionBar->Meter();
    const Qt::KeyboardModifiers held =
        key->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
    if (!meter || held != Qt::NoModifier) {
        return false;
    }
    const uint32_t now = m_core->ShownSongTime();
    const int k = key->key();
    if (k == Qt::Key_Home || k == Qt::Key_PageUp || k == Qt::Key_PageDown) {
        // In the lists these keys move the selection, as they always have.
        if (qobject_cast<QListWidget*>(target) != nullptr) {
            return false;
        }
        uint32_t to = 0;
        if (k != Qt::Key_Home) {
            const uint32_t bar = meter->AtMs(now).bar;
            to = k == Qt::Key_PageUp ? meter->BarStartMs(bar > 1 ? bar - 1 : 1)
                                     : std::min(meter->BarStartMs(bar + 1), meter->EndMs());
        }
        OnPositionSeek(to, true);
        m_positionBar->SetPosition(to);
        return true;
    }
    const std::optional<LoopSpan> loop = m_core->Loop();
    const uint32_t beat = m_positionBar->NearestBeat(now);
    if (k == Qt::Key_BracketLeft) {
        m_positionBar->SetLoopPoint(LoopWithA(loop, beat, meter->EndMs()));
        return true;
    }
    if (k == Qt::Key_BracketRight) {
        m_positionBar->SetLoopPoint(LoopWithB(loop, beat));
        return true;
    }
    if (k == Qt::Key_Backslash) {
        OnLoopChange(std::nullopt);
        return true;
    }
    return false;
}

void CPelorvaneDlg::RefreshPositionBar() {
    m_positionBar->SetPosition(m_core->ShownSongTime());
    // The beat follows the published song clock; the routine that calls this runs often enough
    // while anything moves, and a change of the clock wakes it when it sleeps.
    if (const smf::MeterMap* meter = m_positionBar->Meter()) {
        m_positionBar->SetBeat(BeatMarkAt(m_core->Session().ReadSongClock(), *meter, NowMs()));
    }
}
