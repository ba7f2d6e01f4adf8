#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <optional>

#include "engine/tempo_trainer.h"

// What the window remembers between runs besides its three files: where it stood and the folder
// of the last song chosen. Kept with QSettings in a file of its own in the user's config folder
// ($XDG_CONFIG_HOME/pelorvane/pelorvane.conf). A damaged file counts as empty and is replaced at
// the next save; one that is no regular file, cannot be read or is far too large counts as empty
// and is left alone.
class UiState {
  public:
    // path: the state file; empty means the user's.
    explicit UiState(QString path = {});

    static QString DefaultPath();
    QString Path() const { return m_path; }

    // The window's top-left corner (frame included) when it last closed.
    std::optional<QPoint> WindowPosition() const;
    void SetWindowPosition(const QPoint& position);

    // The window's size (without frame) when it last closed.
    std::optional<QSize> WindowSize() const;
    void SetWindowSize(const QSize& size);

    // The falling-notes view: song time from top to bottom, and whether channels not practised
    // are hidden.
    std::optional<int> ViewSpanMs() const;
    void SetViewSpanMs(int spanMs);
    bool ViewOthersHidden() const;
    void SetViewOthersHidden(bool hidden);

    // The song selected when the window last closed, selected again at the next start.
    QString LastSongPath() const;
    void SetLastSongPath(const QString& path);

    // The learner asked not to be told again that there is no MIDI input device.
    bool NoInputNoticeHidden() const;
    void SetNoInputNoticeHidden(bool hidden);

    // The metronome's clicks and the bars counted in before a start (0 to 2).
    bool MetronomeOn() const;
    void SetMetronomeOn(bool on);
    int CountInBars() const;
    void SetCountInBars(int bars);
    // Whether a loop counts in again before each of its passes.
    bool LoopCountIn() const;
    void SetLoopCountIn(bool on);

    // The tempo trainer's plan as the learner last set it; the usual one when none was set or
    // the stored one cannot be trained.
    TrainerPlan StoredTrainerPlan() const;
    void SetTrainerPlan(const TrainerPlan& plan);

    // The folder the last song was chosen from, if it still exists.
    QString LastSongFolder() const;
    void SetLastSongFolder(const QString& folder);

  private:
    QString m_path;
};

// Where a window of the given frame size goes when it stood at saved: there, when enough of its
// title bar lies on one of the screens (their available areas), else moved wholly onto the
// screen nearest to where it was. Without screens the saved place stands.
QPoint PlaceOnScreens(const QRect& saved, const QList<QRect>& screens);
