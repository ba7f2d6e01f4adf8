#pragma once

#include <QString>

class QWidget;
class UiState;

// The open-file dialog of the add button. It opens in the folder the last song was chosen from,
// the first time in the user's music folder (else the home folder), and remembers the folder of
// the file chosen. Empty when cancelled.
QString AskSongFileIn(QWidget* parent, UiState& state);

// The folder the dialog opens in.
QString SongDialogStartFolder(const UiState& state);
