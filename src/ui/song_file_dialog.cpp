#include "ui/song_file_dialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>

#include "ui/ui_state.h"

QString SongDialogStartFolder(const UiState& state) {
    const QString last = state.LastSongFolder();
    if (!last.isEmpty()) {
        return last;
    }
    // The user's own music folder as the desktop names it (XDG user dirs, possibly localised).
    const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    if (!music.isEmpty() && QFileInfo(music).isDir()) {
        return music;
    }
    return QDir::homePath();
}

QString AskSongFileIn(QWidget* parent, UiState& state) {
    QFileDialog dialog(parent);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setDefaultSuffix(QStringLiteral("mid"));
    dialog.setNameFilters(
        {QStringLiteral("MIDI Files (*.mid *.midi)"), QStringLiteral("All Files (*)")});
    dialog.setDirectory(SongDialogStartFolder(state));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    const QString chosen = dialog.selectedFiles().first();
    state.SetLastSongFolder(QFileInfo(chosen).absolutePath());
    return chosen;
}
