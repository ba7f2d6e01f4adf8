#pragma once

// Control ids of the windows. Each id is also the widget's objectName, so tests and the tooltip
// lookup find a control by its number; the id doubles as the string id of its tooltip.
namespace ids {

inline constexpr int kOk = 1;
inline constexpr int kCancel = 2;

inline constexpr int kAboutEntry = 101;  // string of the About entry of the context menu

inline constexpr int kSongList = 1005;
inline constexpr int kAddSong = 1006;
inline constexpr int kModelPerformance = 1007;
inline constexpr int kMyPaceLesson = 1008;
inline constexpr int kAccompaniment = 1009;
inline constexpr int kStop = 1010;
inline constexpr int kSettings = 1011;
inline constexpr int kSolo = 1012;
inline constexpr int kDeleteSong = 1013;
inline constexpr int kInCombo = 1025;
inline constexpr int kOutCombo = 1026;
inline constexpr int kTrackList = 1047;
inline constexpr int kSpeedSlider = 1048;
inline constexpr int kLed[4] = {1049, 1050, 1051, 1053};
inline constexpr int kSpeedPercent = 1060;
inline constexpr int kCountIn = 1061;
inline constexpr int kMetronome = 1062;

}  // namespace ids
